// The window probe's few bytes on its socket: a request is a list of fields
// sent by the test, the answer a list of fields sent back by the dialog
// program; each field is its length in decimal, a colon and its bytes. One
// request per connection; the side that sends ends its writing when done.
#pragma once

#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace probewire {

// The environment variable naming the socket file the probe listens on.
constexpr char kSocketVariable[] = "Q7_WINDOW_PROBE";

inline std::string Encode(const std::vector<std::string>& fields) {
  std::string bytes;
  for (const std::string& field : fields) bytes += std::to_string(field.size()) + ":" + field;
  return bytes;
}

// False when bytes are not a whole list of fields.
inline bool Decode(const std::string& bytes, std::vector<std::string>* fields) {
  fields->clear();
  size_t at = 0;
  while (at < bytes.size()) {
    const size_t colon = bytes.find(':', at);
    if (colon == std::string::npos || colon == at || colon - at > 9) return false;
    const std::string digits = bytes.substr(at, colon - at);
    if (digits.find_first_not_of("0123456789") != std::string::npos) return false;
    const size_t length = std::stoul(digits);
    if (length > bytes.size() - colon - 1) return false;
    fields->push_back(bytes.substr(colon + 1, length));
    at = colon + 1 + length;
  }
  return true;
}

inline bool SendAll(int fd, const std::string& bytes) {
  for (size_t sent = 0; sent < bytes.size();) {
    const ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return shutdown(fd, SHUT_WR) == 0;
}

inline bool ReadAll(int fd, std::string* bytes) {
  char chunk[4096];
  for (;;) {
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n < 0) return false;
    if (n == 0) return true;
    bytes->append(chunk, static_cast<size_t>(n));
  }
}

}  // namespace probewire
