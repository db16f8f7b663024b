// Thread creation: the system has no thread to give.
#include "platform/fault/fault_points.h"
#include "platform/fault/real_calls.h"
#include "platform/worker_thread.h"

namespace platform {

bool StartThread(std::thread* thread, std::function<void()> body) {
  if (fault::ShouldFail("thread.create")) return false;
  return OsStartThread(thread, std::move(body));
}

}  // namespace platform
