// Probing a COM port for the connection setup dialog's port list: the port
// is opened for reading and writing without sharing and its communication
// state is read.
#include <windows.h>

#include <string>

#include "platform/serial_port_list.h"

namespace platform {
namespace {
constexpr DWORD kProbePauseMs = 100;
}  // namespace

bool ProbePort(const std::string& digits) {
  const std::string path = "\\\\.\\COM" + digits;
  HANDLE port = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            0, nullptr);
  if (port == INVALID_HANDLE_VALUE) {
    Sleep(kProbePauseMs);
    return false;
  }
  DCB state{};
  state.DCBlength = sizeof state;
  const bool readable = GetCommState(port, &state) != 0;
  if (readable) Sleep(kProbePauseMs);
  CloseHandle(port);
  return readable;
}

}  // namespace platform
