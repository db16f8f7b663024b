// Port mode strings as a settings file may hold them.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/posix/mode_string.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  platform::LineSettings settings{};
  platform::ParseModeString(std::string(reinterpret_cast<const char*>(data), size), &settings);
  return 0;
}
