// The ANSI code page and UTF-8, through UTF-16 with the system's tables. A
// character without a byte of its own in the code page is refused, never
// replaced by the default character or a look-alike.
#include <windows.h>

#include <string>

#include "platform/code_page.h"

namespace platform {

namespace {

std::wstring Wide(UINT codePage, DWORD flags, const std::string& bytes, bool* ok) {
  *ok = true;
  if (bytes.empty()) return std::wstring();
  const int length = static_cast<int>(bytes.size());
  const int count = MultiByteToWideChar(codePage, flags, bytes.data(), length, nullptr, 0);
  if (count <= 0) {
    *ok = false;
    return std::wstring();
  }
  std::wstring wide(static_cast<size_t>(count), L'\0');
  MultiByteToWideChar(codePage, flags, bytes.data(), length, wide.data(), count);
  return wide;
}

}  // namespace

std::string CodePageToUtf8(const std::string& bytes) {
  bool ok = false;
  const std::wstring wide = Wide(CP_ACP, 0, bytes, &ok);
  if (wide.empty()) return std::string();
  const int length = static_cast<int>(wide.size());
  const int count =
      WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
  if (count <= 0) return std::string();
  std::string utf8(static_cast<size_t>(count), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, utf8.data(), count, nullptr, nullptr);
  return utf8;
}

CodePageText Utf8ToCodePage(const std::string& utf8) {
  CodePageText result{std::string(), true};
  bool ok = false;
  const std::wstring wide = Wide(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, &ok);
  if (!ok) {
    result.complete = false;
    return result;
  }
  if (wide.empty()) return result;
  const int length = static_cast<int>(wide.size());
  BOOL usedDefault = FALSE;
  const int count = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), length, nullptr,
                                        0, nullptr, &usedDefault);
  if (count <= 0 || usedDefault) {
    result.complete = false;
    return result;
  }
  result.text.assign(static_cast<size_t>(count), '\0');
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), length, result.text.data(), count,
                      nullptr, &usedDefault);
  if (usedDefault) {
    result.text.clear();
    result.complete = false;
  }
  return result;
}

}  // namespace platform
