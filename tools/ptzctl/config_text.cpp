#include "ptzctl/config_text.h"

#include <cstdio>
#include <utility>

#include "platform/code_page.h"

namespace ptzctl {
namespace config {

#ifndef PTZCTL_ARGUMENTS_IN_CODE_PAGE
#define PTZCTL_ARGUMENTS_IN_CODE_PAGE 0
#endif
// The Windows build gets its arguments in the ANSI code page, which is the
// settings file's; elsewhere they are the terminal's UTF-8.
constexpr bool kArgumentsInCodePage = PTZCTL_ARGUMENTS_IN_CODE_PAGE != 0;

std::string ToUtf8(const std::string& text) { return platform::CodePageToUtf8(text); }

bool FromArgument(const std::string& text, std::string* converted) {
  if (kArgumentsInCodePage) {
    *converted = text;
    return true;
  }
  platform::CodePageText inCodePage = platform::Utf8ToCodePage(text);
  if (!inCodePage.complete) return false;
  *converted = std::move(inCodePage.text);
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
