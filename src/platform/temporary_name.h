// The names of the settings file's temporaries, "<file>.~<pid>-<n>.tmp",
// shared by both systems' file operations. Plain text work, no system call.
#pragma once

#include <cstdlib>
#include <string>

namespace platform {

constexpr char kTemporaryMark[] = ".~";
constexpr char kTemporaryEnd[] = ".tmp";

// The process id in a temporary name of file; 0 when the name is not one
// or its id has more than maxDigits digits.
inline unsigned long TemporaryOwner(const std::string& name, const std::string& file,
                                    size_t maxDigits) {
  const std::string prefix = file + kTemporaryMark;
  const std::string end = kTemporaryEnd;
  if (name.size() <= prefix.size() + end.size() || name.compare(0, prefix.size(), prefix) != 0 ||
      name.compare(name.size() - end.size(), end.size(), end) != 0) {
    return 0;
  }
  const std::string middle = name.substr(prefix.size(), name.size() - prefix.size() - end.size());
  const size_t dash = middle.find('-');
  if (dash == 0 || dash == std::string::npos || dash > maxDigits || dash + 1 == middle.size() ||
      middle.find_first_not_of("0123456789-") != std::string::npos ||
      middle.find('-', dash + 1) != std::string::npos) {
    return 0;
  }
  return std::strtoul(middle.substr(0, dash).c_str(), nullptr, 10);
}

}  // namespace platform
