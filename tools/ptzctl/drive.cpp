#include "ptzctl/drive.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "ptzctl/host_calls.h"
#include "ptzctl/keys.h"
#include "ptzctl/result_codes.h"
#include "ptzctl/terminal.h"

namespace ptzctl {

const char kDriveKeysHelp[] =
    "arrows and keypad: move (Home/PgUp/End/PgDn and keypad 7 9 1 3: diagonals) | "
    "+/-: zoom | 1-9: speed | space or keypad 5: stop | p: store preset | r then 1-9: "
    "recall preset | l: list presets | h: help | q: quit";

int SpeedForKey(int key) {
  if (key < 1) key = 1;
  if (key > 9) key = 9;
  return (key * 16 + 8) / 9;
}

namespace {

void WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

// Scrolling lines above one status line that is redrawn in place.
class Screen {
 public:
  Screen(int fd, const RawTerminal& terminal) : fd_(fd), terminal_(terminal) {}

  void Line(const std::string& text) {
    WriteAll(fd_, "\r\033[K" + text + "\n");
    Draw();
  }
  void SetStatus(const std::string& status) {
    if (status == status_) return;
    status_ = status;
    Draw();
  }
  void Finish() { WriteAll(fd_, "\r\033[K" + status_ + "\n"); }

 private:
  void Draw() {
    const size_t width = static_cast<size_t>(std::max(20, terminal_.Columns() - 1));
    WriteAll(fd_, "\r\033[K" + status_.substr(0, width));
  }

  int fd_;
  const RawTerminal& terminal_;
  std::string status_;
};

class Controller {
 public:
  Controller(Session& session, const DriveOptions& options, Screen& screen, int handle)
      : s_(session), options_(options), screen_(screen), handle_(handle) {
    speed_key_ = std::min(9, std::max(1, options.speed_key));
  }

  // Returns false when the user quits.
  bool OnKey(const Key& key) {
    if (recall_prompt_) {
      recall_prompt_ = false;
      if (key.kind == KeyKind::kChar && key.ch >= '1' && key.ch <= '9') {
        StopMotion();
        CallRecallPreset(s_, handle_, key.ch - '1', Speed());
      } else {
        screen_.Line("recall cancelled");
      }
      return true;
    }
    switch (key.kind) {
      case KeyKind::kUp:
        return Move(Direction::kUp);
      case KeyKind::kDown:
        return Move(Direction::kDown);
      case KeyKind::kLeft:
        return Move(Direction::kLeft);
      case KeyKind::kRight:
        return Move(Direction::kRight);
      case KeyKind::kUpLeft:
        return Move(Direction::kUpLeft);
      case KeyKind::kUpRight:
        return Move(Direction::kUpRight);
      case KeyKind::kDownLeft:
        return Move(Direction::kDownLeft);
      case KeyKind::kDownRight:
        return Move(Direction::kDownRight);
      case KeyKind::kCenter:
        return StopAll();
      case KeyKind::kZoomIn:
        return Zoom(1);
      case KeyKind::kZoomOut:
        return Zoom(0);
      case KeyKind::kChar:
        return OnChar(key.ch);
      default:
        return true;
    }
  }

  // Leaves the dome still.
  void Quit() { StopMotion(); }

  std::string Status() const {
    std::string text = "cam " + options_.camera + " " + Quoted(name_) + " | speed " +
                       std::to_string(speed_key_) + " (code " + std::to_string(Speed()) + ") | ";
    switch (motion_) {
      case Motion::kNone:
        text += "stopped";
        break;
      case Motion::kMove:
        text += std::string("moving ") + DirectionName(direction_);
        break;
      case Motion::kZoom:
        text += "zoom " + std::to_string(zoom_mode_);
        break;
    }
    text += " | presets " + std::to_string(presets_);
    if (recall_prompt_) text += " | recall which preset? 1-9";
    if (!last_call_.empty()) {
      text +=
          " | " + last_call_.substr(0, last_call_.find('(')) + " " + std::to_string(last_result_);
      if (last_result_ < 0) text += std::string(" ") + ResultMeaning(last_result_);
    }
    if (options_.status_extra) text += " | " + options_.status_extra();
    return text;
  }

  void NoteCall(const std::string& call, int result) {
    last_call_ = call;
    last_result_ = result;
  }

  void Start() {
    std::string name;
    int number = 0;
    if (std::strncmp(options_.camera.c_str(), "0x", 2) != 0) {
      number = std::atoi(options_.camera.c_str());
      if (CallGetName(s_, number, &name) == 1) name_ = name;
    }
    RefreshPresets();
    screen_.Line(std::string("keys: ") + kDriveKeysHelp);
  }

 private:
  enum class Motion { kNone, kMove, kZoom };

  int Speed() const { return SpeedForKey(speed_key_); }

  void RefreshPresets() {
    const int count = CallPresetCount(s_, handle_);
    if (count >= 0) presets_ = count;
  }

