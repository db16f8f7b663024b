// The driver library through the Windows loader.
#include <windows.h>

#include "ptzctl/dynamic_library.h"

namespace ptzctl {
namespace {

class Win32Library final : public DynamicLibrary {
 public:
  Win32Library(HMODULE module, std::string path) : module_(module), path_(std::move(path)) {}
  ~Win32Library() override { FreeLibrary(module_); }
  Win32Library(const Win32Library&) = delete;
  Win32Library& operator=(const Win32Library&) = delete;

  void* Symbol(const std::string& name) const override {
    // A function address handed on as an address; the caller gives it back
    // its function type (driver_api.cpp), as with dlsym.
    return reinterpret_cast<void*>(GetProcAddress(module_, name.c_str()));
  }
  const std::string& Path() const override { return path_; }

 private:
  HMODULE module_;
  std::string path_;
};

// "error 126: The specified module could not be found."
std::string SystemMessage(DWORD code) {
  char* text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&text), 0,
      nullptr);
  std::string message = "error " + std::to_string(code);
  if (length != 0 && text != nullptr) {
    std::string system(text, length);
    while (!system.empty() &&
           (system.back() == '\r' || system.back() == '\n' || system.back() == ' ')) {
      system.pop_back();
    }
    if (!system.empty()) message += ": " + system;
  }
  if (text != nullptr) LocalFree(text);
  return message;
}

}  // namespace

std::unique_ptr<DynamicLibrary> LoadDynamicLibrary(const std::string& path, std::string* error) {
  // A bare name would make the loader search the system's directories and
  // PATH; the host always names the file.
  const std::string name = path.find_first_of("\\/:") == std::string::npos ? ".\\" + path : path;
  // A file that is no library (or one for another machine) gives an error
  // code, not a message box.
  DWORD previous_mode = 0;
  const bool mode_set =
      SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &previous_mode) != 0;
  HMODULE module = LoadLibraryA(name.c_str());
  const DWORD code = GetLastError();
  if (mode_set) SetThreadErrorMode(previous_mode, nullptr);
  if (module == nullptr) {
    if (error != nullptr) *error = SystemMessage(code);
    return nullptr;
  }
  return std::make_unique<Win32Library>(module, path);
}

}  // namespace ptzctl
