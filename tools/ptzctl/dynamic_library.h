// Loading the driver library the way a host does: by its path, then each
// export by its symbol name. One implementation per OS (dlopen here; a
// LoadLibrary/GetProcAddress one belongs beside it for a Windows build).
#pragma once

#include <memory>
#include <string>

namespace ptzctl {

class DynamicLibrary {
 public:
  virtual ~DynamicLibrary() = default;
  // The address of the exported symbol, or nullptr when there is none.
  virtual void* Symbol(const std::string& name) const = 0;
  // The path the library was loaded from.
  virtual const std::string& Path() const = 0;
};

// Loads the library at `path`; on failure returns nullptr and the loader's
// message in *error. The library is unloaded when the object is destroyed.
std::unique_ptr<DynamicLibrary> LoadDynamicLibrary(const std::string& path, std::string* error);

}  // namespace ptzctl
