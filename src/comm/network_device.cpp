#include "comm/network_device.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "driver/log.h"
#include "platform/tick_clock.h"

namespace netline {
namespace {

// What the line keeps of data nobody reads (a babbling dome between two
// calls); older bytes go first, as on a serial port whose buffer overflows.
constexpr size_t kMaxReceived = 64 * 1024;

// Milliseconds from now until the deadline of the tick clock, 0 once past.
uint32_t Remaining(uint32_t deadline) {
  const int32_t left = static_cast<int32_t>(deadline - platform::TickCount());
  return left > 0 ? static_cast<uint32_t>(left) : 0;
}

ComPortSettings SettingsOf(const platform::LineFormat& format) {
  ComPortSettings settings;
  settings.baud = format.baud;
  settings.dataSize = static_cast<uint8_t>(format.dataBits);
  switch (format.parity) {
    case 'O':
      settings.parity = comport::kParityOdd;
      break;
    case 'E':
      settings.parity = comport::kParityEven;
      break;
    case 'M':
      settings.parity = comport::kParityMark;
      break;
    case 'S':
      settings.parity = comport::kParitySpace;
      break;
    default:
      settings.parity = comport::kParityNone;
      break;
  }
  settings.stopSize = format.stopTenths == 15   ? comport::kStopOneAndHalf
                      : format.stopTenths == 20 ? comport::kStopTwo
                                                : comport::kStopOne;
  settings.flow = format.hardwareFlow ? comport::kFlowHardware
                  : format.xonXoff    ? comport::kFlowXonXoff
                                      : comport::kFlowNone;
  return settings;
}

}  // namespace

NetworkSerialDevice::NetworkSerialDevice(Address address, SocketFactory factory)
    : address_(std::move(address)), factory_(std::move(factory)) {}

NetworkSerialDevice::~NetworkSerialDevice() { Close(); }

std::string NetworkSerialDevice::DevicePath(int /*comPort*/) const { return address_.Text(); }

uint32_t NetworkSerialDevice::Open(int comPort) {
  Close();
  comPort_ = comPort;
  const uint32_t error = Connect("Open");
  if (error != 0) return error;
  open_ = true;
  if (address_.kind == Kind::kRawTcp) {
    VRT_LOG_LINE(
        "NetLine.Open: COM%d is the raw TCP line %s: the device server's own line settings "
        "apply\n",
        comPort_, address_.Text().c_str());
  }
  return 0;
}

uint32_t NetworkSerialDevice::Connect(const char* what) {
  if (socket_) socket_->Close();
  socket_ = factory_ ? factory_() : nullptr;
  if (!socket_) return Fail(platform::kErrorNotSupported);
  telnet_ = TelnetClient();
  received_.clear();
  broken_ = false;
  const uint32_t error = socket_->Connect(address_.host, address_.port, kConnectTimeoutMs);
  if (error != 0) {
    VRT_LOG_LINE("NetLine.%s: COM%d: %s not reachable: %s (error %u)\n", what, comPort_,
                 address_.Text().c_str(), socket_->LastErrorText().c_str(), error);
    broken_ = true;
    return Fail(error);
  }
  if (address_.kind == Kind::kRfc2217) {
    size_t sent = 0;
    if (!SendBytes(telnet_.Start(), platform::TickCount() + kNegotiationTimeoutMs, &sent))
      return Fail(lastError_ != 0 ? lastError_ : platform::kErrorNotSupported);
  }
  return 0;
}

bool NetworkSerialDevice::BuildSettings(const std::string& mode) {
  platform::LineFormat parsed;
  if (!platform::ParseLineFormat(mode, &parsed)) {
    Fail(platform::kErrorInvalidData);
    return false;
  }
  format_ = parsed;
  formatBuilt_ = true;
  return true;
}

uint32_t NetworkSerialDevice::ApplySettings() {
  if (!open_) return Fail(platform::kErrorInvalidHandle);
  if (!formatBuilt_) return Fail(platform::kErrorInvalidData);
  if (address_.kind == Kind::kRfc2217) {
    const uint32_t error = Negotiate();
    if (error != 0) return error;
  }
  settingsApplied_ = true;
  return 0;
}

uint32_t NetworkSerialDevice::Negotiate() {
  const uint32_t deadline = platform::TickCount() + kNegotiationTimeoutMs;
  const std::string where = address_.Text();
  while (!telnet_.ComPortAgreed()) {
    if (telnet_.ComPortRefused()) {
      VRT_LOG_LINE("NetLine.Open: COM%d: %s refuses the COM port option (RFC 2217)\n", comPort_,
                   where.c_str());
      return Fail(platform::kErrorNotSupported);
    }
    const uint32_t left = Remaining(deadline);
    if (left == 0) {
      VRT_LOG_LINE(
          "NetLine.Open: COM%d: %s did not take up the COM port option (RFC 2217) within %u "
          "ms\n",
          comPort_, where.c_str(), kNegotiationTimeoutMs);
      return Fail(platform::kErrorTimeout);
    }
    if (!Pump(left)) return Fail(lastError_);
  }
  size_t sent = 0;
  if (!SendBytes(telnet_.SetLine(SettingsOf(format_)), deadline, &sent)) return Fail(lastError_);
  for (;;) {
    std::string what;
    const TelnetClient::Confirmation confirmation = telnet_.LineConfirmed(&what);
    if (confirmation == TelnetClient::Confirmation::kConfirmed) return 0;
    if (confirmation == TelnetClient::Confirmation::kDiffers) {
      VRT_LOG_LINE("NetLine.Open: COM%d: %s did not take the line settings: it set %s\n", comPort_,
                   where.c_str(), what.c_str());
      return Fail(platform::kErrorNotSupported);
    }
    const uint32_t left = Remaining(deadline);
    if (left == 0) {
      VRT_LOG_LINE("NetLine.Open: COM%d: %s did not confirm the line settings within %u ms\n",
                   comPort_, where.c_str(), kNegotiationTimeoutMs);
      return Fail(platform::kErrorTimeout);
    }
    if (!Pump(left)) return Fail(lastError_);
  }
}

uint32_t NetworkSerialDevice::SetTimeouts() {
  if (!open_) return Fail(platform::kErrorInvalidHandle);
  readConstantMs_ = 2000;
  readPerByteMs_ = 1;
  writeConstantMs_ = 300;
  writePerByteMs_ = 1;
  return 0;
}

uint32_t NetworkSerialDevice::ClearError() {
  if (!open_) return Fail(platform::kErrorInvalidHandle);
  (void)telnet_.TakeLineErrors();
  return 0;
}

void NetworkSerialDevice::Broke(const std::string& reason) {
  if (!broken_) {
    VRT_LOG_LINE("NetLine: COM%d: connection to %s lost: %s\n", comPort_, address_.Text().c_str(),
                 reason.c_str());
  }
  broken_ = true;
  if (socket_) {
    lastError_ = socket_->LastError() != 0 ? socket_->LastError() : platform::kErrorInvalidHandle;
    socket_->Close();
  }
}

bool NetworkSerialDevice::Pump(uint32_t waitMs) {
  if (broken_ || !socket_) return false;
  if (waitMs > 0) {
    const platform::TcpSocket::Ready ready = socket_->WaitReadable(waitMs);
    if (ready == platform::TcpSocket::Ready::kFailed) {
      Broke(socket_->LastErrorText());
      return false;
    }
    if (ready == platform::TcpSocket::Ready::kTimeout) return true;
  }
  for (;;) {
    uint8_t buffer[4096];
    size_t got = 0;
    const platform::TcpSocket::Io io = socket_->Receive(buffer, sizeof buffer, &got);
    if (io == platform::TcpSocket::Io::kWouldBlock) break;
    if (io != platform::TcpSocket::Io::kDone) {
      Broke(socket_->LastErrorText());
      return false;
    }
    if (address_.kind == Kind::kRawTcp) {
      received_.append(reinterpret_cast<const char*>(buffer), got);
    } else {
      std::string reply;
      telnet_.Receive(buffer, got, &received_, &reply);
      size_t sent = 0;
      if (!reply.empty() && !SendBytes(reply, platform::TickCount() + writeConstantMs_, &sent))
        return false;
    }
    if (received_.size() > kMaxReceived) received_.erase(0, received_.size() - kMaxReceived);
  }
  return true;
}

bool NetworkSerialDevice::SendBytes(const std::string& bytes, uint32_t deadline, size_t* sent) {
  *sent = 0;
  while (*sent < bytes.size()) {
    if (broken_ || !socket_) return false;
    size_t n = 0;
    const platform::TcpSocket::Io io =
        socket_->Send(bytes.data() + *sent, bytes.size() - *sent, &n);
    if (io == platform::TcpSocket::Io::kDone) {
      *sent += n;
      continue;
    }
    if (io != platform::TcpSocket::Io::kWouldBlock) {
      Broke(socket_->LastErrorText());
      return false;
    }
    const uint32_t left = Remaining(deadline);
    if (left == 0) return true;  // time-out: *sent is what went out
    if (socket_->WaitWritable(left) == platform::TcpSocket::Ready::kFailed) {
      Broke(socket_->LastErrorText());
      return false;
    }
  }
  return true;
}

bool NetworkSerialDevice::Read(void* buffer, size_t count, size_t* got) {
  size_t total = 0;
  if (got != nullptr) *got = 0;
  if (!open_) {
    Fail(platform::kErrorInvalidHandle);
    return false;
  }
  if (count == 0) return true;
  if (buffer == nullptr) {
    Fail(platform::kErrorInvalidData);
    return false;
  }
  char* out = static_cast<char*>(buffer);
  const uint32_t deadline =
      platform::TickCount() + readConstantMs_ + readPerByteMs_ * static_cast<uint32_t>(count);
  for (;;) {
    // A reply ends at its carriage return, as on a local port.
    size_t take = std::min(count - total, received_.size());
    const size_t cr = received_.find('\r');
    if (cr != std::string::npos && cr < take) take = cr + 1;
    std::memcpy(out + total, received_.data(), take);
    received_.erase(0, take);
    total += take;
    if (got != nullptr) *got = total;
    if (total == count || (take > 0 && out[total - 1] == '\r')) return true;
    if (broken_) {
      Fail(lastError_ != 0 ? lastError_ : platform::kErrorInvalidHandle);
      return false;
    }
    const uint32_t left = Remaining(deadline);
    if (left == 0) return true;  // time-out: what arrived is the answer
    if (!Pump(left)) return false;
  }
}

bool NetworkSerialDevice::Write(const void* data, size_t count, size_t* written) {
  if (written != nullptr) *written = 0;
  if (!open_) {
    Fail(platform::kErrorInvalidHandle);
    return false;
  }
  if (count == 0) return true;
  if (data == nullptr) {
    Fail(platform::kErrorInvalidData);
    return false;
  }
  if (broken_ || !socket_ || !socket_->IsConnected()) {
    // The server may be back: this write is the line's next use.
    if (Connect("Write") != 0) return false;
    if (settingsApplied_ && address_.kind == Kind::kRfc2217 && Negotiate() != 0) {
      broken_ = true;
      socket_->Close();
      return false;
    }
    VRT_LOG_LINE("NetLine.Write: COM%d: connected again to %s\n", comPort_,
                 address_.Text().c_str());
  }
  const uint32_t deadline =
      platform::TickCount() + writeConstantMs_ + writePerByteMs_ * static_cast<uint32_t>(count);
  // The server asked to hold the output (its line's flow control).
  while (telnet_.Suspended()) {
    const uint32_t left = Remaining(deadline);
    if (left == 0) return true;  // time-out: nothing went out
    if (!Pump(left)) return false;
  }
  const std::string bytes = address_.kind == Kind::kRfc2217
                                ? telnet_.Encode(data, count)
                                : std::string(static_cast<const char*>(data), count);
  size_t sent = 0;
  if (!SendBytes(bytes, deadline, &sent)) return false;
  if (sent == bytes.size()) {
    if (written != nullptr) *written = count;
  } else if (written != nullptr) {
    // Cut short by the time-out: the data bytes whose encoding went out.
    size_t whole = 0;
    size_t encoded = 0;
    const char* in = static_cast<const char*>(data);
    while (whole < count) {
      const size_t next = encoded + telnet_.Encode(in + whole, 1).size();
      if (next > sent) break;
      encoded = next;
      ++whole;
    }
    *written = address_.kind == Kind::kRfc2217 ? whole : sent;
  }
  return true;
}

void NetworkSerialDevice::PurgeReceive() {
  if (!open_ || broken_) return;
  // What has already arrived is dropped with what waits at the server.
  if (!Pump(0)) return;
  received_.clear();
  if (address_.kind == Kind::kRfc2217) {
    size_t sent = 0;
    (void)SendBytes(telnet_.Purge(comport::kPurgeReceive), platform::TickCount() + writeConstantMs_,
                    &sent);
  }
}

uint32_t NetworkSerialDevice::Close() {
  if (socket_) socket_->Close();
  socket_.reset();
  open_ = false;
  broken_ = false;
  settingsApplied_ = false;
  received_.clear();
  return 0;
}

}  // namespace netline
