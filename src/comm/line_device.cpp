#include "comm/line_device.h"

#include <utility>

#include "comm/network_device.h"
#include "driver/log.h"

namespace netline {

LineDevice::LineDevice() : LineDevice(platform::SerialDevice::Create()) {}

LineDevice::LineDevice(std::unique_ptr<platform::SerialDevice> local) : local_(std::move(local)) {}

// Only a port that is open is closed: the driver's own close reports a
// failure to close, and a close of nothing has none to report.
LineDevice::~LineDevice() {
  if (IsOpen()) Close();
}

std::string LineDevice::DevicePath(int comPort) const {
  Address address;
  std::string path;
  switch (LookUpPort(comPort, &address, nullptr, nullptr, &path)) {
    case EntryKind::kNetwork:
      return address.Text();
    case EntryKind::kMalformed:
      return path;
    case EntryKind::kLocal:
      break;
  }
  return local_->DevicePath(comPort);
}

uint32_t LineDevice::Open(int comPort) {
  if (Active().IsOpen()) Active().Close();
  network_.reset();
  lastError_ = 0;
  Address address;
  std::string text, why, path;
  switch (LookUpPort(comPort, &address, &text, &why, &path)) {
    case EntryKind::kLocal:
      return local_->Open(comPort);
    case EntryKind::kMalformed:
      VRT_LOG_LINE(
          "NetLine.Open: COM%d: %s names no network line (%s): \"%s\"; expected "
          "rfc2217://HOST:PORT or tcp://HOST:PORT\n",
          comPort, path.c_str(), why.c_str(), Quoted(text).c_str());
      lastError_ = platform::kErrorInvalidData;
      return lastError_;
    case EntryKind::kNetwork:
      break;
  }
  network_ = std::make_unique<NetworkSerialDevice>(address);
  return network_->Open(comPort);
}

}  // namespace netline
