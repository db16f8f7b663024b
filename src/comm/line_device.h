// COM port n as the driver opens it: a network line when its entry beside
// the library is a network line file (ports/COM<n>, a regular file), else
// the system's own serial port. Which one is decided at each open.
#pragma once

#include <memory>
#include <string>

#include "comm/line_entry.h"
#include "platform/serial_device.h"

namespace netline {

class LineDevice final : public platform::SerialDevice {
 public:
  // The local port is the system's (SerialDevice::Create) unless given.
  LineDevice();
  explicit LineDevice(std::unique_ptr<platform::SerialDevice> local);
  ~LineDevice() override;

  std::string DevicePath(int comPort) const override;
  uint32_t Open(int comPort) override;
  bool BuildSettings(const std::string& mode) override { return Active().BuildSettings(mode); }
  uint32_t ApplySettings() override { return Active().ApplySettings(); }
  uint32_t SetTimeouts() override { return Active().SetTimeouts(); }
  bool IsOpen() const override { return Active().IsOpen(); }
  uint32_t ClearError() override { return Active().ClearError(); }
  bool Read(void* buffer, size_t count, size_t* got) override {
    return Active().Read(buffer, count, got);
  }
  bool Write(const void* data, size_t count, size_t* written) override {
    return Active().Write(data, count, written);
  }
  void PurgeReceive() override { Active().PurgeReceive(); }
  uint32_t Close() override { return Active().Close(); }
  uint32_t LastError() const override {
    return lastError_ != 0 ? lastError_ : Active().LastError();
  }

 private:
  platform::SerialDevice& Active() const { return network_ ? *network_ : *local_; }

  std::unique_ptr<platform::SerialDevice> local_;
  std::unique_ptr<platform::SerialDevice> network_;
  uint32_t lastError_ = 0;
};

}  // namespace netline
