#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>

#include "ptzctl/terminal.h"

namespace ptzctl {
namespace {

// State shared with the signal handler: set before the handler is installed
// and only read there.
volatile sig_atomic_t g_caught = 0;
volatile sig_atomic_t g_saved_valid = 0;
int g_fd = -1;
int g_out_fd = -1;
termios g_saved{};
struct sigaction g_previous[4];
constexpr int kSignals[4] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// Leaves application keypad mode and shows the cursor.
constexpr char kNormalKeypad[] = "\033>\033[?25h";
constexpr char kApplicationKeypad[] = "\033=";

void RestoreNow() {
  if (!g_saved_valid) return;
  g_saved_valid = 0;
  tcsetattr(g_fd, TCSAFLUSH, &g_saved);
  if (g_out_fd >= 0) {
    ssize_t ignored = write(g_out_fd, kNormalKeypad, sizeof kNormalKeypad - 1);
    (void)ignored;
  }
}

extern "C" void OnSignal(int number) {
  // tcsetattr and write are async-signal-safe.
  RestoreNow();
  g_caught = number;
}

}  // namespace

RawTerminal::RawTerminal(int fd, int out_fd) : fd_(fd), out_fd_(out_fd) {
  termios mode{};
  if (!isatty(fd) || tcgetattr(fd, &mode) != 0) return;
  g_fd = fd;
  g_out_fd = isatty(out_fd) ? out_fd : -1;
  g_saved = mode;
  g_caught = 0;
  g_saved_valid = 1;

  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a waiting poll() returns at once
  for (int i = 0; i < 4; ++i) sigaction(kSignals[i], &action, &g_previous[i]);

  // Raw input; output processing stays on so "\n" still starts a new line.
  mode.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO | ISIG | IEXTEN));
  mode.c_iflag &= static_cast<tcflag_t>(~(IXON | ICRNL | INLCR | IGNCR | ISTRIP));
  mode.c_cc[VMIN] = 1;
  mode.c_cc[VTIME] = 0;
  if (tcsetattr(fd, TCSAFLUSH, &mode) != 0) {
    g_saved_valid = 0;
    for (int i = 0; i < 4; ++i) sigaction(kSignals[i], &g_previous[i], nullptr);
    return;
  }
  if (g_out_fd >= 0) {
    ssize_t ignored = write(g_out_fd, kApplicationKeypad, sizeof kApplicationKeypad - 1);
    (void)ignored;
  }
  active_ = true;
}

RawTerminal::~RawTerminal() { Restore(); }

void RawTerminal::Restore() {
  if (!active_) return;
  active_ = false;
  // Blocked while the state goes, so the handler never sees it half-changed.
  sigset_t block, old;
  sigemptyset(&block);
  for (int s : kSignals) sigaddset(&block, s);
  sigprocmask(SIG_BLOCK, &block, &old);
  RestoreNow();
  for (int i = 0; i < 4; ++i) sigaction(kSignals[i], &g_previous[i], nullptr);
  sigprocmask(SIG_SETMASK, &old, nullptr);
}

int RawTerminal::Columns() const {
  winsize size{};
  if (ioctl(out_fd_, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

int RawTerminal::CaughtSignal() { return g_caught; }

void RawTerminal::ReraiseCaughtSignal() {
  const int number = g_caught;
  if (number == 0) return;
  signal(number, SIG_DFL);
  raise(number);
}

}  // namespace ptzctl
