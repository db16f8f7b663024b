// The driver's log: one plain-text file in the directory the host names,
// opened, appended to and closed again for every write.
#pragma once

#include <atomic>
#include <cstdarg>
#include <mutex>
#include <string>

#if defined(__GNUC__)
#define VRT_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define VRT_PRINTF(fmt, args)
#endif

class CVRTLog {
 public:
  // The longest text one write produces, terminating zero included.
  static constexpr size_t kMaxMessage = 1024;

  // Log file = directory + separator + library base name + ".log".
  // 1, or -18 when the library's own file name is not available.
  int SetLogPath(const std::string& directory);
  void SetEnabled(int enabled) { enabled_.store(enabled); }
  int Enabled() const { return enabled_.load(); }
  std::string LogPath() const;

  // Starts a line with the local date and time.
  void WriteTimeStamp();
  // Formats a message (cut to 1024 bytes) and appends it.
  void WriteLog(const char* format, ...) VRT_PRINTF(2, 3);
  void WriteLogV(const char* format, va_list args);
  // A time stamp followed by the message, appended in one write so that
  // lines of different threads do not interleave.
  void WriteLine(const char* format, ...) VRT_PRINTF(2, 3);

  // The stamp text for a local time: "2024/03/05, 14:07.09\t".
  static std::string FormatTimeStamp(int year, int month, int day, int hour, int minute,
                                     int second);

 private:
  bool Active(std::string* path) const;
  void Append(const std::string& path, const char* text, size_t length);

  std::atomic<int> enabled_{0};
  mutable std::mutex pathLock_;
  std::string path_;
};

// The one log of the process, owned by the driver object.
CVRTLog& DriverLog();

// Shorthands used by every component: a stamped line, and text as it stands.
#define VRT_LOG_LINE(...) DriverLog().WriteLine(__VA_ARGS__)
#define VRT_LOG_TEXT(...) DriverLog().WriteLog(__VA_ARGS__)
