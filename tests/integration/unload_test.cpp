// A host that unloads the library with the module still running: cameras
// open on several lines, relay pulses still running, a dome that has just
// stopped answering. The unload returns within its bound, switches off what
// a pulse switched on, leaves no thread of the library behind and frees
// the ports for the next load in the same process.
#include <dirent.h>

#include <chrono>
#include <thread>

#include "host_fixture.h"

namespace q7host {
namespace {

using UnloadTest = HostTest;
using Lines = std::vector<std::string>;
using std::chrono::milliseconds;

constexpr int64_t kUnloadBoundMs = 2000;

int ThreadCount() {
  int count = 0;
  DIR* tasks = opendir("/proc/self/task");
  if (tasks == nullptr) return -1;
  while (const dirent* entry = readdir(tasks))
    if (entry->d_name[0] != '.') ++count;
  closedir(tasks);
  return count;
}

std::vector<ConnectionConfig> TwoLines() {
  return {{"Line 1", 1, "96,E,8,1", {Camera("Gate", 0, 5)}},
          {"Line 2", 2, "96,E,8,1", {Camera("Yard", 1, 6)}}};
}

Lines OpenSequence(int sysId) {
  const std::string select = "@3," + std::to_string(sysId);
  return {"@2,1", select, "@5,23", "@2,1", select, "@6,22"};
}

// Twice in one process: the second unload is of a library loaded again
// after the first.
TEST_F(UnloadTest, CamerasOpenOnTwoLinesLeaveNoThreadsAndFreeThePorts) {
  WriteSettings(TwoLines());
  Simulator(1);
  Simulator(2);
  const int before = ThreadCount();
  for (int round = 1; round <= 2; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    ASSERT_EQ(Init(), 1);
    const int gate = Open(0);
    const int yard = Open(1);
    EXPECT_EQ(Wire(1), OpenSequence(5));
    EXPECT_EQ(Wire(2), OpenSequence(6));
    EXPECT_EQ(ThreadCount(), before + 2);  // a worker for each line
    EXPECT_EQ(api().VRT_CamLeft(gate, 5), 1);
    EXPECT_EQ(api().VRT_CamSetRelayName(yard, 2, "Lamp"), 1);
    const std::string settings = ReadFile(SettingsPath());
    std::this_thread::sleep_for(milliseconds(150));  // both workers wait for their next round
    const int64_t took = UnloadAsItStands();
    EXPECT_LT(took, kUnloadBoundMs);
    EXPECT_EQ(ThreadCount(), before);
    EXPECT_EQ(ReadFile(SettingsPath()), settings);
    const Lines log = LogLines();
    ASSERT_GE(log.size(), 4u);
    EXPECT_EQ(
        Lines(log.end() - 4, log.end()),
        (Lines{"COMM.Close: Connection 'Line 1' closed", "COMM.Close: Connection 'Line 2' closed",
               "DRV: Driver library freed.", std::string(80, '-')}));
    // Nothing more went out on the lines than the pan.
    EXPECT_EQ(Wire(1), (Lines{"@5,3", "@7,54,1", "@5,23"}));
    EXPECT_EQ(Wire(2), Lines{});
  }
  // The renamed relay was kept for the second round.
  ASSERT_EQ(Init(), 1);
  const int yard = Open(1);
  VRT_RelayRecord record{};
  record.handle = yard;
  record.relay = 2;
  EXPECT_EQ(api().VRT_CamGetRelay(&record), 1);
  EXPECT_STREQ(record.name, "Lamp");
}

TEST_F(UnloadTest, EndsTheRelayPulsesStillRunningOnEveryLine) {
  std::vector<ConnectionConfig> lines = TwoLines();
  lines[1].cameras[0].washPulseTime = 5000;
  WriteSettings(lines);
  domesim::DomeSimulator& one = Simulator(1);
  domesim::DomeSimulator& two = Simulator(2);
  ASSERT_EQ(Init(), 1);
  const int gate = Open(0);
  const int yard = Open(1);
  (void)Wire(1);
  (void)Wire(2);
  EXPECT_EQ(api().VRT_CamSetRelay(gate, 0, 3, 5000), 1);  // a pulse of 5 s
  EXPECT_EQ(api().VRT_CamSetRelay(yard, 1, 1, 0), 1);     // the washer, on for its pulse time
  EXPECT_EQ(api().VRT_CamSetRelay(gate, 2, 1, 0), 1);     // plainly on: stays on
  EXPECT_EQ(Wire(1), (Lines{"@5,18", "@5,24"}));
  EXPECT_EQ(Wire(2), (Lines{"@5,13"}));
  EXPECT_TRUE(one.State(128, 5).aux1);
  EXPECT_TRUE(two.State(128, 6).aux2);
  EXPECT_LT(UnloadAsItStands(), kUnloadBoundMs);
  // The ends were written before the ports closed; each simulator reads its
  // line on a thread of its own.
  EXPECT_TRUE(one.WaitForLines(1, 2000));
  EXPECT_TRUE(two.WaitForLines(1, 2000));
  // The cameras are still selected on their lines: each end goes out alone.
  EXPECT_EQ(Wire(1), (Lines{"@6,18"}));
  EXPECT_EQ(Wire(2), (Lines{"@6,13"}));
  EXPECT_FALSE(one.State(128, 5).aux1);
  EXPECT_TRUE(one.State(128, 5).aux3);
  EXPECT_FALSE(two.State(128, 6).aux2);
  const Lines log = LogLines();
  const auto off =
      std::find(log.begin(), log.end(), "RELAY.Set: Relay 'Relay1' SUCCESFULLY set to state 0");
  const auto closed = std::find(log.begin(), log.end(), "COMM.Close: Connection 'Line 1' closed");
  EXPECT_LT(off, closed);
  EXPECT_TRUE(HasLogLine("RELAY.Set: Relay 'Relay2' SUCCESFULLY set to state 0"));
}

// The dome stops answering while the worker ends a pulse: the unload does
// not sit out the re-sends of every line of that exchange (some 16 s), only
// the read in progress.
TEST_F(UnloadTest, ADomeThatStoppedAnsweringHoldsTheUnloadForOneReadAtMost) {
  const int handle = StartCamera();
  domesim::DomeSimulator& dome = Simulator();
  EXPECT_EQ(api().VRT_CamSetRelay(handle, 0, 3, 100), 1);
  EXPECT_EQ(Wire(), Lines{"@5,18"});
  dome.SetReplyMode(domesim::ReplyMode::kSilent);
  ASSERT_TRUE(dome.WaitForLines(1, 2000));  // the pulse's end went out, unanswered
  std::this_thread::sleep_for(milliseconds(300));
  const int64_t took = UnloadAsItStands();
  EXPECT_LT(took, 2000 + 300);
  EXPECT_EQ(Wire(), Lines{"@6,18"});  // not sent again
  EXPECT_TRUE(HasLogLine("DRV: Driver library freed."));
}

TEST_F(UnloadTest, LinesThatNeverOpenedAreLeftAlone) {
  WriteSettings(TwoLines());
  Simulator(1);
  ASSERT_EQ(Init(), 1);
  Open(0);
  EXPECT_LT(UnloadAsItStands(), kUnloadBoundMs);
  EXPECT_EQ(CountLogLines("COMM.Close: Connection 'Line 1' closed"), 1);
  EXPECT_EQ(CountLogLines("COMM.Close: Connection 'Line 2' closed"), 0);
}

}  // namespace
}  // namespace q7host
