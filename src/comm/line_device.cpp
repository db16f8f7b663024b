#include "comm/line_device.h"

#include <cstdio>
#include <utility>

#include "comm/network_device.h"
#include "driver/log.h"
#include "platform/port_entry.h"

namespace netline {

std::string Quoted(const std::string& text) {
  constexpr size_t kShown = 120;
  std::string out;
  for (size_t i = 0; i < text.size() && i < kShown; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c > 0x7e || c == '\\') {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  if (text.size() > kShown) out += "...";
  return out;
}

EntryKind LookUpPort(int comPort, Address* address, std::string* text, std::string* why,
                     std::string* path) {
  std::string file;
  std::string line;
  bool readable = false;
  if (!platform::ReadNetworkLineFile(comPort, &file, &line, &readable)) return EntryKind::kLocal;
  if (path != nullptr) *path = file;
  if (text != nullptr) *text = line;
  if (!readable) {
    if (why != nullptr) *why = "the file cannot be read";
    return EntryKind::kMalformed;
  }
  Address parsed;
  std::string reason;
  if (!ParseAddress(line, &parsed, &reason)) {
    if (why != nullptr) *why = reason;
    return EntryKind::kMalformed;
  }
  if (address != nullptr) *address = parsed;
  return EntryKind::kNetwork;
}

LineDevice::LineDevice() : LineDevice(platform::SerialDevice::Create()) {}

LineDevice::LineDevice(std::unique_ptr<platform::SerialDevice> local) : local_(std::move(local)) {}

LineDevice::~LineDevice() { Close(); }

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
  Active().Close();
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
