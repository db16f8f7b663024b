// TCP connections with BSD sockets: non-blocking, connected within a
// time-out (poll on the connecting socket), no SIGPIPE on a closed peer.
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>
#include <type_traits>

#include "platform/tcp_socket.h"

namespace platform {
namespace {

int64_t MonotonicMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

int RemainingMs(int64_t deadline) {
  const int64_t left = deadline - MonotonicMs();
  if (left <= 0) return 0;
  return left > INT32_MAX ? INT32_MAX : static_cast<int>(left);
}

std::string ErrnoText(int err) {
  char buffer[128] = {0};
  // The GNU strerror_r returns the text, the POSIX one fills the buffer.
  const auto result = strerror_r(err, buffer, sizeof buffer);
  if constexpr (std::is_same_v<std::decay_t<decltype(result)>, char*>) {
    return result != nullptr ? std::string(result) : std::string("error ") + std::to_string(err);
  } else {
    return result == 0 ? std::string(buffer) : std::string("error ") + std::to_string(err);
  }
}

class PosixTcpSocket final : public TcpSocket {
 public:
  ~PosixTcpSocket() override { Close(); }

  uint32_t Connect(const std::string& host, uint16_t port, uint32_t timeoutMs) override {
    Close();
    const int64_t deadline = MonotonicMs() + timeoutMs;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    const int resolved = getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
    if (resolved != 0) {
      const int err = resolved == EAI_SYSTEM ? errno : EHOSTUNREACH;
      return Fail(static_cast<uint32_t>(err),
                  resolved == EAI_SYSTEM ? ErrnoText(err) : gai_strerror(resolved));
    }
    uint32_t code = static_cast<uint32_t>(EHOSTUNREACH);
    std::string text = "no address";
    for (addrinfo* a = found; a != nullptr; a = a->ai_next) {
      const int fd =
          socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
      if (fd < 0) {
        code = static_cast<uint32_t>(errno);
        text = ErrnoText(errno);
        continue;
      }
      int err = connect(fd, a->ai_addr, a->ai_addrlen) == 0 ? 0 : errno;
      if (err == EINPROGRESS) err = AwaitConnected(fd, deadline);
      if (err == 0) {
        int on = 1;
        // Command lines are short and each waits for its answer.
        (void)setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        (void)setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
        fd_ = fd;
        freeaddrinfo(found);
        lastError_ = 0;
        lastText_.clear();
        return 0;
      }
      close(fd);
      code = static_cast<uint32_t>(err);
      text = err == ETIMEDOUT ? "timed out after " + std::to_string(timeoutMs) + " ms"
                              : ErrnoText(err);
      if (err == ETIMEDOUT) break;
    }
    freeaddrinfo(found);
    return Fail(code, text);
  }

  bool IsConnected() const override { return fd_ >= 0; }

  Ready WaitReadable(uint32_t timeoutMs) override { return Await(POLLIN, timeoutMs); }
  Ready WaitWritable(uint32_t timeoutMs) override { return Await(POLLOUT, timeoutMs); }

  Io Receive(void* buffer, size_t size, size_t* got) override {
    *got = 0;
    if (fd_ < 0) return FailIo(EBADF);
    if (size == 0) return Io::kDone;
    for (;;) {
      const ssize_t n = recv(fd_, buffer, size, 0);
      if (n > 0) {
        *got = static_cast<size_t>(n);
        return Io::kDone;
      }
      if (n == 0) {
        Fail(static_cast<uint32_t>(ECONNRESET), "the server closed the connection");
        return Io::kClosed;
      }
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return Io::kWouldBlock;
      return FailIo(errno);
    }
  }

  Io Send(const void* data, size_t size, size_t* sent) override {
    *sent = 0;
    if (fd_ < 0) return FailIo(EBADF);
    if (size == 0) return Io::kDone;
    for (;;) {
      const ssize_t n = send(fd_, data, size, MSG_NOSIGNAL);
      if (n >= 0) {
        *sent = static_cast<size_t>(n);
        return n > 0 ? Io::kDone : Io::kWouldBlock;
      }
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return Io::kWouldBlock;
      if (errno == EPIPE || errno == ECONNRESET) {
        Fail(static_cast<uint32_t>(errno), ErrnoText(errno));
        return Io::kClosed;
      }
      return FailIo(errno);
    }
  }

  void Close() override {
    if (fd_ < 0) return;
    close(fd_);
    fd_ = -1;
  }

  uint32_t LastError() const override { return lastError_; }
  std::string LastErrorText() const override { return lastText_; }

 private:
  uint32_t Fail(uint32_t code, const std::string& text) {
    lastError_ = code;
    lastText_ = text;
    return code;
  }
  Io FailIo(int err) {
    Fail(static_cast<uint32_t>(err), ErrnoText(err));
    return Io::kFailed;
  }

  // 0 once the connection is made, else the error (ETIMEDOUT at the deadline).
  static int AwaitConnected(int fd, int64_t deadline) {
    for (;;) {
      pollfd p{fd, POLLOUT, 0};
      const int ready = poll(&p, 1, RemainingMs(deadline));
      if (ready < 0 && errno == EINTR) continue;
      if (ready < 0) return errno;
      if (ready == 0) return ETIMEDOUT;
      int err = 0;
      socklen_t length = sizeof err;
      if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &length) != 0) return errno;
      return err;
    }
  }

  Ready Await(short events, uint32_t timeoutMs) {
    if (fd_ < 0) {
      Fail(static_cast<uint32_t>(EBADF), ErrnoText(EBADF));
      return Ready::kFailed;
    }
    const int64_t deadline = MonotonicMs() + timeoutMs;
    for (;;) {
      pollfd p{fd_, events, 0};
      const int ready = poll(&p, 1, RemainingMs(deadline));
      if (ready < 0 && errno == EINTR) continue;
      if (ready < 0) {
        Fail(static_cast<uint32_t>(errno), ErrnoText(errno));
        return Ready::kFailed;
      }
      if (ready == 0) return Ready::kTimeout;
      // A hang-up or an error shows on the next receive or send.
      return Ready::kReady;
    }
  }

  int fd_ = -1;
  uint32_t lastError_ = 0;
  std::string lastText_;
};

}  // namespace

std::unique_ptr<TcpSocket> TcpSocket::Create() { return std::make_unique<PosixTcpSocket>(); }

}  // namespace platform
