// The simulator's faulty domes: babble sent unasked, and the control
// commands that switch a running dome's behaviour.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>

#include "domesim/domesim.h"

namespace domesim {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

// The pty slave opened raw, as the driver's port would be.
class RawPort {
 public:
  explicit RawPort(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd_ < 0) return;
    termios raw{};
    ::tcgetattr(fd_, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(fd_, TCSANOW, &raw);
  }
  ~RawPort() {
    if (fd_ >= 0) ::close(fd_);
  }
  RawPort(const RawPort&) = delete;
  RawPort& operator=(const RawPort&) = delete;
  bool ok() const { return fd_ >= 0; }

  // Everything that arrives within ms.
  std::string ReadFor(int ms) {
    std::string got;
    const auto end = steady_clock::now() + milliseconds(ms);
    for (;;) {
      const auto left = std::chrono::duration_cast<milliseconds>(end - steady_clock::now()).count();
      if (left <= 0) return got;
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
      char buffer[256];
      const ssize_t n = ::read(fd_, buffer, sizeof buffer);
      if (n <= 0) return got;
      got.append(buffer, static_cast<size_t>(n));
    }
  }
  void Write(const std::string& bytes) {
    ASSERT_EQ(::write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }

 private:
  int fd_ = -1;
};

TEST(DomeBabble, SendsChunksUnaskedUntilStopped) {
  DomeSimulator sim;
  RawPort port(sim.SlavePath());
  ASSERT_TRUE(port.ok());
  EXPECT_EQ(port.ReadFor(80), "");  // a quiet dome says nothing

  sim.SetBabble(10, "ZZ");
  EXPECT_EQ(sim.BabbleIntervalMs(), 10);
  const std::string heard = port.ReadFor(300);
  // Within 50 ms of the setting, then every 10 ms: 20 to 30 chunks in all,
  // generously bounded for a loaded machine.
  EXPECT_GE(heard.size(), 2u * 5);
  EXPECT_LE(heard.size(), 2u * 40);
  EXPECT_EQ(heard.find_first_not_of('Z'), std::string::npos);
  EXPECT_GE(sim.BabbleCount(), heard.size() / 2);

  sim.SetBabble(0);
  port.ReadFor(80);  // what was already under way
  EXPECT_EQ(port.ReadFor(150), "");
  EXPECT_TRUE(sim.Lines().empty());  // babble is no line received
}

TEST(DomeBabble, RandomBabbleIsPrintableWithCarriageReturnsAndAnswersStillCome) {
  DomeSimulator sim;
  RawPort port(sim.SlavePath());
  ASSERT_TRUE(port.ok());
  sim.SetBabble(5);
  const std::string heard = port.ReadFor(400);
  ASSERT_GE(heard.size(), 8u * 4);
  EXPECT_NE(heard.find('\r'), std::string::npos);
  for (char c : heard) EXPECT_TRUE(c == '\r' || (c >= 0x20 && c <= 0x7e)) << int(c);
  // Lines are still read and answered between the babble.
  port.Write("@3,5\r");
  EXPECT_NE(port.ReadFor(200).find("OK\r"), std::string::npos);
  EXPECT_EQ(sim.Lines(), std::vector<std::string>{"@3,5"});
}

TEST(DomeBabble, CarriesOnAcrossAHangup) {
  DomeSimulator sim;
  sim.SetBabble(10, "Q");
  sim.Hangup();
  sim.Reopen();
  RawPort port(sim.SlavePath());
  ASSERT_TRUE(port.ok());
  EXPECT_NE(port.ReadFor(200).find('Q'), std::string::npos);
}

TEST(DomeControl, CommandsChangeTheRunningDome) {
  DomeSimulator sim;
  EXPECT_EQ(RunControlCommand(sim, "reply silent"), "reply silent");
  EXPECT_EQ(sim.GetReplyMode(), ReplyMode::kSilent);
  EXPECT_EQ(RunControlCommand(sim, "  delay 2500 "), "delay 2500 ms");
  EXPECT_EQ(sim.DelayMs(), 2500);
  EXPECT_EQ(RunControlCommand(sim, "babble 20"), "babble every 20 ms");
  EXPECT_EQ(sim.BabbleIntervalMs(), 20);
  EXPECT_EQ(RunControlCommand(sim, "babble 0"), "babble off");
  EXPECT_EQ(RunControlCommand(sim, "status").rfind("reply silent, delay 2500 ms, babble off", 0),
            0u);
  EXPECT_EQ(RunControlCommand(sim, ""), "");
  EXPECT_EQ(RunControlCommand(sim, "# a comment"), "");

  EXPECT_EQ(RunControlCommand(sim, "hangup"), "hung up");
  EXPECT_FALSE(sim.IsOpen());
  EXPECT_NE(RunControlCommand(sim, "reopen").find("port /dev/"), std::string::npos);
  EXPECT_TRUE(sim.IsOpen());

  const auto start = steady_clock::now();
  EXPECT_EQ(RunControlCommand(sim, "outage 60").rfind("back after 60 ms", 0), 0u);
  EXPECT_GE(steady_clock::now() - start, milliseconds(60));
  EXPECT_TRUE(sim.IsOpen());
}

TEST(DomeControl, BadCommandsChangeNothing) {
  DomeSimulator sim;
  for (const char* bad : {"reply", "reply loud", "delay", "delay -5", "delay 5x", "delay 600001",
                          "babble 1e3", "outage", "hangup now", "reply ok ok", "shout"}) {
    SCOPED_TRACE(bad);
    EXPECT_THROW(RunControlCommand(sim, bad), std::invalid_argument);
  }
  EXPECT_EQ(sim.GetReplyMode(), ReplyMode::kOk);
  EXPECT_EQ(sim.DelayMs(), 0);
  EXPECT_EQ(sim.BabbleIntervalMs(), 0);
  EXPECT_TRUE(sim.IsOpen());
  EXPECT_EQ(RunControlCommand(sim, "delay 600000"), "delay 600000 ms");
}

}  // namespace
}  // namespace domesim
