#include "driver/log.h"

#include <cstdio>
#include <cstring>

#include "platform/log_file.h"
#include "platform/module_path.h"
#include "platform/process_end.h"
#include "platform/tick_clock.h"
#include "quaro7k7_ptz.h"

CVRTLog& DriverLog() {
  static CVRTLog log;
  return log;
}

int CVRTLog::SetLogPath(const std::string& directory) {
  std::string library;
  if (!platform::LibraryFileName(&library)) return QUARO7_FAILED;
  const size_t slash = library.find_last_of(platform::kPathSeparator);
  if (slash == std::string::npos) return QUARO7_FAILED;
  std::string base = library.substr(slash + 1);
  const size_t dot = base.find_last_of('.');
  if (dot != std::string::npos) base.resize(dot);
  std::lock_guard<std::mutex> hold(pathLock_);
  path_ = directory + platform::kPathSeparator + base + ".log";
  return 1;
}

std::string CVRTLog::LogPath() const {
  // While the process ends, a thread that the system stopped may hold the
  // lock; no other thread runs then, so the path is read without it.
  if (platform::ProcessIsEnding()) return path_;
  std::lock_guard<std::mutex> hold(pathLock_);
  return path_;
}

bool CVRTLog::Active(std::string* path) const {
  if (enabled_.load() == 0) return false;
  *path = LogPath();
  return !path->empty();
}

std::string CVRTLog::FormatTimeStamp(int year, int month, int day, int hour, int minute,
                                     int second) {
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%04d/%02d/%02d, %02d:%02d.%02d\t", year, month, day, hour,
                minute, second);
  return stamp;
}

static std::string StampNow() {
  const platform::LocalTime t = platform::Now();
  return CVRTLog::FormatTimeStamp(t.year, t.month, t.day, t.hour, t.minute, t.second);
}

void CVRTLog::Append(const std::string& path, const char* text, size_t length) {
  platform::AppendLogText(path, text, length);
}

void CVRTLog::WriteTimeStamp() {
  std::string path;
  if (!Active(&path)) return;
  const std::string stamp = StampNow();
  Append(path, stamp.data(), stamp.size());
}

void CVRTLog::WriteLogV(const char* format, va_list args) {
  std::string path;
  if (!Active(&path) || format == nullptr) return;
  char text[kMaxMessage];
  int n = std::vsnprintf(text, sizeof text, format, args);
  if (n < 0) return;
  const size_t length =
      static_cast<size_t>(n) < sizeof text ? static_cast<size_t>(n) : sizeof text - 1;
  Append(path, text, length);
}

void CVRTLog::WriteLog(const char* format, ...) {
  va_list args;
  va_start(args, format);
  WriteLogV(format, args);
  va_end(args);
}

void CVRTLog::WriteLine(const char* format, ...) {
  std::string path;
  if (!Active(&path) || format == nullptr) return;
  char text[kMaxMessage];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (n < 0) return;
  const size_t length =
      static_cast<size_t>(n) < sizeof text ? static_cast<size_t>(n) : sizeof text - 1;
  std::string line = StampNow();
  line.append(text, length);
  Append(path, line.data(), line.size());
}
