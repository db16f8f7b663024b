// The COM port as a POSIX terminal device (termios), opened exclusively and
// read and written with poll() against fixed total time-outs; a read also
// ends at a carriage return.
#include "platform/posix/serial_device_posix.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/posix/mode_string.h"
#include "platform/serial_device.h"

namespace platform {
namespace {

// Total time-outs: a read of k bytes gives up after 2000 + k ms, a write of
// k bytes after 300 + k ms.
constexpr int64_t kReadTimeoutConstantMs = 2000;
constexpr int64_t kReadTimeoutPerByteMs = 1;
constexpr int64_t kWriteTimeoutConstantMs = 300;
constexpr int64_t kWriteTimeoutPerByteMs = 1;

int64_t MonotonicMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Milliseconds left until deadline for poll(), at most INT32_MAX.
int RemainingMs(int64_t deadline) {
  const int64_t left = deadline - MonotonicMs();
  if (left <= 0) return 0;
  return left > INT32_MAX ? INT32_MAX : static_cast<int>(left);
}

// The system's meaning of an open failure in the codes the driver knows:
// 2 no such port, 5 port in use or access denied, else the errno value. A
// ttyS line without a UART behind it fails with EIO, whose value would
// otherwise read as "in use".
uint32_t OpenErrorCode(int err) {
  switch (err) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case EIO:
      return kErrorFileNotFound;
    case EBUSY:
    case EWOULDBLOCK:
    case EACCES:
    case EPERM:
      return kErrorAccessDenied;
    default:
      return static_cast<uint32_t>(err);
  }
}

struct Rate {
  uint32_t baud;
  speed_t speed;
};
const Rate kRates[] = {{110, B110},      {150, B150},     {300, B300},     {600, B600},
                       {1200, B1200},    {2400, B2400},   {4800, B4800},   {9600, B9600},
                       {19200, B19200},  {38400, B38400}, {57600, B57600}, {115200, B115200},
                       {230400, B230400}};

speed_t BaudConstant(uint32_t baud) {
  for (const Rate& r : kRates) {
    if (r.baud == baud) return r.speed;
  }
  return B0;
}

class PosixSerialDevice final : public SerialDevice {
 public:
  ~PosixSerialDevice() override { Close(); }

  std::string DevicePath(int comPort) const override {
    if (comPort < 1) return std::string();
    const std::string dir = PortDirectory();
    if (!dir.empty()) {
      const std::string link = dir + "/COM" + std::to_string(comPort);
      struct stat st {};
      if (lstat(link.c_str(), &st) == 0) return link;
    }
    return "/dev/ttyS" + std::to_string(comPort - 1);
  }

  uint32_t Open(int comPort) override {
    if (fd_ >= 0) Close();
    if (comPort < 1) return Fail(kErrorFileNotFound);
    const std::string path = DevicePath(comPort);
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return Fail(OpenErrorCode(errno));
    uint32_t code = 0;
    if (!isatty(fd)) {
      code = static_cast<uint32_t>(ENOTTY);
    } else if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      code = OpenErrorCode(errno);
    } else if (HeldExclusively(fd)) {
      // Another program holds the line for itself (without a lock beside
      // it). Root gets past such a hold at open(); the port is busy anyway.
      code = kErrorAccessDenied;
    } else if (ioctl(fd, TIOCEXCL) != 0) {
      code = OpenErrorCode(errno);
    }
    if (code != 0) {
      close(fd);  // also drops a lock taken above; another's hold stays
      return Fail(code);
    }
    fd_ = fd;
    ownExclusive_ = true;
    return 0;
  }

  bool BuildSettings(const std::string& mode) override {
    LineSettings parsed;
    if (!ParseModeString(mode, &parsed)) {
      Fail(static_cast<uint32_t>(EINVAL));
      return false;
    }
    settings_ = parsed;
    settingsBuilt_ = true;
    return true;
  }

