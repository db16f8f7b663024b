// The DLL under Wine on a network line: Winsock to the dome simulator served
// over TCP, next to the Linux library on the same line, and a server that
// is not there. Skipped unless scripts/wine-tests.sh has set up Wine.
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "wine_host.h"

namespace q7wine {
namespace {

using Lines = std::vector<std::string>;

std::string DirOf(const Session& s) {
  const std::string settings = s.SettingsPath();
  return settings.substr(0, settings.rfind('/'));
}

bool LogHas(const Lines& log, const std::string& text) {
  return std::any_of(log.begin(), log.end(),
                     [&](const std::string& line) { return line.find(text) != std::string::npos; });
}

TEST_F(WineHostTest, NetworkLineMovesAndRecallsAPresetOverWinsock) {
  constexpr int kCom = 23;
  domesim::DomeSimulator dome;
  // One server for both runs, so that both logs name the same address.
  domesim::NetworkServer server(dome, domesim::NetMode::kRfc2217);
  const Transcript t = RunBoth([&](Session& s) {
    server.Publish(DirOf(s), kCom);
    dome.ClearLines();
    dome.ResetModel();
    s.WriteSettings(OneCameraSettings(kCom));
    s.Load();
    ASSERT_EQ(s.Init(), 1);
    ASSERT_EQ(s.Open(0), 1);
    EXPECT_EQ(dome.TakeLines(), (Lines{"@2,1", "@3,5", "@5,23", "@2,1", "@3,5", "@6,22"}));
    EXPECT_EQ(server.Settings().baud, 9600);
    EXPECT_EQ(server.Settings().parity, 3);
    EXPECT_EQ(s.Call("VRT_CamLeft {h} 8").result, 1);
    EXPECT_EQ(s.Call("VRT_CamLeft {h} 0").result, 1);
    EXPECT_EQ(dome.TakeLines(), (Lines{"@5,3", "@7,62,1", "@5,23", "@6,3"}));
    EXPECT_EQ(s.Call("VRT_CamSetPrePositionName {h} \"Door\"").result, 1);
    EXPECT_EQ(s.Call("VRT_CamMoveToPrePosition {h} 0 50").result, 1);
    EXPECT_EQ(dome.State(128, 5).presets.size(), 1u);
    EXPECT_NE(dome.State(128, 5).last_recalled, 0);
    EXPECT_EQ(s.Call("VRT_CamClose {h}").result, 1);
    EXPECT_EQ(s.Call("VRT_CamExitModule").result, 1);
    s.Unload();
  });
  EXPECT_TRUE(LogHas(t.log, "COMM.Open: Connection 'Line 1' opened with settings 96,E,8,1"));
  EXPECT_EQ(server.Connections(), 2u);
}

// A host that unloads the library with a camera open on a network line and
// the module not ended: the unload returns at once, the device server sees
// the connection end, and the library loaded again in the same process
// connects again and drives the dome.
TEST_F(WineHostTest, UnloadWithANetworkLineOpenEndsItsConnection) {
  constexpr int kCom = 25;
  domesim::DomeSimulator dome;
  domesim::NetworkServer server(dome, domesim::NetMode::kRfc2217);
  RunBoth([&](Session& s) {
    server.Publish(DirOf(s), kCom);
    dome.ClearLines();
    dome.ResetModel();
    s.WriteSettings(OneCameraSettings(kCom));
    s.Load();
    ASSERT_EQ(s.Init(), 1);
    ASSERT_EQ(s.Open(0), 1);
    EXPECT_EQ(s.Call("VRT_CamLeft {h} 5").result, 1);
    const int64_t took = s.TimedUnload(20000);
    ASSERT_GE(took, 0) << "the unload did not return";
    EXPECT_LT(took, 2000);
    for (int i = 0; i < 200 && server.ClientConnected(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(server.ClientConnected());
    dome.ClearLines();
    s.Load();
    ASSERT_EQ(s.Init(), 1);
    ASSERT_EQ(s.Open(0), 1);
    EXPECT_EQ(s.Call("VRT_CamRight {h} 5").result, 1);
    EXPECT_EQ(dome.TakeLines(), (Lines{"@2,1", "@3,5", "@5,23", "@2,1", "@3,5", "@6,22", "@5,2",
                                       "@7,54,1", "@5,23"}));
    EXPECT_EQ(s.Call("VRT_CamExitModule").result, 1);
    s.Unload();
  });
  EXPECT_EQ(server.Connections(), 4u);
}

TEST_F(WineHostTest, NetworkLineServerThatIsNotThereAnswersMinus8) {
  WineSide wine(setup());
  const Transcript t = RunOn(wine, [](Session& s) {
    // Port 1 of the loopback address: nothing listens there.
    mkdir((DirOf(s) + "/ports").c_str(), 0755);
    WriteText(DirOf(s) + "/ports/COM24", "tcp://127.0.0.1:1\r\n");
    s.WriteSettings(OneCameraSettings(24));
    s.Load();
    ASSERT_EQ(s.Init(), 1);
    const Reply open = s.Call("VRT_CamOpen 0");
    EXPECT_EQ(open.result, -8);
    EXPECT_LT(open.ms, 3500);
    WriteText(DirOf(s) + "/ports/COM24", "tcp//127.0.0.1:1\r\n");
    EXPECT_EQ(s.Call("VRT_CamOpen 0").result, -8);
    EXPECT_EQ(s.Call("VRT_CamExitModule").result, 1);
  });
  EXPECT_TRUE(LogHas(t.log, "NetLine.Open: COM24: tcp://127.0.0.1:1 not reachable: "));
  EXPECT_TRUE(LogHas(t.log,
                     "names no network line (it starts with neither rfc2217:// nor "
                     "tcp://): \"tcp//127.0.0.1:1\""));
}

}  // namespace
}  // namespace q7wine
