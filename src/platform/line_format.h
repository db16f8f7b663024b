// A mode string's line settings in a form a network line can send to its
// device server. The mode strings and refusals are those of the local
// ports of the same system.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

struct LineFormat {
  uint32_t baud = 0;
  int dataBits = 8;
  char parity = 'N';    // N, O, E, M, S
  int stopTenths = 10;  // 10, 15 or 20: one, one and a half, two stop bits
  bool xonXoff = false;
  bool hardwareFlow = false;  // output waits for CTS
};

// Fills *out and returns true when a local port of this system would take
// the mode string; false (and *out as it was) otherwise.
bool ParseLineFormat(const std::string& mode, LineFormat* out);

}  // namespace platform
