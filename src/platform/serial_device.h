// One COM port opened for synchronous I/O. The connection's CVRTSerial holds
// the protocol logic (reply checking, re-sending, logging); this is only the
// system's port. Error codes are the system's: on Windows GetLastError(); on
// POSIX the same meanings are kept (2: no such port, 5: port in use or access
// denied), other failures give the errno value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace platform {

constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorAccessDenied = 5;
// Network lines (the Windows codes, on every system): the port's entry is
// no line the driver can open (a malformed network line file), the device
// server does not take the line settings, or it did not answer in time.
constexpr uint32_t kErrorInvalidHandle = 6;
constexpr uint32_t kErrorInvalidData = 13;
constexpr uint32_t kErrorNotSupported = 50;
constexpr uint32_t kErrorTimeout = 1460;

class SerialDevice {
 public:
  static std::unique_ptr<SerialDevice> Create();
  virtual ~SerialDevice() = default;

  // The name the system knows COM port n by ("\\.\COM3", ".../ports/COM3").
  virtual std::string DevicePath(int comPort) const = 0;
  // Opens COM port n for reading and writing, exclusively. 0 or an error code.
  virtual uint32_t Open(int comPort) = 0;
  // Builds the line settings from a mode string in the syntax of the MODE
  // command ("96,E,8,1", "baud=9600 parity=e data=8 stop=1"); false when the
  // string is rejected. Nothing is applied yet.
  virtual bool BuildSettings(const std::string& mode) = 0;
  // Applies the built settings with parity checking on and DTR and RTS off.
  virtual uint32_t ApplySettings() = 0;
  // Read: 2000 ms + 1 ms per requested byte in all; write: 300 ms + 1 ms/byte.
  virtual uint32_t SetTimeouts() = 0;
  virtual bool IsOpen() const = 0;
  // Clears a pending line error (parity, framing, overrun). 0 or error code.
  virtual uint32_t ClearError() = 0;
  // Blocks until count bytes arrived, a carriage return arrived (a reply
  // ends there) or the read time-out ran out; *got is what arrived. False
  // when the read itself failed (device gone, I/O error).
  virtual bool Read(void* buffer, size_t count, size_t* got) = 0;
  // False when the write failed; *written may be short after the time-out.
  virtual bool Write(const void* data, size_t count, size_t* written) = 0;
  // Drops whatever waits in the receive buffer.
  virtual void PurgeReceive() = 0;
  // 0 or an error code; the device is closed afterwards in either case.
  virtual uint32_t Close() = 0;
  // The system error of the last failed call.
  virtual uint32_t LastError() const = 0;
};

}  // namespace platform
