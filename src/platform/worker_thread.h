// Starting the connections' worker threads.
#pragma once

#include <functional>
#include <thread>

namespace platform {

// Runs `body` on a new thread, stored in *thread. False, with *thread left
// as it was, when the system cannot create one (out of threads or memory).
bool StartThread(std::thread* thread, std::function<void()> body);

}  // namespace platform
