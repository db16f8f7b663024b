#include <unistd.h>

#include <filesystem>

#include "ptzctl/host_os.h"

namespace ptzctl {
namespace fs = std::filesystem;

namespace {

constexpr char kLibraryName[] = "QUARO7K7_PTZ.so";

std::string ExecutableDir() {
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : self.parent_path().string();
}

}  // namespace

// The installed library beside this program (bin/../lib), else the one of
// the build tree this program was built with.
std::string DefaultLibrary() {
  const std::string dir = ExecutableDir();
  if (!dir.empty()) {
    const fs::path installed = fs::path(dir) / PTZCTL_BIN_TO_LIB / kLibraryName;
    if (fs::exists(installed)) return installed.lexically_normal().string();
  }
  if (fs::exists(PTZCTL_BUILD_LIBRARY)) return PTZCTL_BUILD_LIBRARY;
  return kLibraryName;
}

const char* FirstCommand() { return "ptzctl demo"; }

bool IsTerminal(int fd) { return isatty(fd) != 0; }

}  // namespace ptzctl
