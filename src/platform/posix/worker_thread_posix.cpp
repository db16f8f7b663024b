// Worker threads as standard library threads. Other threads keep running
// while the library is unloaded (dlclose runs its destructors on the
// unloading thread), so a stop at unload waits for the thread's end as
// every other stop does.
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/worker_thread.h"

namespace platform {
namespace {

// Shared by the thread and its owner, so that a thread that outlives the
// owner's wait still has it.
struct Control {
  std::mutex mutex;
  std::condition_variable wake;
  bool stop = false;
  bool done = false;
};

class PosixPeriodicThread : public PeriodicThread {
 public:
  // Throws when the system has no thread to give.
  PosixPeriodicThread(uint32_t periodMs, std::function<void()> pass)
      : control_(std::make_shared<Control>()) {
    thread_ = std::thread([control = control_, periodMs, pass = std::move(pass)] {
      std::unique_lock<std::mutex> hold(control->mutex);
      while (!control->stop) {
        hold.unlock();
        pass();
        hold.lock();
        control->wake.wait_for(hold, std::chrono::milliseconds(periodMs),
                               [&] { return control->stop; });
      }
      control->done = true;
      control->wake.notify_all();
    });
  }
  ~PosixPeriodicThread() override {
    if (thread_.joinable()) thread_.detach();
  }

  void RequestStop() override {
    std::lock_guard<std::mutex> hold(control_->mutex);
    control_->stop = true;
    control_->wake.notify_all();
  }

  bool Wait(uint32_t timeoutMs) override {
    RequestStop();
    if (!thread_.joinable()) return true;
    bool ended;
    {
      std::unique_lock<std::mutex> hold(control_->mutex);
      ended = control_->wake.wait_for(hold, std::chrono::milliseconds(timeoutMs),
                                      [this] { return control_->done; });
    }
    // What is left of the thread once it said it is done is its return.
    if (ended) thread_.join();
    return ended;
  }

 private:
  std::shared_ptr<Control> control_;
  std::thread thread_;
};

}  // namespace

std::unique_ptr<PeriodicThread> StartPeriodicThread(uint32_t periodMs, std::function<void()> pass) {
  try {
    return std::make_unique<PosixPeriodicThread>(periodMs, std::move(pass));
  } catch (...) {  // std::system_error, or no memory for the thread's state
    return nullptr;
  }
}

}  // namespace platform
