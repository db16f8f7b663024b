// The dome simulator on its pseudo-terminal: answers, scripted replies, delay,
// line splitting, publication of the port and its disappearance.
#include "domesim/domesim.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace domesim {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using std::chrono::steady_clock;

// The driver's side of the line: the pty slave opened raw.
class Port {
 public:
  explicit Port(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd_ < 0) return;
    termios raw{};
    ::tcgetattr(fd_, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(fd_, TCSANOW, &raw);
  }
  ~Port() {
    if (fd_ >= 0) ::close(fd_);
  }
  Port(const Port&) = delete;
  Port& operator=(const Port&) = delete;

  bool ok() const { return fd_ >= 0; }
  int fd() const { return fd_; }

  void Write(const std::string& bytes) {
    ASSERT_EQ(::write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  // Reads until a CR arrived or timeout_ms passed.
  std::string ReadReply(int timeout_ms = 1000) {
    std::string reply;
    auto end = steady_clock::now() + milliseconds(timeout_ms);
    while (reply.empty() || reply.back() != '\r') {
      auto left = std::chrono::duration_cast<milliseconds>(end - steady_clock::now()).count();
      if (left <= 0) break;
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left)) <= 0) break;
      char buffer[64];
      ssize_t n = ::read(fd_, buffer, sizeof buffer);
      if (n <= 0) break;
      reply.append(buffer, static_cast<size_t>(n));
    }
    return reply;
  }
  std::string Ask(const std::string& line, int timeout_ms = 1000) {
    Write(line + "\r");
    return ReadReply(timeout_ms);
  }

 private:
  int fd_ = -1;
};

// A fresh directory under /tmp, removed afterwards.
class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/domesim-test-XXXXXX";
    path_ = ::mkdtemp(pattern) ? pattern : "";
  }
  ~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

constexpr int kSilenceMs = 120;

TEST(DomeSimulator, AnswersOkErAndTheVersion) {
  DomeSimulator sim;
  Port port(sim.SlavePath());
  ASSERT_TRUE(port.ok());
  EXPECT_EQ(port.Ask("@3,5"), "OK\r");
  EXPECT_EQ(port.Ask("@5,17"), "ER\r");
  EXPECT_EQ(port.Ask("@55"), "OK1,23,4,56\r");
  sim.SetVersionReply("OK2,10\r");
  EXPECT_EQ(port.Ask("@55"), "OK2,10\r");

  std::vector<ReceivedLine> records = sim.Records();
  ASSERT_EQ(records.size(), 4u);
  EXPECT_EQ(records[0].text, "select camera 5");
  EXPECT_TRUE(records[0].acted);
  EXPECT_EQ(records[1].line, "@5,17");
  EXPECT_FALSE(records[1].valid);
  EXPECT_FALSE(records[1].acted);
  EXPECT_EQ(records[1].reply, "ER\r");
  EXPECT_EQ(sim.Selection(kDirectNode).camera, 5);
}

