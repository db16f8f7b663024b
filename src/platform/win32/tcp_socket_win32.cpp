// TCP connections with Winsock: a non-blocking socket, connected within a
// time-out (select on the connecting socket). Each socket holds a Winsock
// start of its own, so the DLL needs no start and end of its own for it.
#include <winsock2.h>
#include <ws2tcpip.h>
// winsock2.h comes before windows.h.
#include <windows.h>

#include <memory>
#include <string>

#include "platform/process_end.h"
#include "platform/tcp_socket.h"

namespace platform {
namespace {

std::string SystemText(DWORD code) {
  char buffer[256] = {0};
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, code, 0, buffer, sizeof buffer, nullptr);
  std::string text(buffer, n);
  while (!text.empty() &&
         (text.back() == '\r' || text.back() == '\n' || text.back() == ' ' || text.back() == '.'))
    text.pop_back();
  return text.empty() ? "error " + std::to_string(code) : text;
}

// select() on one socket: 1 ready, 0 time-out, -1 error.
int SelectOne(SOCKET s, bool write, uint32_t timeoutMs) {
  fd_set ready;
  fd_set failed;
  FD_ZERO(&ready);
  FD_ZERO(&failed);
  FD_SET(s, &ready);
  FD_SET(s, &failed);
  timeval wait;
  wait.tv_sec = static_cast<long>(timeoutMs / 1000);
  wait.tv_usec = static_cast<long>((timeoutMs % 1000) * 1000);
  const int n = select(0, write ? nullptr : &ready, write ? &ready : nullptr, &failed, &wait);
  if (n == SOCKET_ERROR) return -1;
  return n > 0 ? 1 : 0;
}

class Win32TcpSocket final : public TcpSocket {
 public:
  Win32TcpSocket() {
    WSADATA data;
    started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }
  ~Win32TcpSocket() override {
    Close();
    // Not while the library is unloaded: the loader lock is held then, and
    // the last end of Winsock unloads its helper libraries, which can wait
    // for it. The socket is closed all the same; the start is left to the
    // process.
    if (started_ && !LibraryIsUnloading()) WSACleanup();
  }

  uint32_t Connect(const std::string& host, uint16_t port, uint32_t timeoutMs) override {
    Close();
    if (!started_) return Fail(WSANOTINITIALISED);
    const DWORD deadline = GetTickCount() + timeoutMs;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    const int resolved = getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
    if (resolved != 0) return Fail(static_cast<uint32_t>(resolved));
    uint32_t code = WSAEHOSTUNREACH;
    std::string text = SystemText(code);
    for (addrinfo* a = found; a != nullptr; a = a->ai_next) {
      SOCKET s = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
      if (s == INVALID_SOCKET) {
        code = static_cast<uint32_t>(WSAGetLastError());
        text = SystemText(code);
        continue;
      }
      u_long nonBlocking = 1;
      ioctlsocket(s, FIONBIO, &nonBlocking);
      int err = 0;
      if (connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) != 0) {
        err = WSAGetLastError();
        if (err == WSAEWOULDBLOCK) err = AwaitConnected(s, deadline);
      }
      if (err == 0) {
        BOOL on = TRUE;
        setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
        setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&on), sizeof on);
        socket_ = s;
        freeaddrinfo(found);
        lastError_ = 0;
        lastText_.clear();
        return 0;
      }
      closesocket(s);
      code = static_cast<uint32_t>(err);
      text = err == WSAETIMEDOUT ? "timed out after " + std::to_string(timeoutMs) + " ms"
                                 : SystemText(code);
      if (err == WSAETIMEDOUT) break;
    }
    freeaddrinfo(found);
    lastError_ = code;
    lastText_ = text;
    return code;
  }

  bool IsConnected() const override { return socket_ != INVALID_SOCKET; }

  Ready WaitReadable(uint32_t timeoutMs) override { return Await(false, timeoutMs); }
  Ready WaitWritable(uint32_t timeoutMs) override { return Await(true, timeoutMs); }

  Io Receive(void* buffer, size_t size, size_t* got) override {
    *got = 0;
    if (socket_ == INVALID_SOCKET) return FailIo(WSAENOTSOCK);
    if (size == 0) return Io::kDone;
    const int n = recv(socket_, static_cast<char*>(buffer), static_cast<int>(size), 0);
    if (n > 0) {
      *got = static_cast<size_t>(n);
      return Io::kDone;
    }
    if (n == 0) {
      lastError_ = WSAECONNRESET;
      lastText_ = "the server closed the connection";
      return Io::kClosed;
    }
    const int err = WSAGetLastError();
    if (err == WSAEWOULDBLOCK) return Io::kWouldBlock;
    FailIo(err);
    return err == WSAECONNRESET || err == WSAECONNABORTED ? Io::kClosed : Io::kFailed;
  }

  Io Send(const void* data, size_t size, size_t* sent) override {
    *sent = 0;
    if (socket_ == INVALID_SOCKET) return FailIo(WSAENOTSOCK);
    if (size == 0) return Io::kDone;
    const int n = send(socket_, static_cast<const char*>(data), static_cast<int>(size), 0);
    if (n > 0) {
      *sent = static_cast<size_t>(n);
      return Io::kDone;
    }
    const int err = n == 0 ? WSAEWOULDBLOCK : WSAGetLastError();
    if (err == WSAEWOULDBLOCK) return Io::kWouldBlock;
    FailIo(err);
    return err == WSAECONNRESET || err == WSAECONNABORTED ? Io::kClosed : Io::kFailed;
  }

  void Close() override {
    if (socket_ == INVALID_SOCKET) return;
    closesocket(socket_);
    socket_ = INVALID_SOCKET;
  }

  uint32_t LastError() const override { return lastError_; }
  std::string LastErrorText() const override { return lastText_; }

 private:
  uint32_t Fail(uint32_t code) {
    lastError_ = code;
    lastText_ = SystemText(code);
    return code;
  }
  Io FailIo(int err) {
    Fail(static_cast<uint32_t>(err));
    return Io::kFailed;
  }

  static int AwaitConnected(SOCKET s, DWORD deadline) {
    const int32_t left = static_cast<int32_t>(deadline - GetTickCount());
    const int ready = SelectOne(s, true, left > 0 ? static_cast<uint32_t>(left) : 0);
    if (ready < 0) return WSAGetLastError();
    if (ready == 0) return WSAETIMEDOUT;
    int err = 0;
    int length = sizeof err;
    if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &length) != 0)
      return WSAGetLastError();
    return err;
  }

  Ready Await(bool write, uint32_t timeoutMs) {
    if (socket_ == INVALID_SOCKET) {
      Fail(WSAENOTSOCK);
      return Ready::kFailed;
    }
    const int ready = SelectOne(socket_, write, timeoutMs);
    if (ready < 0) {
      Fail(static_cast<uint32_t>(WSAGetLastError()));
      return Ready::kFailed;
    }
    return ready > 0 ? Ready::kReady : Ready::kTimeout;
  }

  bool started_ = false;
  SOCKET socket_ = INVALID_SOCKET;
  uint32_t lastError_ = 0;
  std::string lastText_;
};

}  // namespace

std::unique_ptr<TcpSocket> TcpSocket::Create() { return std::make_unique<Win32TcpSocket>(); }

}  // namespace platform
