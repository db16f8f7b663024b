// ptzctl as a separate process against the dome simulator: what each command
// calls, what reaches the dome, what is printed and the exit status.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "domesim/domesim.h"
#include "ptzctl_test_util.h"

namespace ptzctl_test {
namespace {

namespace fs = std::filesystem;

class PtzctlTest : public ::testing::Test {
 protected:
  void SetUp() override { sim_.Publish(dir_.Path().string(), 1); }

  RunResult Ptzctl(std::vector<std::string> args, const std::string& input = std::string()) {
    args.insert(args.begin(), {"--lib", dir_.Library()});
    return RunProgram(PTZCTL_PATH, args, input);
  }
  // The lines the dome received since the last call, without the
  // initialisation sent when a camera opens.
  std::vector<std::string> Commands() {
    std::vector<std::string> lines;
    for (const std::string& line : sim_.TakeLines()) {
      if (line != "@2,1" && line != "@3,1" && line != "@5,23" && line != "@6,22" &&
          line.rfind("$5,2,", 0) != 0 && line.rfind("$5,3,", 0) != 0 && line != "$5,5,23" &&
          line != "$5,6,22")
        lines.push_back(line);
    }
    return lines;
  }
  domesim::DomeState Gate() const { return sim_.State(domesim::kDirectNode, 1); }

