// The termios port against a pseudo-terminal: the test holds the master side
// and plays the dome; the port under test opens the slave through a COM<n>
// link in a temporary ports directory.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "platform/posix/serial_device_posix.h"
#include "platform/serial_device.h"

namespace {

using platform::SerialDevice;
using Clock = std::chrono::steady_clock;

constexpr int kPort = 7;

long long MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

class PosixSerialTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char dirTemplate[] = "/tmp/q7-ports-XXXXXX";
    ASSERT_NE(mkdtemp(dirTemplate), nullptr);
    dir_ = dirTemplate;
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master_, 0);
    ASSERT_EQ(grantpt(master_), 0);
    ASSERT_EQ(unlockpt(master_), 0);
    char slave[128];
    ASSERT_EQ(ptsname_r(master_, slave, sizeof slave), 0);
    slave_ = slave;
    ASSERT_EQ(symlink(slave, Link(kPort).c_str()), 0);
    platform::SetPortDirectoryForTesting(dir_);
    port_ = SerialDevice::Create();
  }

  void TearDown() override {
    port_.reset();
    platform::SetPortDirectoryForTesting("");
    CloseMaster();
    for (const int n : {kPort, 8, 9}) unlink(Link(n).c_str());
    unlink((dir_ + "/plain").c_str());
    rmdir(dir_.c_str());
  }

  std::string Link(int n) const { return dir_ + "/COM" + std::to_string(n); }

  void CloseMaster() {
    if (master_ >= 0) close(master_);
    master_ = -1;
  }

  // Opens the test port as the connection does.
  void OpenConfigured(SerialDevice* port, const char* mode = "96,E,8,1") {
    ASSERT_EQ(port->Open(kPort), 0u);
    ASSERT_TRUE(port->BuildSettings(mode));
    ASSERT_EQ(port->ApplySettings(), 0u);
    ASSERT_EQ(port->SetTimeouts(), 0u);
  }

  void DomeSends(const std::string& text) {
    ASSERT_EQ(write(master_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }

  // What the port wrote, as far as it arrives within a second.
  std::string DomeReceives(size_t count) {
    std::string got;
    const auto start = Clock::now();
    while (got.size() < count && MsSince(start) < 1000) {
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      char buffer[64];
      const ssize_t n = read(master_, buffer, sizeof buffer);
      if (n > 0) got.append(buffer, static_cast<size_t>(n));
    }
    return got;
  }

  std::string dir_;
  std::string slave_;
  int master_ = -1;
  std::unique_ptr<SerialDevice> port_;
};

TEST_F(PosixSerialTest, NamesPortsByLinkOrBuiltInDevice) {
  EXPECT_EQ(port_->DevicePath(kPort), Link(kPort));
  EXPECT_EQ(port_->DevicePath(200), "/dev/ttyS199");
  // A link whose adapter is gone still names the port.
  ASSERT_EQ(symlink("/dev/serial/by-id/no-such-adapter", Link(8).c_str()), 0);
  EXPECT_EQ(port_->DevicePath(8), Link(8));
}

TEST_F(PosixSerialTest, MissingPortsAndNonTerminalsFailToOpen) {
  for (const int n : {0, -1, -2147483647 - 1, 200}) {
    EXPECT_EQ(port_->Open(n), platform::kErrorFileNotFound) << n;
    EXPECT_EQ(port_->LastError(), platform::kErrorFileNotFound);
    EXPECT_FALSE(port_->IsOpen());
  }
  ASSERT_EQ(symlink("/dev/serial/by-id/no-such-adapter", Link(8).c_str()), 0);
  EXPECT_EQ(port_->Open(8), platform::kErrorFileNotFound);

  const std::string plain = dir_ + "/plain";
  FILE* f = fopen(plain.c_str(), "w");
  ASSERT_NE(f, nullptr);
  fclose(f);
  ASSERT_EQ(symlink(plain.c_str(), Link(9).c_str()), 0);
  EXPECT_EQ(port_->Open(9), static_cast<uint32_t>(ENOTTY));
  EXPECT_FALSE(port_->IsOpen());

  // The object stays usable after failures.
  EXPECT_EQ(port_->Open(kPort), 0u);
  EXPECT_TRUE(port_->IsOpen());
}

TEST_F(PosixSerialTest, PortIsExclusiveUntilClosed) {
  ASSERT_EQ(port_->Open(kPort), 0u);
  auto other = SerialDevice::Create();
  EXPECT_EQ(other->Open(kPort), platform::kErrorAccessDenied);
  EXPECT_EQ(other->LastError(), platform::kErrorAccessDenied);
  EXPECT_FALSE(other->IsOpen());

  EXPECT_EQ(port_->Close(), 0u);
  EXPECT_FALSE(port_->IsOpen());
  EXPECT_EQ(port_->Close(), 0u);  // closing twice is harmless
  EXPECT_EQ(other->Open(kPort), 0u);
  EXPECT_EQ(port_->Open(kPort), platform::kErrorAccessDenied);
}

TEST_F(PosixSerialTest, TerminalHeldExclusivelyByAnotherProgramIsBusyAndStaysHeld) {
  const int other = open(slave_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(other, 0);
  auto held = [other] {
    int flag = -1;
    EXPECT_EQ(ioctl(other, TIOCGEXCL, &flag), 0);
    return flag;
  };
  // The port's own hold lasts as long as the port is open.
  ASSERT_EQ(port_->Open(kPort), 0u);
  EXPECT_EQ(held(), 1);
  EXPECT_EQ(port_->Close(), 0u);
  EXPECT_EQ(held(), 0);

  // Another program's hold without a lock (a root host gets past it at
  // open): busy, and neither the failed open nor a close takes the hold away.
  ASSERT_EQ(ioctl(other, TIOCEXCL), 0);
  EXPECT_EQ(port_->Open(kPort), platform::kErrorAccessDenied);
  EXPECT_EQ(port_->LastError(), platform::kErrorAccessDenied);
  EXPECT_FALSE(port_->IsOpen());
  EXPECT_EQ(port_->Close(), 0u);
  port_.reset();
  EXPECT_EQ(held(), 1);

  ASSERT_EQ(ioctl(other, TIOCNXCL), 0);
  port_ = SerialDevice::Create();
  EXPECT_EQ(port_->Open(kPort), 0u);
  close(other);
}

TEST_F(PosixSerialTest, AppliesRawModeAndRequestedFlowControl) {
  OpenConfigured(port_.get());
  termios tio{};
  ASSERT_EQ(tcgetattr(master_, &tio), 0);  // the master sees the slave's settings
  EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B9600));
  EXPECT_EQ(cfgetispeed(&tio), static_cast<speed_t>(B9600));
  EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(tio.c_oflag & OPOST, 0u);
  EXPECT_NE(tio.c_iflag & INPCK, 0u);
  EXPECT_EQ(tio.c_iflag & (IXON | IXOFF), 0u);
  EXPECT_EQ(tio.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
  EXPECT_EQ(tio.c_cflag & CRTSCTS, 0u);

  ASSERT_TRUE(port_->BuildSettings("baud=115200 parity=n data=8 stop=1 xon=on"));
  ASSERT_EQ(port_->ApplySettings(), 0u);
  ASSERT_EQ(tcgetattr(master_, &tio), 0);
  EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B115200));
  EXPECT_EQ(tio.c_iflag & INPCK, 0u);
  EXPECT_EQ(tio.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));

  // A rejected string keeps the settings built before.
  EXPECT_FALSE(port_->BuildSettings(""));
  EXPECT_FALSE(port_->BuildSettings("96,E,8,1,q"));
  EXPECT_EQ(port_->ApplySettings(), 0u);
}

