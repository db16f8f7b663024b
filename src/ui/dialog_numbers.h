// Numbers typed into the setup dialogs' edit fields.
#pragma once

#include <cctype>
#include <climits>
#include <string>

namespace ui {

// The whole text as a decimal integer (blanks around it and one leading
// minus allowed), the way an edit field's number is read: false for an empty
// text, any other character, or a value beyond the range of int.
inline bool ParseNumber(const std::string& text, int* value) {
  size_t i = 0, end = text.size();
  while (i < end && text[i] == ' ') ++i;
  while (end > i && text[end - 1] == ' ') --end;
  bool negative = false;
  if (i < end && text[i] == '-') {
    negative = true;
    ++i;
  }
  if (i == end) return false;
  long long n = 0;
  for (; i < end; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
    n = n * 10 + (text[i] - '0');
    if (n > static_cast<long long>(INT_MAX) + 1) return false;
  }
  if (negative) n = -n;
  if (n < INT_MIN || n > INT_MAX) return false;
  if (value != nullptr) *value = static_cast<int>(n);
  return true;
}

// The leading digits of text from position start on as a number; 0 when
// there are none, and no more than limit (a longer number gives limit + 1).
inline int LeadingDigits(const std::string& text, size_t start, int limit) {
  int n = 0;
  for (size_t i = start; i < text.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) break;
    n = n * 10 + (text[i] - '0');
    if (n > limit) return limit + 1;
  }
  return n;
}

}  // namespace ui
