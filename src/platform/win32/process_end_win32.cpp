// The library's entry point learns why it is unloaded: a DLL_PROCESS_DETACH
// with a non-null reserved pointer means that the process is ending, after
// the system stopped every other thread. It runs before the C runtime
// destroys the library's static objects (the driver object among them).
#include <windows.h>

#include <atomic>

#include "platform/process_end.h"

namespace {

std::atomic<bool> gProcessEnding{false};

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_DETACH && reserved != nullptr) gProcessEnding.store(true);
  return TRUE;
}

namespace platform {

bool ProcessIsEnding() { return gProcessEnding.load(); }

}  // namespace platform
