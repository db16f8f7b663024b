// The library's and the program's file names, from the dynamic loader and
// from /proc.
#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/module_path.h"

namespace platform {

const char kPathSeparator = '/';

namespace {

// Any address inside this library will do for dladdr().
void AnchorInThisLibrary() {}

bool ReadProgramFileName(std::string* out) {
  std::vector<char> buffer(256);
  for (;;) {
    const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return false;
    if (static_cast<size_t>(n) < buffer.size()) {
      out->assign(buffer.data(), static_cast<size_t>(n));
      return true;
    }
    if (buffer.size() >= 65536) return false;
    buffer.resize(buffer.size() * 2);
  }
}

// The loader's name for the object holding this code, made absolute: the
// directory resolved, the file's own name kept (a symlink to the library
// keeps its name). Without a directory the object is the main program, which
// the loader knows only by argv[0]; /proc names it better.
std::string FindLibraryFileName() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&AnchorInThisLibrary), &info) == 0 ||
      info.dli_fname == nullptr || info.dli_fname[0] == '\0') {
    std::string program;
    return ReadProgramFileName(&program) ? program : std::string();
  }
  const std::string name = info.dli_fname;
  const size_t slash = name.rfind('/');
  if (slash == std::string::npos) {
    std::string program;
    return ReadProgramFileName(&program) ? program : std::string();
  }
  const std::string dir = slash == 0 ? std::string("/") : name.substr(0, slash);
  char resolved[PATH_MAX];
  if (realpath(dir.c_str(), resolved) == nullptr) {
    return name[0] == '/' ? name : std::string();
  }
  std::string full = resolved;
  if (full.back() != '/') full += '/';
  return full + name.substr(slash + 1);
}

// Worked out once, while the library loads: a library loaded by a relative
// name is found relative to the working directory of that moment.
const std::string& CachedLibraryFileName() {
  static const std::string name = FindLibraryFileName();
  return name;
}

[[maybe_unused]] const bool kLibraryFileNameAtLoad = !CachedLibraryFileName().empty();

}  // namespace

bool LibraryFileName(std::string* out) {
  if (out == nullptr) return false;
  const std::string& name = CachedLibraryFileName();
  if (name.empty()) return false;
  *out = name;
  return true;
}

bool ProgramFileName(std::string* out) {
  if (out == nullptr) return false;
  return ReadProgramFileName(out);
}

}  // namespace platform
