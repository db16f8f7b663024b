// The settings store's XML document runs out of memory: pugixml takes its
// memory through these functions in the fault build.
#include <cstdlib>
#include <pugixml.hpp>

#include "platform/fault/fault_points.h"

namespace fault {
namespace {

void* Allocate(size_t size) {
  if (ShouldFail("store.alloc")) return nullptr;
  return std::malloc(size);
}

// Memory pugixml took before is malloc's too, so either function frees it.
struct InstallAllocator {
  InstallAllocator() { pugi::set_memory_management_functions(Allocate, std::free); }
  // Nothing of this library may be called once it is unloaded.
  ~InstallAllocator() { pugi::set_memory_management_functions(std::malloc, std::free); }
};

InstallAllocator gInstallAllocator __attribute__((init_priority(102)));

}  // namespace
}  // namespace fault
