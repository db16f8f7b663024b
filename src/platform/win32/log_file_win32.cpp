// Appending to the driver's log file: opened in text mode (every "\n" goes
// out as CR LF) with no sharing, written and closed for every piece of text.
#include <share.h>
#include <stdio.h>

#include <mutex>
#include <string>

#include "platform/log_file.h"

namespace platform {

namespace {

// The driver's own threads take turns, so that a worker thread's line is not
// lost to a host thread's line written at the same moment; the file stays
// shared with no other program while it is open.
std::mutex& AppendLock() {
  static std::mutex lock;
  return lock;
}

}  // namespace

void AppendLogText(const std::string& path, const char* text, size_t length) {
  if (text == nullptr || path.empty()) return;
  std::lock_guard<std::mutex> hold(AppendLock());
  // Fails while another program holds the file: this text is lost then.
  FILE* file = _fsopen(path.c_str(), "at", _SH_DENYRW);
  if (file == nullptr) return;
  (void)fwrite(text, 1, length, file);
  fclose(file);
}

}  // namespace platform
