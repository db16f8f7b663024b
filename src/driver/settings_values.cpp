#include "driver/settings_values.h"

#include <algorithm>
#include <cctype>
#include <climits>

#include "driver/driver.h"
#include "settings/xml_settings.h"

int LeadingInt(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) break;
  }
  if (negative) value = -value;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

std::string ReadTextKey(const std::string& path) { return Driver().Settings.GetValue(path); }

int ReadIntKey(const std::string& path) { return LeadingInt(ReadTextKey(path)); }

bool KeyExists(const std::string& path) { return Driver().Settings.KeyExists(path) != 0; }

void WriteKey(const std::string& path, const std::string& value) {
  CXMLSettingsAPI& settings = Driver().Settings;
  if (!settings.KeyExists(path)) settings.CreateKey(path);
  settings.SetValue(value, path);
}

void WriteKey(const std::string& path, int value) { WriteKey(path, std::to_string(value)); }

std::vector<int> NumberedKeys(const std::string& parent, const std::string& prefix) {
  // The same keys a probe of prefix1 ... prefix999 finds, read in one pass.
  std::vector<int> numbers;
  for (const std::string& name : Driver().Settings.ChildKeys(parent)) {
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) continue;
    const std::string digits = name.substr(prefix.size());
    if (digits.size() > 3 || digits[0] == '0' ||
        digits.find_first_not_of("0123456789") != std::string::npos)
      continue;
    numbers.push_back(std::stoi(digits));
  }
  std::sort(numbers.begin(), numbers.end());
  numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
  return numbers;
}
