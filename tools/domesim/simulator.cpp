// The pseudo-terminal, its reader thread and the answers.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "domesim/domesim.h"

namespace domesim {
namespace {

namespace fs = std::filesystem;

// Bytes kept of a line that never ends; the rest is counted and dropped.
constexpr size_t kMaxKeptLine = 256;

[[noreturn]] void ThrowErrno(const std::string& what) {
  throw std::system_error(errno, std::generic_category(), what);
}

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

bool IsLetter(int byte) { return (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z'); }

// Path the link at `link` points to, empty when it is not a readable link.
std::string ReadLink(const std::string& link) {
  char target[512];
  ssize_t n = ::readlink(link.c_str(), target, sizeof target);
  return n > 0 && static_cast<size_t>(n) < sizeof target ? std::string(target, target + n)
                                                         : std::string();
}

}  // namespace

DomeSimulator::DomeSimulator() {
  std::lock_guard<std::mutex> lifecycle(lifecycle_mu_);
  OpenPty();
  StartReader();
}

DomeSimulator::~DomeSimulator() {
  try {
    Close();
  } catch (...) {
    // Nothing to report to from a destructor; the pty is closed either way.
  }
}

void DomeSimulator::OpenPty() {
  int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0) ThrowErrno("posix_openpt");
  char name[128];
  int slave = -1;
  int wake[2] = {-1, -1};
  auto fail = [&](const char* what) {
    int saved = errno;
    CloseFd(master);
    CloseFd(slave);
    CloseFd(wake[0]);
    CloseFd(wake[1]);
    errno = saved;
    ThrowErrno(what);
  };
  if (::grantpt(master) != 0) fail("grantpt");
  if (::unlockpt(master) != 0) fail("unlockpt");
  if (::ptsname_r(master, name, sizeof name) != 0) fail("ptsname_r");
  // Held open for the simulator's whole life, so that the master never sees a
  // hang-up between two users of the port.
  slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave < 0) fail("open pty slave");
  termios settings{};
  if (::tcgetattr(slave, &settings) != 0) fail("tcgetattr");
  // Raw: no echo of the answers back to the dome, no CR/LF translation.
  ::cfmakeraw(&settings);
  settings.c_cc[VMIN] = 1;
  settings.c_cc[VTIME] = 0;
  if (::tcsetattr(slave, TCSANOW, &settings) != 0) fail("tcsetattr");
  // A driver that stops reading must not block the dome: answers that do not
  // fit are lost, as on a real line.
  int flags = ::fcntl(master, F_GETFL);
  if (flags < 0 || ::fcntl(master, F_SETFL, flags | O_NONBLOCK) != 0) fail("fcntl");
  if (::pipe2(wake, O_CLOEXEC) != 0) fail("pipe2");

  master_fd_ = master;
  slave_fd_ = slave;
  wake_pipe_[0] = wake[0];
  wake_pipe_[1] = wake[1];
  std::lock_guard<std::mutex> lock(mu_);
  slave_path_ = name;
}

void DomeSimulator::ClosePty() {
  CloseFd(master_fd_);
  CloseFd(slave_fd_);
  CloseFd(wake_pipe_[0]);
  CloseFd(wake_pipe_[1]);
  std::lock_guard<std::mutex> lock(mu_);
  slave_path_.clear();
}

void DomeSimulator::StartReader() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    stopping_ = false;
  }
  reader_ = std::thread(&DomeSimulator::ReaderLoop, this, master_fd_, wake_pipe_[0]);
}

void DomeSimulator::StopReader() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    stopping_ = true;
  }
  changed_.notify_all();
  if (wake_pipe_[1] >= 0) {
    char byte = 'x';
    while (::write(wake_pipe_[1], &byte, 1) < 0 && errno == EINTR) {
    }
  }
  if (reader_.joinable()) reader_.join();
}

