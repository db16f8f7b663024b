#include "comm/line_entry.h"

#include <cstdio>

#include "platform/port_entry.h"

namespace netline {

std::string Quoted(const std::string& text) {
  constexpr size_t kShown = 120;
  std::string out;
  for (size_t i = 0; i < text.size() && i < kShown; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c > 0x7e || c == '\\') {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  if (text.size() > kShown) out += "...";
  return out;
}

EntryKind LookUpPort(int comPort, Address* address, std::string* text, std::string* why,
                     std::string* path) {
  std::string file;
  std::string line;
  bool readable = false;
  if (!platform::ReadNetworkLineFile(comPort, &file, &line, &readable)) return EntryKind::kLocal;
  if (path != nullptr) *path = file;
  if (text != nullptr) *text = line;
  if (!readable) {
    if (why != nullptr) *why = "the file cannot be read";
    return EntryKind::kMalformed;
  }
  Address parsed;
  std::string reason;
  if (!ParseAddress(line, &parsed, &reason)) {
    if (why != nullptr) *why = reason;
    return EntryKind::kMalformed;
  }
  if (address != nullptr) *address = parsed;
  return EntryKind::kNetwork;
}

}  // namespace netline
