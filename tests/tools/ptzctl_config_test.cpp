// ptzctl config against a copy of the library with the demo configuration
// and the dome simulator on its COM1: what each command changes in the
// settings file, what it prints, and that a refused command changes nothing.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "domesim/domesim.h"
#include "ptzctl_test_util.h"

namespace ptzctl_test {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

const char kNameMissing[] = "Please enter name to 'Name' box\n";
const char kIllegalPort[] =
    "Illegal COM-port. There may be problems with identifying your COM-ports or configuration is "
    "bad.\n";
const char kPortReserved[] = "Checked COM-port is reserved to the another connection\n";

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class ConfigTest : public ::testing::Test {
 protected:
  void SetUp() override { sim_.Publish(dir_.Path().string(), 1); }

  RunResult Config(std::vector<std::string> args, const std::string& input = std::string()) {
    args.insert(args.begin(), {"--lib", dir_.Library(), "config"});
    return RunProgram(PTZCTL_PATH, args, input);
  }
  Json Show() {
    const RunResult r = Config({"show", "--json"});
    EXPECT_EQ(r.status, 0) << r.err;
    return Json::parse(r.out);
  }
  std::string SettingsBytes() const { return ReadBytes(dir_.Settings()); }

  HostDir dir_;
  domesim::DomeSimulator sim_;
};

TEST_F(ConfigTest, LineValuesTheConnectionDialogRefusesGiveItsMessageAndChangeNothing) {
  ASSERT_EQ(Config({"add-line", "--port", "2", "--name", "Line 2"}).status, 0);
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const std::vector<Case> cases = {
      // The name first, whatever the port.
      {{"add-line", "--port", "0", "--name", ""}, kNameMissing},
      {{"add-line", "--port", "3", "--name", ""}, kNameMissing},
      {{"add-line", "--port", "0", "--name", "New"}, kIllegalPort},
      {{"add-line", "--port", "48", "--name", "New"}, kIllegalPort},
      {{"add-line", "--port", "COM", "--name", "New"}, kIllegalPort},
      {{"add-line", "--port", "3x", "--name", "New"}, kIllegalPort},
      {{"add-line", "--port", "1", "--name", "New"}, kPortReserved},
      {{"add-line", "--port", "COM2", "--name", "New"}, kPortReserved},
      {{"set-line", "COM2", "--name", ""}, kNameMissing},
      {{"set-line", "Line 2", "--port", "1"}, kPortReserved},
      {{"set-line", "COM1", "--port", "-1"}, kIllegalPort},
      {{"add-line", "--port", "3", "--name", "New", "--mode", "96,Q,8,1"},
       "Illegal port mode '96,Q,8,1'. Give it as the MODE command takes it, e.g. 96,E,8,1.\n"},
      {{"set-line", "COM1", "--mode", "fast"},
       "Illegal port mode 'fast'. Give it as the MODE command takes it, e.g. 96,E,8,1.\n"},
  };
  const std::string before = SettingsBytes();
  for (const Case& c : cases) {
    SCOPED_TRACE(Join(c.args));
    const RunResult r = Config(c.args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.message);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(SettingsBytes(), before);
  }
}

TEST_F(ConfigTest, LinesAreAddedChangedAndRemovedAsTheDriverSetupDialogLeavesThem) {
  RunResult r = Config({"add-line", "--port", "COM47", "--name", "Einfahrt", "--mode", "19,N,8,1"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "added line comm2: COM47 \"Einfahrt\", mode 19,N,8,1\n");
  r = Config({"set-line", "Einfahrt", "--port", "5", "--name", "Ausfahrt"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "changed line comm2, Name \"Einfahrt\" -> \"Ausfahrt\", ComPort 47 -> 5\n");
  r = Config({"set-line", "COM5", "--name", "Ausfahrt"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "line comm2: COM5 \"Ausfahrt\": nothing to change\n");
  // An empty mode is the default one, as the settings file loads it.
  r = Config({"set-line", "COM5", "--mode", ""});
  EXPECT_EQ(r.out, "changed line comm2, PortMode 19,N,8,1 -> 96,E,8,1\n");

  Json doc = Show();
  ASSERT_EQ(doc["lines"].size(), 2u);
  EXPECT_EQ(doc["lines"][1]["Name"], "Ausfahrt");
  EXPECT_EQ(doc["lines"][1]["ComPort"], 5);
  EXPECT_EQ(doc["lines"][1]["port"], "/dev/ttyS4");  // no ports/COM5 link
  EXPECT_EQ(doc["lines"][0]["port"], sim_.PublishedPath());
  EXPECT_EQ(doc["lines"][0]["cameras"].size(), 2u);

  // A line with cameras stays unless they go with it; the lines after it
  // move up to comm1.
  const std::string before = SettingsBytes();
  r = Config({"remove-line", "COM1"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "ptzctl config: line comm1: COM1 \"Line 1\" has 2 cameras: remove them first, or give "
            "--with-cameras\n");
  EXPECT_EQ(SettingsBytes(), before);
  r = Config({"remove-line", "Line 1", "--with-cameras"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "removed line comm1: COM1 \"Line 1\" with 2 cameras\n");
  doc = Show();
  ASSERT_EQ(doc["lines"].size(), 1u);
  EXPECT_EQ(doc["lines"][0]["key"], "comm1");
  EXPECT_EQ(doc["lines"][0]["Name"], "Ausfahrt");
  EXPECT_EQ(SettingsBytes().find("Gate"), std::string::npos);
  r = Config({"remove-line", "COM5"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Show()["lines"].size(), 0u);
}

TEST_F(ConfigTest, ALineIsNamedByItsPortOrByAUniqueName) {
  ASSERT_EQ(Config({"add-line", "--port", "2", "--name", "Line 1"}).status, 0);
  const std::string before = SettingsBytes();
  RunResult r = Config({"set-line", "Line 1", "--name", "X"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "ptzctl config: 2 lines are named \"Line 1\": name the line by its COM port\n");
  r = Config({"remove-line", "COM9"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "ptzctl config: no line on COM9 or named \"COM9\"\n");
  r = Config({"set-line", "line 1", "--name", "X"});  // names are matched exactly
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(SettingsBytes(), before);
  r = Config({"set-line", "com2", "--name", "Line 2"});
  EXPECT_EQ(r.status, 0) << r.err;
}

TEST_F(ConfigTest, ShowPrintsEveryLineCameraAndRelay) {
  const RunResult r = Config({"show"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Contains(
      r.out, "line comm1: COM1 \"Line 1\", mode 96,E,8,1, port " + sim_.PublishedPath() + "\n"))
      << r.out;
  EXPECT_TRUE(Contains(r.out, "  camera 0 \"Gate\" (comm1/cam1): SysID 1, CamAccFactor 6,"))
      << r.out;
  EXPECT_TRUE(Contains(r.out, "    relays: 1 \"Aux\" 2 \"Washer\" 3 \"Lamps\"\n")) << r.out;
  EXPECT_TRUE(Contains(r.out, "    presets: [0] \"Door\"\n")) << r.out;
  // Nothing was written, and no port was opened.
  EXPECT_TRUE(sim_.Lines().empty());
}

TEST_F(ConfigTest, ShowNamesWhereANetworkLineLeads) {
  std::ofstream(dir_.Path() / "ports" / "COM5") << "rfc2217://127.0.0.1:4000\n";
  ASSERT_EQ(Config({"add-line", "--port", "5", "--name", "Net"}).status, 0);
  const Json doc = Show();
  EXPECT_EQ(doc["lines"][1]["network"], "rfc2217://127.0.0.1:4000");
  EXPECT_FALSE(doc["lines"][0].contains("network"));
  EXPECT_TRUE(Contains(Config({"show"}).out, "port " + (dir_.Path() / "ports" / "COM5").string() +
                                                 " (network rfc2217://127.0.0.1:4000)\n"));
}

TEST_F(ConfigTest, PingVersionAndResetAskTheDomeAsTheCameraSetupsButtonsDo) {
  RunResult r = Config({"ping", "1"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.rfind("Found. Delay ", 0), 0u) << r.out;
  EXPECT_EQ(sim_.TakeLines(), (std::vector<std::string>{"$5,3,2"}));  // Yard behind node 5

  r = Config({"version", "0"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "1.23, 4.56\n");
  sim_.SetVersionReply("ER\r");
  r = Config({"version", "0"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "...\n");

  // Answered No (or not at all), nothing reaches the dome.
  sim_.TakeLines();
  const std::string before = SettingsBytes();
  r = Config({"reset", "0"}, "n\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.out, "ALL PROGRAMMED PRESETS WILL BE ERASED FROM THE CAMERA!!!")) << r.out;
  EXPECT_TRUE(Contains(r.out, "not reset")) << r.out;
  r = Config({"reset", "0"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(sim_.TakeLines().empty());
  EXPECT_EQ(SettingsBytes(), before);
  EXPECT_EQ(sim_.State(domesim::kDirectNode, 1).resets, 0);

  // The camera is selected first: the line may have another dome selected.
  r = Config({"reset", "0", "--yes"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(sim_.TakeLines(), (std::vector<std::string>{"@3,1", "@4"}));
  EXPECT_EQ(r.out, "reset camera 0 \"Gate\": the dome answered OK, its 1 preset was erased\n");
  EXPECT_EQ(sim_.State(domesim::kDirectNode, 1).resets, 1);
  EXPECT_TRUE(Show()["lines"][0]["cameras"][0]["positions"].empty());

  r = Config({"ping", "7"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "ptzctl config: no camera 7\n");
}

TEST_F(ConfigTest, APortThatCannotBeOpenedIsReportedAndNothingIsReset) {
  sim_.Unpublish();
  fs::create_directories(dir_.Path() / "ports");
  fs::create_symlink("/nonexistent/tty", dir_.Path() / "ports" / "COM1");
  const std::string before = SettingsBytes();
  RunResult r = Config({"ping", "0"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.err,
                       "There is some problems with opening the connection assosiated to "
                       "this camera."))
      << r.err;
  EXPECT_EQ(r.out, "Request timed out\n");
  r = Config({"reset", "0", "--yes"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.err, "camera 0 does not answer (Request timed out): not reset")) << r.err;
  EXPECT_EQ(SettingsBytes(), before);
}

TEST_F(ConfigTest, UnusableLibraryOrSettingsFileIsAnErrorNotAChange) {
  RunResult r =
      RunProgram(PTZCTL_PATH, {"--lib", "/nonexistent/QUARO7K7_PTZ.so", "config", "show"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "ptzctl config: no library file at /nonexistent/QUARO7K7_PTZ.so\n");
  std::ofstream(dir_.Settings(), std::ios::trunc) << "<settings><comm1>";
  const std::string broken = SettingsBytes();
  r = Config({"add-line", "--port", "3", "--name", "New"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.err, "the driver could not start on " + dir_.Library() + ": -18"))
      << r.err;
  EXPECT_EQ(SettingsBytes(), broken);
}

// A host with the module started: the change is saved all the same, and
// the output says when the host will see it.
TEST_F(ConfigTest, AChangeWhileAnotherProcessHasTheModuleStartedSaysWhenItIsSeen) {
  RunResult r = Config({"add-line", "--port", "2", "--name", "Alone"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(Contains(r.out, "Note:"));
  ChildProcess host(PTZCTL_PATH, {"--lib", dir_.Library(), "--script", "-"});
  host.Write("init\n");
  ASSERT_TRUE(Contains(host.ReadUntil("VRT_CamInitModule"), "->  1 success"));
  r = Config({"add-line", "--port", "3", "--name", "Beside a host"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Contains(r.out, "Note: another process has the driver started on this library"))
      << r.out;
  // Looking changes nothing, so there is nothing to note.
  r = Config({"show"});
  EXPECT_FALSE(Contains(r.out, "Note:"));
  host.Write("exit\n");
  host.ReadUntil("VRT_CamExitModule");
  r = Config({"set-line", "COM3", "--name", "After the host"});
  EXPECT_FALSE(Contains(r.out, "Note:")) << r.out;
  EXPECT_EQ(host.Finish(), 0);
}

}  // namespace
}  // namespace ptzctl_test

namespace ptzctl_test {
namespace {

// The dialog-flow session of the setup dialogs (tests/unit/
// ui_dialog_flow_test.cpp), step by step through ptzctl config: each step
// leaves the settings file the dialogs left, byte for byte. The dialogs'
// files come from QUARO7_DIALOG_REFERENCE (ctest runs the session first).
TEST(ConfigDialogParity, TheDialogSessionsStepsWriteTheSameFiles) {
  const char* reference = std::getenv("QUARO7_DIALOG_REFERENCE");
  if (reference == nullptr || *reference == '\0')
    GTEST_SKIP() << "QUARO7_DIALOG_REFERENCE names no directory of the dialogs' files";
  HostDir dir;
  std::ofstream(dir.Settings(), std::ios::trunc)
      << "<?xml version='1.0' encoding='iso-8859-1'?>\n<settings/>\n";
  domesim::DomeSimulator sim;
  sim.Publish(dir.Path().string(), 7);
  auto config = [&](std::vector<std::string> args) {
    args.insert(args.begin(), {"--lib", dir.Library(), "config"});
    const RunResult r = RunProgram(PTZCTL_PATH, args);
    EXPECT_EQ(r.status, 0) << Join(args) << "\n" << r.out << r.err;
  };
  auto step = [&](int n) {
    const std::string expected =
        ReadBytes(std::string(reference) + "/step" + std::to_string(n) + ".xml");
    ASSERT_FALSE(expected.empty()) << "no step" << n << ".xml in " << reference;
    EXPECT_EQ(ReadBytes(dir.Settings()), expected) << "after step " << n;
  };
  config({"add-line", "--port", "7", "--name", "Line A"});
  step(1);
  config({"remove-line", "COM7", "--with-cameras"});
  step(6);
}

}  // namespace
}  // namespace ptzctl_test
