// The channel entry with any function code and any record bytes: every
// field is read from the record the host passes, so no code may read past
// it or crash on what it holds. The module is not initialised, so held
// calls find no camera.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "quaro7k7_ptz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 8) return 0;
  int32_t interfaceNumber;
  int32_t code;
  std::memcpy(&interfaceNumber, data, 4);
  std::memcpy(&code, data + 4, 4);
  // Initialisation writes files and configure opens a dialog: not here.
  if (code == QUARO7_CH_INIT_MODULE || code == QUARO7_CH_CONFIGURE) return 0;
  // Every record the host passes is at least as large as the largest one.
  std::vector<uint8_t> record(160, 0);
  std::memcpy(record.data(), data + 8, size - 8 < record.size() ? size - 8 : record.size());
  TAVOPZTChannel(interfaceNumber % 8, code, record.data());
  return 0;
}
