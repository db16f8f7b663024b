#include "scripted_line.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "fuzz_common.h"

namespace q7fuzz {

namespace {
std::string Escape(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    char hex[8];
    if (c >= 0x20 && c < 0x7f) {
      out += static_cast<char>(c);
    } else {
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    }
  }
  return out;
}
}  // namespace

ScriptedLine::ScriptedLine(const std::string& dir, int com, std::deque<Answer> script)
    : tracing_(getenv("Q7FUZZ_TRACE") != nullptr), script_(std::move(script)) {
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  char name[128];
  if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
      ::ptsname_r(master_, name, sizeof name) != 0)
    Fail("cannot open a pseudo-terminal");
  slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios settings{};
  if (slave_ < 0 || ::tcgetattr(slave_, &settings) != 0) Fail("cannot open the pty slave");
  ::cfmakeraw(&settings);
  if (::tcsetattr(slave_, TCSANOW, &settings) != 0) Fail("cannot set the pty slave raw");
  // A flood that does not fit is lost, as on a real line.
  ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
  if (::pipe2(wake_, O_CLOEXEC) != 0) Fail("cannot make a pipe");
  ::mkdir((dir + "/ports").c_str(), 0700);
  link_ = dir + "/ports/COM" + std::to_string(com);
  ::unlink(link_.c_str());
  if (::symlink(name, link_.c_str()) != 0) Fail("cannot publish " + link_);
  reader_ = std::thread(&ScriptedLine::Reader, this);
}

ScriptedLine::~ScriptedLine() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    stopping_ = true;
  }
  stop_.notify_all();
  char byte = 'x';
  (void)!::write(wake_[1], &byte, 1);
  reader_.join();
  ::unlink(link_.c_str());
  for (int fd : {master_, slave_, wake_[0], wake_[1]}) ::close(fd);
}

size_t ScriptedLine::LinesReceived() const {
  std::lock_guard<std::mutex> lock(mu_);
  return lines_;
}

int64_t ScriptedLine::PausedMs() const {
  std::lock_guard<std::mutex> lock(mu_);
  return paused_;
}

void ScriptedLine::Reader() {
  char buffer[256];
  for (;;) {
    pollfd fds[2] = {{master_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents != 0) return;
    if ((fds[0].revents & POLLIN) == 0) continue;
    const ssize_t n = ::read(master_, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) return;
    for (ssize_t i = 0; i < n; ++i) {
      if (buffer[i] != '\r') {
        if (pending_.size() < 80) pending_ += buffer[i];
        continue;
      }
      AnswerLine();
      pending_.clear();
    }
  }
}

void ScriptedLine::AnswerLine() {
  Answer answer;
  {
    std::lock_guard<std::mutex> lock(mu_);
    ++lines_;
    if (!script_.empty()) {
      answer = std::move(script_.front());
      script_.pop_front();
    } else {
      answer.push_back(Piece{0, "OK\r"});
    }
  }
  if (tracing_) {
    std::string text;
    for (const Piece& piece : answer)
      text += "+" + std::to_string(piece.pauseMs) + "ms " + std::to_string(piece.bytes.size()) +
              " bytes " + (piece.bytes.size() <= 8 ? Escape(piece.bytes) : std::string("...")) +
              " ";
    std::fprintf(stderr, "  %lld line %s -> %s\n", static_cast<long long>(NowMs() % 100000),
                 pending_.c_str(), text.c_str());
  }
  for (const Piece& piece : answer) {
    if (piece.pauseMs > 0) {
      std::unique_lock<std::mutex> lock(mu_);
      paused_ += piece.pauseMs;
      if (stop_.wait_for(lock, std::chrono::milliseconds(piece.pauseMs),
                         [this] { return stopping_; }))
        return;
    }
    size_t sent = 0;
    while (sent < piece.bytes.size()) {
      const ssize_t n = ::write(master_, piece.bytes.data() + sent, piece.bytes.size() - sent);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      sent += static_cast<size_t>(n);
    }
  }
}

}  // namespace q7fuzz
