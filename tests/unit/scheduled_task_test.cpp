// Due times of timed tasks, also across the wrap of the tick count.
#include "comm/scheduled_task.h"

#include <gtest/gtest.h>

namespace {

class FakeTask : public CVRTScheduledTask {
 public:
  FakeTask(int type, CVRTCamera* owner, uint32_t duration, uint32_t now)
      : CVRTScheduledTask(type, owner, duration, now) {}
  int Run(CVRTComm*) override { return 1; }
};

TEST(ScheduledTask, DueAfterItsDurationHoweverLateItIsLookedAt) {
  FakeTask task(5, nullptr, 3000, 1000);
  EXPECT_EQ(task.GetDueTime(), 4000u);
  EXPECT_FALSE(task.IsDue(1000));
  EXPECT_FALSE(task.IsDue(3999));
  EXPECT_TRUE(task.IsDue(4000));
  EXPECT_TRUE(task.IsDue(9000));
  // The line was busy: a pulse end looked at long after its time still runs.
  EXPECT_TRUE(task.IsDue(9001));
  EXPECT_TRUE(task.IsDue(4000 + 3600000));
}

TEST(ScheduledTask, LongWaitsAndLateLooksAcrossTheWrap) {
  FakeTask late(5, nullptr, 0x200, 0xFFFFFF00u);
  EXPECT_TRUE(late.IsDue(0x100u + 8000));  // due after the wrap, 8 s late
  // A wait of more than half the tick range is neither cut short nor missed.
  const uint32_t start = 0x80000000u;
  FakeTask longWait(5, nullptr, 0x90000000u, start);
  EXPECT_FALSE(longWait.IsDue(start + 0x7FFFFFFFu));
  EXPECT_FALSE(longWait.IsDue(start + 0x8FFFFFFFu));
  EXPECT_TRUE(longWait.IsDue(start + 0x90000000u));
  EXPECT_TRUE(longWait.IsDue(start + 0x90001000u));
}

TEST(ScheduledTask, DueTimeAcrossTheWrapOfTheTickCount) {
  const uint32_t now = 0xFFFFFF00u;
  FakeTask task(5, nullptr, 0x200, now);
  EXPECT_EQ(task.GetDueTime(), 0x100u);
  EXPECT_FALSE(task.IsDue(0xFFFFFFF0u));  // before the wrap: not yet
  EXPECT_FALSE(task.IsDue(0xFFu));
  EXPECT_TRUE(task.IsDue(0x100u));
  EXPECT_TRUE(task.IsDue(0x200u));
}

TEST(ScheduledTask, ASumThatWrapsOntoZeroIsNotDueAtOnce) {
  // 0 means "due at once"; a task that lands exactly on it moves on by 1 ms.
  EXPECT_EQ(CVRTScheduledTask::DueTime(0xFFFFFF00u, 0x100), 1u);
  EXPECT_EQ(CVRTScheduledTask::DueTime(0xFFFFFFFFu, 0), 0xFFFFFFFFu);
  FakeTask task(5, nullptr, 0x100, 0xFFFFFF00u);
  EXPECT_FALSE(task.IsDue(0xFFFFFF01u));
  EXPECT_TRUE(task.IsDue(1));
}

TEST(ScheduledTask, IdsCountUpAndSameMeansTypeAndOwner) {
  auto* cameraA = reinterpret_cast<CVRTCamera*>(0x10);
  auto* cameraB = reinterpret_cast<CVRTCamera*>(0x20);
  FakeTask first(5, cameraA, 10, 0);
  FakeTask second(5, cameraA, 20, 0);
  FakeTask other(5, cameraB, 10, 0);
  FakeTask otherType(6, cameraA, 10, 0);
  EXPECT_GT(second.GetId(), first.GetId());
  EXPECT_TRUE(first.IsSame(&second));
  EXPECT_FALSE(first.IsSame(&other));
  EXPECT_FALSE(first.IsSame(&otherType));
  EXPECT_FALSE(first.IsSame(nullptr));
}

}  // namespace
