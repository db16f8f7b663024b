// The terminal in raw mode for the interactive mode: keys arrive one by one,
// unechoed, and Ctrl-C is a key. The previous mode comes back when the object
// goes, and at once when SIGINT, SIGTERM, SIGHUP or SIGQUIT arrives.
#pragma once

namespace ptzctl {

class RawTerminal {
 public:
  // Switches `fd` to raw mode when it is a terminal; Active() tells.
  // `out_fd` gets the application keypad switch and its undoing.
  RawTerminal(int fd, int out_fd);
  ~RawTerminal();
  RawTerminal(const RawTerminal&) = delete;
  RawTerminal& operator=(const RawTerminal&) = delete;

  bool Active() const { return active_; }
  // Restores the terminal now (idempotent).
  void Restore();
  // Width of the output terminal, 80 when unknown.
  int Columns() const;

  // The terminating signal caught since the mode was set, 0 if none.
  static int CaughtSignal();
  // After the caller has cleaned up: dies of the caught signal, as the
  // program would have without the handler.
  static void ReraiseCaughtSignal();

 private:
  int fd_;
  int out_fd_;
  bool active_ = false;
};

}  // namespace ptzctl
