// The host-call commands, shared by one-shot use, scripts and the demo: each
// command is parsed with CLI11 into an action that runs against a session.
#pragma once

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "ptzctl/session.h"

namespace CLI {
class App;
}

namespace ptzctl {

// Help text for camera arguments.
extern const char kCameraHelp[];

class CommandSet {
 public:
  using Action = std::function<int(Session&)>;

  // Adds every command as a subcommand of `app`; `app` must outlive this.
  explicit CommandSet(CLI::App* app);
  CommandSet(const CommandSet&) = delete;
  CommandSet& operator=(const CommandSet&) = delete;

  // The action of the command that was parsed; empty when none was.
  Action TakeAction() { return std::move(action_); }

 private:
  void AddModuleCommands(CLI::App* app);
  void AddMotionCommands(CLI::App* app);
  void AddPresetCommands(CLI::App* app);
  void AddRelayCommands(CLI::App* app);
  void AddOtherCommands(CLI::App* app);

  Action action_;
  std::string camera_;
  int number_ = 0;
  int speed_ = 0;
  int mode_ = 0;
  int time_ = 0;
  int relay_ = 0;
  int code_ = 0;
  int interface_ = 6;
  int recall_speed_ = 16;
  int set_time_ = 0;
  int configure_camera_ = -1;
  int callback_value_ = 0;
  std::string what_;
  std::string name_;
  std::vector<std::string> args_;
};

// The command's result is the first negative result of its calls, else the
// last one. Without an expectation a negative result is a failure; with one,
// any result other than the expected code is.
bool ResultAsExpected(int result, std::optional<int> expected);

// Splits a script line into words: blanks separate them, '...' and "..."
// quote, a backslash escapes the next character (not inside '...'), and a #
// at the start of a word ends the line. False with *error for an unclosed
// quote or a trailing backslash.
bool SplitWords(const std::string& line, std::vector<std::string>* words, std::string* error);

// Runs one command given as words ("left", "0", "5"), optionally preceded by
// "expect CODE". Returns 0 when the result is as expected, 1 when not, 2 for
// a command that could not be parsed (explained through the session).
int RunCommandWords(Session& session, std::vector<std::string> words);

// Runs a script, one command per line, # comments; each line is echoed with
// its number before its calls. Returns 0 when every command gave the result
// expected, 1 otherwise, 2 when a line could not be parsed (the script stops
// there). The module stays initialised at the end; the caller shuts down.
int RunScript(Session& session, std::istream& in, const std::string& name);

}  // namespace ptzctl
