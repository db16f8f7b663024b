// Worker threads as Windows threads.
//
// The library's unload from a running process runs under the system's
// loader lock, and a thread needs that lock to finish ending: a thread
// asked to stop then cannot end, and waiting for its handle would wait for
// ever. So a thread that stops while the library is being unloaded says so
// and starts to wait in one system call (SignalObjectAndWait): once the
// unload hears it, the thread is in the system's code, holds no lock of the
// library's and will never return into the library, and the unload ends it
// where it waits (TerminateThread, which needs no loader lock).
#include <windows.h>

#include <atomic>

#include "platform/process_end.h"
#include "platform/worker_thread.h"

namespace platform {
namespace {

// How long the unload waits for a thread it has ended to be gone.
constexpr DWORD kEndedWaitMs = 1000;

struct Shared {
  HANDLE stop = nullptr;   // set by the owner: end after this pass
  HANDLE left = nullptr;   // set by the thread as it waits to be ended at unload
  HANDLE never = nullptr;  // never set: what that wait waits for
  DWORD periodMs = 0;
  std::function<void()> pass;
  // A new thread runs the libraries' thread starts under the loader lock
  // before it runs any of ours: one made just before an unload waits for the
  // lock the unload holds and never starts. Whichever comes first, the
  // thread's start or the unload's wait, decides whether it runs at all.
  enum Phase { kNotStarted, kRunning, kCancelled };
  std::atomic<int> phase{kNotStarted};
  // The thread's own share of this, given back by the thread at its end or
  // by the unload that ended it: whoever takes it from here.
  std::atomic<std::shared_ptr<Shared>*> threadsShare{nullptr};

  ~Shared() {
    for (HANDLE handle : {stop, left, never})
      if (handle != nullptr) CloseHandle(handle);
  }
};

DWORD WINAPI ThreadMain(void* parameter) {
  Shared& shared = **static_cast<std::shared_ptr<Shared>*>(parameter);
  int notStarted = Shared::kNotStarted;
  if (!shared.phase.compare_exchange_strong(notStarted, Shared::kRunning)) {
    // The unload came first and ends this thread where it waits.
    for (;;) Sleep(INFINITE);
  }
  while (WaitForSingleObject(shared.stop, 0) == WAIT_TIMEOUT) {
    shared.pass();
    if (WaitForSingleObject(shared.stop, shared.periodMs) != WAIT_TIMEOUT) break;
  }
  if (LibraryIsUnloading()) {
    SignalObjectAndWait(shared.left, shared.never, INFINITE, FALSE);
    // Only when the system refused the call: the same, in two steps.
    SetEvent(shared.left);
    for (;;) Sleep(INFINITE);
  }
  delete shared.threadsShare.exchange(nullptr);
  return 0;
}

class Win32PeriodicThread : public PeriodicThread {
 public:
  Win32PeriodicThread(std::shared_ptr<Shared> shared, HANDLE thread)
      : shared_(std::move(shared)), thread_(thread) {}
  ~Win32PeriodicThread() override { CloseHandle(thread_); }
  Win32PeriodicThread(const Win32PeriodicThread&) = delete;
  Win32PeriodicThread& operator=(const Win32PeriodicThread&) = delete;

  void RequestStop() override { SetEvent(shared_->stop); }

  bool Wait(uint32_t timeoutMs) override {
    RequestStop();
    if (!LibraryIsUnloading()) return WaitForSingleObject(thread_, timeoutMs) == WAIT_OBJECT_0;
    // Ended before the unload began (or by an earlier wait).
    if (WaitForSingleObject(thread_, 0) == WAIT_OBJECT_0) return true;
    int notStarted = Shared::kNotStarted;
    const bool neverRan = shared_->phase.compare_exchange_strong(notStarted, Shared::kCancelled);
    const bool parked =
        neverRan || WaitForSingleObject(shared_->left, timeoutMs) == WAIT_OBJECT_0;
    // A thread still in its pass when the time is up is ended where it is
    // all the same: its code is about to go, and a thread that returned
    // into it would bring the host down. It may hold the line's lock then,
    // which the answer false tells the owner.
    TerminateThread(thread_, 0);
    WaitForSingleObject(thread_, kEndedWaitMs);
    // The share the thread would have given back at its end.
    delete shared_->threadsShare.exchange(nullptr);
    return parked;
  }

 private:
  std::shared_ptr<Shared> shared_;
  HANDLE thread_;
};

HANDLE NewEvent() { return CreateEventW(nullptr, TRUE, FALSE, nullptr); }

}  // namespace

std::unique_ptr<PeriodicThread> StartPeriodicThread(uint32_t periodMs, std::function<void()> pass) {
  try {
    auto shared = std::make_shared<Shared>();
    shared->stop = NewEvent();
    shared->left = NewEvent();
    shared->never = NewEvent();
    if (shared->stop == nullptr || shared->left == nullptr || shared->never == nullptr)
      return nullptr;
    shared->periodMs = periodMs;
    shared->pass = std::move(pass);
    auto* threadsShare = new std::shared_ptr<Shared>(shared);
    shared->threadsShare.store(threadsShare);
    HANDLE thread = CreateThread(nullptr, 0, ThreadMain, threadsShare, CREATE_SUSPENDED, nullptr);
    if (thread == nullptr) {
      delete shared->threadsShare.exchange(nullptr);
      return nullptr;
    }
    std::unique_ptr<PeriodicThread> worker;
    try {
      worker = std::make_unique<Win32PeriodicThread>(shared, thread);
    } catch (...) {
      TerminateThread(thread, 0);  // never ran
      CloseHandle(thread);
      delete shared->threadsShare.exchange(nullptr);
      return nullptr;
    }
    ResumeThread(thread);
    return worker;
  } catch (...) {  // no memory for the thread's state
    return nullptr;
  }
}

}  // namespace platform