  uint32_t ApplySettings() override {
    if (fd_ < 0) return Fail(static_cast<uint32_t>(EBADF));
    if (!settingsBuilt_) return Fail(static_cast<uint32_t>(EINVAL));
    termios tio{};
    if (tcgetattr(fd_, &tio) != 0) return FailErrno();
    cfmakeraw(&tio);
    // cfmakeraw leaves parity checking and input flow control as they were.
    tio.c_iflag &= ~static_cast<tcflag_t>(INPCK | IGNPAR | IXON | IXOFF | IXANY);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    switch (settings_.dataBits) {
      case 5:
        tio.c_cflag |= CS5;
        break;
      case 6:
        tio.c_cflag |= CS6;
        break;
      case 7:
        tio.c_cflag |= CS7;
        break;
      default:
        tio.c_cflag |= CS8;
        break;
    }
    switch (settings_.parity) {
      case Parity::kNone:
        break;
      case Parity::kEven:
        tio.c_cflag |= PARENB;
        break;
      case Parity::kOdd:
        tio.c_cflag |= PARENB | PARODD;
        break;
      case Parity::kMark:
        tio.c_cflag |= PARENB | PARODD | CMSPAR;
        break;
      case Parity::kSpace:
        tio.c_cflag |= PARENB | CMSPAR;
        break;
    }
    if (settings_.parity != Parity::kNone) tio.c_iflag |= INPCK;
    // With 5 data bits the UART turns the second stop bit into a half one.
    if (settings_.stopBits != StopBits::kOne) tio.c_cflag |= CSTOPB;
    tio.c_cflag |= CLOCAL | CREAD;
    if (settings_.ctsFlow) tio.c_cflag |= CRTSCTS;
    if (settings_.xonXoff) tio.c_iflag |= IXON | IXOFF;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    const speed_t speed = BaudConstant(settings_.baud);
    if (speed == B0) return Fail(static_cast<uint32_t>(EINVAL));
    if (cfsetispeed(&tio, speed) != 0 || cfsetospeed(&tio, speed) != 0) return FailErrno();
    if (tcsetattr(fd_, TCSANOW, &tio) != 0 && !AlreadyAppliedBarFormat(tio)) return FailErrno();
    // DTR and RTS stay low. A pseudo-terminal has no modem lines; that is fine.
    int lines = TIOCM_DTR | TIOCM_RTS;
    (void)ioctl(fd_, TIOCMBIC, &lines);
    return 0;
  }

  uint32_t SetTimeouts() override {
    if (fd_ < 0) return Fail(static_cast<uint32_t>(EBADF));
    readConstantMs_ = kReadTimeoutConstantMs;
    readPerByteMs_ = kReadTimeoutPerByteMs;
    writeConstantMs_ = kWriteTimeoutConstantMs;
    writePerByteMs_ = kWriteTimeoutPerByteMs;
    return 0;
  }

  bool IsOpen() const override { return fd_ >= 0; }

  uint32_t ClearError() override {
    // Line errors are not latched on a POSIX tty; there is nothing to clear.
    if (fd_ < 0) return Fail(static_cast<uint32_t>(EBADF));
    return 0;
  }

  bool Read(void* buffer, size_t count, size_t* got) override {
    size_t total = 0;
    const bool ok = ReadSome(static_cast<unsigned char*>(buffer), count, &total);
    if (got != nullptr) *got = total;
    return ok;
  }

  bool Write(const void* data, size_t count, size_t* written) override {
    size_t total = 0;
    const bool ok = WriteSome(static_cast<const unsigned char*>(data), count, &total);
    if (written != nullptr) *written = total;
    return ok;
  }

  void PurgeReceive() override {
    if (fd_ >= 0 && tcflush(fd_, TCIFLUSH) != 0) FailErrno();
  }

  uint32_t Close() override {
    if (fd_ < 0) return 0;
    const int fd = fd_;
    fd_ = -1;
    // Only the hold this port set itself is given up.
    if (ownExclusive_) (void)ioctl(fd, TIOCNXCL);
    ownExclusive_ = false;
    (void)flock(fd, LOCK_UN);
    if (close(fd) != 0 && errno != EINTR) return FailErrno();
    return 0;
  }

  uint32_t LastError() const override { return lastError_; }

 private:
  uint32_t Fail(uint32_t code) {
    lastError_ = code;
    return code;
  }
  uint32_t FailErrno() { return Fail(static_cast<uint32_t>(errno)); }
  bool Failed(uint32_t code) {
    lastError_ = code;
    return false;
  }
  bool FailedErrno() { return Failed(static_cast<uint32_t>(errno)); }

  // Whether the terminal is already held exclusively (TIOCEXCL). Called with
  // the lock taken, so the hold is not one of this driver's ports. A system
  // that cannot tell counts as not held.
  static bool HeldExclusively(int fd) {
#ifdef TIOCGEXCL
    int held = 0;
    return ioctl(fd, TIOCGEXCL, &held) == 0 && held != 0;
#else
    (void)fd;
    return false;
#endif
  }