TEST_F(PosixSerialTest, WritesAndReadsThroughTheLine) {
  OpenConfigured(port_.get());
  size_t written = 0;
  ASSERT_TRUE(port_->Write("@2,1\r", 5, &written));
  EXPECT_EQ(written, 5u);
  EXPECT_EQ(DomeReceives(5), "@2,1\r");

  // The answer comes in two pieces; the read returns as soon as all 3 bytes
  // are there, long before the time-out.
  std::thread dome([this] {
    DomeSends("O");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    DomeSends("K\rextra");
  });
  char reply[4] = {};
  size_t got = 0;
  const auto start = Clock::now();
  ASSERT_TRUE(port_->Read(reply, 3, &got));
  const long long elapsed = MsSince(start);
  dome.join();
  EXPECT_EQ(got, 3u);
  EXPECT_EQ(std::string(reply, got), "OK\r");
  EXPECT_LT(elapsed, 1000);

  // The rest waits in the receive buffer until it is purged.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  port_->PurgeReceive();
  DomeSends("NI\r");
  ASSERT_TRUE(port_->Read(reply, 3, &got));
  EXPECT_EQ(std::string(reply, got), "NI\r");

  EXPECT_TRUE(port_->Read(reply, 0, &got));
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(port_->ClearError(), 0u);
}

