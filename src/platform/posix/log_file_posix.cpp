// Appending to the driver's log file: opened, locked, written and closed for
// every piece of text, so the file is never held between writes.
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <mutex>
#include <string>

#include "platform/log_file.h"

namespace platform {
namespace {

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

bool WriteAll(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

void AppendLogText(const std::string& path, const char* text, size_t length) {
  if (text == nullptr || path.empty()) return;
  // The driver's own threads take turns; only another program holding the
  // file makes a text get lost.
  static std::mutex turns;
  std::lock_guard<std::mutex> turn(turns);
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return;
  // The file is shared with no other writer while it is open: when another
  // one holds it, this text is lost.
  if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
    (void)WriteAll(fd, WithCrLf(text, length));
    (void)flock(fd, LOCK_UN);
  }
  close(fd);
}

}  // namespace platform
