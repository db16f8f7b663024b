// A network line's settings from the mode string, parsed by the system's
// own parser as the COM ports' settings are.
#include <windows.h>

#include "platform/line_format.h"

namespace platform {

bool ParseLineFormat(const std::string& mode, LineFormat* out) {
  // Not every system's parser refuses a mode without any setting in it.
  if (out == nullptr || mode.find_first_not_of(" \t") == std::string::npos) return false;
  DCB dcb;
  ZeroMemory(&dcb, sizeof dcb);
  dcb.DCBlength = sizeof dcb;
  if (!BuildCommDCBA(mode.c_str(), &dcb)) return false;
  LineFormat format;
  format.baud = dcb.BaudRate;
  format.dataBits = dcb.ByteSize;
  static const char kParities[] = {'N', 'O', 'E', 'M', 'S'};
  format.parity = dcb.Parity <= SPACEPARITY ? kParities[dcb.Parity] : 'N';
  format.stopTenths = dcb.StopBits == ONE5STOPBITS ? 15 : dcb.StopBits == TWOSTOPBITS ? 20 : 10;
  format.xonXoff = dcb.fOutX != 0;
  format.hardwareFlow = dcb.fOutxCtsFlow != 0;
  *out = format;
  return true;
}

}  // namespace platform
