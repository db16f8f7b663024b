#include <io.h>
#include <windows.h>

#include <vector>

#include "ptzctl/host_os.h"

namespace ptzctl {

// QUARO7K7_PTZ.dll beside ptzctl.exe, as a host keeps its driver.
std::string DefaultLibrary() {
  constexpr char kLibraryName[] = "QUARO7K7_PTZ.dll";
  std::vector<char> buffer(MAX_PATH);
  for (;;) {
    const DWORD length =
        GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return kLibraryName;
    if (length < buffer.size()) {
      std::string path(buffer.data(), length);
      const size_t slash = path.find_last_of("\\/");
      return slash == std::string::npos ? kLibraryName : path.substr(0, slash + 1) + kLibraryName;
    }
    // Cut short: try again with more room.
    if (buffer.size() >= 32768) return kLibraryName;
    buffer.resize(buffer.size() * 2);
  }
}

// The demo is not in this build; list shows what the library was set up with.
const char* FirstCommand() { return "ptzctl list"; }

bool IsTerminal(int fd) { return _isatty(fd) != 0; }

}  // namespace ptzctl
