// Worker threads as standard library threads.
#include "platform/worker_thread.h"

namespace platform {

bool StartThread(std::thread* thread, std::function<void()> body) {
  try {
    *thread = std::thread(std::move(body));
  } catch (...) {  // std::system_error, or no memory for the thread's state
    return false;
  }
  return true;
}

}  // namespace platform
