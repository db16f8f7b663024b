// Where the driver library and the host program live.
#pragma once

#include <string>

namespace platform {

// Separator of directory and file names: '\\' on Windows, '/' elsewhere.
extern const char kPathSeparator;

// Full file name of the driver library itself (not of the host program).
bool LibraryFileName(std::string* out);
// Full file name of the running program.
bool ProgramFileName(std::string* out);

}  // namespace platform
