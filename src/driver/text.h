// Comparing names the way the driver does: key names and camera names are
// the same when they differ only in letter case (single-byte text).
#pragma once

#include <cctype>
#include <string>

inline bool SameTextIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}
