// What the program itself needs from the OS, one implementation per OS
// (host_os_posix.cpp, host_os_win32.cpp).
#pragma once

#include <string>

namespace ptzctl {

// The library loaded when --lib is not given.
std::string DefaultLibrary();

// The command the help suggests to begin with.
const char* FirstCommand();

// Whether the file descriptor (0 standard input, 1 standard output) is a
// terminal.
bool IsTerminal(int fd);

}  // namespace ptzctl