TEST_F(PosixSerialTest, AReplyEndsAtItsCarriageReturn) {
  OpenConfigured(port_.get());
  struct Case {
    const char* sent;
    size_t asked;
    const char* reply;
  };
  const Case cases[] = {{"O\r", 3, "O\r"},
                        {"\r", 3, "\r"},
                        {"OK1,23,4,56\r", 32, "OK1,23,4,56\r"},
                        {"\rOK", 3, "\r"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sent);
    port_->PurgeReceive();
    DomeSends(c.sent);
    char reply[32] = {};
    size_t got = 0;
    const auto start = Clock::now();
    ASSERT_TRUE(port_->Read(reply, c.asked, &got));
    EXPECT_LT(MsSince(start), 500);
    // What one read of the terminal brought may go past the CR; the reply
    // is there in full.
    EXPECT_EQ(std::string(reply, got).substr(0, std::strlen(c.reply)), c.reply);
    EXPECT_LE(got, std::strlen(c.sent));
  }
}

TEST_F(PosixSerialTest, SilentDomeTimesOutWithNothing) {
  OpenConfigured(port_.get());
  char reply[3];
  size_t got = 99;
  const auto start = Clock::now();
  EXPECT_TRUE(port_->Read(reply, 3, &got));
  const long long elapsed = MsSince(start);
  EXPECT_EQ(got, 0u);
  EXPECT_GE(elapsed, 1900);  // 2000 ms + 1 ms per byte
  EXPECT_LE(elapsed, 3000);
}

TEST_F(PosixSerialTest, VanishedDeviceFailsQuickly) {
  OpenConfigured(port_.get());
  DomeSends("O");
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  CloseMaster();

  char reply[3];
  size_t got = 0;
  const auto start = Clock::now();
  EXPECT_FALSE(port_->Read(reply, 3, &got));
  EXPECT_LT(MsSince(start), 500);
  EXPECT_NE(port_->LastError(), 0u);
  EXPECT_FALSE(port_->Read(reply, 3, &got));

  size_t written = 0;
  EXPECT_FALSE(port_->Write("@6,3\r", 5, &written));
  EXPECT_EQ(written, 0u);
  EXPECT_LT(MsSince(start), 500);
  EXPECT_EQ(port_->Close(), 0u);
}

TEST_F(PosixSerialTest, CallsOnAClosedPortFail) {
  char buffer[4];
  size_t n = 0;
  EXPECT_FALSE(port_->Read(buffer, 3, &n));
  EXPECT_EQ(port_->LastError(), static_cast<uint32_t>(EBADF));
  EXPECT_FALSE(port_->Write("x", 1, &n));
  EXPECT_NE(port_->ClearError(), 0u);
  EXPECT_NE(port_->SetTimeouts(), 0u);
  EXPECT_NE(port_->ApplySettings(), 0u);
  port_->PurgeReceive();
  EXPECT_EQ(port_->Close(), 0u);

  // Settings must be built before they are applied.
  ASSERT_EQ(port_->Open(kPort), 0u);
  EXPECT_NE(port_->ApplySettings(), 0u);
  EXPECT_FALSE(port_->Read(nullptr, 3, &n));
  EXPECT_FALSE(port_->Write(nullptr, 3, &n));
}

}  // namespace
