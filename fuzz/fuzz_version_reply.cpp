// The dome's version reply parser with any bytes the line may carry.
#include <cstddef>
#include <cstdint>

#include "comm/protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  quaro7::ParseVersionReply(reinterpret_cast<const char*>(data), size);
  quaro7::IsAcceptedReply(reinterpret_cast<const char*>(data), size);
  return 0;
}