TEST(DomeSimulator, ReplyModesChooseTheAnswerAndWhetherTheDomeActs) {
  struct Case {
    ReplyMode mode;
    const char* reply;  // nullptr: garbage
    bool acted;
  };
  const Case cases[] = {{ReplyMode::kOk, "OK\r", true},   {ReplyMode::kNi, "NI\r", true},
                        {ReplyMode::kOl, "OL\r", false},  {ReplyMode::kEr, "ER\r", false},
                        {ReplyMode::kSilent, "", true},   {ReplyMode::kGarbage, nullptr, true},
                        {ReplyMode::kShort, "O\r", true}, {ReplyMode::kCr, "\r", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(ReplyModeName(c.mode));
    DomeSimulator sim;
    Port port(sim.SlavePath());
    sim.SetReplyMode(c.mode);
    EXPECT_EQ(sim.GetReplyMode(), c.mode);
    std::string reply = port.Ask("@5,21", c.reply && !*c.reply ? kSilenceMs : 1000);
    if (c.reply) {
      EXPECT_EQ(reply, c.reply);
    } else {
      ASSERT_EQ(reply.size(), 3u);
      EXPECT_FALSE(std::isalpha(static_cast<unsigned char>(reply[0])));
      EXPECT_FALSE(std::isalpha(static_cast<unsigned char>(reply[1])));
      EXPECT_EQ(reply[2], '\r');
    }
    ASSERT_TRUE(sim.WaitForLines(1, 1000));
    EXPECT_EQ(sim.State(kDirectNode, 0).lamps, c.acted);
    EXPECT_EQ(sim.Records()[0].acted, c.acted);
  }
}

TEST(DomeSimulator, ModesOtherThanOkAnswerEveryLineAlike) {
  DomeSimulator sim;
  Port port(sim.SlavePath());
  sim.SetReplyMode(ReplyMode::kNi);
  EXPECT_EQ(port.Ask("@55"), "NI\r");
  EXPECT_EQ(port.Ask("nonsense"), "NI\r");
  sim.SetReplyMode(ReplyMode::kOl);
  EXPECT_EQ(port.Ask("@55"), "OL\r");
  sim.SetReplyMode(ReplyMode::kGarbage);
  std::string first = port.Ask("@3,1");
  std::string second = port.Ask("@3,1");
  EXPECT_EQ(first.size(), 3u);
  EXPECT_EQ(second.size(), 3u);
  EXPECT_NE(first.substr(0, 2), "OK");
}

TEST(DomeSimulator, ScriptedRepliesComeFirstThenTheMode) {
  DomeSimulator sim;
  Port port(sim.SlavePath());
  sim.QueueReply("XX\r");
  sim.QueueReply("");
  sim.QueueReply("OL\r");
  sim.QueueReply("OK");  // no CR
  EXPECT_EQ(sim.QueuedReplies(), 4u);
  EXPECT_EQ(port.Ask("@5,18"), "XX\r");
  EXPECT_EQ(port.Ask("@5,13", kSilenceMs), "");
  EXPECT_EQ(port.Ask("@5,24"), "OL\r");
  EXPECT_EQ(port.Ask("@5,12", kSilenceMs), "OK");
  EXPECT_EQ(port.Ask("@5,19"), "OK\r");
  EXPECT_EQ(sim.QueuedReplies(), 0u);

  DomeState s = sim.State(kDirectNode, 0);
  EXPECT_TRUE(s.aux1);   // odd answer, but the dome acted
  EXPECT_TRUE(s.aux2);   // answer lost
  EXPECT_FALSE(s.aux3);  // "OL": never reached the dome
  EXPECT_TRUE(s.washer);

  sim.SetReplyMode(ReplyMode::kEr);
  sim.QueueReply("NI\r");
  sim.QueueReply("NI\r");
  sim.ClearQueuedReplies();
  EXPECT_EQ(port.Ask("@3,1"), "ER\r");
}

TEST(DomeSimulator, DelaysTheAnswer) {
  DomeSimulator sim;
  Port port(sim.SlavePath());
  sim.SetDelayMs(150);
  EXPECT_EQ(sim.DelayMs(), 150);
  auto start = steady_clock::now();
  EXPECT_EQ(port.Ask("@3,1"), "OK\r");
  EXPECT_GE(steady_clock::now() - start, milliseconds(140));
  // The line is recorded when it arrives, not when it is answered.
  sim.SetDelayMs(-5);
  EXPECT_EQ(sim.DelayMs(), 0);
}

TEST(DomeSimulator, AScriptedReplyKeepsItsOwnDelay) {
  DomeSimulator sim;
  Port port(sim.SlavePath());
  sim.SetDelayMs(1200);
  sim.QueueReply("NI\r", 0);
  sim.QueueReply("OK\r", 150);
  auto start = steady_clock::now();
  EXPECT_EQ(port.Ask("@3,1"), "NI\r");
  EXPECT_LT(steady_clock::now() - start, milliseconds(1000));
  start = steady_clock::now();
  EXPECT_EQ(port.Ask("@3,2"), "OK\r");
  const auto delayed = steady_clock::now() - start;
  EXPECT_GE(delayed, milliseconds(140));
  EXPECT_LT(delayed, milliseconds(1000));
  // Then the delay set for all lines again; a line is counted as answered
  // only once its answer is out (which the port may read before the
  // simulator has counted it).
  EXPECT_TRUE(sim.WaitForAnswered(2, 1000));
  sim.TakeLines();
  start = steady_clock::now();
  port.Write("@3,3\r");
  ASSERT_TRUE(sim.WaitForLines(1, 1000));
  EXPECT_FALSE(sim.WaitForAnswered(3, 500));
  EXPECT_TRUE(sim.WaitForAnswered(3, 3000));
  EXPECT_GE(steady_clock::now() - start, milliseconds(1190));
  EXPECT_EQ(port.ReadReply(), "OK\r");
}

TEST(DomeSimulator, ClosingDuringALongDelayDoesNotWaitForIt) {
  auto sim = std::make_unique<DomeSimulator>();
  Port port(sim->SlavePath());
  sim->SetDelayMs(10000);
  port.Write("@3,1\r");
  ASSERT_TRUE(sim->WaitForLines(1, 1000));
  auto start = steady_clock::now();
  sim.reset();
  EXPECT_LT(steady_clock::now() - start, milliseconds(1000));
}

TEST(DomeSimulator, SplitsLinesAtCarriageReturns) {
  DomeSimulator sim;
  Port port(sim.SlavePath());
  port.Write("@2,1\r@3,7\r@5,");
  ASSERT_TRUE(sim.WaitForLines(2, 1000));
  port.Write("3\r");
  ASSERT_TRUE(sim.WaitForLines(3, 1000));
  EXPECT_EQ(sim.Lines(), (std::vector<std::string>{"@2,1", "@3,7", "@5,3"}));
  std::string replies;
  while (replies.size() < 9) {
    std::string more = port.ReadReply(1000);
    if (more.empty()) break;
    replies += more;
  }
  EXPECT_EQ(replies, "OK\rOK\rOK\r");
  EXPECT_EQ(sim.State(kDirectNode, 7).pan, PanMotion::kLeft);

  // An empty line and a line that never seems to end are not understood; the
  // next line is read as usual.
  port.Write("\r");
  EXPECT_EQ(port.ReadReply(), "ER\r");
  port.Write(std::string(300, 'A') + "\r");
  EXPECT_EQ(port.ReadReply(), "ER\r");
  EXPECT_EQ(port.Ask("@6,3"), "OK\r");
  std::vector<ReceivedLine> records = sim.Records();
  ASSERT_EQ(records.size(), 6u);
  EXPECT_EQ(records[3].text, "not understood: empty line");
  EXPECT_EQ(records[4].text, "not understood: line too long (300 bytes)");
  EXPECT_EQ(records[4].line.size(), 256u);
  EXPECT_EQ(sim.State(kDirectNode, 7).pan, PanMotion::kStopped);
}

TEST(DomeSimulator, TakeClearAndWaitForLines) {
  DomeSimulator sim;
  Port port(sim.SlavePath());
  EXPECT_FALSE(sim.WaitForLines(1, 20));
  port.Ask("@3,1");
  port.Ask("@3,2");
  EXPECT_EQ(sim.TakeLines(), (std::vector<std::string>{"@3,1", "@3,2"}));
  EXPECT_TRUE(sim.Lines().empty());
  port.Ask("@3,3");
  ASSERT_TRUE(sim.WaitForLines(1, 1000));
  sim.ClearLines();
  EXPECT_TRUE(sim.Records().empty());
  EXPECT_TRUE(sim.WaitForLines(0, 0));
  // The model is not part of the record.
  EXPECT_EQ(sim.Selection(kDirectNode).camera, 3);
  sim.ResetModel();
  EXPECT_EQ(sim.Selection(kDirectNode).camera, 0);
  EXPECT_TRUE(sim.Domes().empty());
}

TEST(DomeSimulator, TraceSinkSeesEveryLine) {
  DomeSimulator sim;
  Port port(sim.SlavePath());
  std::mutex mu;
  std::vector<std::string> seen;
  sim.SetTraceSink([&](const std::string& text) {
    std::lock_guard<std::mutex> lock(mu);
    seen.push_back(text);
  });
  port.Ask("$7,5,3");
  sim.SetTraceSink(nullptr);
  port.Ask("@3,1");
  std::lock_guard<std::mutex> lock(mu);
  EXPECT_EQ(seen, std::vector<std::string>{"$7,5,3  node 7: start pan left  -> \"OK\\r\""});
}

TEST(DomeSimulator, DriverClosingAndReopeningThePortIsNoHangup) {
  DomeSimulator sim;
  {
    Port first(sim.SlavePath());
    EXPECT_EQ(first.Ask("@3,1"), "OK\r");
  }
  Port second(sim.SlavePath());
  EXPECT_EQ(second.Ask("@3,2"), "OK\r");
  EXPECT_TRUE(sim.IsOpen());
}

TEST(DomeSimulator, PublishesThePortAsALink) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  std::string link = dir.path() + "/ports/COM3";
  {
    DomeSimulator sim;
    sim.Publish(dir.path(), 3);
    EXPECT_EQ(sim.PublishedPath(), link);
    EXPECT_EQ(fs::read_symlink(link).string(), sim.SlavePath());
    {
      Port port(link);
      ASSERT_TRUE(port.ok());
      EXPECT_EQ(port.Ask("@3,1"), "OK\r");
    }
    sim.Unpublish();
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
    EXPECT_EQ(sim.PublishedPath(), "");

    // Moving to another number withdraws the first link.
    sim.Publish(dir.path(), 3);
    sim.Publish(dir.path(), 4);
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
    EXPECT_TRUE(fs::is_symlink(dir.path() + "/ports/COM4"));
  }
  EXPECT_FALSE(fs::exists(fs::symlink_status(dir.path() + "/ports/COM4")));
}

