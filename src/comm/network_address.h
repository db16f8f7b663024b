// The first line of a network line file: where the device server of a COM
// port is and how to speak to it.
//
//   rfc2217://HOST:PORT   telnet with the COM port control option: the line
//                         settings are sent to the server
//   tcp://HOST:PORT       raw bytes: the server's own line settings apply
//
// HOST is a name, an IPv4 address or an IPv6 address in brackets
// ("[fd00::7]"); PORT is 1 to 65535. Spaces and tabs around the text, a
// UTF-8 byte order mark before it and any case in the scheme are accepted;
// anything else is refused with the reason.
#pragma once

#include <cstdint>
#include <string>

namespace netline {

enum class Kind { kRfc2217, kRawTcp };

struct Address {
  Kind kind = Kind::kRawTcp;
  std::string host;  // without brackets
  uint16_t port = 0;
  // The address as written back: "rfc2217://[fd00::7]:4001".
  std::string Text() const;
};

// Fills *out and returns true for a valid line; false with *why ("no port
// after the host") otherwise.
bool ParseAddress(const std::string& line, Address* out, std::string* why);

}  // namespace netline
