// The module ended and started again while host threads open, use and close
// cameras: no call reaches a camera that is gone, every handle of an ended
// session answers -13, and an open that was still talking to its dome when
// the module ended hands out no handle. Meant to run under ThreadSanitizer
// and AddressSanitizer as well; bounded to a few seconds.
#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "host_fixture.h"

namespace q7host {
namespace {

using ConcurrencyStressTest = HostTest;
using std::chrono::milliseconds;

bool OneOf(int result, std::initializer_list<int> allowed) {
  for (int a : allowed)
    if (result == a) return true;
  return false;
}

// An open whose dome answers slowly is still in its open sequence when the
// module ends: it must not hand out a handle into the ended session.
TEST_F(ConcurrencyStressTest, OpenRacingExitHandsOutNoReachableHandle) {
  WriteSettings({{"Line 1", 1, "96,E,8,1", {Camera("Gate", 0, 5)}}});
  Simulator(1).SetDelayMs(100);  // the open sequence takes about 0.4 s
  ASSERT_EQ(Init(), 1);
  const Api& a = api();
  int handle = 0;
  int opened = 0;
  std::thread opener([&] { opened = a.VRT_CamOpen(0, &handle); });
  ASSERT_TRUE(Simulator(1).WaitForLines(1, 2000));
  std::this_thread::sleep_for(milliseconds(50));
  EXPECT_EQ(Exit(), 1);
  opener.join();
  // The module ended before the open could enter its handle.
  EXPECT_EQ(opened, -13);
  EXPECT_EQ(handle, -1);
  EXPECT_EQ(a.VRT_CamLeft(handle, 5), -13);
  EXPECT_EQ(a.VRT_CamClose(handle), -13);
  EXPECT_TRUE(HasLogLine("DRV.OpenCamera: TAVO Camera 1 not found (error -13)."));
  EXPECT_FALSE(LogContains("DRV.OpenCamera: TAVO Camera 1 opened with handle"));
  EXPECT_TRUE(LogContains("COMM.Close: Connection 'Line 1' closed"));
  EXPECT_FALSE(LogContains("Access imbalance"));
  // The port was given back: the next session opens the camera again.
  Simulator(1).SetDelayMs(0);
  ASSERT_EQ(Init(), 1);
  const int again = Open(0);
  EXPECT_EQ(a.VRT_CamLeft(again, 5), 1);
  EXPECT_EQ(a.VRT_CamClose(again), 1);
}

// Calls waiting for a camera that another call holds when the module ends
// answer -13; none of them runs on the ending session's camera.
TEST_F(ConcurrencyStressTest, CallsWaitingForACameraWhenTheModuleEndsAnswerInvalidHandle) {
  WriteSettings({{"Line 1", 1, "96,E,8,1", {Camera("Gate", 0, 5)}}});
  Simulator(1);
  ASSERT_EQ(Init(), 1);
  const int gate = Open(0);
  const Api& a = api();
  Simulator(1).SetDelayMs(150);  // the pan holds the camera for about 0.3 s
  Simulator(1).ClearLines();
  std::thread holder([&] { a.VRT_CamLeft(gate, 5); });
  ASSERT_TRUE(Simulator(1).WaitForLines(1, 2000));
  std::atomic<int> waiting{0};
  std::vector<int> results(3, 0);
  std::vector<std::thread> waiters;
  for (int i = 0; i < 3; ++i) {
    waiters.emplace_back([&, i] {
      ++waiting;
      results[static_cast<size_t>(i)] = i == 2 ? a.VRT_CamClose(gate) : a.VRT_CamRight(gate, 3);
    });
  }
  while (waiting.load() < 3) std::this_thread::yield();
  std::this_thread::sleep_for(milliseconds(30));
  EXPECT_EQ(Exit(), 1);
  holder.join();
  for (std::thread& waiter : waiters) waiter.join();
  for (int result : results) EXPECT_EQ(result, -13);
  EXPECT_FALSE(LogContains("CAM.Right:"));
  EXPECT_FALSE(LogContains("Access imbalance"));
}

// Two threads closing the same handle at once: one closes, the other finds
// the handle gone, and the line stays open for the other camera on it.
TEST_F(ConcurrencyStressTest, HandleClosedTwiceAtOnceClosesOnce) {
  WriteSettings({{"Line 1", 1, "96,E,8,1", {Camera("Gate", 0, 5), Camera("Yard", 1, 6)}}});
  Simulator(1);
  ASSERT_EQ(Init(), 1);
  const int gate = Open(0);
  const int yard = Open(1);
  const Api& a = api();
  Simulator(1).SetDelayMs(150);
  Simulator(1).ClearLines();
  std::thread holder([&] { a.VRT_CamLeft(gate, 5); });
  ASSERT_TRUE(Simulator(1).WaitForLines(1, 2000));
  std::atomic<int> waiting{0};
  int first = 0;
  int second = 0;
  std::thread closer1([&] {
    ++waiting;
    first = a.VRT_CamClose(gate);
  });
  std::thread closer2([&] {
    ++waiting;
    second = a.VRT_CamClose(gate);
  });
  while (waiting.load() < 2) std::this_thread::yield();
  holder.join();
  closer1.join();
  closer2.join();
  EXPECT_EQ(std::min(first, second), -13);
  EXPECT_EQ(std::max(first, second), 1);
  Simulator(1).SetDelayMs(0);
  EXPECT_EQ(a.VRT_CamLeft(yard, 5), 1);
  EXPECT_EQ(a.VRT_CamLeft(yard, 0), 1);
  EXPECT_TRUE(LacksLogLine("COMM.Close: Connection 'Line 1' closed"));
  EXPECT_EQ(a.VRT_CamClose(yard), 1);
}

// Six host threads: five open, move, store presets, rename relays and close
// their cameras in a loop, the sixth ends and starts the module again and
// again. Every answer is one a host may see, handles of an ended session
// stay dead, and no camera is used after it is gone.
TEST_F(ConcurrencyStressTest, SixHostThreadsWithExitAndInitCycles) {
  std::vector<CameraConfig> line1;
  std::vector<CameraConfig> line2;
  for (int i = 0; i < 5; ++i) {
    CameraConfig camera = Camera(("Cam" + std::to_string(i)).c_str(), i, 10 + i);
    (i < 3 ? line1 : line2).push_back(camera);
  }
  WriteSettings({{"Line 1", 1, "96,E,8,1", line1}, {"Line 2", 2, "96,E,8,1", line2}});
  Simulator(1).SetDelayMs(2);
  Simulator(2).SetDelayMs(2);
  ASSERT_EQ(Init(), 1);
  const Api& a = api();

  std::atomic<bool> stop{false};
  std::atomic<int> unexpected{0};
  std::atomic<int> opens{0};
  std::mutex handlesLock;
  std::set<int> handedOut;
  std::mutex failureLock;
  std::vector<std::string> failures;
  auto expect = [&](const char* call, int result, std::initializer_list<int> allowed) {
    if (OneOf(result, allowed)) return;
    ++unexpected;
    std::lock_guard<std::mutex> hold(failureLock);
    if (failures.size() < 20)
      failures.push_back(std::string(call) + " answered " + std::to_string(result));
  };

  std::vector<std::thread> threads;
  for (int t = 0; t < 5; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; !stop.load(); ++round) {
        int handle = 0;
        char cameraName[32] = {0};
        expect("VRT_CamGetName", a.VRT_CamGetName(t, cameraName, sizeof cameraName), {1, -13});
        VRT_ModuleProperties module{};
        expect("VRT_CamGetModuleProperties", a.VRT_CamGetModuleProperties(&module), {1});
        const int open = a.VRT_CamOpen(t, &handle);
        expect("VRT_CamOpen", open, {1, -13});
        if (open != 1) {
          std::this_thread::sleep_for(milliseconds(1));
          continue;
        }
        ++opens;
        {
          std::lock_guard<std::mutex> hold(handlesLock);
          handedOut.insert(handle);
        }
        expect("VRT_CamLeft", a.VRT_CamLeft(handle, 1 + round % 16), {1, -13});
        expect("VRT_CamLeft", a.VRT_CamLeft(handle, 0), {1, -13});
        // The channel reaches the same camera.
        int32_t channel[2] = {handle, 2};
        expect("TAVOPZTChannel(12)", a.TAVOPZTChannel(6, 12, channel), {1, -13});
        channel[1] = 0;
        expect("TAVOPZTChannel(12)", a.TAVOPZTChannel(6, 12, channel), {1, -13});
        VRT_CameraProperties properties{};
        properties.handle = handle;
        expect("VRT_CamGetProperties", a.VRT_CamGetProperties(&properties), {1, -13});
        const std::string name = "Pos" + std::to_string(round % 3);
        expect("VRT_CamSetPrePositionName", a.VRT_CamSetPrePositionName(handle, name.c_str()),
               {1, -3, -13});
        VRT_PresetRecord preset{};
        preset.handle = handle;
        preset.position = -1;
        const int count = a.VRT_CamGetPrePosition(&preset);
        if (count != -13 && (count < 0 || count > 3))
          expect("VRT_CamGetPrePosition(-1)", count, {});
        preset.handle = handle;
        preset.position = 0;
        expect("VRT_CamGetPrePosition", a.VRT_CamGetPrePosition(&preset), {1, -23, -13});
        const std::string relay = "Pump" + std::to_string(round % 2);
        expect("VRT_CamSetRelayName", a.VRT_CamSetRelayName(handle, 0, relay.c_str()), {1, -13});
        VRT_RelayRecord record{};
        record.handle = handle;
        record.relay = 0;
        expect("VRT_CamGetRelay", a.VRT_CamGetRelay(&record), {1, -13});
        expect("VRT_CamClose", a.VRT_CamClose(handle), {1, -13});
      }
    });
  }

  int cycles = 0;
  int stale = 0;
  threads.emplace_back([&] {
    for (; cycles < 10; ++cycles) {
      std::this_thread::sleep_for(milliseconds(40 + 25 * (cycles % 4)));
      if (Exit() != 1) ++unexpected;
      // Between the end and the next start no handle reaches a camera.
      std::vector<int> handles;
      {
        std::lock_guard<std::mutex> hold(handlesLock);
        handles.assign(handedOut.begin(), handedOut.end());
      }
      for (int handle : handles)
        if (a.VRT_CamLeft(handle, 0) != -13) ++stale;
      if (Init() != 1) ++unexpected;
    }
    stop = true;
  });
  for (std::thread& thread : threads) thread.join();

  EXPECT_EQ(unexpected.load(), 0);
  for (const std::string& failure : failures) ADD_FAILURE() << failure;
  EXPECT_EQ(stale, 0);
  EXPECT_GT(opens.load(), 0);
  EXPECT_FALSE(LogContains("Access imbalance"));
  EXPECT_FALSE(LogContains("Exeption occured"));
  // The last session works as a fresh one.
  const int handle = Open(4);
  EXPECT_EQ(a.VRT_CamLeft(handle, 3), 1);
  EXPECT_EQ(a.VRT_CamClose(handle), 1);
}

}  // namespace
}  // namespace q7host
