// The library's and the program's file names from the module list.
#include <windows.h>

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

}  // namespace

bool LibraryFileName(std::string* out) {
  if (out == nullptr) return false;
  HMODULE self = nullptr;
  if (!GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCSTR>(&AnchorInThisLibrary), &self)) {
    return false;
  }
  return ModuleFileName(self, MAX_PATH, out);
}

bool ProgramFileName(std::string* out) {
  if (out == nullptr) return false;
  return ModuleFileName(nullptr, 32767, out);
}

}  // namespace platform
