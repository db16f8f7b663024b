// A network line's settings from the mode string, parsed as the terminal
// ports parse it.
#include "platform/line_format.h"
#include "platform/posix/mode_string.h"

namespace platform {

bool ParseLineFormat(const std::string& mode, LineFormat* out) {
  LineSettings parsed;
  if (out == nullptr || !ParseModeString(mode, &parsed)) return false;
  LineFormat format;
  format.baud = parsed.baud;
  format.dataBits = parsed.dataBits;
  switch (parsed.parity) {
    case Parity::kNone:
      format.parity = 'N';
      break;
    case Parity::kOdd:
      format.parity = 'O';
      break;
    case Parity::kEven:
      format.parity = 'E';
      break;
    case Parity::kMark:
      format.parity = 'M';
      break;
    case Parity::kSpace:
      format.parity = 'S';
      break;
  }
  format.stopTenths = parsed.stopBits == StopBits::kOne          ? 10
                      : parsed.stopBits == StopBits::kOneAndHalf ? 15
                                                                 : 20;
  format.xonXoff = parsed.xonXoff;
  format.hardwareFlow = parsed.ctsFlow;
  *out = format;
  return true;
}

}  // namespace platform
