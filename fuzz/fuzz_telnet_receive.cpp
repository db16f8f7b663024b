// What a device server sends a network line, in any pieces: the telnet
// layer must take every byte sequence without a crash, the line's data must
// not depend on how the bytes were split, and every answer it owes the
// server must be a whole telnet command.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "comm/telnet_client.h"

namespace {

using netline::TelnetClient;

// Walks the answers: IAC verb option, or IAC SB ... IAC SE with IAC doubled.
bool WholeCommands(const std::string& reply) {
  size_t i = 0;
  while (i < reply.size()) {
    if (static_cast<uint8_t>(reply[i]) != netline::telnet::kIac || i + 2 >= reply.size())
      return false;
    const uint8_t verb = static_cast<uint8_t>(reply[i + 1]);
    if (verb >= netline::telnet::kWill) {
      i += 3;
      continue;
    }
    if (verb != netline::telnet::kSb) return false;
    i += 2;
    for (;;) {
      if (i + 1 >= reply.size()) return false;
      if (static_cast<uint8_t>(reply[i]) == netline::telnet::kIac) {
        const uint8_t next = static_cast<uint8_t>(reply[i + 1]);
        if (next == netline::telnet::kSe) break;
        if (next != netline::telnet::kIac) return false;
        i += 2;
        continue;
      }
      ++i;
    }
    i += 2;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The first byte picks where the stream is split and when the settings go.
  const size_t step = 1 + data[0] % 7;
  const bool settingsFirst = (data[0] & 0x80) != 0;
  ++data;
  --size;

  TelnetClient whole;
  TelnetClient pieces;
  whole.Start();
  pieces.Start();
  netline::ComPortSettings settings;
  settings.baud = 4800;
  if (settingsFirst) {
    whole.SetLine(settings);
    pieces.SetLine(settings);
  }
  std::string wholeData, wholeReply, piecesData, piecesReply;
  whole.Receive(data, size, &wholeData, &wholeReply);
  for (size_t at = 0; at < size; at += step) {
    const size_t n = size - at < step ? size - at : step;
    pieces.Receive(data + at, n, &piecesData, &piecesReply);
    if (!settingsFirst && at == 0) pieces.SetLine(settings);
  }
  if (!settingsFirst) whole.SetLine(settings);
  if (wholeData != piecesData || wholeReply != piecesReply) std::abort();
  if (wholeData.size() > size || !WholeCommands(wholeReply)) std::abort();
  std::string what;
  (void)whole.LineConfirmed(&what);
  (void)whole.TakeLineErrors();
  const std::string encoded = whole.Encode(data, size);
  if (encoded.size() < size || encoded.size() > 2 * size) std::abort();
  return 0;
}
