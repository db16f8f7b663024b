// On POSIX systems the other threads keep running while exit() or
// dlclose() runs the library's destructors, and they can end meanwhile, so
// waiting for them at unload comes to an end: the unload never needs to
// know why it runs.
#include "platform/process_end.h"

namespace platform {

bool ProcessIsEnding() { return false; }

bool LibraryIsUnloading() { return false; }

}  // namespace platform
