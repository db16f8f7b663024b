#include "wine_host.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <regex>
#include <sstream>
#include <thread>

#include "host_fixture.h"

namespace q7wine {

namespace fs = std::filesystem;

// ---------------------------------------------------------------- helpers

std::string ReadText(const std::string& path) { return q7host::ReadFile(path); }

void WriteText(const std::string& path, const std::string& text) { q7host::WriteFile(path, text); }

std::string MakeTempDir(const std::string& prefix) {
  const char* base = getenv("TMPDIR");
  std::string pattern =
      std::string(base != nullptr && *base ? base : "/tmp") + "/" + prefix + "-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr) return std::string();
  return buffer.data();
}

void RemoveTree(const std::string& path) {
  std::error_code ignored;
  if (!path.empty()) fs::remove_all(path, ignored);
}

namespace {

std::vector<char*> CStrings(const std::vector<std::string>& items) {
  std::vector<char*> out;
  for (const std::string& item : items) out.push_back(const_cast<char*>(item.c_str()));
  out.push_back(nullptr);
  return out;
}

// A text argument for the host program, in quotes.
std::string QuoteArg(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// The directory of the running test program.
std::string ProgramDirectory() {
  std::error_code error;
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  return error ? std::string(".") : self.parent_path().string();
}

std::string FromEnvironment(const char* name, const std::string& fallback) {
  const char* value = getenv(name);
  return value != nullptr && *value != '\0' ? value : fallback;
}

}  // namespace

namespace {

// In a child before exec: sets the variables, an empty value unsets one.
void ApplyEnvironment(const std::map<std::string, std::string>& env) {
  for (const auto& [name, value] : env) {
    if (value.empty()) {
      unsetenv(name.c_str());
    } else {
      setenv(name.c_str(), value.c_str(), 1);
    }
  }
}

}  // namespace

ProgramRun RunProgram(const std::vector<std::string>& argv,
                      const std::map<std::string, std::string>& env) {
  int pipeFds[2];
  ProgramRun run;
  if (pipe2(pipeFds, O_CLOEXEC) != 0) return run;
  const pid_t pid = fork();
  if (pid < 0) {
    close(pipeFds[0]);
    close(pipeFds[1]);
    return run;
  }
  if (pid == 0) {
    dup2(pipeFds[1], STDOUT_FILENO);
    ApplyEnvironment(env);
    std::vector<char*> args = CStrings(argv);
    execvp(args[0], args.data());
    _exit(127);
  }
  close(pipeFds[1]);
  char buffer[4096];
  ssize_t n;
  while ((n = read(pipeFds[0], buffer, sizeof buffer)) > 0) run.output.append(buffer, n);
  close(pipeFds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  run.succeeded = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return run;
}

// ---------------------------------------------------------------- platforms

std::string LinuxSide::LibrarySource() const { return QUARO7_LIBRARY_PATH; }

std::vector<std::string> LinuxSide::HostCommand() const {
  return {
      FromEnvironment("QUARO7_LINUX_WINHOST", ProgramDirectory() + "/../tools/winhost/winhost")};
}

void LinuxSide::LinkPort(const std::string& dir, int com, const std::string& target) {
  const std::string ports = dir + "/ports";
  const std::string link = ports + "/COM" + std::to_string(com);
  std::error_code ignored;
  fs::create_directories(ports, ignored);
  fs::remove(link, ignored);
  if (!target.empty()) fs::create_symlink(target, link, ignored);
}

std::optional<WineSetup> WineSetup::FromEnvironment() {
  WineSetup setup;
  setup.build = q7wine::FromEnvironment("QUARO7_WIN32_BUILD", "");
  setup.prefix = q7wine::FromEnvironment("WINEPREFIX", "");
  setup.wine = q7wine::FromEnvironment("QUARO7_WINE", "wine");
  setup.objdump = q7wine::FromEnvironment("QUARO7_OBJDUMP", "i686-w64-mingw32-objdump");
  if (setup.build.empty() || setup.prefix.empty()) return std::nullopt;
  return setup;
}

std::vector<std::string> WineSide::HostCommand() const { return {setup_.wine, setup_.Winhost()}; }

std::map<std::string, std::string> WineSide::HostEnvironment() const {
  // Headless unless a display was given: without one Wine's windows go
  // nowhere.
  return {{"WINEPREFIX", setup_.prefix},
          {"WINEDEBUG", "-all"},
          {"DISPLAY", display_},
          {"WAYLAND_DISPLAY", ""}};
}

std::string WineSide::HostPath(const std::string& path) const {
  std::string out = "Z:" + path;
  for (char& c : out)
    if (c == '/') c = '\\';
  return out;
}

void WineSide::LinkPort(const std::string& /*dir*/, int com, const std::string& target) {
  const std::string link = setup_.prefix + "/dosdevices/com" + std::to_string(com);
  std::error_code ignored;
  fs::remove(link, ignored);
  if (!target.empty()) fs::create_symlink(target, link, ignored);
}

// ---------------------------------------------------------------- the host

HostProcess::HostProcess(const std::vector<std::string>& argv,
                         const std::map<std::string, std::string>& env,
                         const std::string& errorFile) {
  int toHost[2], fromHost[2];
  if (pipe2(toHost, O_CLOEXEC) != 0) return;
  if (pipe2(fromHost, O_CLOEXEC) != 0) {
    close(toHost[0]);
    close(toHost[1]);
    return;
  }
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(toHost[0], STDIN_FILENO);
    dup2(fromHost[1], STDOUT_FILENO);
    const int err = open(errorFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (err >= 0) dup2(err, STDERR_FILENO);
    ApplyEnvironment(env);
    std::vector<char*> args = CStrings(argv);
    execvp(args[0], args.data());
    _exit(127);
  }
  close(toHost[0]);
  close(fromHost[1]);
  if (pid < 0) {
    close(toHost[1]);
    close(fromHost[0]);
    return;
  }
  pid_ = pid;
  in_ = toHost[1];
  out_ = fromHost[0];
}

HostProcess::~HostProcess() { Stop(); }

std::string HostProcess::Command(const std::string& line, int timeoutMs) {
  if (pid_ <= 0) return std::string();
  const std::string text = line + "\n";
  size_t sent = 0;
  while (sent < text.size()) {
    const ssize_t n = write(in_, text.data() + sent, text.size() - sent);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return std::string();
    sent += static_cast<size_t>(n);
  }
  const int64_t deadline = NowMs() + timeoutMs;
  for (;;) {
    const size_t newline = pending_.find('\n');
    if (newline != std::string::npos) {
      std::string reply = pending_.substr(0, newline);
      pending_.erase(0, newline + 1);
      if (!reply.empty() && reply.back() == '\r') reply.pop_back();
      return reply;
    }
    const int64_t left = deadline - NowMs();
    if (left <= 0) return std::string();
    pollfd p{out_, POLLIN, 0};
    const int ready = poll(&p, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return std::string();
    char buffer[1024];
    const ssize_t n = read(out_, buffer, sizeof buffer);
    if (n <= 0) return std::string();
    pending_.append(buffer, static_cast<size_t>(n));
  }
}

int64_t HostProcess::WaitForEnd(int timeoutMs) {
  if (pid_ <= 0) return -1;
  const int64_t start = NowMs();
  int status = 0;
  int64_t took = -1;
  while (waitpid(pid_, &status, WNOHANG) == 0) {
    if (NowMs() - start > timeoutMs) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (NowMs() - start <= timeoutMs) took = NowMs() - start;
  close(in_);
  close(out_);
  pid_ = -1;
  return took;
}

void HostProcess::Stop() {
  if (pid_ <= 0) return;
  (void)!write(in_, "quit\n", 5);
  close(in_);
  // A host that does not end by itself within a while is ended.
  int status = 0;
  const int64_t deadline = NowMs() + 20000;
  while (waitpid(pid_, &status, WNOHANG) == 0) {
    if (NowMs() > deadline) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  close(out_);
  pid_ = -1;
}

Reply ParseReply(const std::string& line) {
  Reply reply;
  reply.line = line;
  if (line.compare(0, 2, "= ") != 0) return reply;
  std::istringstream in(line.substr(2));
  if (!(in >> reply.result)) return reply;
  reply.ok = true;
  // Fields are name=value; a quoted value may hold blanks.
  std::string rest;
  std::getline(in, rest);
  size_t i = 0;
  while (i < rest.size()) {
    while (i < rest.size() && rest[i] == ' ') ++i;
    const size_t equals = rest.find('=', i);
    if (equals == std::string::npos) break;
    const std::string name = rest.substr(i, equals - i);
    size_t end = equals + 1;
    if (end < rest.size() && rest[end] == '"') {
      ++end;
      while (end < rest.size() && rest[end] != '"') end += rest[end] == '\\' ? 2 : 1;
      ++end;
    } else {
      end = rest.find(' ', end);
      if (end == std::string::npos) end = rest.size();
    }
    reply.fields[name] = rest.substr(equals + 1, end - equals - 1);
    i = end;
  }
  if (reply.fields.count("ms")) reply.ms = std::stoll(reply.fields["ms"]);
  return reply;
}

// ---------------------------------------------------------------- a run

Session::Session(HostSide& side, const std::string& dir, bool copyLibrary)
    : side_(side), dir_(dir) {
  if (!copyLibrary) return;
  std::error_code error;
  fs::copy_file(side_.LibrarySource(), dir_ + "/" + side_.LibraryName(), error);
  EXPECT_FALSE(error) << "copy " << side_.LibrarySource() << ": " << error.message();
}

Session::~Session() {
  host_.reset();
  for (int com : linked_) side_.LinkPort(dir_, com, std::string());
  for (const auto& [com, fd] : busy_) close(fd);
  sims_.clear();
}

void Session::WriteSettings(const std::string& xml) { WriteText(SettingsPath(), xml); }

domesim::DomeSimulator& Session::Sim(int com) {
  auto& slot = sims_[com];
  if (!slot) {
    slot = std::make_unique<domesim::DomeSimulator>();
    side_.LinkPort(dir_, com, slot->SlavePath());
    linked_.push_back(com);
  }
  return *slot;
}

void Session::BusyPort(int com) {
  if (side_.Name() == "wine") {
    // Opening a directory for reading and writing is refused as access
    // denied, which is what a port in use answers.
    const std::string target = dir_ + "/busy-com" + std::to_string(com);
    fs::create_directories(target);
    side_.LinkPort(dir_, com, target);
    linked_.push_back(com);
    return;
  }
  const std::string slave = Sim(com).SlavePath();
  const int fd = open(slave.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(fd, 0) << slave;
  ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
  busy_[com] = fd;
}

void Session::Load() {
  if (!host_) {
    host_ = std::make_unique<HostProcess>(side_.HostCommand(), side_.HostEnvironment(),
                                          dir_ + "/host-stderr.txt");
  }
  const std::string reply =
      host_->Command("load " + QuoteArg(side_.HostPath(dir_ + "/" + side_.LibraryName())), 60000);
  transcript_.calls.push_back("load -> " + reply);
  ASSERT_EQ(reply, "ok") << side_.Name() << " host did not load the library";
}

void Session::Unload() {
  if (!host_) return;
  const std::string reply = host_->Command("unload", 60000);
  transcript_.calls.push_back("unload -> " + reply);
  EXPECT_EQ(reply, "ok");
}

int64_t Session::TimedUnload(int timeoutMs) {
  if (!host_) return -1;
  const int64_t start = NowMs();
  const std::string reply = host_->Command("unload", timeoutMs);
  const int64_t took = NowMs() - start;
  transcript_.calls.push_back("unload -> " + reply);
  return reply == "ok" ? took : -1;
}

int Session::Threads() {
  // Asked before the first load, it starts the host program.
  if (!host_) {
    host_ = std::make_unique<HostProcess>(side_.HostCommand(), side_.HostEnvironment(),
                                          dir_ + "/host-stderr.txt");
  }
  const std::string reply = host_->Command("threads", 60000);
  if (reply.compare(0, 9, "ok count=") != 0) return -1;
  return std::atoi(reply.c_str() + 9);
}

void Session::EndHost() {
  Unload();
  host_.reset();
}

int64_t Session::ExitHost(int timeoutMs) {
  if (!host_) return -1;
  const std::string reply = host_->Command("exit 0", 60000);
  transcript_.calls.push_back("exit -> " + reply);
  EXPECT_EQ(reply, "ok");
  const int64_t took = host_->WaitForEnd(timeoutMs);
  host_.reset();
  return took;
}

// The pseudo-terminal refuses a change of line settings that changes
// nothing it keeps (it keeps no parity), and Wine applies the parity in a
// call of its own. Input checking off on the dome's side makes every fresh
// setting of the line a change.
void Session::ResetLines() {
  for (const auto& [com, sim] : sims_) {
    const std::string slave = sim->SlavePath();
    if (slave.empty()) continue;
    const int fd = open(slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    termios tio{};
    if (tcgetattr(fd, &tio) == 0) {
      tio.c_iflag &= ~static_cast<tcflag_t>(INPCK | IGNBRK);
      tcsetattr(fd, TCSANOW, &tio);
    }
    close(fd);
  }
}

Reply Session::Call(const std::string& command, int timeoutMs, const std::string& shown) {
  std::string line = command;
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(handle_));
  for (size_t at; (at = line.find("{h}")) != std::string::npos;) line.replace(at, 3, hex);
  // The handle's bytes as they stand at the start of a channel record.
  const uint32_t bits = static_cast<uint32_t>(handle_);
  std::snprintf(hex, sizeof hex, "%02x%02x%02x%02x", bits & 0xFF, (bits >> 8) & 0xFF,
                (bits >> 16) & 0xFF, bits >> 24);
  for (size_t at; (at = line.find("{hle}")) != std::string::npos;) line.replace(at, 5, hex);
  ResetLines();
  Reply reply;
  if (host_) reply = ParseReply(host_->Command(line, timeoutMs));
  EXPECT_TRUE(reply.ok) << side_.Name() << ": " << line << " -> \"" << reply.line << "\"";
  std::string entry = (shown.empty() ? command : shown) + " -> " + std::to_string(reply.result);
  for (const auto& [name, value] : reply.fields) {
    if (name == "ms" || name == "handle") continue;
    entry += " " + name + "=" + value;
  }
  // Records that come back hold the handle (or a camera identifier) first.
  if (reply.fields.count("record") && reply.fields.at("record").size() >= 8) {
    const size_t at = entry.rfind(" record=") + 8;
    entry.replace(at, 8, "<id>");
  }
  transcript_.calls.push_back(entry);
  return reply;
}

std::string Session::Command(const std::string& line, int timeoutMs) {
  return host_ ? host_->Command(line, timeoutMs) : std::string();
}

int Session::Init(int logSwitch) {
  const std::string prefix = "VRT_CamInitModule " + std::to_string(logSwitch) + " ";
  return Call(prefix + QuoteArg(side_.HostPath(dir_)), 60000, prefix + "<dir>").result;
}

int Session::Open(int tavoId) {
  const Reply reply = Call("VRT_CamOpen " + std::to_string(tavoId));
  if (reply.result == 1 && reply.fields.count("handle")) {
    handle_ = static_cast<int>(std::stoul(reply.fields.at("handle"), nullptr, 16));
    handles_.push_back(handle_);
  }
  return reply.result;
}

std::vector<std::string> Session::Wire(int com) {
  std::vector<std::string> lines = Sim(com).TakeLines();
  for (const std::string& line : lines)
    transcript_.wire.push_back("COM" + std::to_string(com) + " " + line);
  return lines;
}

std::vector<std::string> SplitLog(const std::string& text) {
  static const std::regex stamp(R"(\d{4}/\d{2}/\d{2}, \d{2}:\d{2}\.\d{2}\t)");
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find("\r\n", start);
    const std::string line =
        text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    lines.push_back(std::regex_replace(line, stamp, ""));
    if (end == std::string::npos) break;
    start = end + 2;
  }
  return lines;
}

std::vector<std::string> Session::LogLines() const { return SplitLog(ReadText(LogPath())); }

bool Session::WaitForLog(const std::string& line, int timeoutMs) const {
  const int64_t deadline = NowMs() + timeoutMs;
  for (;;) {
    const std::vector<std::string> lines = LogLines();
    if (std::find(lines.begin(), lines.end(), line) != lines.end()) return true;
    if (NowMs() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

Transcript Session::Finish() {
  host_.reset();
  for (const auto& [com, sim] : sims_) Wire(com);
  Transcript out = transcript_;
  out.log = LogLines();
  for (std::string& line : out.log) {
    for (int handle : handles_) {
      char hex[16];
      std::snprintf(hex, sizeof hex, "%08X", static_cast<unsigned>(handle));
      for (size_t at; (at = line.find(hex)) != std::string::npos;) line.replace(at, 8, "<handle>");
    }
  }
  // Byte for byte: the file's layout is the same on every system.
  out.settings = ReadText(SettingsPath());
  return out;
}

// ---------------------------------------------------------------- the tests

void WineHostTest::SetUp() {
  setup_ = WineSetup::FromEnvironment();
  if (!setup_) GTEST_SKIP() << "Wine runs not set up (scripts/wine-tests.sh runs them)";
}

void WineHostTest::TearDown() {
  // A failed test leaves its directories for a look.
  if (!HasFailure()) {
    for (const std::string& dir : dirs_) RemoveTree(dir);
  } else {
    for (const std::string& dir : dirs_) std::cerr << "kept " << dir << "\n";
  }
}

Transcript WineHostTest::RunOn(HostSide& side, const std::function<void(Session&)>& scenario) {
  const std::string dir = MakeTempDir("q7wine-" + side.Name());
  EXPECT_FALSE(dir.empty());
  dirs_.push_back(dir);
  SCOPED_TRACE("on " + side.Name() + " in " + dir);
  Session session(side, dir);
  scenario(session);
  return session.Finish();
}

Transcript WineHostTest::RunBoth(const std::function<void(Session&)>& scenario) {
  LinuxSide linuxSide;
  WineSide wineSide(*setup_);
  const Transcript native = RunOn(linuxSide, scenario);
  const Transcript emulated = RunOn(wineSide, scenario);
  EXPECT_EQ(native.calls, emulated.calls) << "results differ between Linux and Wine";
  EXPECT_EQ(native.wire, emulated.wire) << "wire lines differ between Linux and Wine";
  EXPECT_EQ(native.log, emulated.log) << "log lines differ between Linux and Wine";
  EXPECT_EQ(native.settings, emulated.settings) << "settings files differ between Linux and Wine";
  return emulated;
}

std::string RecordHex(const std::vector<int32_t>& numbers, const std::string& text,
                      size_t textSize) {
  std::string bytes;
  for (int32_t number : numbers) {
    const uint32_t value = static_cast<uint32_t>(number);
    for (int shift = 0; shift < 32; shift += 8) bytes += static_cast<char>((value >> shift) & 0xFF);
  }
  if (textSize > 0) {
    std::string field = text.substr(0, textSize);
    field.resize(textSize, '\0');
    bytes += field;
  }
  std::string hex;
  char two[4];
  for (unsigned char c : bytes) {
    std::snprintf(two, sizeof two, "%02x", c);
    hex += two;
  }
  return hex;
}

std::string OneCameraSettings(int com) {
  std::ostringstream out;
  auto key = [&out](const char* name, const std::string& value) {
    out << "<" << name << " value=\"" << value << "\"/>";
  };
  out << "<?xml version='1.0' encoding='iso-8859-1'?>\n<settings>\n\t<comm1>";
  key("Name", "Line 1");
  key("ComPort", std::to_string(com));
  key("PortMode", "96,E,8,1");
  out << "\n\t\t<cam1>";
  key("Name", "Gate");
  key("TavoID", "0");
  key("SysID", "5");
  key("NodeAddress", "128");
  key("CamAccFactor", "6");
  key("WaitForResponse", "1");
  key("WashPulseTime", "3000");
  key("DefaultPreposSpeed", "90");
  key("NofStorageLocations", "99");
  key("ControlMonitor", "1");
  key("NofRelays", "3");
  out << "\n\t\t</cam1>\n\t</comm1>\n</settings>\n";
  return out.str();
}

std::string TwoLineSettings(int com, int second) {
  std::string settings = OneCameraSettings(com);
  const std::string line2 =
      "\t<comm2><Name value=\"Line 2\"/><ComPort value=\"" + std::to_string(second) +
      "\"/><PortMode value=\"96,E,8,1\"/>\n\t\t<cam1><Name value=\"Yard\"/><TavoID value=\"1\"/>"
      "<SysID value=\"6\"/><NodeAddress value=\"128\"/><CamAccFactor value=\"6\"/>"
      "<WaitForResponse value=\"1\"/><ControlMonitor value=\"1\"/><NofRelays value=\"3\"/>"
      "<NofStorageLocations value=\"99\"/>\n\t\t</cam1>\n\t</comm2>\n";
  settings.insert(settings.rfind("</settings>"), line2);
  return settings;
}

}  // namespace q7wine
