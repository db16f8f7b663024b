// A stream socket of a socket pair as a channel to another process.
#include "platform/posix/process_channel_posix.h"

#include <errno.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>

#include "platform/child_process.h"

namespace platform {

namespace {

class SocketChannel : public ProcessChannel {
 public:
  explicit SocketChannel(int fd) : fd_(fd) {}
  ~SocketChannel() override { close(fd_); }

  bool Write(const char* data, size_t size) override {
    while (size > 0) {
      // No SIGPIPE for the host when the other side has gone.
      const ssize_t done = send(fd_, data, size, MSG_NOSIGNAL);
      if (done < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      data += done;
      size -= static_cast<size_t>(done);
    }
    return true;
  }

  int Read(char* data, size_t size, int timeoutMs) override {
    for (;;) {
      if (timeoutMs >= 0) {
        pollfd wait = {fd_, POLLIN, 0};
        const int ready = poll(&wait, 1, timeoutMs);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return -1;
        if (ready == 0) return -2;
      }
      const ssize_t got = recv(fd_, data, size, 0);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) return errno == ECONNRESET ? 0 : -1;
      return static_cast<int>(got);
    }
  }

  void Shutdown() override { shutdown(fd_, SHUT_RDWR); }

 private:
  int fd_;
};

}  // namespace

std::unique_ptr<ProcessChannel> ChannelOnSocket(int fd) {
  return std::make_unique<SocketChannel>(fd);
}

std::unique_ptr<ProcessChannel> InheritedChannel() {
  int type = 0;
  socklen_t length = sizeof type;
  if (getsockopt(kChildChannelFd, SOL_SOCKET, SO_TYPE, &type, &length) != 0 || type != SOCK_STREAM)
    return nullptr;
  return ChannelOnSocket(kChildChannelFd);
}

}  // namespace platform
