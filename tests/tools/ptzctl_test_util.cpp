#include "ptzctl_test_util.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "ptzctl/demo.h"

namespace ptzctl_test {
namespace fs = std::filesystem;

namespace {

long long NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

RunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::string& input, int timeout_ms) {
  int in[2], out[2], err[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
    throw std::runtime_error("pipe failed");
  // Built before the fork: the child of a threaded process only execs.
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  if (!input.empty()) {
    // A program that exits before it reads its input must not end the test
    // with SIGPIPE.
    static const bool sigpipe_ignored = signal(SIGPIPE, SIG_IGN) != SIG_ERR;
    (void)sigpipe_ignored;
    ssize_t ignored = write(in[1], input.data(), input.size());
    (void)ignored;
  }
  close(in[1]);
  RunResult result;
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open_count = 2;
  const long long end = NowMs() + timeout_ms;
  bool killed = false;
  while (open_count > 0) {
    const long long left = end - NowMs();
    if (left <= 0 && !killed) {
      kill(pid, SIGKILL);
      killed = true;
    }
    if (poll(fds, 2, left > 0 ? static_cast<int>(left) : 100) < 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[4096];
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<size_t>(n));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_count;
      }
    }
  }
  int status = 0;
  waitpid(pid, &status, 0);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args) {
  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0)
    throw std::runtime_error("pipe failed");
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_ = fork();
  if (pid_ == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(out[1], 2);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  in_ = in[1];
  out_ = out[0];
  static const bool sigpipe_ignored = signal(SIGPIPE, SIG_IGN) != SIG_ERR;
  (void)sigpipe_ignored;
}

ChildProcess::~ChildProcess() {
  if (Finish() < 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (out_ >= 0) close(out_);
}

void ChildProcess::Write(const std::string& text) {
  if (in_ >= 0) (void)!write(in_, text.data(), text.size());
}

const std::string& ChildProcess::ReadUntil(const std::string& until, int timeout_ms) {
  ptzctl_test::ReadUntil(out_, &output_, until, timeout_ms);
  return output_;
}

int ChildProcess::Finish() {
  if (status_ >= 0 || pid_ <= 0) return status_;
  if (in_ >= 0) close(in_);
  in_ = -1;
  const long long end = NowMs() + 10000;
  int status = 0;
  while (NowMs() < end) {
    ReadUntil("\x01never", 50);
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      return status_;
    }
  }
  return -1;
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
  for (const std::string& l : lines) {
    if (l == line) return true;
  }
  return false;
}

std::string Join(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + " | ";
  return text;
}

HostDir::HostDir() {
  std::string pattern = (fs::temp_directory_path() / "ptzctl-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  dir_ = pattern;
  fs::copy_file(QUARO7_LIBRARY_PATH, Library());
  std::ofstream(Settings()) << ptzctl::DemoSettingsXml();
}

HostDir::~HostDir() {
  std::error_code ignored;
  fs::remove_all(dir_, ignored);
}

void HostDir::EditSettings(const std::string& from, const std::string& to) {
  std::stringstream text;
  text << std::ifstream(Settings()).rdbuf();
  std::string xml = text.str();
  const size_t at = xml.find(from);
  if (at == std::string::npos) throw std::runtime_error("not in the settings: " + from);
  xml.replace(at, from.size(), to);
  std::ofstream(Settings(), std::ios::trunc) << xml;
}

std::string ReadUntil(int fd, std::string* so_far, const std::string& until, int timeout_ms,
                      size_t from) {
  const long long end = NowMs() + timeout_ms;
  for (;;) {
    if (!until.empty() && so_far->find(until, from) != std::string::npos) break;
    const long long left = end - NowMs();
    if (left <= 0) break;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
    char buffer[4096];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    so_far->append(buffer, static_cast<size_t>(n));
  }
  return *so_far;
}

}  // namespace ptzctl_test