TEST(DomeSimulator, PublishReplacesAStaleLinkButNothingElse) {
  TempDir dir;
  fs::create_directories(dir.path() + "/ports");
  std::string link = dir.path() + "/ports/COM5";
  fs::create_symlink("/dev/pts/does-not-exist", link);
  DomeSimulator sim;
  sim.Publish(dir.path(), 5);
  EXPECT_EQ(fs::read_symlink(link).string(), sim.SlavePath());

  std::string file = dir.path() + "/ports/COM6";
  std::ofstream(file) << "keep";
  EXPECT_THROW(sim.Publish(dir.path(), 6), std::invalid_argument);
  EXPECT_FALSE(fs::is_symlink(file));
  EXPECT_EQ(sim.PublishedPath(), "");
  EXPECT_THROW(sim.Publish(dir.path(), 0), std::invalid_argument);

  // A directory that cannot be made.
  EXPECT_THROW(sim.Publish(file + "/sub", 1), std::system_error);

  // A link another simulator has taken over is left alone.
  sim.Publish(dir.path(), 7);
  DomeSimulator other;
  other.Publish(dir.path(), 7);
  sim.Unpublish();
  EXPECT_EQ(fs::read_symlink(dir.path() + "/ports/COM7").string(), other.SlavePath());
}

