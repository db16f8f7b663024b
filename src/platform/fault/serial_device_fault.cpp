// The COM port with faults: the open is refused (port busy), the line
// settings or the time-outs are not accepted, a line error cannot be
// cleared, a read or a write fails (nothing is read or sent), the purge does
// nothing (what waits stays), the close reports an error.
#include <errno.h>

#include "platform/fault/fault_points.h"
#include "platform/fault/real_calls.h"

namespace platform {
namespace {

class FaultySerialDevice : public SerialDevice {
 public:
  explicit FaultySerialDevice(std::unique_ptr<SerialDevice> real) : Real(std::move(real)) {}

  std::string DevicePath(int comPort) const override { return Real->DevicePath(comPort); }
  uint32_t Open(int comPort) override {
    if (fault::ShouldFail("serial.open")) return Injected(kErrorAccessDenied);
    return Real->Open(comPort);
  }
  bool BuildSettings(const std::string& mode) override { return Real->BuildSettings(mode); }
  uint32_t ApplySettings() override {
    if (fault::ShouldFail("serial.settings")) return Injected(EINVAL);
    return Real->ApplySettings();
  }
  uint32_t SetTimeouts() override {
    if (fault::ShouldFail("serial.timeouts")) return Injected(EINVAL);
    return Real->SetTimeouts();
  }
  bool IsOpen() const override { return Real->IsOpen(); }
  uint32_t ClearError() override {
    if (fault::ShouldFail("serial.clear")) return Injected(EIO);
    return Real->ClearError();
  }
  bool Read(void* buffer, size_t count, size_t* got) override {
    if (fault::ShouldFail("serial.read")) {
      if (got != nullptr) *got = 0;
      Injected(EIO);
      return false;
    }
    return Real->Read(buffer, count, got);
  }
  bool Write(const void* data, size_t count, size_t* written) override {
    if (fault::ShouldFail("serial.write")) {
      if (written != nullptr) *written = 0;
      Injected(EIO);
      return false;
    }
    return Real->Write(data, count, written);
  }
  void PurgeReceive() override {
    if (fault::ShouldFail("serial.purge")) return;
    Real->PurgeReceive();
  }
  uint32_t Close() override {
    const uint32_t error = Real->Close();
    if (fault::ShouldFail("serial.close")) return Injected(EIO);
    return error;
  }
  uint32_t LastError() const override {
    return LastInjected != 0 ? LastInjected : Real->LastError();
  }

 private:
  uint32_t Injected(uint32_t error) {
    LastInjected = error;
    return error;
  }

  std::unique_ptr<SerialDevice> Real;
  uint32_t LastInjected = 0;
};

}  // namespace

std::unique_ptr<SerialDevice> SerialDevice::Create() {
  return std::make_unique<FaultySerialDevice>(NewPosixSerialDevice());
}

}  // namespace platform
