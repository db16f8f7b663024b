// ptzctl config against a copy of the library with the demo configuration
// and the dome simulator on its COM1: what each command changes in the
// settings file, what it prints, and that a refused command changes nothing.
#include <gtest/gtest.h>

#include <algorithm>
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

// Names on the command line are UTF-8; the settings file holds them in its
// code page, and a name it cannot hold is refused.
TEST_F(ConfigTest, LineNamesAreStoredInTheFilesCodePage) {
  const std::string utf8 =
                        "S\xC3\xBC"
                        "d",
                    latin1 =
                        "S\xFC"
                        "d";
  RunResult r = Config({"add-line", "--port", "2", "--name", utf8});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "added line comm2: COM2 \"" + utf8 + "\", mode 96,E,8,1\n");
  EXPECT_TRUE(Contains(SettingsBytes(), "<Name value=\"" + latin1 + "\""));
  EXPECT_EQ(Show()["lines"][1]["Name"], utf8);
  r = Config({"set-line", utf8, "--name", "\xC3\xBF"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Contains(SettingsBytes(), "<Name value=\"\xFF\""));
  const std::string before = SettingsBytes();
  for (const std::string name : {"\xE2\x82\xAC", latin1.c_str(), "\xC3", "\xC4\x80"}) {
    SCOPED_TRACE(name);
    r = Config({"add-line", "--port", "3", "--name", name});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.err, "has a character the settings file cannot hold")) << r.err;
    EXPECT_EQ(SettingsBytes(), before);
  }
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

// The demo's line has "Gate" (number 0, address 1, no node) and "Yard"
// (number 1, address 2, node 5).
TEST_F(ConfigTest, CameraValuesTheCameraDialogRefusesGiveItsMessageAndChangeNothing) {
  const std::string fill = "Please fill all fields\n";
  const std::string node = "Illegal node address. Valid values: 0 ... 127.\n";
  const std::string memories =
      "Illegal number of preset memories. Maximum values for the driver are 1 - 256\n";
  const std::string speed = "Illegal preset speed. Valid values for the driver are 1 - 100\n";
  const std::string relays = "Illegar number of relays!\n";
  const std::string numberTaken =
      "Entered Camera ID is reserved to the another camera in the system\n";
  const std::string addressTaken =
      "Entered Camera Address is reserved to the another camera in this connection.\n";
  const std::string nameTaken =
      "Entered name is reserved to the another camera in this connection\n";
  // A new camera 5 on COM1, named "New" at address 9 unless given otherwise.
  auto adding = [](std::vector<std::string> more) {
    std::vector<std::string> args = {"add-camera", "--line", "COM1", "--number", "5"};
    if (more.empty() || more[0] != "--name") args.insert(args.end(), {"--name", "New"});
    if (std::find(more.begin(), more.end(), "--address") == more.end())
      args.insert(args.end(), {"--address", "9"});
    args.insert(args.end(), more.begin(), more.end());
    return args;
  };
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const std::vector<Case> cases = {
      // In the dialog's order: the name before an address taken, and so on.
      {adding({"--name", "", "--address", "1"}), fill},
      {adding({"--address", "x"}), fill},
      {adding({"ControlMonitor=", "NodeAddress=200"}), fill},
      {adding({"NodeAddress=129"}), node},
      {adding({"NodeAddress=-1", "NofRelays=9"}), node},
      {adding({"NofStorageLocations=0"}), memories},
      {adding({"NofStorageLocations=257"}), memories},
      {adding({"DefaultPreposSpeed=0"}), speed},
      {adding({"DefaultPreposSpeed=101", "NofRelays=9"}), speed},
      {adding({"NofRelays=9"}), relays},
      {adding({"NofRelays=-1", "RelayName8=x"}), relays},
      {adding({"Aux3Func=4"}), "Illegal value for Aux3Func. Valid values: 0 ... 3.\n"},
      {adding({"WashPulseTime=1s"}), "Illegal value for WashPulseTime: not a number.\n"},
      {{"add-camera", "--line", "COM1", "--number", "1", "--name", "N", "--address", "9"},
       numberTaken},
      {adding({"--address", "1"}), addressTaken},
      {adding({"--name", "yard"}), nameTaken},
      {{"set-camera", "1", "TavoID=0"}, numberTaken},
      {{"set-camera", "1", "SysID=1", "Name=GATE"}, addressTaken},
      {{"set-camera", "1", "Name=Gate"}, nameTaken},
      // What the dialog's controls cannot give.
      {{"set-camera", "0", "ControlMonitor=17"},
       "Illegal value for ControlMonitor. Valid values: 1 ... 16.\n"},
      {{"set-camera", "0", "CamAccFactor=0"},
       "Illegal value for CamAccFactor. Valid values: 1 ... 11.\n"},
      {{"set-camera", "0", "TavoID=-1"},
       "ptzctl config: the camera number must be a number from 0 up\n"},
      {{"set-camera", "0", "NofRelays=5", "RelayName6=Pump"},
       "ptzctl config: the camera has 5 relays: no RelayName6\n"},
      // The question the dialog asks, answered No.
      {{"set-camera", "0", "Aux1Func=2", "Aux3Func=2"},
       "Two relays performing the same function! Do you like to keep this setting?\n"
       "ptzctl config: not saved; give --yes to keep it\n"},
      {{"set-camera", "0", "Name=Preis 5\xE2\x82\xAC"},
       "ptzctl config: \"Preis 5\xE2\x82\xAC\" is not UTF-8 text or has a character the "
       "settings file cannot hold\n"},
      {{"set-camera", "7", "Name=X"}, "ptzctl config: no camera 7\n"},
      {{"remove-camera", "7"}, "ptzctl config: no camera 7\n"},
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
  // Words the command does not take.
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"set-camera", "0", "Colour=1"},
        std::vector<std::string>{"set-camera", "0", "Name"},
        std::vector<std::string>{"set-camera", "0", "RelayName0=x"},
        std::vector<std::string>{"set-camera", "0", "=1"}}) {
    SCOPED_TRACE(Join(args));
    EXPECT_EQ(Config(args).status, 2);
    EXPECT_EQ(SettingsBytes(), before);
  }
}

