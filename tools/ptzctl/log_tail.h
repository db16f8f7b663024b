// Follows the driver's log file: the lines appended since the last look.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ptzctl {

class LogTail {
 public:
  explicit LogTail(std::string path = std::string()) : path_(std::move(path)) {}

  void SetPath(const std::string& path);
  const std::string& Path() const { return path_; }
  // Forgets everything written so far: the next NewLines() starts at the
  // current end of the file.
  void SkipToEnd();
  // Complete lines (CR LF or LF ended, without the ending) written since the
  // last call. A line still being written is kept for the next call. A file
  // that shrank (replaced or truncated) is read again from its start.
  std::vector<std::string> NewLines();

 private:
  std::string path_;
  uint64_t offset_ = 0;
  std::string partial_;
};

}  // namespace ptzctl
