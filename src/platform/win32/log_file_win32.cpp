// Appending to the driver's log file: opened with no sharing, written in
// binary with every lone "\n" as CR LF (as the POSIX build writes it), and
// closed for every piece of text.
#include <share.h>
#include <stdio.h>

#include <mutex>
#include <string>

#include "platform/log_file.h"
#include "platform/process_end.h"

namespace platform {

namespace {

// The driver's own threads take turns, so that a worker thread's line is not
// lost to a host thread's line written at the same moment; the file stays
// shared with no other program while it is open.
std::mutex& AppendLock() {
  static std::mutex lock;
  return lock;
}

// The text with every "\n" written as "\r\n"; a "\r\n" already there stays.
std::string WithCrLf(const char* text, size_t length) {
  std::string out;
  out.reserve(length + length / 16 + 2);
  for (size_t i = 0; i < length; ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
    out += text[i];
  }
  return out;
}

void Append(const std::string& path, const std::string& data) {
  // Fails while another program holds the file: this text is lost then.
  FILE* file = _fsopen(path.c_str(), "ab", _SH_DENYRW);
  if (file == nullptr) return;
  (void)fwrite(data.data(), 1, data.size(), file);
  fclose(file);
}

}  // namespace

void AppendLogText(const std::string& path, const char* text, size_t length) {
  if (text == nullptr || path.empty()) return;
  const std::string data = WithCrLf(text, length);
  // While the process ends, a thread that the system stopped may hold the
  // lock; no other thread runs then.
  if (ProcessIsEnding()) {
    Append(path, data);
    return;
  }
  std::lock_guard<std::mutex> hold(AppendLock());
  Append(path, data);
}

}  // namespace platform
