// Reading and writing single values of the driver's settings document.
// Numbers are stored as decimal text and read back as the leading decimal
// integer of the text, so a missing or non-numeric value reads as 0.
#pragma once

#include <string>
#include <vector>

// The leading decimal integer of a text (optional blanks and sign first);
// 0 when there is none, clamped to the range of int.
int LeadingInt(const std::string& text);

std::string ReadTextKey(const std::string& path);
int ReadIntKey(const std::string& path);
bool KeyExists(const std::string& path);
// Creates the key when it is missing, then writes its value.
void WriteKey(const std::string& path, const std::string& value);
void WriteKey(const std::string& path, int value);

// The highest number the driver gives a numbered key (comm<n>, cam<n>,
// PrePos<n>, Relay<n>); the loaders read every number up to it, so that
// nothing the driver saves is lost on the next load.
constexpr int kMaxKeyNumber = 999;

// Numbers n, ascending, for which the key parent + "/" + prefix + n exists.
std::vector<int> NumberedKeys(const std::string& parent, const std::string& prefix);