TEST(DomeSimulator, HangupMakesThePortVanishAndReopenBringsItBack) {
  TempDir dir;
  DomeSimulator sim;
  sim.Publish(dir.path(), 2);
  std::string link = sim.PublishedPath();
  Port port(link);
  ASSERT_TRUE(port.ok());
  EXPECT_EQ(port.Ask("@3,9"), "OK\r");

  sim.Hangup();
  EXPECT_FALSE(sim.IsOpen());
  EXPECT_EQ(sim.SlavePath(), "");
  EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
  pollfd p{port.fd(), POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 1000), 1);
  EXPECT_NE(p.revents & POLLHUP, 0);
  char byte;
  EXPECT_EQ(::read(port.fd(), &byte, 1), 0);
  errno = 0;
  EXPECT_EQ(::write(port.fd(), "@3,1\r", 5), -1);
  EXPECT_EQ(errno, EIO);
  sim.Hangup();  // twice is harmless
  // Records and model outlive the port.
  EXPECT_EQ(sim.Lines(), std::vector<std::string>{"@3,9"});
  EXPECT_EQ(sim.Selection(kDirectNode).camera, 9);

  sim.Reopen();
  EXPECT_TRUE(sim.IsOpen());
  EXPECT_EQ(fs::read_symlink(link).string(), sim.SlavePath());
  Port again(link);
  EXPECT_EQ(again.Ask("@3,4"), "OK\r");
  sim.Reopen();  // already open: nothing happens
  EXPECT_EQ(again.Ask("@3,5"), "OK\r");

  sim.Close();
  EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
  sim.Reopen();  // after Close() the publication is forgotten
  EXPECT_TRUE(sim.IsOpen());
  EXPECT_EQ(sim.PublishedPath(), "");
}

TEST(DomeSimulator, SettingsMayChangeWhileLinesArrive) {
  DomeSimulator sim;
  Port port(sim.SlavePath());
  std::atomic<bool> done{false};
  std::thread fiddler([&] {
    int i = 0;
    while (!done) {
      sim.SetReplyMode(i % 2 ? ReplyMode::kNi : ReplyMode::kOk);
      if (sim.QueuedReplies() < 8) sim.QueueReply("OK\r");
      sim.SetDelayMs(0);
      (void)sim.Lines();
      (void)sim.State(kDirectNode, 1);
      (void)sim.Domes();
      if (i % 2) {
        sim.SetTraceSink(nullptr);
      } else {
        sim.SetTraceSink([](const std::string&) {});
      }
      ++i;
      std::this_thread::yield();
    }
  });
  for (int i = 0; i < 100; ++i) {
    std::string reply = port.Ask(i % 2 ? "@5,3" : "@6,3");
    EXPECT_TRUE(reply == "OK\r" || reply == "NI\r") << reply;
  }
  done = true;
  fiddler.join();
  EXPECT_EQ(sim.Lines().size(), 100u);
}

}  // namespace
}  // namespace domesim
