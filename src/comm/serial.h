// One COM port of a connection: opens it with a mode string and fixed
// time-outs, writes command lines, and reads replies with the dome's reply
// check and up to three re-sends of the last line. Not thread-safe: the
// connection calls it only under its line lock.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/serial_device.h"

class CVRTCamera;

class CVRTSerial {
 public:
  enum State { kNeverOpened = 0, kOpen = 1, kClosed = 2, kFailed = 100 };
  static constexpr size_t kLastLineSize = 64;

  CVRTSerial();
  explicit CVRTSerial(std::unique_ptr<platform::SerialDevice> device);
  ~CVRTSerial();
  CVRTSerial(const CVRTSerial&) = delete;
  CVRTSerial& operator=(const CVRTSerial&) = delete;

  void SetMode(const std::string& mode) { mode_ = mode; }
  const std::string& GetMode() const { return mode_; }

  // 0 on success; the system's error code (2 no such port, 5 busy), -10 for a
  // bad mode string or -6 when the time-outs are not accepted.
  int Open(int comPort);
  // 1 when the port was closed, else 0.
  int Close();
  // Bytes written, or -4. Lines of 64 bytes and more are refused (-4).
  int Write(const void* data, size_t length);
  // Reads a reply of up to count bytes; re-sends the last line up to three
  // times while the reply is not accepted. Bytes of the last read, or -4.
  int ReadData(void* buffer, size_t count);
  // As ReadData without the reply check; 0 at once when the camera does not
  // wait for responses.
  int ReadForCamera(void* buffer, size_t count, const CVRTCamera* camera);

  // The connection's flag, set (from any thread) once the line is left for
  // good: a read in progress is then the last one, no line is sent again
  // and later reads wait for no answer (they give 0 at once). The flag
  // outlives the port.
  void SetGiveUpFlag(const std::atomic<bool>* flag) { giveUp_ = flag; }

  int GetState() const { return state_; }
  int GetPort() const { return port_; }
  uint32_t GetLastError() const { return lastError_; }
  const char* LastLine() const { return lastLine_; }

 private:
  // Clears a pending line error; false (logged, state failed) when even
  // that fails.
  bool ClearLineError();
  bool GivingUp() const { return giveUp_ != nullptr && giveUp_->load(); }

  std::unique_ptr<platform::SerialDevice> device_;
  int state_ = kNeverOpened;
  uint32_t lastError_ = 0;
  std::string mode_;
  int port_ = -1;
  char lastLine_[kLastLineSize] = {0};
  const std::atomic<bool>* giveUp_ = nullptr;
};