void DomeSimulator::ReaderLoop(int master_fd, int wake_fd) {
  std::string pending;
  size_t pending_length = 0;  // including bytes dropped from an overlong line
  char buffer[256];
  auto next_babble = std::chrono::steady_clock::time_point::max();
  for (;;) {
    const int timeout_ms = Babble(master_fd, &next_babble);
    pollfd fds[2] = {{master_fd, POLLIN, 0}, {wake_fd, POLLIN, 0}};
    const int ready = ::poll(fds, 2, timeout_ms);
    if (ready == 0) continue;
    if (ready < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents != 0) return;
    if ((fds[0].revents & POLLIN) == 0) {
      // Hang-up or error without data: only possible once every slave is
      // closed, which the simulator prevents; nothing more will come.
      if ((fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) return;
      continue;
    }
    ssize_t n = ::read(master_fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return;
    }
    for (ssize_t i = 0; i < n; ++i) {
      if (buffer[i] == '\r') {
        HandleLine(master_fd, pending, pending_length);
        pending.clear();
        pending_length = 0;
        continue;
      }
      if (pending.size() < kMaxKeptLine) pending += buffer[i];
      ++pending_length;
    }
  }
}

int DomeSimulator::Babble(int master_fd, std::chrono::steady_clock::time_point* next) {
  constexpr int kSettingCheckMs = 50;
  using std::chrono::milliseconds;
  const auto now = std::chrono::steady_clock::now();
  std::string chunk;
  int interval_ms = 0;
  {
    std::lock_guard<std::mutex> lock(mu_);
    interval_ms = babble_ms_;
    if (interval_ms <= 0) {
      *next = std::chrono::steady_clock::time_point::max();
      return kSettingCheckMs;
    }
    if (*next == std::chrono::steady_clock::time_point::max() ||
        *next > now + milliseconds(interval_ms))
      *next = now;  // babble just started, or sooner than before
    if (now < *next) {
      auto left = std::chrono::duration_cast<milliseconds>(*next - now).count() + 1;
      return static_cast<int>(left < kSettingCheckMs ? left : kSettingCheckMs);
    }
    chunk = babble_chunk_;
    if (chunk.empty()) {
      std::uniform_int_distribution<int> byte(0x20, 0x7e);
      std::uniform_int_distribution<int> six(0, 5);
      for (int i = 0; i < 8; ++i) chunk += six(rng_) == 0 ? '\r' : static_cast<char>(byte(rng_));
    }
    ++babbled_;
    *next = now + milliseconds(interval_ms);
  }
  // Non-blocking: what does not fit the line is lost.
  size_t sent = 0;
  while (sent < chunk.size()) {
    ssize_t n = ::write(master_fd, chunk.data() + sent, chunk.size() - sent);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    sent += static_cast<size_t>(n);
  }
  return interval_ms < kSettingCheckMs ? interval_ms : kSettingCheckMs;
}

std::string DomeSimulator::ReplyFor(const Command& command) {
  if (!script_.empty()) {
    std::string reply = std::move(script_.front().raw);
    script_.pop_front();
    return reply;
  }
  switch (mode_) {
    case ReplyMode::kOk:
      if (!command.valid) return "ER\r";
      return command.number == 55 ? version_reply_ : "OK\r";
    case ReplyMode::kNi:
      return "NI\r";
    case ReplyMode::kOl:
      return "OL\r";
    case ReplyMode::kEr:
      return "ER\r";
    case ReplyMode::kSilent:
      return {};
    case ReplyMode::kGarbage: {
      std::string reply;
      std::uniform_int_distribution<int> byte(0, 255);
      while (reply.size() < 2) {
        int b = byte(rng_);
        if (!IsLetter(b) && b != '\r') reply += static_cast<char>(b);
      }
      return reply + "\r";
    }
    case ReplyMode::kShort:
      return "O\r";
    case ReplyMode::kCr:
      return "\r";
  }
  return {};
}

void DomeSimulator::HandleLine(int master_fd, const std::string& line, size_t length) {
  auto now = std::chrono::steady_clock::now();
  Command command = ParseLine(line);
  if (length > line.size()) {
    command.valid = false;
    command.error = "line too long (" + std::to_string(length) + " bytes)";
  }
  ReceivedLine record;
  record.line = line;
  record.text = DescribeCommand(command);
  record.valid = command.valid;
  record.when = now;
  std::function<void(const std::string&)> sink;
  int delay_ms = 0;
  {
    std::lock_guard<std::mutex> lock(mu_);
    delay_ms =
        !script_.empty() && script_.front().delay_ms >= 0 ? script_.front().delay_ms : delay_ms_;
    record.reply = ReplyFor(command);
    record.acted =
        command.valid && !StartsWith(record.reply, "OL") && !StartsWith(record.reply, "ER");
    if (record.acted) model_.Apply(command, now);
    lines_.push_back(record);
    sink = sink_;
  }
  changed_.notify_all();
  if (sink) {
    try {
      sink(FormatReceivedLine(record));
    } catch (...) {
      // A failing trace printer must not stop the dome.
    }
  }
  if (delay_ms > 0) {
    std::unique_lock<std::mutex> lock(mu_);
    if (changed_.wait_for(lock, std::chrono::milliseconds(delay_ms), [this] { return stopping_; }))
      return;
  }
  size_t sent = 0;
  while (sent < record.reply.size()) {
    ssize_t n = ::write(master_fd, record.reply.data() + sent, record.reply.size() - sent);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // the driver's receive buffer is full: the rest is lost
    sent += static_cast<size_t>(n);
  }
  {
    std::lock_guard<std::mutex> lock(mu_);
    ++answered_;
  }
  changed_.notify_all();
}

std::string DomeSimulator::SlavePath() const {
  std::lock_guard<std::mutex> lock(mu_);
  return slave_path_;
}

bool DomeSimulator::IsOpen() const { return !SlavePath().empty(); }

void DomeSimulator::CreateLink() {
  fs::path ports = fs::path(publish_dir_) / "ports";
  fs::create_directories(ports);
  fs::path link = ports / ("COM" + std::to_string(publish_com_));
  struct stat st {};
  if (::lstat(link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode))
    throw std::invalid_argument(link.string() + " exists and is not a symbolic link");
  // Made under a temporary name and renamed, so a stale link from an earlier
  // run is replaced in one step.
  static std::atomic<unsigned> counter{0};
  fs::path temporary = ports / ("." + link.filename().string() + "." + std::to_string(::getpid()) +
                                "." + std::to_string(counter++) + ".tmp");
  std::string target = SlavePath();
  if (::symlink(target.c_str(), temporary.c_str()) != 0)
    ThrowErrno("symlink " + temporary.string());
  if (::rename(temporary.c_str(), link.c_str()) != 0) {
    int saved = errno;
    ::unlink(temporary.c_str());
    errno = saved;
    ThrowErrno("rename to " + link.string());
  }
  std::lock_guard<std::mutex> lock(mu_);
  link_path_ = link.string();
}

void DomeSimulator::RemoveLink() {
  std::string link, target;
  {
    std::lock_guard<std::mutex> lock(mu_);
    link = std::move(link_path_);
    link_path_.clear();
    target = slave_path_;
  }
  // Another simulator may have taken the name over since; its link stays.
  if (!link.empty() && ReadLink(link) == target) ::unlink(link.c_str());
}

void DomeSimulator::Publish(const std::string& dir, int com) {
  if (com < 1) throw std::invalid_argument("COM port number must be 1 or more");
  std::lock_guard<std::mutex> lifecycle(lifecycle_mu_);
  RemoveLink();
  publish_dir_ = dir;
  publish_com_ = com;
  if (master_fd_ < 0) return;  // published when reopened
  try {
    CreateLink();
  } catch (...) {
    publish_dir_.clear();
    publish_com_ = 0;
    throw;
  }
}

void DomeSimulator::Unpublish() {
  std::lock_guard<std::mutex> lifecycle(lifecycle_mu_);
  RemoveLink();
  publish_dir_.clear();
  publish_com_ = 0;
}

std::string DomeSimulator::PublishedPath() const {
  std::lock_guard<std::mutex> lock(mu_);
  return link_path_;
}

void DomeSimulator::Hangup() {
  std::lock_guard<std::mutex> lifecycle(lifecycle_mu_);
  if (master_fd_ < 0) return;
  // The name goes first: whoever notices the hang-up and tries the port again
  // finds it missing.
  RemoveLink();
  StopReader();
  ClosePty();
}

void DomeSimulator::Reopen() {
  std::lock_guard<std::mutex> lifecycle(lifecycle_mu_);
  if (master_fd_ >= 0) return;
  OpenPty();
  StartReader();
  if (publish_com_ > 0) CreateLink();
}

void DomeSimulator::Close() {
  Hangup();
  std::lock_guard<std::mutex> lifecycle(lifecycle_mu_);
  publish_dir_.clear();
  publish_com_ = 0;
}

void DomeSimulator::SetReplyMode(ReplyMode mode) {
  std::lock_guard<std::mutex> lock(mu_);
  mode_ = mode;
}

ReplyMode DomeSimulator::GetReplyMode() const {
  std::lock_guard<std::mutex> lock(mu_);
  return mode_;
}

void DomeSimulator::SetDelayMs(int ms) {
  std::lock_guard<std::mutex> lock(mu_);
  delay_ms_ = ms < 0 ? 0 : ms;
}

int DomeSimulator::DelayMs() const {
  std::lock_guard<std::mutex> lock(mu_);
  return delay_ms_;
}

void DomeSimulator::QueueReply(std::string raw) {
  std::lock_guard<std::mutex> lock(mu_);
  script_.push_back({std::move(raw), -1});
}

void DomeSimulator::QueueReply(std::string raw, int delay_ms) {
  std::lock_guard<std::mutex> lock(mu_);
  script_.push_back({std::move(raw), delay_ms < 0 ? 0 : delay_ms});
}

size_t DomeSimulator::QueuedReplies() const {
  std::lock_guard<std::mutex> lock(mu_);
  return script_.size();
}

void DomeSimulator::ClearQueuedReplies() {
  std::lock_guard<std::mutex> lock(mu_);
  script_.clear();
}

void DomeSimulator::SetVersionReply(std::string raw) {
  std::lock_guard<std::mutex> lock(mu_);
  version_reply_ = std::move(raw);
}

void DomeSimulator::SetBabble(int interval_ms, std::string chunk) {
  std::lock_guard<std::mutex> lock(mu_);
  babble_ms_ = interval_ms < 0 ? 0 : interval_ms;
  babble_chunk_ = std::move(chunk);
}

int DomeSimulator::BabbleIntervalMs() const {
  std::lock_guard<std::mutex> lock(mu_);
  return babble_ms_;
}

size_t DomeSimulator::BabbleCount() const {
  std::lock_guard<std::mutex> lock(mu_);
  return babbled_;
}

std::vector<std::string> DomeSimulator::Lines() const {
  std::lock_guard<std::mutex> lock(mu_);
  std::vector<std::string> lines;
  lines.reserve(lines_.size());
  for (const ReceivedLine& line : lines_) lines.push_back(line.line);
  return lines;
}

std::vector<ReceivedLine> DomeSimulator::Records() const {
  std::lock_guard<std::mutex> lock(mu_);
  return lines_;
}

std::vector<std::string> DomeSimulator::TakeLines() {
  std::lock_guard<std::mutex> lock(mu_);
  std::vector<std::string> lines;
  lines.reserve(lines_.size());
  for (ReceivedLine& line : lines_) lines.push_back(std::move(line.line));
  lines_.clear();
  return lines;
}

bool DomeSimulator::WaitForLines(size_t n, int timeout_ms) const {
  std::unique_lock<std::mutex> lock(mu_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms),
                           [&] { return lines_.size() >= n; });
}