  // A pseudo-terminal keeps no character format: it drops parity and forces
  // 8 data bits. Linux then refuses (EINVAL) a request whose only change is
  // that format, as when the port is opened a second time. Such a line is
  // set up as far as it can be.
  bool AlreadyAppliedBarFormat(const termios& wanted) {
    if (errno != EINVAL) return false;
    termios now{};
    if (tcgetattr(fd_, &now) != 0) {
      errno = EINVAL;
      return false;
    }
    const tcflag_t format = CSIZE | PARENB | PARODD | CMSPAR;
    const bool same =
        now.c_iflag == wanted.c_iflag && now.c_oflag == wanted.c_oflag &&
        now.c_lflag == wanted.c_lflag && (now.c_cflag & ~format) == (wanted.c_cflag & ~format) &&
        cfgetispeed(&now) == cfgetispeed(&wanted) && cfgetospeed(&now) == cfgetospeed(&wanted) &&
        now.c_cc[VMIN] == wanted.c_cc[VMIN] && now.c_cc[VTIME] == wanted.c_cc[VTIME];
    errno = EINVAL;
    return same;
  }

  bool ReadSome(unsigned char* buffer, size_t count, size_t* total) {
    if (fd_ < 0) return Failed(static_cast<uint32_t>(EBADF));
    if (count == 0) return true;
    if (buffer == nullptr) return Failed(static_cast<uint32_t>(EINVAL));
    const int64_t deadline =
        MonotonicMs() + readConstantMs_ + readPerByteMs_ * static_cast<int64_t>(count);
    while (*total < count) {
      pollfd p{fd_, POLLIN, 0};
      const int ready = poll(&p, 1, RemainingMs(deadline));
      if (ready < 0) {
        if (errno == EINTR) continue;
        return FailedErrno();
      }
      if (ready == 0) return true;  // time-out: what arrived is the answer
      if (p.revents & POLLNVAL) return Failed(static_cast<uint32_t>(EBADF));
      if (!(p.revents & POLLIN)) return Failed(static_cast<uint32_t>(EIO));  // hung up
      const ssize_t n = read(fd_, buffer + *total, count - *total);
      if (n > 0) {
        const unsigned char* fresh = buffer + *total;
        *total += static_cast<size_t>(n);
        // A reply ends at its carriage return: a short one ("O\r", a bare
        // CR) is there in full and does not wait out the time-out.
        if (std::memchr(fresh, '\r', static_cast<size_t>(n)) != nullptr) return true;
      } else if (n == 0) {
        return Failed(static_cast<uint32_t>(EIO));  // end of file: the tty hung up
      } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
        // Readable but nothing to read: do not spin on it.
        timespec pause{0, 1000000};
        nanosleep(&pause, nullptr);
      } else if (errno != EINTR) {
        return FailedErrno();
      }
    }
    return true;
  }

  bool WriteSome(const unsigned char* data, size_t count, size_t* total) {
    if (fd_ < 0) return Failed(static_cast<uint32_t>(EBADF));
    if (count == 0) return true;
    if (data == nullptr) return Failed(static_cast<uint32_t>(EINVAL));
    const int64_t deadline =
        MonotonicMs() + writeConstantMs_ + writePerByteMs_ * static_cast<int64_t>(count);
    while (*total < count) {
      const ssize_t n = write(fd_, data + *total, count - *total);
      if (n > 0) {
        *total += static_cast<size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return FailedErrno();
      // The output buffer is full: wait for room until the time-out.
      for (;;) {
        pollfd p{fd_, POLLOUT, 0};
        const int ready = poll(&p, 1, RemainingMs(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return FailedErrno();
        if (ready == 0) return true;  // time-out: *total is what went out
        if (p.revents & POLLNVAL) return Failed(static_cast<uint32_t>(EBADF));
        if (!(p.revents & POLLOUT)) return Failed(static_cast<uint32_t>(EIO));
        break;
      }
    }
    return true;
  }

  int fd_ = -1;
  bool ownExclusive_ = false;  // this port set the terminal's exclusive hold
  LineSettings settings_;
  bool settingsBuilt_ = false;
  int64_t readConstantMs_ = kReadTimeoutConstantMs;
  int64_t readPerByteMs_ = kReadTimeoutPerByteMs;
  int64_t writeConstantMs_ = kWriteTimeoutConstantMs;
  int64_t writePerByteMs_ = kWriteTimeoutPerByteMs;
  uint32_t lastError_ = 0;
};

}  // namespace

std::unique_ptr<SerialDevice> NewPosixSerialDevice() {
  return std::make_unique<PosixSerialDevice>();
}

}  // namespace platform
