// Probing a COM port for the connection setup dialog's port list: the port
// is opened as the driver opens it (read and write, no controlling tty,
// exclusive lock) and its terminal settings are read.
#include <fcntl.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <memory>
#include <string>

#include "platform/serial_device.h"
#include "platform/serial_port_list.h"
#include "platform/tick_clock.h"

namespace platform {
namespace {

constexpr uint32_t kProbePauseMs = 100;
constexpr int kHighestPort = 255;

// The port number of a digit text, or 0 when it is none ("", "3x", "0999").
int PortOfDigits(const std::string& digits) {
  if (digits.empty() || digits.size() > 3) return 0;
  int n = 0;
  for (char c : digits) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return 0;
    n = n * 10 + (c - '0');
  }
  return n <= kHighestPort ? n : 0;
}

}  // namespace

bool ProbePort(const std::string& digits) {
  const int port = PortOfDigits(digits);
  const std::string path = port > 0 ? SerialDevice::Create()->DevicePath(port) : std::string();
  const int fd = path.empty() ? -1 : open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    SleepMs(kProbePauseMs);
    return false;
  }
  // Another user of the port (this driver in another process) holds the
  // lock; a port that is no terminal has no line settings.
  termios settings{};
  const bool usable = flock(fd, LOCK_EX | LOCK_NB) == 0 && tcgetattr(fd, &settings) == 0;
  if (usable) SleepMs(kProbePauseMs);
  close(fd);
  return usable;
}

}  // namespace platform
