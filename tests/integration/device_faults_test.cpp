// Domes that misbehave: slow answers, a node off line, babble nobody asked
// for, a dome that stays silent while other lines carry on, and a port that
// vanishes in the middle of a command and comes back. Every call answers
// with its code within its time-outs, and the line works again once the
// dome is back.
//
// The lines here use COM ports above 32: while a port's link is gone the
// driver falls back to /dev/ttyS<n-1>, which must not exist.
#include <algorithm>
#include <chrono>
#include <future>
#include <thread>

#include "host_fixture.h"

namespace q7host {
namespace {

using DeviceFaultTest = HostTest;
using Lines = std::vector<std::string>;
using domesim::ReplyMode;
using std::chrono::milliseconds;

constexpr int kCom = 41;
constexpr int kOtherCom = 42;

// A whole reply wait of a silent dome: four reads of 2003 ms.
constexpr int64_t kSilentLineMs = 4 * 2003;

ConnectionConfig Line(const char* name, int com, std::vector<CameraConfig> cameras) {
  ConnectionConfig line;
  line.name = name;
  line.comPort = com;
  line.cameras = std::move(cameras);
  return line;
}

// True once the simulator babbled its first chunk.
bool BabbleStarted(const domesim::DomeSimulator& sim) {
  const int64_t deadline = NowMs() + 2000;
  while (sim.BabbleCount() == 0 && NowMs() < deadline) std::this_thread::sleep_for(milliseconds(5));
  return sim.BabbleCount() > 0;
}

// The time a call takes, with its result.
template <typename Call>
std::pair<int, int64_t> Timed(Call call) {
  const int64_t start = NowMs();
  const int result = call();
  return {result, NowMs() - start};
}

TEST_F(DeviceFaultTest, SlowAnswersWithinTheReadTimeOutCostOnlyTheirDelay) {
  WriteSettings({Line("Line 1", kCom, {Camera("Gate", 0, 5)})});
  Simulator(kCom).SetDelayMs(300);
  ASSERT_EQ(Init(), 1);
  const Api& a = api();
  int handle = 0;
  auto [opened, openMs] = Timed([&] { return a.VRT_CamOpen(0, &handle); });
  EXPECT_EQ(opened, 1);
  // Six lines of the open sequence at 300 ms each, none re-sent.
  EXPECT_GE(openMs, 6 * 300 - 50);
  EXPECT_LT(openMs, 6 * 300 + 2000);
  EXPECT_EQ(Wire(kCom).size(), 6u);
  auto [moved, moveMs] = Timed([&] { return a.VRT_CamLeft(handle, 5); });
  EXPECT_EQ(moved, 1);
  EXPECT_GE(moveMs, 3 * 300 - 50);
  EXPECT_LT(moveMs, 3 * 300 + 2000);
  EXPECT_EQ(Wire(kCom), (Lines{"@5,3", "@7,54,1", "@5,23"}));
  EXPECT_EQ(Simulator(kCom).State(128, 5).pan, domesim::PanMotion::kLeft);
}

TEST_F(DeviceFaultTest, AnswersSlowerThanTheReadTimeOutAreResentAndTheLineRecovers) {
  const int handle = StartCamera(Camera("Gate", 0, 5), Line("Line 1", kCom, {}));
  const Api& a = api();
  Simulator(kCom).SetDelayMs(2500);
  const size_t answered = Simulator(kCom).AnsweredCount();
  // The first read gives up after 2003 ms, the line goes again, and the
  // late answer to the first sending is taken during the second read.
  auto [stopped, stopMs] = Timed([&] { return a.VRT_CamLeft(handle, 0); });
  EXPECT_EQ(stopped, 1);
  EXPECT_GE(stopMs, 2003);
  EXPECT_LT(stopMs, kSilentLineMs + 1500);
  EXPECT_EQ(Wire(kCom), Lines(2, "@6,3"));
  // The dome answers the re-sent line too, late: from here on every read
  // may find the answer to the line before it waiting (and the purge after
  // it may split an answer, costing a re-send). Once the dome is quick
  // again, calls reach the dome within one lost read at most (a split
  // answer costs that read), not a silent line's four.
  Simulator(kCom).SetDelayMs(0);
  ASSERT_TRUE(Simulator(kCom).WaitForAnswered(answered + 2, 4000));
  auto [lit, litMs] = Timed([&] { return a.VRT_CamSetRelay(handle, 0, 1, 0); });
  EXPECT_EQ(lit, 1);
  EXPECT_LT(litMs, 2 * 2003);
  EXPECT_EQ(a.VRT_CamSetRelay(handle, 0, 0, 0), 1);
  auto [moved, moveMs] = Timed([&] { return a.VRT_CamRight(handle, 5); });
  EXPECT_EQ(moved, 1);
  EXPECT_LT(moveMs, 2 * 2003);
  std::this_thread::sleep_for(milliseconds(200));
  const Lines wire = Wire(kCom);
  for (const char* line : {"@5,18", "@6,18", "@5,2", "@7,54,1", "@5,23"}) {
    const auto sent = std::count(wire.begin(), wire.end(), line);
    EXPECT_GE(sent, 1) << line;
    EXPECT_LE(sent, 4) << line;
  }
  const domesim::DomeState dome = Simulator(kCom).State(128, 5);
  EXPECT_FALSE(dome.aux1);
  EXPECT_EQ(dome.pan, domesim::PanMotion::kRight);
}

TEST_F(DeviceFaultTest, NodeOffLineAnswersEveryCallWithoutResendingAndTheDomeDoesNothing) {
  CameraConfig camera = Camera("Gate", 0, 5, 3);
  const int handle = StartCamera(camera, Line("Line 1", kCom, {}));
  const Api& a = api();
  Simulator(kCom).SetReplyMode(ReplyMode::kOl);
  const int64_t start = NowMs();
  EXPECT_EQ(a.VRT_CamUp(handle, 4), 1);
  EXPECT_EQ(a.VRT_CamUp(handle, 0), 1);
  EXPECT_EQ(a.VRT_CamZoom(handle, 1, 4), 1);
  EXPECT_EQ(a.VRT_CamZoom(handle, 1, 0), 1);
  EXPECT_EQ(a.VRT_CamSetRelay(handle, 2, 3, 200), 1);
  EXPECT_EQ(a.VRT_CamSetPrePositionName(handle, "Door"), 1);
  EXPECT_EQ(a.VRT_CamMoveToPrePositionName(handle, "Door", 50), 1);
  // "OL" is an answer: nothing waits out a time-out, nothing is re-sent.
  EXPECT_LT(NowMs() - start, 1500);
  const Lines wire = Wire(kCom);
  EXPECT_EQ(wire, (Lines{"$3,5,4", "$3,7,1,54", "$3,5,23", "$3,6,4", "$3,5,7", "$3,6,7", "$3,5,24",
                         "$3,9,1", "$3,16,1,90"}));
  // The pulse's end goes out the same way.
  ASSERT_TRUE(WaitForLogLine("RELAY.Set: Relay 'Relay3' SUCCESFULLY set to state 0", 2000));
  EXPECT_EQ(Wire(kCom), Lines{"$3,6,24"});
  EXPECT_EQ(CountLogLines("Serial.ReadData: Remote node off line"), 10);
  const domesim::DomeState dome = Simulator(kCom).State(3, 5);
  EXPECT_EQ(dome.tilt, domesim::TiltMotion::kStopped);
  EXPECT_EQ(dome.zoom, -1);
  EXPECT_FALSE(dome.aux3);
  EXPECT_TRUE(dome.presets.empty());
  // Once the node is back the same calls reach the dome.
  Simulator(kCom).SetReplyMode(ReplyMode::kOk);
  EXPECT_EQ(a.VRT_CamDown(handle, 0), 1);
  EXPECT_EQ(a.VRT_CamSetRelay(handle, 2, 1, 0), 1);
  EXPECT_TRUE(Simulator(kCom).State(3, 5).aux3);
}

TEST_F(DeviceFaultTest, BabbleCostsResendsButNoTimeAndStopsCosting) {
  WriteSettings({Line("Line 1", kCom, {Camera("Gate", 0, 5)})});
  Simulator(kCom).SetBabble(3);
  ASSERT_TRUE(BabbleStarted(Simulator(kCom)));
  ASSERT_EQ(Init(), 1);
  const Api& a = api();
  const int64_t start = NowMs();
  const int handle = Open(0);
  ASSERT_NE(handle, 0);
  // Calls go on for a while, so that plenty of babble comes between them.
  int rounds = 0;
  while (NowMs() - start < 400 && rounds < 200) {
    ++rounds;
    EXPECT_EQ(a.VRT_CamLeft(handle, 5), 1);
    EXPECT_EQ(a.VRT_CamLeft(handle, 0), 1);
    EXPECT_EQ(a.VRT_CamSetRelay(handle, 0, 2, 0), 1);
    std::this_thread::sleep_for(milliseconds(5));
  }
  VRT_PresetRecord preset{};
  EXPECT_EQ(a.VRT_CamSetPrePositionName(handle, "Door"), 1);
  preset.handle = handle;
  preset.position = -1;
  EXPECT_EQ(a.VRT_CamGetPrePosition(&preset), 1);
  // A babbled byte arrives every few milliseconds: no read waits for its
  // time-out, whatever each line cost in re-sends.
  EXPECT_LT(NowMs() - start, 400 + 4 * 2003);
  const size_t lines = 6 + 4 * static_cast<size_t>(rounds) + 1;
  const Lines babbled = Wire(kCom);
  EXPECT_GT(babbled.size(), lines);  // babble was taken for answers
  EXPECT_LE(babbled.size(), 4 * lines);
  EXPECT_GT(Simulator(kCom).BabbleCount(), 20u);

  // Quiet again: after one call that may still meet babble already on its
  // way, every line goes once.
  Simulator(kCom).SetBabble(0);
  std::this_thread::sleep_for(milliseconds(100));
  EXPECT_EQ(a.VRT_CamSetRelay(handle, 1, 0, 0), 1);
  std::this_thread::sleep_for(milliseconds(100));  // a line it may have re-sent
  Wire(kCom);
  EXPECT_EQ(a.VRT_CamRight(handle, 5), 1);
  EXPECT_EQ(a.VRT_CamSetRelay(handle, 0, 1, 0), 1);
  EXPECT_EQ(Wire(kCom), (Lines{"@5,2", "@7,54,1", "@5,18"}));
}

// The one long test here: a silent dome holds its own line for its whole
// reply wait, and nothing else.
TEST_F(DeviceFaultTest, SilentDomeHoldsOnlyItsOwnLine) {
  WriteSettings({Line("Line 1", kCom, {Camera("Gate", 0, 5)}),
                 Line("Line 2", kOtherCom, {Camera("Yard", 1, 6)})});
  Simulator(kCom);
  Simulator(kOtherCom);
  ASSERT_EQ(Init(), 1);
  const Api& a = api();
  const int gate = Open(0);
  const int yard = Open(1);
  Wire(kCom);
  Wire(kOtherCom);
  Simulator(kCom).SetReplyMode(ReplyMode::kSilent);
  auto stuck =
      std::async(std::launch::async, [&] { return Timed([&] { return a.VRT_CamLeft(gate, 0); }); });
  ASSERT_TRUE(Simulator(kCom).WaitForLines(1, 2000));
  // Meanwhile the other line, the module's properties and the dialogs'
  // close answer at once.
  const int64_t start = NowMs();
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(a.VRT_CamUp(yard, 3), 1);
    EXPECT_EQ(a.VRT_CamUp(yard, 0), 1);
  }
  VRT_ModuleProperties module{};
  EXPECT_EQ(a.VRT_CamGetModuleProperties(&module), 1);
  EXPECT_EQ(a.VRT_CamCloseUi(), 1);
  char name[33] = {0};
  EXPECT_EQ(a.VRT_CamGetName(1, name, sizeof name), 1);
  EXPECT_LT(NowMs() - start, 2000);
  EXPECT_EQ(stuck.wait_for(milliseconds(0)), std::future_status::timeout);
  // The module's end waits for the call on the silent line, no longer.
  auto [exited, exitMs] = Timed([&] { return Exit(); });
  EXPECT_EQ(exited, 1);
  EXPECT_LT(exitMs, kSilentLineMs + 2000);
  auto [stopped, stopMs] = stuck.get();
  EXPECT_EQ(stopped, 1);
  EXPECT_GE(stopMs, kSilentLineMs - 500);
  EXPECT_LT(stopMs, kSilentLineMs + 2000);
  EXPECT_EQ(Wire(kCom), Lines(4, "@6,3"));
  EXPECT_FALSE(LogContains("Access imbalance"));
}

TEST_F(DeviceFaultTest, PortVanishingDuringAReplyWaitFailsTheCallAndTheNextOpenWorks) {
  const int handle = StartCamera(Camera("Gate", 0, 5), Line("Line 1", kCom, {}));
  const Api& a = api();
  Simulator(kCom).SetDelayMs(1500);  // the answer never comes: the port goes first
  auto call = std::async(std::launch::async,
                         [&] { return Timed([&] { return a.VRT_CamSetRelay(handle, 0, 1, 0); }); });
  ASSERT_TRUE(Simulator(kCom).WaitForLines(1, 2000));
  const int64_t gone = NowMs();
  Simulator(kCom).Hangup();
  auto [result, took] = call.get();
  EXPECT_EQ(result, -4);
  // Three failed reads with a 100 ms pause after each.
  EXPECT_LT(NowMs() - gone, 1500);
  EXPECT_LT(took, 3000);
  EXPECT_TRUE(LogContains("Serial.ReadData: Serial port read error"));
  EXPECT_TRUE(HasLogLine("COMM.SendMsg: error reading response: -4"));
  EXPECT_TRUE(HasLogLine("CAM.SetRelay: FAILED (TavoID 1), relay: 0 mode: 1, time: 0"));
  // While it is gone: calls fail at once, the close succeeds, an open finds
  // no port.
  auto [moved, moveMs] = Timed([&] { return a.VRT_CamLeft(handle, 5); });
  EXPECT_EQ(moved, -4);
  EXPECT_LT(moveMs, 1000);
  EXPECT_EQ(a.VRT_CamClose(handle), 1);
  int again = 0;
  auto [missing, missingMs] = Timed([&] { return a.VRT_CamOpen(0, &again); });
  EXPECT_EQ(missing, -8);
  EXPECT_LT(missingMs, 1000);
  EXPECT_TRUE(HasLogLine(Format("COMM.Open FAILED: Com port %d not found ", kCom)));
  // Back: the next open opens the new port and the dome hears every line.
  Simulator(kCom).SetDelayMs(0);
  Simulator(kCom).Reopen();
  Simulator(kCom).ClearLines();
  again = Open(0);
  ASSERT_NE(again, 0);
  // The open sequence; the line still has this camera selected for the
  // lens-slow state.
  EXPECT_EQ(Wire(kCom), (Lines{"@2,1", "@3,5", "@5,23", "@6,22"}));
  EXPECT_EQ(a.VRT_CamSetRelay(again, 0, 1, 0), 1);
  EXPECT_EQ(Wire(kCom), Lines{"@5,18"});
  EXPECT_TRUE(Simulator(kCom).State(128, 5).aux1);
}

TEST_F(DeviceFaultTest, PortVanishingDuringTheOpenSequence) {
  WriteSettings({Line("Line 1", kCom, {Camera("Gate", 0, 5)})});
  Simulator(kCom).SetDelayMs(1500);
  ASSERT_EQ(Init(), 1);
  const Api& a = api();
  int handle = 0;
  auto open = std::async(std::launch::async,
                         [&] { return Timed([&] { return a.VRT_CamOpen(0, &handle); }); });
  ASSERT_TRUE(Simulator(kCom).WaitForLines(1, 2000));
  Simulator(kCom).Hangup();
  // The open sequence's answers are not looked at: the camera opens on a
  // line that is gone, quickly, and its calls fail.
  auto [opened, openMs] = open.get();
  EXPECT_EQ(opened, 1);
  EXPECT_LT(openMs, 4000);
  EXPECT_EQ(a.VRT_CamLeft(handle, 5), -4);
  EXPECT_EQ(a.VRT_CamClose(handle), 1);
  Simulator(kCom).SetDelayMs(0);
  Simulator(kCom).Reopen();
  const int again = Open(0);
  ASSERT_NE(again, 0);
  Wire(kCom);
  // The start that failed left the camera moving, as a host's release
  // clears it.
  EXPECT_EQ(a.VRT_CamLeft(again, 0), 1);
  EXPECT_EQ(a.VRT_CamLeft(again, 5), 1);
  EXPECT_EQ(Wire(kCom), (Lines{"@6,3", "@5,3", "@7,54,1", "@5,23"}));
}

// Two cameras share the line; the port vanishes and comes back. The host
// closes and opens the camera whose calls failed; its open finds the line
// broken under the other open camera and opens the port again, so both
// cameras work.
TEST_F(DeviceFaultTest, PortComingBackUnderAnotherOpenCameraIsReopenedByTheNextOpen) {
  WriteSettings({Line("Line 1", kCom, {Camera("Gate", 0, 5), Camera("Yard", 1, 6)})});
  Simulator(kCom);
  ASSERT_EQ(Init(), 1);
  const Api& a = api();
  const int gate = Open(0);
  const int yard = Open(1);
  Simulator(kCom).Hangup();
  EXPECT_EQ(a.VRT_CamSetRelay(gate, 0, 1, 0), -4);
  Simulator(kCom).Reopen();
  EXPECT_EQ(a.VRT_CamClose(gate), 1);
  const int again = Open(0);
  ASSERT_NE(again, 0);
  Wire(kCom);
  EXPECT_EQ(a.VRT_CamLeft(again, 5), 1);
  EXPECT_EQ(a.VRT_CamDown(yard, 5), 1);
  EXPECT_EQ(Wire(kCom),
            (Lines{"@5,3", "@7,54,1", "@5,23", "@2,1", "@3,6", "@5,5", "@7,1,54", "@5,23"}));
  EXPECT_EQ(Simulator(kCom).State(128, 6).tilt, domesim::TiltMotion::kDown);
  // Each close gives the port back once: the last one closes it.
  EXPECT_EQ(a.VRT_CamClose(again), 1);
  EXPECT_EQ(a.VRT_CamClose(yard), 1);
  EXPECT_TRUE(HasLogLine("COMM.Close: Connection 'Line 1' closed"));
  EXPECT_EQ(Exit(), 1);
}

// The port is still gone when the host tries: that open fails, the camera
// that stayed open keeps failing fast, and a later open once the dome is
// back repairs the line. (An open notices the failure only once a call has
// met it.)
TEST_F(DeviceFaultTest, OpenWhileTheSharedPortIsStillGoneFailsAndALaterOneRepairs) {
  WriteSettings({Line("Line 1", kCom, {Camera("Gate", 0, 5), Camera("Yard", 1, 6)})});
  Simulator(kCom);
  ASSERT_EQ(Init(), 1);
  const Api& a = api();
  const int gate = Open(0);
  const int yard = Open(1);
  Simulator(kCom).Hangup();
  EXPECT_EQ(a.VRT_CamSetRelay(yard, 0, 1, 0), -4);
  EXPECT_EQ(a.VRT_CamClose(gate), 1);
  int handle = 0;
  auto [missing, missingMs] = Timed([&] { return a.VRT_CamOpen(0, &handle); });
  EXPECT_EQ(missing, -8);
  EXPECT_LT(missingMs, 1000);
  EXPECT_EQ(handle, -1);
  EXPECT_TRUE(HasLogLine(Format("COMM.Open FAILED: Com port %d not found ", kCom)));
  auto [moved, moveMs] = Timed([&] { return a.VRT_CamDown(yard, 5); });
  EXPECT_EQ(moved, -4);
  EXPECT_LT(moveMs, 1000);
  EXPECT_EQ(a.VRT_CamDown(yard, 0), 1);
  Simulator(kCom).Reopen();
  const int again = Open(0);
  ASSERT_NE(again, 0);
  EXPECT_EQ(a.VRT_CamDown(yard, 5), 1);
  EXPECT_EQ(a.VRT_CamLeft(again, 5), 1);
  EXPECT_EQ(Simulator(kCom).State(128, 5).pan, domesim::PanMotion::kLeft);
  EXPECT_EQ(a.VRT_CamClose(yard), 1);
  EXPECT_EQ(a.VRT_CamClose(again), 1);
  EXPECT_TRUE(HasLogLine("COMM.Close: Connection 'Line 1' closed"));
}

}  // namespace
}  // namespace q7host
