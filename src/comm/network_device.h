// A network line: COM port n reached through a serial device server over
// TCP, behind the same device interface as a local port, so that the
// command lines, reply checks, re-sends and time-outs above it are the
// same.
//
// rfc2217:// lines speak telnet with the COM port control option: the open
// sends the line settings of the mode string and waits until the server has
// confirmed each of them; a purge of the receive buffer also asks the
// server to purge its own. tcp:// lines carry the bytes as they are, and
// the server's own line settings apply.
//
// Time-outs: the connection is made within kConnectTimeoutMs (name
// resolution by the system's resolver comes before it); the server has
// kNegotiationTimeoutMs to agree to the option and to confirm the settings.
// Reads and writes have the local ports' time-outs.
//
// A connection that breaks while the line is open fails the read or write
// that meets it (as a local port that vanished); the next write connects
// again, with the settings sent afresh, so the line works once the server
// is back without the port being closed and opened.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "comm/network_address.h"
#include "comm/telnet_client.h"
#include "platform/line_format.h"
#include "platform/serial_device.h"
#include "platform/tcp_socket.h"

namespace netline {

class NetworkSerialDevice final : public platform::SerialDevice {
 public:
  static constexpr uint32_t kConnectTimeoutMs = 3000;
  static constexpr uint32_t kNegotiationTimeoutMs = 2000;

  using SocketFactory = std::function<std::unique_ptr<platform::TcpSocket>()>;
  explicit NetworkSerialDevice(Address address,
                               SocketFactory factory = platform::TcpSocket::Create);
  ~NetworkSerialDevice() override;

  std::string DevicePath(int comPort) const override;
  uint32_t Open(int comPort) override;
  bool BuildSettings(const std::string& mode) override;
  uint32_t ApplySettings() override;
  uint32_t SetTimeouts() override;
  bool IsOpen() const override { return open_; }
  uint32_t ClearError() override;
  bool Read(void* buffer, size_t count, size_t* got) override;
  bool Write(const void* data, size_t count, size_t* written) override;
  void PurgeReceive() override;
  uint32_t Close() override;
  uint32_t LastError() const override { return lastError_; }

  // For tests: the connection is up (not broken since the last connect).
  bool Connected() const { return socket_ && socket_->IsConnected() && !broken_; }
  const TelnetClient& Telnet() const { return telnet_; }

 private:
  // Connects and, for rfc2217, offers the options: 0 or the error (logged).
  uint32_t Connect(const char* what);
  // Sends the settings and waits for the server's word: 0 or the error.
  uint32_t Negotiate();
  // Takes what has arrived, waiting up to waitMs for the first byte: false
  // when the connection broke.
  bool Pump(uint32_t waitMs);
  // Sends bytes until the deadline (ms of the tick clock): false when the
  // connection broke; *sent is what went out.
  bool SendBytes(const std::string& bytes, uint32_t deadline, size_t* sent);
  void Broke(const std::string& reason);
  uint32_t Fail(uint32_t code) {
    lastError_ = code;
    return code;
  }

  Address address_;
  SocketFactory factory_;
  std::unique_ptr<platform::TcpSocket> socket_;
  TelnetClient telnet_;
  bool open_ = false;
  bool broken_ = false;
  int comPort_ = 0;
  platform::LineFormat format_;
  bool formatBuilt_ = false;
  bool settingsApplied_ = false;
  std::string received_;  // the line's data not yet read
  uint32_t readConstantMs_ = 2000;
  uint32_t readPerByteMs_ = 1;
  uint32_t writeConstantMs_ = 300;
  uint32_t writePerByteMs_ = 1;
  uint32_t lastError_ = 0;
};

}  // namespace netline
