#include "settings/dom.h"

namespace {

// The XML name characters that ISO-8859-1 holds.
bool IsNameStart(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':' ||
         (c >= 0xC0 && c != 0xD7 && c != 0xF7);
}

bool IsNameChar(unsigned char c) {
  return IsNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == 0xB7;
}

}  // namespace

bool IsXmlName(const std::string& name) {
  if (name.empty() || !IsNameStart(static_cast<unsigned char>(name[0]))) return false;
  for (const char ch : name) {
    if (!IsNameChar(static_cast<unsigned char>(ch))) return false;
  }
  return true;
}
