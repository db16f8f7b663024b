#include "ptzctl/config_text.h"

#include <cstdio>

namespace ptzctl {
namespace config {

#ifndef PTZCTL_ARGUMENTS_IN_CODE_PAGE
#define PTZCTL_ARGUMENTS_IN_CODE_PAGE 0
#endif
// The Windows build gets its arguments in the ANSI code page, which is the
// settings file's; elsewhere they are the terminal's UTF-8.
constexpr bool kArgumentsInCodePage = PTZCTL_ARGUMENTS_IN_CODE_PAGE != 0;

std::string ToUtf8(const std::string& text) {
  // ISO-8859-1: byte n is the character U+00nn.
  std::string utf8;
  for (unsigned char c : text) {
    if (c < 0x80) {
      utf8 += static_cast<char>(c);
    } else {
      utf8 += static_cast<char>(0xC0 | (c >> 6));
      utf8 += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return utf8;
}

bool FromArgument(const std::string& text, std::string* converted) {
  if (kArgumentsInCodePage) {
    *converted = text;
    return true;
  }
  // UTF-8 to ISO-8859-1: only U+0000 .. U+00FF fit, which take one byte
  // below 0x80 or the two bytes C2/C3 xx.
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      out += static_cast<char>(c);
      continue;
    }
    const bool next =
        i + 1 < text.size() && (static_cast<unsigned char>(text[i + 1]) & 0xC0) == 0x80;
    if ((c == 0xC2 || c == 0xC3) && next) {
      out +=
          static_cast<char>(((c & 0x03) << 6) | (static_cast<unsigned char>(text[i + 1]) & 0x3F));
      ++i;
      continue;
    }
    return false;
  }
  *converted = out;
  return true;
}

std::string TextQuoted(const std::string& utf8) {
  std::string out = "\"";
  for (unsigned char c : utf8) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7f) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02X", c);
      out += escape;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string Shown(const std::string& text) { return TextQuoted(ToUtf8(text)); }

}  // namespace config
}  // namespace ptzctl