size_t DomeSimulator::AnsweredCount() const {
  std::lock_guard<std::mutex> lock(mu_);
  return answered_;
}

bool DomeSimulator::WaitForAnswered(size_t n, int timeout_ms) const {
  std::unique_lock<std::mutex> lock(mu_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms),
                           [&] { return answered_ >= n; });
}

void DomeSimulator::ClearLines() {
  std::lock_guard<std::mutex> lock(mu_);
  lines_.clear();
}

DomeState DomeSimulator::State(int node, int camera) const {
  std::lock_guard<std::mutex> lock(mu_);
  return model_.State(node, camera, std::chrono::steady_clock::now());
}

std::vector<DomeState> DomeSimulator::Domes() const {
  std::lock_guard<std::mutex> lock(mu_);
  return model_.Domes(std::chrono::steady_clock::now());
}

NodeSelection DomeSimulator::Selection(int node) const {
  std::lock_guard<std::mutex> lock(mu_);
  return model_.Selection(node);
}

void DomeSimulator::ResetModel() {
  std::lock_guard<std::mutex> lock(mu_);
  model_.Clear();
}

PtyLineSettings DomeSimulator::LineSettings() const {
  std::lock_guard<std::mutex> lifecycle(lifecycle_mu_);
  PtyLineSettings settings;
  termios now{};
  if (slave_fd_ < 0 || ::tcgetattr(slave_fd_, &now) != 0) return settings;
  static const std::pair<speed_t, unsigned> kSpeeds[] = {
      {B110, 110},     {B300, 300},     {B600, 600},       {B1200, 1200},
      {B2400, 2400},   {B4800, 4800},   {B9600, 9600},     {B19200, 19200},
      {B38400, 38400}, {B57600, 57600}, {B115200, 115200}, {B230400, 230400}};
  for (const auto& [speed, baud] : kSpeeds)
    if (::cfgetospeed(&now) == speed) settings.baud = baud;
  settings.parity_odd = (now.c_cflag & PARODD) != 0;
  settings.mark_space = (now.c_cflag & CMSPAR) != 0;
  settings.two_stop_bits = (now.c_cflag & CSTOPB) != 0;
  return settings;
}

void DomeSimulator::SetTraceSink(std::function<void(const std::string&)> sink) {
  std::lock_guard<std::mutex> lock(mu_);
  sink_ = std::move(sink);
}

}  // namespace domesim
