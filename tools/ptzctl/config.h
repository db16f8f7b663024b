// "ptzctl config ...": setting up lines and cameras without a window. The
// driver core is linked into ptzctl and works on the settings file beside
// the library named (it acts as that library, platform::ActAsLibrary): the
// setup dialogs' own values, checks, messages and saves, under the same
// cross-process lock as every host that has the library loaded, without
// loading the library, a display or the dialog program.
#pragma once

#include <iosfwd>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace ptzctl {

struct ConfigOptions {
  std::string library;  // the library whose files are worked on
  std::string log_dir;  // empty: the library's directory
  int log_switch = 1;
};

class ConfigCommands {
 public:
  // Adds "config" with its subcommands to `app`, which must outlive this.
  explicit ConfigCommands(CLI::App* app);
  ConfigCommands(const ConfigCommands&) = delete;
  ConfigCommands& operator=(const ConfigCommands&) = delete;

  // True when the command line named a config command.
  bool Parsed() const;
  // Runs it: 0 done (or nothing to do), 1 refused or failed (the reason on
  // err: for values a setup dialog refuses, the dialog's own message), 2 the
  // library or the command's words are unusable.
  int Run(const ConfigOptions& options, std::ostream& out, std::ostream& err, std::istream& in);

  // What the parsed subcommand asked for (public for the command bodies).
  struct Request {
    std::string command;  // "show", "add-line", ...
    bool json = false;
    std::optional<std::string> port, name, mode;
    std::string line;  // COM|NAME
    bool with_cameras = false;
    bool yes = false;
    std::optional<std::string> number, address;
    int camera = -1;
    std::vector<std::string> assignments;  // KEY=VALUE
  };

 private:
  CLI::App* config_ = nullptr;
  Request request_;
};

}  // namespace ptzctl