TEST_F(ConfigTest, CamerasAreAddedChangedAndRemovedWithTheirRelays) {
  RunResult r = Config({"add-camera", "--line", "Line 1", "--number", "7", "--name", "Pier",
                        "--address", "3", "NodeAddress=128", "NofStorageLocations=256",
                        "DefaultPreposSpeed=1", "NofRelays=8", "RelayName8=Horn"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "added camera 7 \"Pier\" (comm1/cam3) on line comm1: COM1 \"Line 1\", SysID 3, "
            "NodeAddress 128, NofStorageLocations 256, DefaultPreposSpeed 1, NofRelays 8, "
            "RelayName8 \"Horn\"\n");
  Json camera = Show()["lines"][0]["cameras"][2];
  EXPECT_EQ(camera["key"], "comm1/cam3");
  EXPECT_EQ(camera["ControlMonitor"], 1);  // as the dialog's field shows a new camera's
  ASSERT_EQ(camera["relays"].size(), 8u);
  EXPECT_EQ(camera["relays"][6]["Name"], "Relay7");
  EXPECT_EQ(camera["relays"][7]["Name"], "Horn");

  // Both relays on the washer, kept with --yes; the count lowered takes the
  // relays above it away.
  r = Config(
      {"set-camera", "7", "NofRelays=2", "Aux1Func=1", "Aux2Func=1", "RelayName2=Hose", "--yes"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "changed camera 7 \"Pier\" (comm1/cam3), NofRelays 8 -> 2, Aux1Func 0 -> 1, "
            "Aux2Func 0 -> 1, RelayName2 \"Relay2\" -> \"Hose\", RelayName3 \"Relay3\" -> none, "
            "RelayName4 \"Relay4\" -> none, RelayName5 \"Relay5\" -> none, RelayName6 \"Relay6\" "
            "-> none, RelayName7 \"Relay7\" -> none, RelayName8 \"Horn\" -> none\n");
  EXPECT_EQ(SettingsBytes().find("Horn"), std::string::npos);
  r = Config({"set-camera", "7", "RelayName2=Hose", "NofRelays=2"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "camera 7 \"Pier\" (comm1/cam3): nothing to change\n");

  ASSERT_EQ(Config({"set-camera", "7", "TavoID=8"}).status, 0);

  // The cameras after a removed one move up to its key.
  r = Config({"remove-camera", "0"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "removed camera 0 \"Gate\" (comm1/cam1) from line comm1: COM1 \"Line 1\"\n");
  const Json cameras = Show()["lines"][0]["cameras"];
  ASSERT_EQ(cameras.size(), 2u);
  EXPECT_EQ(cameras[0]["key"], "comm1/cam1");
  EXPECT_EQ(cameras[0]["Name"], "Yard");
  EXPECT_EQ(cameras[1]["key"], "comm1/cam2");
  EXPECT_EQ(cameras[1]["TavoID"], 8);
  EXPECT_EQ(SettingsBytes().find("Door"), std::string::npos);  // Gate's preset went with it
}

// Every key show --json prints for a camera, given back to set-camera,
// changes nothing: what was set comes back as it was set.
TEST_F(ConfigTest, ShowJsonRoundTripsWhatWasSet) {
  ASSERT_EQ(Config({"set-camera", "1", "NodeAddress=0", "ControlMonitor=16", "NofRelays=4",
                    "NofStorageLocations=1", "DefaultPreposSpeed=100", "WaitForResponse=0",
                    "DefaultLensSlow=1", "Aux1Func=3", "Aux2Func=2", "Aux3Func=1",
                    "RelayName4=Gate \"4\"", "WashPulseTime=2500"})
                .status,
            0);
  const std::string before = SettingsBytes();
  const Json camera = Show()["lines"][0]["cameras"][1];
  std::vector<std::string> args = {"set-camera", "1"};
  for (const auto& item : camera.items()) {
    if (item.value().is_number())
      args.push_back(item.key() + "=" + std::to_string(item.value().get<int>()));
  }
  args.push_back("Name=" + camera["Name"].get<std::string>());
  int n = 1;
  for (const Json& relay : camera["relays"])
    args.push_back("RelayName" + std::to_string(n++) + "=" + relay["Name"].get<std::string>());
  EXPECT_EQ(args.size(), 2u + 18u + 1u + 4u);
  EXPECT_EQ(camera["ControlMonitor"], 16);
  EXPECT_EQ(camera["relays"][3]["Name"], "Gate \"4\"");
  const RunResult r = Config(args);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "camera 1 \"Yard\" (comm1/cam2): nothing to change\n");
  EXPECT_EQ(SettingsBytes(), before);
}

// A host with the module started keeps saving its own camera while ptzctl
// config changes another: neither change is lost, and the host sees the
// other one at its next module start.
TEST_F(ConfigTest, AHostKeepsSavingItsCameraWhileConfigChangesAnother) {
  ChildProcess host(PTZCTL_PATH, {"--lib", dir_.Library(), "--script", "-"});
  host.Write("init\npreset store 0 First\n");
  ASSERT_TRUE(Contains(host.ReadUntil("\"First\")  ->"), "\"First\")  ->  1 success"))
      << host.ReadUntil("");
  RunResult r = Config({"set-camera", "1", "Name=Yard North", "RelayName1=Pump"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Contains(r.out, "Note: another process has the driver started")) << r.out;
  host.Write("relay name 0 0 Spot\npreset store 0 Second\n");
  const std::string& out = host.ReadUntil("\"Second\")  ->");
  EXPECT_TRUE(Contains(out, "\"Spot\")  ->  1 success")) << out;
  EXPECT_TRUE(Contains(out, "\"Second\")  ->  1 success")) << out;
  r = Config({"add-camera", "--line", "COM1", "--number", "2", "--name", "Dock", "--address", "9"});
  ASSERT_EQ(r.status, 0) << r.err;
  host.Write("preset store 0 Third\nexit\ninit\nlist\n");
  const std::string& listed = host.ReadUntil("Dock");
  EXPECT_TRUE(Contains(listed, "\"Third\")  ->  1 success")) << listed;
  EXPECT_TRUE(Contains(listed, "Yard North")) << listed;
  EXPECT_EQ(host.Finish(), 0);
  const Json cameras = Show()["lines"][0]["cameras"];
  ASSERT_EQ(cameras.size(), 3u);
  EXPECT_EQ(cameras[0]["relays"][0]["Name"], "Spot");
  EXPECT_EQ(cameras[0]["positions"].size(), 4u);  // Door and the three stored
  EXPECT_EQ(cameras[1]["Name"], "Yard North");
  EXPECT_EQ(cameras[1]["relays"][0]["Name"], "Pump");
  EXPECT_EQ(cameras[2]["Name"], "Dock");
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
  config({"add-camera", "--line", "Line A", "--number", "4", "--name", "Gate", "--address", "3",
          "NodeAddress=128"});
  config({"ping", "4"});
  config({"reset", "4", "--yes"});
  step(2);
  config({"set-camera", "4", "Name=Gate House", "NofStorageLocations=64", "Aux1Func=1"});
  step(3);
  config({"add-camera", "--line", "COM7", "--number", "9", "--name", "Yard", "--address", "4",
          "NodeAddress=128"});
  step(4);
  config({"remove-camera", "4"});
  step(5);
  config({"remove-line", "COM7", "--with-cameras"});
  step(6);
  EXPECT_EQ(sim.State(128, 3).resets, 1);
}

}  // namespace
}  // namespace ptzctl_test
