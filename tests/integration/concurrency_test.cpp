// Host threads calling at once: cameras sharing a line, cameras on two lines,
// one camera from two threads, and the module ended while calls go on. Meant
// to run under ThreadSanitizer as well.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <regex>
#include <thread>

#include "host_fixture.h"

namespace q7host {
namespace {

using ConcurrencyTest = HostTest;

// Moves a camera through every direction, lens and relay request; counts the
// calls that did not answer 1.
int Exercise(const Api& a, int handle, int rounds, int seed) {
  int failures = 0;
  auto check = [&failures](int result) {
    if (result != 1) ++failures;
  };
  for (int i = 0; i < rounds; ++i) {
    const int speed = 1 + (seed + i * 7) % 16;
    switch ((seed + i) % 6) {
      case 0:
        check(a.VRT_CamLeft(handle, speed));
        check(a.VRT_CamLeft(handle, 0));
        break;
      case 1:
        check(a.VRT_CamUpRight(handle, speed));
        check(a.VRT_CamUpRight(handle, 1 + speed % 16));
        check(a.VRT_CamUpRight(handle, 0));
        break;
      case 2:
        check(a.VRT_CamZoom(handle, i % 2, speed));
        check(a.VRT_CamZoom(handle, i % 2, 0));
        break;
      case 3:
        check(a.VRT_CamSetRelay(handle, i % 3, 2, 0));
        break;
      case 4:
        check(a.VRT_CamDown(handle, speed));
        check(a.VRT_CamDown(handle, 0));
        break;
      case 5: {
        VRT_CameraProperties properties{};
        properties.handle = handle;
        check(a.VRT_CamGetProperties(&properties));
        break;
      }
    }
  }
  return failures;
}

// Every line a camera of these tests can send, whole.
::testing::AssertionResult AllLinesWhole(const std::vector<domesim::ReceivedLine>& records) {
  static const std::regex whole(R"(^(@|\$\d{1,3},)(2,1|3,\d+|5,\d+|6,\d+|7,\d+,\d+)$)");
  for (const domesim::ReceivedLine& r : records) {
    if (!r.valid || !std::regex_match(r.line, whole) || r.reply != "OK\r")
      return ::testing::AssertionFailure() << "line \"" << r.line << "\": " << r.text;
  }
  return ::testing::AssertionSuccess();
}

// Every line the dome received, with its time from the first and its answer:
// what a failure of the end state needs to be read.
std::string Transcript(const std::vector<domesim::ReceivedLine>& records) {
  std::string text;
  for (const domesim::ReceivedLine& r : records) {
    const auto ms =
        std::chrono::duration_cast<std::chrono::microseconds>(r.when - records.front().when)
            .count() /
        1000.0;
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%10.3f ms  ", ms);
    text += stamp + domesim::FormatReceivedLine(r) + "\n";
  }
  return text;
}

// Lines sent again after a wait for their reply.
int CountResends(const std::vector<domesim::ReceivedLine>& records) {
  int count = 0;
  for (size_t i = 1; i < records.size(); ++i) {
    const auto gap = records[i].when - records[i - 1].when;
    if (records[i].line == records[i - 1].line && gap > std::chrono::milliseconds(1500)) ++count;
  }
  return count;
}

TEST_F(ConcurrencyTest, CamerasOnOneLineAndOnTwoLinesAtOnce) {
  WriteSettings({{"Line 1", 1, "96,E,8,1", {Camera("Gate", 0, 5), Camera("Yard", 1, 6)}},
                 {"Line 2", 2, "96,E,8,1", {Camera("Hall", 2, 7, 4), Camera("Roof", 3, 8, 4)}}});
  Simulator(1);
  Simulator(2);
  ASSERT_EQ(Init(), 1);
  std::vector<int> handles;
  for (int i = 0; i < 4; ++i) handles.push_back(Open(i));
  const Api& a = api();
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  // Two threads per camera on the first line's Gate: calls on one camera
  // run one after the other.
  for (int t = 0; t < 5; ++t) {
    const int handle = handles[t < 4 ? t : 0];
    threads.emplace_back([&a, &failures, handle, t] { failures += Exercise(a, handle, 30, t); });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
  for (int com : {1, 2}) {
    SCOPED_TRACE("COM" + std::to_string(com));
    const std::vector<domesim::ReceivedLine> records = Simulator(com).Records();
    EXPECT_GT(records.size(), 100u);
    EXPECT_TRUE(AllLinesWhole(records));
    EXPECT_EQ(CountResends(records), 0);
  }
  // Everything stopped in the end, on every dome.
  for (const auto& [node, sys] : std::vector<std::pair<int, int>>{{128, 5}, {128, 6}}) {
    const domesim::DomeState dome = Simulator(1).State(node, sys);
    const bool stopped =
        dome.pan == domesim::PanMotion::kStopped && dome.tilt == domesim::TiltMotion::kStopped;
    EXPECT_TRUE(stopped) << domesim::FormatStatus(dome) << "\nCOM1:\n"
                         << Transcript(Simulator(1).Records());
  }
  for (int h : handles) EXPECT_EQ(a.VRT_CamClose(h), 1);
}

TEST_F(ConcurrencyTest, OpensAndClosesFromManyThreads) {
  std::vector<CameraConfig> cameras;
  for (int i = 0; i < 6; ++i)
    cameras.push_back(Camera(("Cam" + std::to_string(i)).c_str(), i, 10 + i));
  WriteSettings({{"Line 1", 1, "96,E,8,1", cameras}});
  Simulator(1);
  ASSERT_EQ(Init(), 1);
  const Api& a = api();
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 6; ++t) {
    threads.emplace_back([&a, &failures, t] {
      for (int round = 0; round < 3; ++round) {
        int handle = 0;
        if (a.VRT_CamOpen(t, &handle) != 1) {
          ++failures;
          continue;
        }
        if (a.VRT_CamRight(handle, 3) != 1 || a.VRT_CamRight(handle, 0) != 1) ++failures;
        if (a.VRT_CamClose(handle) != 1) ++failures;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_TRUE(AllLinesWhole(Simulator(1).Records()));
  // No reply went to the wrong reader: nothing was re-sent after a wait.
  EXPECT_EQ(CountResends(Simulator(1).Records()), 0);
  EXPECT_TRUE(WaitForLogLine("COMM.Close: Connection 'Line 1' closed", 1000));
}

TEST_F(ConcurrencyTest, ExitModuleWhileCallsGoOn) {
  WriteSettings({{"Line 1", 1, "96,E,8,1", {Camera("Gate", 0, 5), Camera("Yard", 1, 6)}}});
  Simulator(1);
  ASSERT_EQ(Init(), 1);
  const int gate = Open(0);
  const int yard = Open(1);
  const Api& a = api();
  std::atomic<bool> started{false};
  std::atomic<int> unexpected{0};
  std::vector<std::thread> threads;
  for (int handle : {gate, yard, gate}) {
    threads.emplace_back([&, handle] {
      // Calls answer 1 until the module ends, then -13 for good.
      bool ended = false;
      for (int i = 0; i < 100000; ++i) {
        const int result = (i % 2) ? a.VRT_CamLeft(handle, 0) : a.VRT_CamLeft(handle, 1 + i % 16);
        started = true;
        if (result == -13) {
          ended = true;
        } else if (result != 1 || ended) {
          ++unexpected;
        }
        if (ended && i % 50 == 0) break;
      }
      if (!ended) ++unexpected;
    });
  }
  while (!started) std::this_thread::yield();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(Exit(), 1);
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(unexpected.load(), 0);
  EXPECT_EQ(a.VRT_CamLeft(gate, 5), -13);
  EXPECT_EQ(a.VRT_CamClose(yard), -13);
  int handle = 0;
  EXPECT_EQ(a.VRT_CamOpen(0, &handle), -13);
  EXPECT_TRUE(AllLinesWhole(Simulator(1).Records()));
}

}  // namespace
}  // namespace q7host
