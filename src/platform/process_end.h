// Whether the process is ending with the library still loaded.
#pragma once

namespace platform {

// True once the system is ending the process and unloads the library as
// part of that. By then the system may have stopped every other thread of
// the process wherever it was, with whatever locks it held, so whatever
// runs at unload must not wait for one of them. False while the library is
// unloaded from a running process, and before.
bool ProcessIsEnding();

}  // namespace platform
