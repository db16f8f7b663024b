// ISO-8859-1 and UTF-8: the code page's bytes are the first 256 characters,
// so both ways are exact.
#include <cstdint>

#include "platform/code_page.h"

namespace platform {

std::string CodePageToUtf8(const std::string& bytes) {
  std::string utf8;
  utf8.reserve(bytes.size() * 2);
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      utf8 += c;
    } else {
      utf8 += static_cast<char>(0xC0 | (byte >> 6));
      utf8 += static_cast<char>(0x80 | (byte & 0x3F));
    }
  }
  return utf8;
}

CodePageText Utf8ToCodePage(const std::string& utf8) {
  CodePageText result{std::string(), true};
  result.text.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size(); ++i) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    if (lead < 0x80) {
      result.text += static_cast<char>(lead);
      continue;
    }
    // Only the two-byte forms of U+0080..U+00FF have a byte here; any other
    // sequence, valid or not, has none.
    const bool fits = (lead == 0xC2 || lead == 0xC3) && i + 1 < utf8.size() &&
                      (static_cast<unsigned char>(utf8[i + 1]) & 0xC0) == 0x80;
    if (!fits) {
      result.complete = false;
      return result;
    }
    const auto next = static_cast<unsigned char>(utf8[++i]);
    result.text += static_cast<char>(((lead & 0x03) << 6) | (next & 0x3F));
  }
  return result;
}

}  // namespace platform
