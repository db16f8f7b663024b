// The connections' worker threads: a thread that runs a pass at a fixed
// period until it is stopped.
//
// A stop normally waits until the thread has ended. While the library is
// unloaded from a running process that is not possible everywhere (on
// Windows a thread cannot finish ending while the unload runs), so there a
// stop waits until the thread has left the library's code for good, and the
// thread is then ended where it waits, outside that code. Either way, once
// Wait has answered true the thread runs none of the library's code again.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace platform {

class PeriodicThread {
 public:
  virtual ~PeriodicThread() = default;

  // Asks the thread to end after the pass it may be in; returns at once.
  virtual void RequestStop() = 0;
  // Asks it to end and waits at most timeoutMs: true once it has ended (see
  // above). False while it is still in a pass: it ends by itself after it,
  // also when this object has gone meanwhile.
  virtual bool Wait(uint32_t timeoutMs) = 0;
};

// Starts a thread that calls `pass` at once and then every periodMs until
// stopped; nullptr when the system cannot create one (out of threads or
// memory).
std::unique_ptr<PeriodicThread> StartPeriodicThread(uint32_t periodMs, std::function<void()> pass);

}  // namespace platform