  HostDir dir_;
  domesim::DomeSimulator sim_;
};

TEST_F(PtzctlTest, ListShowsTheModuleAndEveryCameraWithItsProperties) {
  const RunResult r = Ptzctl({"list"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_TRUE(Contains(r.out,
                       "description \"K7 driver for QUARO7 protocol\", cameras 2, "
                       "connections 100 (1 line)"));
  EXPECT_TRUE(Contains(r.out, "VRT_CamGetName(0, buffer, 32)  ->  1 success, name \"Gate\""));
  EXPECT_TRUE(Contains(r.out, "VRT_CamGetName(1, buffer, 32)  ->  1 success, name \"Yard\""));
  EXPECT_TRUE(Contains(r.out, "capabilities 1,1,1,1,1, relays 3, storage locations 99, presets 1"));
  EXPECT_TRUE(Contains(r.out, "capabilities 1,1,1,1,1, relays 3, storage locations 99, presets 0"));
  EXPECT_TRUE(Contains(r.out, "VRT_CamExitModule()  ->  1 success"));
}

TEST_F(PtzctlTest, PortsListsSerialPortsAndNetworkLinesWithTheirState) {
  domesim::DomeSimulator far;
  domesim::NetworkServer server(far, domesim::NetMode::kRaw);
  server.Publish(dir_.Path().string(), 4);
  std::ofstream((dir_.Path() / "ports" / "COM5").string()) << "rfc2217://127.0.0.1:1\n";
  std::ofstream((dir_.Path() / "ports" / "COM6").string()) << "COM6\n";
  const RunResult r = Ptzctl({"ports"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const std::string ports = (dir_.Path() / "ports").string();
  EXPECT_TRUE(Contains(r.out, "COM1   serial   " + ports + "/COM1  free")) << r.out;
  EXPECT_TRUE(Contains(r.out, "COM4   tcp      " + server.Url() + "  reachable")) << r.out;
  EXPECT_TRUE(Contains(r.out,
                       "COM5   rfc2217  rfc2217://127.0.0.1:1  not reachable: Connection "
                       "refused"))
      << r.out;
  EXPECT_TRUE(Contains(r.out, "COM6   invalid  " + ports +
                                  "/COM6  not a network line (it starts with neither "
                                  "rfc2217:// nor tcp://): \"COM6\""))
      << r.out;
  // The listing opens no camera and leaves the lines alone.
  EXPECT_TRUE(sim_.Lines().empty());
  EXPECT_TRUE(far.Lines().empty());
}

TEST_F(PtzctlTest, OneShotMoveInitialisesOpensCallsClosesAndExits) {
  const RunResult r = Ptzctl({"right", "0", "8"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const std::vector<std::string> expected_calls = {
      "VRT_CamInitModule(1, NULL, ", "VRT_CamOpen(0, &handle)  ->  1 success", "VRT_CamRight(0x1",
      "VRT_CamClose(0x1", "VRT_CamExitModule()  ->  1 success"};
  size_t at = 0;
  for (const std::string& call : expected_calls) {
    const size_t found = r.out.find(call, at);
    ASSERT_NE(found, std::string::npos) << call << " in order in\n" << r.out;
    at = found;
  }
  EXPECT_EQ(Commands(), (std::vector<std::string>{"@5,2", "@7,62,1"}));
  // The dome goes on turning after the host has gone, as a real one does.
  EXPECT_EQ(Gate().pan, domesim::PanMotion::kRight);
}

TEST_F(PtzctlTest, StopHaltsAMovementStartedByAnotherProcess) {
  ASSERT_EQ(Ptzctl({"down-left", "0", "5"}).status, 0);
  ASSERT_EQ(Gate().tilt, domesim::TiltMotion::kDown);
  sim_.TakeLines();
  const RunResult r = Ptzctl({"stop", "0"});
  ASSERT_EQ(r.status, 0) << r.out;
  const std::vector<std::string> lines = Commands();
  for (const char* line : {"@6,3", "@6,4", "@6,2", "@6,5"})
    EXPECT_TRUE(Contains(lines, line)) << line << " in " << Join(lines);
  EXPECT_EQ(Gate().pan, domesim::PanMotion::kStopped);
  EXPECT_EQ(Gate().tilt, domesim::TiltMotion::kStopped);
}

TEST_F(PtzctlTest, PresetsStoredByNumberAndNameOutliveTheProcess) {
  ASSERT_EQ(Ptzctl({"preset", "store", "0", "next", "Front door"}).status, 0);
  ASSERT_EQ(Ptzctl({"preset", "store", "0", "Back"}).status, 0);
  EXPECT_EQ(Commands(), (std::vector<std::string>{"@9,2", "@9,3"}));
  const RunResult list = Ptzctl({"preset", "list", "0"});
  ASSERT_EQ(list.status, 0) << list.out;
  EXPECT_TRUE(Contains(list.out, "position -1})  ->  3\n"));
  EXPECT_TRUE(Contains(list.out, "preset 0 \"Door\""));
  EXPECT_TRUE(Contains(list.out, "preset 1 \"Front door\""));
  EXPECT_TRUE(Contains(list.out, "preset 2 \"Back\""));
  ASSERT_EQ(Ptzctl({"preset", "recall", "0", "Front door"}).status, 0);
  ASSERT_EQ(Ptzctl({"preset", "recall", "0", "2"}).status, 0);
  EXPECT_EQ(Commands(), (std::vector<std::string>{"@16,2,90", "@16,3,90"}));
}

TEST_F(PtzctlTest, NumberLikeNamesNeedThePrefix) {
  ASSERT_EQ(Ptzctl({"preset", "store", "0", "name:42"}).status, 0);
  const RunResult r = Ptzctl({"preset", "recall", "0", "name:42"});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(Contains(r.out, "VRT_CamMoveToPrePositionName(0x"));
  // Without it, 42 is a position the camera does not have.
  const RunResult by_number = Ptzctl({"preset", "recall", "0", "42"});
  EXPECT_EQ(by_number.status, 1);
  EXPECT_TRUE(Contains(by_number.out, "-23 no such preset"));
}

TEST_F(PtzctlTest, FailuresPrintTheirMeaningAndSetTheExitStatus) {
  RunResult r = Ptzctl({"preset", "recall", "0", "Garage"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.out, "\"Garage\", 16)  ->  -23 no such preset"));
  r = Ptzctl({"--expect", "-23", "preset", "recall", "0", "Garage"});
  EXPECT_EQ(r.status, 0);
  r = Ptzctl({"--expect", "1", "preset", "recall", "0", "Garage"});
  EXPECT_EQ(r.status, 1);
  r = Ptzctl({"preset", "delete", "0", "0"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.out, "VRT_CamDeletePrePosition(0x"));
  EXPECT_TRUE(Contains(r.out, "-19 not supported"));
  r = Ptzctl({"left", "0", "17"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.out, "-3 bad argument"));
  r = Ptzctl({"relay", "on", "0", "3"});
  EXPECT_TRUE(Contains(r.out, "-27 no such relay"));
  r = Ptzctl({"configure"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.out, "VRT_CamConfigure(-1, NULL)  ->  -12 dialog closed without OK"));
  // This directory has no dialog module beside the library, so no dialog
  // opens, whatever the display; ptzctl says why.
  EXPECT_TRUE(Contains(r.out, "    no dialog was shown: "));
}

TEST_F(PtzctlTest, ConfigureWithoutADisplaySaysSo) {
  const char* display = getenv("DISPLAY");
  const std::string saved = display != nullptr ? display : "";
  unsetenv("DISPLAY");
  const char* wayland = getenv("WAYLAND_DISPLAY");
  const std::string savedWayland = wayland != nullptr ? wayland : "";
  unsetenv("WAYLAND_DISPLAY");
  RunResult r = Ptzctl({"configure", "0"});
  if (!saved.empty()) setenv("DISPLAY", saved.c_str(), 1);
  if (!savedWayland.empty()) setenv("WAYLAND_DISPLAY", savedWayland.c_str(), 1);
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.out, "VRT_CamConfigure(0, NULL)  ->  -12 dialog closed without OK"));
  EXPECT_TRUE(Contains(r.out,
                       "    no dialog was shown: no display to show the dialogs on "
                       "(neither DISPLAY nor WAYLAND_DISPLAY is set)"))
      << r.out;
}

TEST_F(PtzctlTest, UnknownCamerasAndRawHandles) {
  RunResult r = Ptzctl({"left", "7", "5"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.out, "VRT_CamOpen(7, &handle)  ->  -13 camera not found"));
  EXPECT_FALSE(Contains(r.out, "VRT_CamLeft"));
  // A raw handle goes to the driver as it is, without opening anything.
  r = Ptzctl({"left", "0x10000000", "5"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.out, "VRT_CamLeft(0x10000000, 5)  ->  -13 camera not found"));
  EXPECT_FALSE(Contains(r.out, "VRT_CamOpen"));
  r = Ptzctl({"left", "zero", "5"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.out, "not a camera number: zero"));
  EXPECT_TRUE(Commands().empty());
}

TEST_F(PtzctlTest, UsageErrorsExitWithTwo) {
  EXPECT_EQ(Ptzctl({"left", "0"}).status, 2);
  EXPECT_EQ(Ptzctl({"fly", "0"}).status, 2);
  EXPECT_EQ(Ptzctl({}).status, 2);
  const RunResult help = RunProgram(PTZCTL_PATH, {"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_TRUE(Contains(help.out, "0-based"));
  EXPECT_TRUE(Contains(help.out, "-26  preset storage full"));
}

TEST_F(PtzctlTest, ChannelCallsBuildTheRecordOfEachCode) {
  RunResult r = Ptzctl({"channel", "10", "0", "5"});
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(Contains(r.out, "TAVOPZTChannel(6, 10 VRT_CamLeft, {0: 0x1"));
  EXPECT_EQ(Commands(), (std::vector<std::string>{"@5,3", "@7,54,1"}));
  // Code 42 takes the speed before the name.
  r = Ptzctl({"channel", "42", "0", "50", "Door"});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(Commands(), std::vector<std::string>{"@16,1,90"});
  r = Ptzctl({"channel", "8", "1"});
  EXPECT_TRUE(Contains(r.out, "name \"Yard\""));
  r = Ptzctl({"channel", "23", "0", "-1"});
  EXPECT_TRUE(Contains(r.out, "4: -1})  ->  1\n")) << r.out;
  r = Ptzctl({"channel", "33", "0", "1"});
  EXPECT_TRUE(Contains(r.out, "relay 1 \"Washer\" on (state 1, capabilities 7)"));
  r = Ptzctl({"channel", "0"});
  EXPECT_TRUE(Contains(r.out, "->  0x12000"));
  for (const char* code : {"7", "34", "45", "-1"}) {
    r = Ptzctl({"channel", code});
    EXPECT_EQ(r.status, 1) << code;
    EXPECT_TRUE(Contains(r.out, "-19 not supported")) << code;
  }
  r = Ptzctl({"channel", "--interface", "5", "0"});
  EXPECT_TRUE(Contains(r.out, "TAVOPZTChannel(5, 0 VRT_CamGetVersion, {})  ->  -19"));
  r = Ptzctl({"channel", "6", "0", "1", "2"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.out, "takes at most 1 argument"));
}

TEST_F(PtzctlTest, ChannelOpenAndCloseAreTracked) {
  const RunResult r = Ptzctl({"--script", "-"}, "channel 5 1\nchannel 11 1 4\nchannel 6 1\n");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(Contains(r.out, "TAVOPZTChannel(6, 5 VRT_CamOpen, {0: 1})  ->  1 success, handle"));
  // The camera opened through the channel is the one moved, and it was closed
  // through the channel: nothing is left to close at the end.
  EXPECT_EQ(r.out.find("VRT_CamOpen("), std::string::npos);
  EXPECT_EQ(r.out.find("VRT_CamClose("), std::string::npos);
  EXPECT_TRUE(Contains(Commands(), "$5,5,2"));
}

TEST_F(PtzctlTest, RelayPulseWaitsForItsEndBeforeClosing) {
  const auto start = std::chrono::steady_clock::now();
  const RunResult r = Ptzctl({"relay", "pulse", "0", "0", "200"});
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
  EXPECT_EQ(Commands(), (std::vector<std::string>{"@5,18", "@6,18"}));
  EXPECT_FALSE(Gate().aux1);
}

TEST_F(PtzctlTest, HoldLetsTheWashPulseEnd) {
  // Relay 1 is the washer; without --hold the port closes before the pulse ends.
  const RunResult r = Ptzctl({"--hold", "1500", "relay", "on", "0", "1"});
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(Commands(), (std::vector<std::string>{"@5,12", "@6,12"}));
}

TEST_F(PtzctlTest, RelayNamesAreSavedByTheDriver) {
  ASSERT_EQ(Ptzctl({"relay", "name", "0", "2", "Floodlights"}).status, 0);
  const RunResult r = Ptzctl({"relay", "list", "0"});
  ASSERT_EQ(r.status, 0);
  EXPECT_TRUE(Contains(r.out, "relay -1})  ->  3\n"));
  EXPECT_TRUE(Contains(r.out, "relay 0 \"Aux\" on"));
  EXPECT_TRUE(Contains(r.out, "relay 2 \"Floodlights\" on"));
}

TEST_F(PtzctlTest, TraceShowsTheLogLinesOfEachCall) {
  const RunResult r = Ptzctl({"--trace", "left", "0", "3"});
  ASSERT_EQ(r.status, 0);
  const size_t call = r.out.find("VRT_CamLeft(");
  const size_t log = r.out.find("    log  ", call);
  ASSERT_NE(log, std::string::npos) << r.out;
  EXPECT_TRUE(Contains(r.out.substr(log), "CAM.Left: speed = 3 OK. (TavoID 1)"));
  EXPECT_LT(r.out.find("DRIVER SESSION STARTED"), call);
  EXPECT_TRUE(Contains(r.out, "DRIVER SESSION ENDED"));
  // The log went to the library's directory.
  EXPECT_TRUE(fs::exists(dir_.Log()));
}

TEST_F(PtzctlTest, LogDirectoryAndSwitchAreHandedToInit) {
  HostDir other;
  RunResult r = Ptzctl({"--log", other.Path().string(), "version"});
  EXPECT_TRUE(Contains(r.out, "VRT_CamGetVersion()  ->  0x12000"));
  EXPECT_FALSE(Contains(r.out, "VRT_CamInitModule"));  // the version needs no module
  r = Ptzctl({"--log", other.Path().string(), "name", "0"});
  EXPECT_TRUE(Contains(r.out, "VRT_CamInitModule(1, NULL, \"" + other.Path().string() + "\")"));
  EXPECT_TRUE(fs::exists(other.Log()));
  EXPECT_FALSE(fs::exists(dir_.Log()));
  r = Ptzctl({"--log-switch", "0", "--trace", "name", "0"});
  EXPECT_FALSE(Contains(r.out, "    log  "));
}

TEST_F(PtzctlTest, ScriptRunsEveryLineWithOneModuleSession) {
  const std::string script =
      "# a tour\n"
      "open 0\n"
      "left 0 4     # the dome turns\n"
      "sleep 50\n"
      "left 0 0\n"
      "preset store 0 \"Gate view\"\n"
      "expect -23 preset recall 0 Nowhere\n"
      "expect -20 open 0\n"
      "\n"
      "restart\n"
      "preset recall 0 'Gate view'\n";
  const RunResult r = Ptzctl({"--script", "-"}, script);
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(Contains(r.out, "stdin:3> left 0 4"));
  EXPECT_TRUE(Contains(r.out, "VRT_CamOpen(0, &handle)  ->  -20 camera busy"));
  // One session until the restart, one after it.
  size_t inits = 0;
  for (size_t at = r.out.find("VRT_CamInitModule"); at != std::string::npos;
       at = r.out.find("VRT_CamInitModule", at + 1))
    ++inits;
  EXPECT_EQ(inits, 2u);
  EXPECT_EQ(Commands(), (std::vector<std::string>{"@5,3", "@7,54,1", "@6,3", "@9,2", "@16,2,90"}));
}

TEST_F(PtzctlTest, ScriptStatusTellsUnexpectedResultsAndStopsAtBadLines) {
  std::string path = (dir_.Path() / "tour.txt").string();
  std::ofstream(path) << "expect 1 preset recall 0 Nowhere\nleft 0 2\n";
  RunResult r = Ptzctl({"--script", path});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.out, "unexpected result -23, expected 1"));
  EXPECT_TRUE(Contains(r.out, "VRT_CamLeft("));  // the script went on
  std::ofstream(path, std::ios::trunc) << "left 0 2\nleft 0 two\nright 0 2\n";
  r = Ptzctl({"--script", path});
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(Contains(r.out, "tour.txt:2> left 0 two"));
  EXPECT_FALSE(Contains(r.out, "VRT_CamRight("));
  EXPECT_TRUE(Contains(r.out, "VRT_CamExitModule()"));  // still shut down cleanly
  std::ofstream(path, std::ios::trunc) << "echo \"unclosed\n";
  EXPECT_EQ(Ptzctl({"--script", path}).status, 2);
  EXPECT_EQ(Ptzctl({"--script", path + ".missing"}).status, 2);
}

TEST_F(PtzctlTest, AMissingPortIsReported) {
  dir_.EditSettings("<ComPort value=\"1\"/>", "<ComPort value=\"40\"/>");
  const RunResult r = Ptzctl({"left", "0", "5"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.out, "VRT_CamOpen(0, &handle)  ->  -8 opening the COM port failed"));
}

TEST(PtzctlLoadTest, ALibraryThatIsMissingOrNotTheDriverIsRefused) {
  RunResult r = RunProgram(PTZCTL_PATH, {"--lib", "/nonexistent/QUARO7K7_PTZ.so", "list"});
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(Contains(r.err, "cannot load /nonexistent/QUARO7K7_PTZ.so"));
  r = RunProgram(PTZCTL_PATH, {"--lib", "/lib/x86_64-linux-gnu/libz.so.1", "list"});
  if (fs::exists("/lib/x86_64-linux-gnu/libz.so.1")) {
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(Contains(r.err, "missing exports _Z17VRT_CamGetVersionv, _Z14VRT_CamCloseUiv"))
        << r.err;
  }
}

// The simulator as a process of its own, as a newcomer runs it.
TEST(PtzctlWithSimulatorProcessTest, CommandsReachTheSimulatorTool) {
  HostDir dir;
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  const std::string port_dir = dir.Path().string();
  const char* argv[] = {DOMESIM_PATH, "--port-dir", port_dir.c_str(), "--com",
                        "1",          "--trace",    nullptr};
  const pid_t sim = fork();
  if (sim == 0) {
    dup2(out[1], 1);
    close(out[0]);
    execv(DOMESIM_PATH, const_cast<char**>(argv));
    _exit(127);
  }
  close(out[1]);
  std::string trace;
  ReadUntil(out[0], &trace, "published as", 5000);
  ASSERT_TRUE(fs::is_symlink(dir.Path() / "ports" / "COM1")) << trace;

  RunResult r = RunProgram(PTZCTL_PATH, {"--lib", dir.Library(), "left", "0", "5"});
  EXPECT_EQ(r.status, 0) << r.out;
  r = RunProgram(PTZCTL_PATH, {"--lib", dir.Library(), "stop", "0"});
  EXPECT_EQ(r.status, 0) << r.out;
  ReadUntil(out[0], &trace, "@6,5  stop tilt down", 5000);
  EXPECT_TRUE(Contains(trace, "@5,3  start pan left  -> \"OK\\r\"")) << trace;
  EXPECT_TRUE(Contains(trace, "@6,3  stop pan left")) << trace;
  EXPECT_TRUE(Contains(trace, "@6,5  stop tilt down")) << trace;

  kill(sim, SIGTERM);
  int status = 0;
  waitpid(sim, &status, 0);
  close(out[0]);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_FALSE(fs::exists(dir.Path() / "ports" / "COM1"));
}

}  // namespace
}  // namespace ptzctl_test
