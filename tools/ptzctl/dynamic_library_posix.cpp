// The driver library through the POSIX dynamic loader.
#include <dlfcn.h>

#include "ptzctl/dynamic_library.h"

namespace ptzctl {
namespace {

class PosixLibrary final : public DynamicLibrary {
 public:
  PosixLibrary(void* handle, std::string path) : handle_(handle), path_(std::move(path)) {}
  ~PosixLibrary() override { dlclose(handle_); }
  PosixLibrary(const PosixLibrary&) = delete;
  PosixLibrary& operator=(const PosixLibrary&) = delete;

  void* Symbol(const std::string& name) const override { return dlsym(handle_, name.c_str()); }
  const std::string& Path() const override { return path_; }

 private:
  void* handle_;
  std::string path_;
};

}  // namespace

std::unique_ptr<DynamicLibrary> LoadDynamicLibrary(const std::string& path, std::string* error) {
  // A name without a slash would make the loader search its own paths; the
  // host always names the file.
  const std::string name = path.find('/') == std::string::npos ? "./" + path : path;
  void* handle = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* message = dlerror();
    if (error != nullptr) *error = message != nullptr ? message : "cannot load " + path;
    return nullptr;
  }
  return std::make_unique<PosixLibrary>(handle, path);
}

}  // namespace ptzctl
