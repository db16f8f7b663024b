#include "ptzctl/log_tail.h"

#include <fstream>

namespace ptzctl {
namespace {

uint64_t FileSize(const std::string& path) {
  std::ifstream file(path, std::ios::binary | std::ios::ate);
  if (!file) return 0;
  const std::streamoff size = file.tellg();
  return size > 0 ? static_cast<uint64_t>(size) : 0;
}

}  // namespace

void LogTail::SetPath(const std::string& path) {
  path_ = path;
  SkipToEnd();
}

void LogTail::SkipToEnd() {
  offset_ = FileSize(path_);
  partial_.clear();
}

std::vector<std::string> LogTail::NewLines() {
  std::vector<std::string> lines;
  if (path_.empty()) return lines;
  std::ifstream file(path_, std::ios::binary | std::ios::ate);
  if (!file) return lines;
  const std::streamoff end = file.tellg();
  const uint64_t size = end > 0 ? static_cast<uint64_t>(end) : 0;
  if (size < offset_) {
    offset_ = 0;
    partial_.clear();
  }
  if (size == offset_) return lines;
  std::string chunk(static_cast<size_t>(size - offset_), '\0');
  file.seekg(static_cast<std::streamoff>(offset_));
  file.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
  chunk.resize(static_cast<size_t>(file.gcount()));
  offset_ += chunk.size();
  std::string text = partial_ + chunk;
  size_t start = 0;
  for (size_t newline = text.find('\n'); newline != std::string::npos;
       newline = text.find('\n', start)) {
    size_t stop = newline;
    if (stop > start && text[stop - 1] == '\r') --stop;
    lines.push_back(text.substr(start, stop - start));
    start = newline + 1;
  }
  partial_ = text.substr(start);
  return lines;
}

}  // namespace ptzctl
