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
    // One to three digits, the first not 0.
    const size_t digits = name.size() - prefix.size();
    if (name.size() <= prefix.size() || digits > 3 || name[prefix.size()] == '0' ||
        name.compare(0, prefix.size(), prefix) != 0)
      continue;
    int number = 0;
    for (size_t at = prefix.size(); at < name.size() && number >= 0; ++at)
      number = name[at] >= '0' && name[at] <= '9' ? number * 10 + (name[at] - '0') : -1;
    if (number > 0) numbers.push_back(number);
  }
  // Mostly in order already.
  if (!std::is_sorted(numbers.begin(), numbers.end())) std::sort(numbers.begin(), numbers.end());
  numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
  return numbers;
}
