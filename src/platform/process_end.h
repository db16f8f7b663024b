// Whether the process is ending with the library still loaded, or the
// library is being unloaded from a running process.
#pragma once

namespace platform {

// True once the system is ending the process and unloads the library as
// part of that. By then the system may have stopped every other thread of
// the process wherever it was, with whatever locks it held, so whatever
// runs at unload must not wait for one of them. False while the library is
// unloaded from a running process, and before.
bool ProcessIsEnding();

// True from the moment the system starts to unload the library from a
// process that goes on running, before the library's own objects are
// destroyed. Where that unload keeps other threads from ending until it is
// done (Windows: the loader lock), the platform layer ends its threads
// differently then (worker_thread.h). False on systems where the unload
// does not hold threads up.
bool LibraryIsUnloading();

}  // namespace platform
