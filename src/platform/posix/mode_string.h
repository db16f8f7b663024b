// Serial line settings from a mode string in the syntax of the MODE command,
// the syntax the driver's settings file stores ("96,E,8,1").
//
// Two forms are understood, each optionally after a device prefix "COM<n>:":
//
//   positional  baud[,parity[,data[,stop[,x|p]]]]
//   keywords    baud=b parity=p data=d stop=s to=on|off xon=on|off odsr=on|off
//               octs=on|off dtr=on|off|hs rts=on|off|hs|tg idsr=on|off
//
// Baud rates: the two-digit abbreviations 11 (110), 15 (150), 30 (300),
// 60 (600), 12 (1200), 24 (2400), 48 (4800), 96 (9600), 19 (19200), or a full
// standard rate from 110 to 230400. Parity: n, e, o, m, s (any case). Data
// bits 5 to 8. Stop bits 1, 1.5 or 2; 1.5 only with 5 data bits and 2 not with
// 5 data bits, as a UART offers them. Omitted fields take the defaults of the
// MODE command: even parity, 7 data bits, 1 stop bit (2 at 110 baud). The
// keyword form needs baud=. The positional form's optional last field asks for
// XON/XOFF ("x") or hardware ("p") flow control. Anything else is rejected.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

enum class Parity { kNone, kOdd, kEven, kMark, kSpace };
enum class StopBits { kOne, kOneAndHalf, kTwo };
// DTR and RTS line control as the mode string names it. kToggle is RTS only.
enum class LineControl { kOff, kOn, kHandshake, kToggle };

struct LineSettings {
  uint32_t baud = 0;
  Parity parity = Parity::kEven;
  int dataBits = 7;
  StopBits stopBits = StopBits::kOne;
  bool xonXoff = false;       // xon=on, or ",x"
  bool ctsFlow = false;       // octs=on, or ",p": output waits for CTS
  bool dsrFlow = false;       // odsr=on, or ",p": output waits for DSR
  bool dsrSensitive = false;  // idsr=on: input ignored while DSR is low
  bool writeTimeout = false;  // to=on
  LineControl dtr = LineControl::kOn;
  LineControl rts = LineControl::kOn;
};

// Fills *out and returns true when the whole string is a valid mode string;
// returns false (and leaves *out as it was) otherwise, also for an empty one.
bool ParseModeString(const std::string& mode, LineSettings* out);

}  // namespace platform