  void StopMotion() {
    if (motion_ == Motion::kMove) CallMove(s_, handle_, direction_, 0);
    if (motion_ == Motion::kZoom) CallLens(s_, handle_, Lens::kZoom, zoom_mode_, 0);
    motion_ = Motion::kNone;
  }

  bool Move(Direction direction) {
    if (motion_ == Motion::kMove && direction_ == direction) return true;
    // One movement at a time: the driver starts a new direction only from
    // a stop.
    StopMotion();
    if (CallMove(s_, handle_, direction, Speed()) == 1) {
      motion_ = Motion::kMove;
      direction_ = direction;
    }
    return true;
  }

  bool Zoom(int mode) {
    if (motion_ == Motion::kZoom && zoom_mode_ == mode) return true;
    StopMotion();
    if (CallLens(s_, handle_, Lens::kZoom, mode, Speed()) == 1) {
      motion_ = Motion::kZoom;
      zoom_mode_ = mode;
    }
    return true;
  }

  bool StopAll() {
    if (motion_ != Motion::kNone) {
      StopMotion();
    } else {
      // Nothing started here: stop whatever the dome may still be doing.
      CallMove(s_, handle_, Direction::kUpLeft, 0);
      CallMove(s_, handle_, Direction::kDownRight, 0);
    }
    return true;
  }

  bool OnChar(char c) {
    if (c >= '1' && c <= '9') {
      speed_key_ = c - '0';
      // A running movement takes the new speed.
      if (motion_ == Motion::kMove) CallMove(s_, handle_, direction_, Speed());
      return true;
    }
    switch (c) {
      case ' ':
        return StopAll();
      case '+':
      case '=':
        return Zoom(1);
      case '-':
      case '_':
        return Zoom(0);
      case 'p':
      case 'P': {
        StopMotion();
        const int count = CallPresetCount(s_, handle_);
        if (count >= 0) CallStorePreset(s_, handle_, count, "Preset " + std::to_string(count));
        RefreshPresets();
        return true;
      }
      case 'r':
      case 'R':
        recall_prompt_ = true;
        return true;
      case 'l':
      case 'L': {
        const int count = CallPresetCount(s_, handle_);
        for (int i = 0; i < count; ++i) CallGetPreset(s_, handle_, i, nullptr);
        if (count >= 0) presets_ = count;
        return true;
      }
      case 'h':
      case 'H':
      case '?':
        screen_.Line(std::string("keys: ") + kDriveKeysHelp);
        return true;
      case 'q':
      case 'Q':
      case 0x03:  // Ctrl-C
      case 0x04:  // Ctrl-D
        return false;
      default:
        return true;
    }
  }

  Session& s_;
  const DriveOptions& options_;
  Screen& screen_;
  int handle_;
  std::string name_;
  int speed_key_ = 5;
  Motion motion_ = Motion::kNone;
  Direction direction_ = Direction::kLeft;
  int zoom_mode_ = 0;
  int presets_ = 0;
  bool recall_prompt_ = false;
  std::string last_call_;
  int last_result_ = 0;
};

}  // namespace

int RunDrive(Session& session, const DriveOptions& options) {
  RawTerminal terminal(options.input_fd, options.output_fd);
  if (!terminal.Active()) {
    session.Print("drive needs a terminal on its input");
    return 2;
  }
  Screen screen(options.output_fd, terminal);
  Session::Printer previous =
      session.SetPrinter([&screen](const std::string& line) { screen.Line(line); });
  int handle = 0;
  if (session.Handle(options.camera, &handle) != 1) {
    terminal.Restore();
    session.SetPrinter(previous);
    session.Print("cannot open camera " + options.camera);
    return 1;
  }
  Controller controller(session, options, screen, handle);
  session.SetCallObserver(
      [&controller](const std::string& call, int result) { controller.NoteCall(call, result); });
  controller.Start();

  KeyDecoder decoder;
  bool running = true;
  while (running && RawTerminal::CaughtSignal() == 0) {
    if (options.poll_lines) {
      for (const std::string& line : options.poll_lines()) screen.Line(line);
    }
    screen.SetStatus(controller.Status());
    pollfd input{options.input_fd, POLLIN, 0};
    const int ready = poll(&input, 1, decoder.Pending() ? 50 : 100);
    if (ready < 0) continue;  // a signal: the loop condition decides
    if (ready == 0) {
      for (const Key& key : decoder.Flush()) running = running && controller.OnKey(key);
      continue;
    }
    unsigned char bytes[64];
    const ssize_t n = read(options.input_fd, bytes, sizeof bytes);
    if (n <= 0) break;  // end of input or a hang-up
    for (ssize_t i = 0; i < n && running; ++i) {
      for (const Key& key : decoder.Feed(bytes[i])) {
        if (!controller.OnKey(key)) {
          running = false;
          break;
        }
      }
    }
  }
  controller.Quit();
  if (options.poll_lines) {
    for (const std::string& line : options.poll_lines()) screen.Line(line);
  }
  screen.SetStatus(controller.Status());
  screen.Finish();
  session.SetCallObserver(nullptr);
  session.SetPrinter(previous);
  terminal.Restore();
  return 0;
}

}  // namespace ptzctl
