// ptzctl: loads the PTZ driver library the way a host does and calls its
// exports from the command line, from a script, or from the keyboard; its
// demo runs the whole chain against the built-in dome simulator.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <optional>

#include "ptzctl/commands.h"
#include "ptzctl/config.h"
#include "ptzctl/demo.h"
#include "ptzctl/drive.h"
#include "ptzctl/host_os.h"
#include "ptzctl/result_codes.h"
#include "ptzctl/session.h"
#include "ptzctl/terminal.h"

namespace {

void PrintLine(const std::string& line) {
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "ptzctl: a host for the QUARO7K7_PTZ driver library. It loads the library by its path, "
      "calls its exports and prints every call with its result code and meaning.\n"
      "Camera numbers (CAM) are the host's camera numbers, 0-based as in the exports.\n"
      "A one-shot command initialises the module, opens the camera where needed, makes the "
      "call, closes the camera and ends the module. The driver keeps its settings file "
      "(QUARO7K7_PTZ.xml) and its ports/COM<n> links in the library's own directory.\n"
      "Start with: " +
      std::string(ptzctl::FirstCommand())};
  // Options start with - everywhere, also in the Windows build: an argument
  // such as a name that starts with / stays an argument.
  app.allow_windows_style_options(false);
  app.footer("Result codes:\n" + ptzctl::ResultTable() +
             "\nExit status: 0 when every command gave the result expected (success, or the code "
             "of --expect / a script's 'expect CODE'), 1 when not, 2 for a usage or loading "
             "error.");
  std::string library;
  std::string log_dir;
  std::string script;
  bool trace = false;
  int hold_ms = 0;
  std::optional<int> expected;
  int log_switch = 1;
  app.add_option("--lib", library,
                 "Driver library to load (default: " + ptzctl::DefaultLibrary() + ")")
      ->type_name("PATH");
  app.add_option("--log", log_dir,
                 "Log directory handed to VRT_CamInitModule (default: the library's directory)")
      ->type_name("DIR");
  app.add_option("--log-switch", log_switch, "Log switch handed to VRT_CamInitModule")
      ->capture_default_str();
  app.add_flag("--trace", trace, "Show the driver's log lines after each call");
  app.add_option("--script", script,
                 "Run the commands in FILE, one per line ('-' reads standard input); # starts "
                 "a comment, 'expect CODE command ...' checks a result")
      ->type_name("FILE");
  app.add_option("--expect", expected, "Result code the command is expected to give")
      ->type_name("CODE");
  app.add_option("--hold", hold_ms,
                 "Keep the cameras open this many milliseconds after the command (lets a "
                 "wash pulse end)")
      ->type_name("MS")
      ->check(CLI::Range(0, 3600000));

  ptzctl::CommandSet commands(&app);
  ptzctl::ConfigCommands config(&app);

  ptzctl::DriveOptions drive;
  CLI::App* drive_command = app.add_subcommand(
      "drive", std::string("Steer a camera from the keyboard: ") + ptzctl::kDriveKeysHelp);
  drive_command->add_option("CAM", drive.camera, ptzctl::kCameraHelp)->required();
  drive_command->add_option("--speed", drive.speed_key, "Starting speed key 1..9")
      ->check(CLI::Range(1, 9))
      ->capture_default_str();

  ptzctl::DemoOptions demo;
  bool no_pauses = false;
  CLI::App* demo_command = app.add_subcommand(
      "demo",
      "Run the driver against the built-in dome simulator: a copy of the library and a demo "
      "configuration go into a private directory, then a tour shows host calls, wire lines and "
      "the dome's state, and checks them");
  demo_command->add_option("--dir", demo.dir, "Directory for the run")
      ->type_name("DIR")
      ->capture_default_str();
  demo_command->add_flag("--check,--non-interactive", no_pauses,
                         "No pauses; the exit status tells whether every check passed (for CI)");
  demo_command->add_flag("--drive", demo.drive,
                         "After the tour, steer camera 0 yourself while the wire lines show");

  app.require_subcommand(0, 1);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    // Help is success; any other mistake in the command line is status 2.
    const int code = app.exit(error);
    return code == 0 ? 0 : 2;
  }

  if (library.empty()) library = ptzctl::DefaultLibrary();

  if (config.Parsed()) {
    if (!script.empty() || expected) {
      std::fprintf(stderr, "ptzctl: config takes neither --script nor --expect\n");
      return 2;
    }
    ptzctl::ConfigOptions options;
    options.library = library;
    options.log_dir = log_dir;
    options.log_switch = log_switch;
    return config.Run(options, std::cout, std::cerr, std::cin);
  }

  if (demo_command->parsed()) {
    demo.library = library;
    demo.pauses = !no_pauses && ptzctl::IsTerminal(0) && ptzctl::IsTerminal(1);
    demo.color = ptzctl::IsTerminal(1) && std::getenv("NO_COLOR") == nullptr;
    return ptzctl::RunDemo(demo);
  }

  ptzctl::CommandSet::Action action = commands.TakeAction();
  if (!action && script.empty() && !drive_command->parsed()) {
    std::cout << app.help();
    return 2;
  }

  ptzctl::Session session(PrintLine);
  std::string error;
  if (!session.Load(library, &error)) {
    std::fprintf(stderr, "ptzctl: cannot load %s: %s\n", library.c_str(), error.c_str());
    return 2;
  }
  session.SetLogDir(log_dir);
  session.SetLogSwitch(log_switch);
  session.SetTrace(trace);

  int status = 0;
  if (!script.empty()) {
    if (action || drive_command->parsed()) {
      std::fprintf(stderr, "ptzctl: --script takes no command\n");
      return 2;
    }
    if (script == "-") {
      status = ptzctl::RunScript(session, std::cin, "stdin");
    } else {
      std::ifstream in(script);
      if (!in) {
        std::fprintf(stderr, "ptzctl: cannot read %s\n", script.c_str());
        return 2;
      }
      status = ptzctl::RunScript(session, in, script);
    }
  } else if (drive_command->parsed()) {
    status = ptzctl::RunDrive(session, drive);
  } else {
    const int result = action(session);
    status = ptzctl::ResultAsExpected(result, expected) ? 0 : 1;
  }
  session.HoldFor(hold_ms);
  session.Shutdown();
  session.Unload();
  ptzctl::RawTerminal::ReraiseCaughtSignal();
  return status;
}
