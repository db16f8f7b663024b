// Starting a program of ours with posix_spawn: a socket pair whose one end
// becomes the program's descriptor 3, nothing else of the host's reaches
// it, and its end is waited for (so no zombie is left).
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "platform/child_process.h"
#include "platform/posix/process_channel_posix.h"

extern char** environ;

namespace platform {

namespace {

std::string Describe(int status) {
  if (WIFEXITED(status)) return "exit status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return "killed by signal " + std::to_string(WTERMSIG(status));
  return "status " + std::to_string(status);
}

class PosixChild : public ChildProcess {
 public:
  PosixChild(pid_t pid, int fd) : pid_(pid), id_(static_cast<int>(pid)) {
    channel_ = ChannelOnSocket(fd);
  }
  ~PosixChild() override { WaitForEnd(2000); }

  int Id() const override { return id_; }

  std::string WaitForEnd(int timeoutMs) override {
    if (pid_ <= 0) return how_;
    const struct timespec pause = {0, 2 * 1000 * 1000};
    int status = 0;
    for (int waited = 0;; waited += 2) {
      const pid_t done = waitpid(pid_, &status, WNOHANG);
      if (done == pid_) {
        how_ = Describe(status);
        break;
      }
      if (done < 0 && errno != EINTR) {
        // Reaped elsewhere (a host ignoring SIGCHLD): nothing to say.
        how_ = "end not known";
        break;
      }
      if (waited >= timeoutMs) {
        kill(pid_, SIGKILL);
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        how_ = "did not end, killed";
        break;
      }
      nanosleep(&pause, nullptr);
    }
    pid_ = 0;
    return how_;
  }

 private:
  pid_t pid_;  // 0 once waited for
  int id_;
  std::string how_;
};

}  // namespace

std::unique_ptr<ChildProcess> StartChildProcess(const std::string& program,
                                                const std::string& argument, std::string* why) {
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
    *why = std::string("no socket pair for the dialog process: ") + strerror(errno);
    return nullptr;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  // dup2 clears close-on-exec on the copy only.
  posix_spawn_file_actions_adddup2(&actions, pair[1], kChildChannelFd);
  posix_spawn_file_actions_addclosefrom_np(&actions, kChildChannelFd + 1);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  // The host's blocked or ignored signals are not the program's.
  sigset_t none;
  sigemptyset(&none);
  sigset_t all;
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  std::string name = program;
  std::string arg = argument;
  char* argv[] = {name.data(), arg.empty() ? nullptr : arg.data(), nullptr};
  pid_t pid = 0;
  const int error = posix_spawn(&pid, program.c_str(), &actions, &attributes, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  close(pair[1]);
  if (error != 0) {
    close(pair[0]);
    *why = "the dialog program " + program + " cannot be started: " + strerror(error);
    return nullptr;
  }
  return std::make_unique<PosixChild>(pid, pair[0]);
}

}  // namespace platform
