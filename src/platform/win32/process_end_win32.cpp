// The library's entry point learns why it is unloaded: a DLL_PROCESS_DETACH
// with a non-null reserved pointer means that the process is ending, after
// the system stopped every other thread; with a null one, that the library
// is freed from a running process, whose other threads go on but cannot
// end until the unload is done (it holds the loader lock). It runs before
// the C runtime destroys the library's static objects (the driver object
// among them).
#include <windows.h>

#include <atomic>

#include "platform/process_end.h"

namespace {

std::atomic<bool> gProcessEnding{false};
std::atomic<bool> gUnloading{false};

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_DETACH) (reserved != nullptr ? gProcessEnding : gUnloading).store(true);
  return TRUE;
}

namespace platform {

bool ProcessIsEnding() { return gProcessEnding.load(); }

bool LibraryIsUnloading() { return gUnloading.load(); }

}  // namespace platform
