// Thread creation: the system has no thread to give.
#include "platform/fault/fault_points.h"
#include "platform/fault/real_calls.h"
#include "platform/worker_thread.h"

namespace platform {

std::unique_ptr<PeriodicThread> StartPeriodicThread(uint32_t periodMs, std::function<void()> pass) {
  if (fault::ShouldFail("thread.create")) return nullptr;
  return OsStartPeriodicThread(periodMs, std::move(pass));
}

}  // namespace platform
