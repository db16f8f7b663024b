// The single-byte code page the driver's strings are in (the settings file's
// and the host's: ISO-8859-1 on Linux, the ANSI code page on Windows), and
// its conversion to and from UTF-8 for the dialogs' renderers.
#pragma once

#include <string>

namespace platform {

// Text converted from UTF-8 into the code page.
struct CodePageText {
  std::string text;
  // False when a character has no byte in the code page, or the input was
  // not valid UTF-8: text is then not the input and is not to be kept.
  bool complete;
};

// Every byte of the code page as UTF-8 (bytes the code page leaves
// undefined become the characters the system maps them to).
std::string CodePageToUtf8(const std::string& bytes);

// The UTF-8 text in the code page. Never falls back on a replacement
// character or a "best fit" look-alike.
CodePageText Utf8ToCodePage(const std::string& utf8);

}  // namespace platform
