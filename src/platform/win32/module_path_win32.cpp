// The library's and the program's file names from the module list.
#include <windows.h>

#include <mutex>
#include <string>
#include <vector>

#include "platform/module_path.h"

namespace platform {

const char kPathSeparator = '\\';

namespace {

// Any address inside this library names it to GetModuleHandleEx.
void AnchorInThisLibrary() {}

// The module's full file name; false when it is not available or longer
// than `limit` characters.
bool ModuleFileName(HMODULE module, DWORD limit, std::string* out) {
  std::vector<char> buffer(limit + 1);
  const DWORD n = GetModuleFileNameA(module, buffer.data(), limit + 1);
  if (n == 0 || n > limit) return false;
  out->assign(buffer.data(), n);
  return true;
}

std::mutex gActingLock;
std::string gActingAs;  // ActAsLibrary's name; empty: this module's own

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
  HMODULE self = nullptr;
  if (!GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCSTR>(&AnchorInThisLibrary), &self)) {
    return false;
  }
  return ModuleFileName(self, MAX_PATH, out);
}

bool ActAsLibrary(const std::string& path) {
  std::string name;
  if (!path.empty()) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
      return false;
    std::vector<char> buffer(MAX_PATH + 1);
    const DWORD n = GetFullPathNameA(path.c_str(), MAX_PATH + 1, buffer.data(), nullptr);
    if (n == 0 || n > MAX_PATH) return false;
    name.assign(buffer.data(), n);
  }
  std::lock_guard<std::mutex> hold(gActingLock);
  gActingAs = name;
  return true;
}

bool ProgramFileName(std::string* out) {
  if (out == nullptr) return false;
  return ModuleFileName(nullptr, 32767, out);
}

}  // namespace platform
