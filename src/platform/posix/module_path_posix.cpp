// The library's and the program's file names, from the dynamic loader and
// from /proc.
#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>
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

// A file name made absolute: the directory resolved, the file's own name
// kept (a symlink to the library keeps its name). A name without a
// directory is relative to the working directory.
std::string Absolute(const std::string& name) {
  const size_t slash = name.rfind('/');
  const std::string dir = slash == std::string::npos ? std::string(".")
                          : slash == 0               ? "/"
                                                     : name.substr(0, slash);
  const std::string file = slash == std::string::npos ? name : name.substr(slash + 1);
  char resolved[PATH_MAX];
  if (realpath(dir.c_str(), resolved) == nullptr) {
    return name[0] == '/' ? name : std::string();
  }
  std::string full = resolved;
  if (full.back() != '/') full += '/';
  return full + file;
}

// The loader's name for the object holding this code, made absolute.
// Without a directory the object is the main program, which the loader
// knows only by argv[0]; /proc names it better.
std::string FindLibraryFileName() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&AnchorInThisLibrary), &info) == 0 ||
      info.dli_fname == nullptr || info.dli_fname[0] == '\0' ||
      std::string(info.dli_fname).find('/') == std::string::npos) {
    std::string program;
    return ReadProgramFileName(&program) ? program : std::string();
  }
  return Absolute(info.dli_fname);
}

// Worked out once, while the library loads: a library loaded by a relative
// name is found relative to the working directory of that moment.
const std::string& CachedLibraryFileName() {
  static const std::string name = FindLibraryFileName();
  return name;
}

[[maybe_unused]] const bool kLibraryFileNameAtLoad = !CachedLibraryFileName().empty();

std::mutex gActingLock;
std::string gActingAs;  // ActAsLibrary's name; empty: this object's own

}  // namespace

bool LibraryFileName(std::string* out) {
  if (out == nullptr) return false;
  {
    std::lock_guard<std::mutex> hold(gActingLock);
    if (!gActingAs.empty()) {
      *out = gActingAs;
      return true;
    }
  }
  const std::string& name = CachedLibraryFileName();
  if (name.empty()) return false;
  *out = name;
  return true;
}

bool ActAsLibrary(const std::string& path) {
  std::string name;
  if (!path.empty()) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    name = Absolute(path);
    if (name.empty()) return false;
  }
  std::lock_guard<std::mutex> hold(gActingLock);
  gActingAs = name;
  return true;
}

bool ProgramFileName(std::string* out) {
  if (out == nullptr) return false;
  return ReadProgramFileName(out);
}

}  // namespace platform
