#include "comm/scheduled_task.h"

#include <atomic>

#include "camera/relay.h"

namespace {
std::atomic<int> g_nextTaskId{1};
}

uint32_t CVRTScheduledTask::DueTime(uint32_t now, uint32_t durationMs) {
  // A due time of 0 means "at once", so a sum that wraps onto 0 is moved on
  // by one millisecond.
  uint32_t due = now + durationMs;
  if (due == 0) due = 1;
  return due;
}

CVRTScheduledTask::CVRTScheduledTask(int type, CVRTCamera* owner, uint32_t durationMs, uint32_t now)
    : id_(g_nextTaskId.fetch_add(1)),
      start_(now),
      due_(DueTime(now, durationMs)),
      type_(type),
      owner_(owner) {}

bool CVRTScheduledTask::IsDue(uint32_t now) const {
  if (due_ == 0) return true;
  // Time passed since the task was made against the time it waits, both as
  // unsigned differences: right across the wrap of the tick count, and a
  // task stays due however long its run is held up.
  return now - start_ >= due_ - start_;
}

bool CVRTScheduledTask::IsSame(const CVRTScheduledTask* other) const {
  return other != nullptr && other->type_ == type_ && other->owner_ == owner_;
}

CRelayPulseTask::CRelayPulseTask(CVRTRelay* relay, uint32_t durationMs, CVRTCamera* camera,
                                 uint32_t now)
    : CVRTScheduledTask(kRelayPulse, camera, durationMs, now), relay_(relay) {}

int CRelayPulseTask::Run(CVRTComm* /*connection*/) {
  if (relay_ != nullptr) relay_->Set(CVRTRelay::kOff, 0);
  return 1;
}
