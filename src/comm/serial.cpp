#include "comm/serial.h"

#include <cstring>

#include "camera/camera.h"
#include "comm/line_device.h"
#include "comm/protocol.h"
#include "driver/log.h"
#include "platform/tick_clock.h"
#include "quaro7k7_ptz.h"

namespace {
constexpr int kMaxReadFailures = 3;
constexpr int kMaxResends = 3;
constexpr uint32_t kReadFailurePauseMs = 100;
}  // namespace

// The port's own log lines get a time stamp and a line end like every other
// line, so that they do not run into the next one.

// COM port n is a network line when its entry beside the library says so.
CVRTSerial::CVRTSerial() : CVRTSerial(std::make_unique<netline::LineDevice>()) {}

CVRTSerial::CVRTSerial(std::unique_ptr<platform::SerialDevice> device)
    : device_(std::move(device)) {}

CVRTSerial::~CVRTSerial() { Close(); }

int CVRTSerial::Open(int comPort) {
  if (device_->IsOpen()) device_->Close();
  const uint32_t error = device_->Open(comPort);
  if (error != 0) {
    lastError_ = error;
    VRT_LOG_LINE("Serial.Open: Failed to open COM%d: %d\n", comPort, static_cast<int>(error));
    state_ = kFailed;
    return static_cast<int>(error);
  }
  // A failed set-up closes the port again, so that the next attempt is not
  // refused as busy because of this one.
  if (!device_->BuildSettings(mode_)) {
    VRT_LOG_LINE("COMM(%s).Open: Invalid port mode string '%s' (error %d).\n",
                 device_->DevicePath(comPort).c_str(), mode_.c_str(), -10);
    device_->Close();
    state_ = kFailed;
    return QUARO7_BAD_PORT_MODE;
  }
  if (const uint32_t e = device_->ApplySettings(); e != 0) {
    lastError_ = e;
    VRT_LOG_LINE("Serial.Open: Failed to set parameter COM%d: %d\n", comPort, static_cast<int>(e));
    device_->Close();
    state_ = kFailed;
    return static_cast<int>(e);
  }
  if (const uint32_t e = device_->SetTimeouts(); e != 0) {
    lastError_ = e;
    VRT_LOG_LINE("Serial.Open: Failed to set timeouts COM%d: %d\n", comPort, static_cast<int>(e));
    device_->Close();
    state_ = kFailed;
    return QUARO7_TIMEOUTS_FAILED;
  }
  state_ = kOpen;
  port_ = comPort;
  return 0;
}

int CVRTSerial::Close() {
  if (state_ == kNeverOpened || state_ == kClosed || !device_->IsOpen()) return 0;
  const uint32_t error = device_->Close();
  if (error != 0) {
    VRT_LOG_LINE("Serial.Close: Failed to close COM%d: %d\n", port_, static_cast<int>(error));
    state_ = kFailed;
    return 0;
  }
  state_ = kClosed;
  return 1;
}

int CVRTSerial::Write(const void* data, size_t length) {
  if (data == nullptr || length >= kLastLineSize) {
    state_ = kFailed;
    return QUARO7_LINE_ERROR;
  }
  if (data != lastLine_) {
    std::memcpy(lastLine_, data, length);
    lastLine_[length] = 0;
  }
  // Whatever waits in the receive buffer now came before this line: an
  // answer that arrived after its own read gave up (a dome answering late).
  // Read after this line, it would pass for this line's answer, and every
  // later command would take the answer of the one before.
  if (device_->IsOpen()) device_->PurgeReceive();
  size_t written = 0;
  if (!device_->IsOpen() || !device_->Write(data, length, &written)) {
    state_ = kFailed;
    return QUARO7_LINE_ERROR;
  }
  return static_cast<int>(written);
}

bool CVRTSerial::ClearLineError() {
  const uint32_t error = device_->ClearError();
  if (error == 0) return true;
  VRT_LOG_LINE("Serial.ReadData: Serious serial port error with ClearCommError(): %d\n",
               static_cast<int>(error));
  state_ = kFailed;
  return false;
}

int CVRTSerial::ReadData(void* buffer, size_t count) {
  char* out = static_cast<char*>(buffer);
  // Nothing to read into fails as the line does (-4), not as a bad argument.
  if (out == nullptr || count == 0) return -4;
  if (GivingUp()) return 0;
  if (!ClearLineError()) return QUARO7_LINE_ERROR;
  int readFailures = 0;
  int badReplies = 0;
  size_t got = 0;
  for (;;) {
    if (!device_->IsOpen()) return QUARO7_LINE_ERROR;
    // A line being left waits for no more than the read that was running.
    if (GivingUp() && readFailures + badReplies > 0) break;
    std::memset(out, 0, count < 4 ? count : 4);
    got = 0;
    if (!device_->Read(out, count, &got)) {
      if (!ClearLineError()) return QUARO7_LINE_ERROR;
      platform::SleepMs(kReadFailurePauseMs);
      if (++readFailures >= kMaxReadFailures) {
        VRT_LOG_LINE("Serial.ReadData: Serial port read error\n");
        state_ = kFailed;
        return QUARO7_LINE_ERROR;
      }
      continue;
    }
    if (got >= 2 && out[0] == 'O' && out[1] == 'L') {
      VRT_LOG_LINE("Serial.ReadData: Remote node off line\n");
      break;
    }
    if (quaro7::IsAcceptedReply(out, got)) break;
    if (badReplies >= kMaxResends || GivingUp()) break;
    ++badReplies;
    const size_t length = std::strlen(lastLine_);
    size_t written = 0;
    if (length == 0 || !device_->Write(lastLine_, length, &written) || written == 0)
      VRT_LOG_LINE("Serial.ReadData: Serial port write error\n");
  }
  device_->PurgeReceive();
  return static_cast<int>(got);
}

int CVRTSerial::ReadForCamera(void* buffer, size_t count, const CVRTCamera* camera) {
  if (camera == nullptr || camera->WaitForResponse == 0 || GivingUp()) return 0;
  // Nothing to write fails as the line does (-4), not as a bad argument.
  if (buffer == nullptr || count == 0) return -4;
  if (device_->ClearError() != 0) {
    VRT_LOG_LINE("Serial.ReadData: Serial port error with ClearCommError()\n");
    state_ = kFailed;
    return QUARO7_LINE_ERROR;
  }
  if (!device_->IsOpen()) return QUARO7_LINE_ERROR;
  int failures = 0;
  for (;;) {
    size_t got = 0;
    if (device_->Read(buffer, count, &got)) {
      device_->PurgeReceive();
      return static_cast<int>(got);
    }
    if (!ClearLineError()) return QUARO7_LINE_ERROR;
    platform::SleepMs(kReadFailurePauseMs);
    if (++failures >= kMaxReadFailures) {
      state_ = kFailed;
      return QUARO7_LINE_ERROR;
    }
    if (!device_->IsOpen()) return QUARO7_LINE_ERROR;
  }
}
