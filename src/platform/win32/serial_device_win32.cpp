// A COM port through the Windows communications API, opened for synchronous
// I/O. Error codes are GetLastError() values.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "platform/serial_device.h"

namespace platform {
namespace {

// Read: 2000 ms plus 1 ms per requested byte in all, no interval limit;
// write: 300 ms plus 1 ms per byte.
constexpr COMMTIMEOUTS kTimeouts = {0, 1, 2000, 1, 300};

class Win32SerialDevice : public SerialDevice {
 public:
  Win32SerialDevice() { ZeroMemory(&dcb_, sizeof dcb_); }
  ~Win32SerialDevice() override { Close(); }

  Win32SerialDevice(const Win32SerialDevice&) = delete;
  Win32SerialDevice& operator=(const Win32SerialDevice&) = delete;

  std::string DevicePath(int comPort) const override {
    char path[20];
    std::snprintf(path, sizeof path, "\\\\.\\COM%d", comPort);
    return path;
  }

  uint32_t Open(int comPort) override {
    if (IsOpen()) Close();
    const std::string path = DevicePath(comPort);
    HANDLE handle =
        CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return Fail();
    handle_ = handle;
    return 0;
  }

  bool BuildSettings(const std::string& mode) override {
    // Not every system's parser refuses a mode without any setting in it.
    if (mode.find_first_not_of(" \t") == std::string::npos) {
      Fail(ERROR_INVALID_PARAMETER);
      return false;
    }
    DCB dcb;
    ZeroMemory(&dcb, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    if (!BuildCommDCBA(mode.c_str(), &dcb)) {
      Fail();
      return false;
    }
    // Parity checked, DTR and RTS held low, and a line error does not stop
    // every further read and write until it is cleared.
    dcb.fParity = TRUE;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    dcb.fAbortOnError = FALSE;
    dcb_ = dcb;
    return true;
  }

  uint32_t ApplySettings() override {
    if (!IsOpen()) return Fail(ERROR_INVALID_HANDLE);
    if (dcb_.DCBlength == 0) return Fail(ERROR_INVALID_PARAMETER);
    DCB dcb = dcb_;
    if (!SetCommState(handle_, &dcb)) return Fail();
    return 0;
  }

  uint32_t SetTimeouts() override {
    if (!IsOpen()) return Fail(ERROR_INVALID_HANDLE);
    COMMTIMEOUTS timeouts = kTimeouts;
    if (!SetCommTimeouts(handle_, &timeouts)) return Fail();
    return 0;
  }

  bool IsOpen() const override { return handle_ != INVALID_HANDLE_VALUE; }

  uint32_t ClearError() override {
    if (!IsOpen()) return Fail(ERROR_INVALID_HANDLE);
    DWORD errors = 0;
    COMSTAT status;
    if (!ClearCommError(handle_, &errors, &status)) return Fail();
    return 0;
  }

  // A reply ends at its carriage return. The first byte is waited for with
  // a plain read under the port's time-outs; the rest is taken as it comes
  // in until a carriage return or count bytes are there, or the read's whole
  // time-out (2000 ms + 1 ms per requested byte) has run out.
  bool Read(void* buffer, size_t count, size_t* got) override {
    if (got != nullptr) *got = 0;
    if (!IsOpen()) {
      Fail(ERROR_INVALID_HANDLE);
      return false;
    }
    char* out = static_cast<char*>(buffer);
    const DWORD start = GetTickCount();
    const DWORD limit = kTimeouts.ReadTotalTimeoutConstant +
                        kTimeouts.ReadTotalTimeoutMultiplier * static_cast<DWORD>(count);
    DWORD n = 0;
    if (!ReadFile(handle_, out, count == 0 ? 0 : 1, &n, nullptr)) {
      Fail();
      return false;
    }
    size_t total = n;
    while (total > 0 && total < count && std::memchr(out, '\r', total) == nullptr) {
      DWORD errors = 0;
      COMSTAT status;
      ZeroMemory(&status, sizeof status);
      if (!ClearCommError(handle_, &errors, &status)) {
        if (got != nullptr) *got = total;
        Fail();
        return false;
      }
      if (status.cbInQue > 0) {
        const size_t left = count - total;
        const DWORD want = status.cbInQue < left ? status.cbInQue : static_cast<DWORD>(left);
        n = 0;
        if (!ReadFile(handle_, out + total, want, &n, nullptr)) {
          if (got != nullptr) *got = total;
          Fail();
          return false;
        }
        total += n;
        if (n > 0) continue;
      }
      if (GetTickCount() - start >= limit) break;
      Sleep(1);
    }
    if (got != nullptr) *got = total;
    return true;
  }

  bool Write(const void* data, size_t count, size_t* written) override {
    DWORD n = 0;
    const bool ok = IsOpen() && WriteFile(handle_, data, static_cast<DWORD>(count), &n, nullptr);
    if (written != nullptr) *written = n;
    if (!ok) Fail(IsOpen() ? GetLastError() : ERROR_INVALID_HANDLE);
    return ok;
  }

  void PurgeReceive() override {
    if (IsOpen() && !PurgeComm(handle_, PURGE_RXCLEAR)) Fail();
  }

  uint32_t Close() override {
    if (!IsOpen()) return 0;
    HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    if (!CloseHandle(handle)) return Fail();
    return 0;
  }

  uint32_t LastError() const override { return lastError_; }

 private:
  uint32_t Fail(DWORD code) {
    lastError_ = code != 0 ? code : ERROR_GEN_FAILURE;
    return lastError_;
  }
  uint32_t Fail() { return Fail(GetLastError()); }

  HANDLE handle_ = INVALID_HANDLE_VALUE;
  DCB dcb_;
  uint32_t lastError_ = 0;
};

}  // namespace

std::unique_ptr<SerialDevice> SerialDevice::Create() {
  return std::make_unique<Win32SerialDevice>();
}

}  // namespace platform
