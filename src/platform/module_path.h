// Where the driver library and the host program live.
#pragma once

#include <string>

namespace platform {

// Separator of directory and file names: '\\' on Windows, '/' elsewhere.
extern const char kPathSeparator;

// Full file name of the driver library itself (not of the host program).
bool LibraryFileName(std::string* out);
// For a program linked with the driver core that works on the files of a
// library elsewhere (ptzctl's configuration commands): from now on
// LibraryFileName names that library, so that the settings file, the log
// and ports/ are the ones beside it. The path is made absolute (its
// directory resolved, its file name kept, as the loader's name of a loaded
// library is); an empty path goes back to this program's own name. False,
// with nothing changed, when the path names no file.
bool ActAsLibrary(const std::string& path);
// Full file name of the running program.
bool ProgramFileName(std::string* out);

}  // namespace platform
