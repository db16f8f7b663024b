// On POSIX systems the other threads keep running while exit() runs the
// library's destructors, so waiting for them at unload comes to an end:
// the unload never needs to know that the process is ending.
#include "platform/process_end.h"

namespace platform {

bool ProcessIsEnding() { return false; }

}  // namespace platform
