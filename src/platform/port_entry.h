// The COM<n> entries beside the driver library: the directory "ports" next
// to the library file. An entry that is a regular file (not a symbolic link,
// not a device) makes COM port n a network line; its first line names the
// device server. On Linux the other entries are the local devices the port
// layer opens.
#pragma once

#include <string>
#include <vector>

namespace platform {

// "<library directory>/ports" ("...\ports" on Windows), or the directory
// set for testing; empty when the library's location is unknown.
std::string PortDirectory();
// Makes PortDirectory() return dir instead; an empty dir restores the
// default. For tests, and for tools that look at a library's ports from
// outside it.
void SetPortDirectoryForTesting(const std::string& dir);

// The longest first line of a network line file that is read; a longer one
// is read cut short (and then is no valid line).
constexpr size_t kNetworkLineFileLimit = 1024;

// True when COM port n's entry is a regular file: *path is its name and
// *firstLine what its first line says (without its line end; cut at
// kNetworkLineFileLimit bytes). False when there is no such file. A file
// that cannot be read gives true with *readable false.
bool ReadNetworkLineFile(int comPort, std::string* path, std::string* firstLine, bool* readable);

// The COM port numbers whose entries are regular files, ascending.
std::vector<int> NetworkLinePorts();

}  // namespace platform
