// A TCP connection to a serial device server: the name resolved and the
// connection made within a time-out, then non-blocking sends and receives
// with waits. Error codes are the system's (errno values on POSIX, Winsock
// codes on Windows); each failure also keeps the system's text for it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace platform {

class TcpSocket {
 public:
  enum class Io { kDone, kWouldBlock, kClosed, kFailed };
  enum class Ready { kReady, kTimeout, kFailed };

  static std::unique_ptr<TcpSocket> Create();
  virtual ~TcpSocket() = default;

  // Resolves host (a name, an IPv4 address or an IPv6 address without
  // brackets) and connects to the first of its addresses that answers, all
  // within timeoutMs. Closes a connection made before. 0, or the system's
  // error code with the reason in LastErrorText().
  virtual uint32_t Connect(const std::string& host, uint16_t port, uint32_t timeoutMs) = 0;
  virtual bool IsConnected() const = 0;
  // Waits up to timeoutMs until a receive (or a send) would not block; a
  // connection the peer closed counts as readable.
  virtual Ready WaitReadable(uint32_t timeoutMs) = 0;
  virtual Ready WaitWritable(uint32_t timeoutMs) = 0;
  // Takes what has arrived, up to size bytes, without waiting: kDone with
  // *got > 0, kWouldBlock when nothing waits, kClosed when the peer ended
  // the connection, kFailed on an error (the connection is then broken).
  virtual Io Receive(void* buffer, size_t size, size_t* got) = 0;
  // Sends what fits without waiting: kDone with *sent > 0, kWouldBlock, or
  // kClosed / kFailed.
  virtual Io Send(const void* data, size_t size, size_t* sent) = 0;
  virtual void Close() = 0;
  virtual uint32_t LastError() const = 0;
  // "Connection refused", "Name or service not known", "timed out after 3000 ms".
  virtual std::string LastErrorText() const = 0;
};

}  // namespace platform
