// Appends text to the driver's log file.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

// Opens the file (creating it), holds it exclusively, appends the text with
// every "\n" written as CR LF, and closes it again; a "\r\n" already in the
// text stays as it is, on every system. A failure (directory missing,
// another writer holds the file, disk full) loses the text silently.
void AppendLogText(const std::string& path, const char* text, size_t length);

}  // namespace platform
