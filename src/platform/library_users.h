// Which processes have the driver started on a library's files: each one
// marks itself from its module start to its end, and another process (an
// installer changing the settings) can ask whether any mark is there. The
// system drops a process's mark when it ends, however it ends.
#pragma once

#include <string>

namespace platform {

struct UserMark;

// Marks the calling process as a user of the library file `path`. Null
// when there is no mark to be had (the file cannot be opened); the driver
// works all the same, other processes just cannot see it.
UserMark* MarkLibraryUser(const std::string& path);
void UnmarkLibraryUser(UserMark* mark);

// True when some process holds a mark on the library file `path`, the
// calling one included: ask before marking yourself.
bool LibraryHasUsers(const std::string& path);

}  // namespace platform
