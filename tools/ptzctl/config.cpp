#include "ptzctl/config.h"

#include <CLI/CLI.hpp>
#include <exception>
#include <iostream>

#include "driver/driver.h"
#include "platform/module_path.h"
#include "ptzctl/config_context.h"
#include "ptzctl/result_codes.h"
#include "quaro7k7_ptz.h"

namespace ptzctl {

namespace {

constexpr char kCameraNumberHelp[] =
    "host camera number, 0-based as in the exports (TavoID in the settings file)";
constexpr char kLineHelp[] = "the line: COM<n> for the line on that port, or its name";

constexpr char kAssignmentsHelp[] =
    "settings keys with their values: Name, TavoID, SysID, NodeAddress, ControlMonitor, "
    "NofRelays, NofStorageLocations, DefaultPreposSpeed, WaitForResponse, DefaultLensSlow, "
    "CamAccFactor, CamAccDefaultState, CamAccDefault, WashPulseTime, AutoFocus, AutoIris, "
    "Aux1Func, Aux2Func, Aux3Func (the relay functions), RelayName1 ... RelayName8 (relay names; "
    "a NofRelays given beside them counts)";
constexpr char kSharedFunctionHelp[] =
    "keep two relays on one washer, wiper or lamps function: without it that is refused with "
    "the camera setup's question (asked when the command makes such a sharing or changes one, "
    "not when it changes other values of a camera that has one)";

CLI::App* Sub(CLI::App* app, const std::string& name, const std::string& help) {
  CLI::App* sub = app->add_subcommand(name, help);
  sub->fallthrough(false);
  return sub;
}

// The driver core in this process, started on the library's files as a host
// starts it, and ended again.
class CoreSession {
 public:
  CoreSession(const ConfigOptions& options, std::ostream& err) : err_(err) {
    const std::string dir = options.log_dir.empty() ? LibraryDir() : options.log_dir;
    result_ = VRT_CamInitModule(options.log_switch, nullptr,
                                options.log_switch != 0 ? dir.c_str() : nullptr);
    started_ = true;
    if (result_ != 1)
      err_ << "ptzctl config: the driver could not start on " << options.library << ": "
           << DescribeResult(result_) << " (its log says why)\n";
  }
  ~CoreSession() {
    if (started_) VRT_CamExitModule();
  }
  CoreSession(const CoreSession&) = delete;
  CoreSession& operator=(const CoreSession&) = delete;
  bool Ok() const { return result_ == 1; }

  // The directory of the library acted as.
  static std::string LibraryDir() {
    std::string name;
    if (!platform::LibraryFileName(&name)) return ".";
    const size_t slash = name.find_last_of(platform::kPathSeparator);
    return slash == std::string::npos ? "." : name.substr(0, slash);
  }

 private:
  std::ostream& err_;
  int result_ = 0;
  bool started_ = false;
};

}  // namespace

ConfigCommands::ConfigCommands(CLI::App* app) {
  config_ = Sub(app, "config",
                "Set up lines and cameras without a window: the setup dialogs' checks and "
                "messages, one save per change of the settings file beside the library (a host "
                "running meanwhile picks the change up at its next module start). Needs no "
                "display and no dialog program; the library itself is not loaded");
  config_->require_subcommand(1);
  Request& r = request_;
  auto command = [this](CLI::App* sub) {
    sub->callback([this, sub] { request_.command = sub->get_name(); });
    return sub;
  };

  CLI::App* show = command(Sub(config_, "show",
                               "Every line (COM port, name, port mode, the port as the driver "
                               "opens it) and every camera with all its settings and relays"));
  show->add_flag("--json", r.json,
                 "One JSON document: lines with their cameras, keyed by the settings file's "
                 "key names");

  CLI::App* add_line = command(Sub(config_, "add-line", "Add a line (as \"Add Connection ...\")"));
  add_line->add_option("--port", r.port, "COM port number (7 or COM7)")->required();
  add_line->add_option("--name", r.name, "the line's name")->required();
  add_line->add_option("--mode", r.mode, "port mode as the MODE command takes it (96,E,8,1)");

  CLI::App* set_line =
      command(Sub(config_, "set-line", "Change a line (as \"Configure Connection ...\")"));
  set_line->add_option("LINE", r.line, kLineHelp)->required();
  set_line->add_option("--port", r.port, "new COM port number");
  set_line->add_option("--name", r.name, "new name");
  set_line->add_option("--mode", r.mode, "new port mode");

  CLI::App* remove_line = command(Sub(config_, "remove-line",
                                      "Remove a line; refused while it has cameras unless "
                                      "--with-cameras (they go with it, with their presets)"));
  remove_line->add_option("LINE", r.line, kLineHelp)->required();
  remove_line->add_flag("--with-cameras", r.with_cameras, "remove its cameras too");

  CLI::App* add_camera = command(Sub(config_, "add-camera",
                                     "Add a camera to a line (as \"Add Camera ...\" and the camera "
                                     "setup's OK): every value checked as that dialog checks it"));
  add_camera->add_option("--line", r.line, kLineHelp)->required();
  add_camera->add_option("--number", r.number, kCameraNumberHelp)->required();
  add_camera->add_option("--name", r.name, "the camera's name (at most 32 characters are kept)")
      ->required();
  add_camera->add_option("--address", r.address, "the camera's address on the line (SysID)")
      ->required();
  add_camera->add_option("KEY=VALUE", r.assignments, kAssignmentsHelp);
  add_camera->add_flag("--yes", r.yes, kSharedFunctionHelp);

  CLI::App* set_camera = command(Sub(config_, "set-camera",
                                     "Change a camera's settings (as the camera setup's OK): the "
                                     "keys given change, the others stay"));
  set_camera->add_option("CAM", r.camera, kCameraNumberHelp)->required();
  set_camera->add_option("KEY=VALUE", r.assignments, kAssignmentsHelp)->required();
  set_camera->add_flag("--yes", r.yes, kSharedFunctionHelp);

  CLI::App* remove_camera =
      command(Sub(config_, "remove-camera",
                  "Remove a camera with its presets (as \"Remove Camera\"); the cameras after it "
                  "on its line are saved again under the keys that follow on"));
  remove_camera->add_option("CAM", r.camera, kCameraNumberHelp)->required();

  CLI::App* ping = command(
      Sub(config_, "ping", "The camera setup's \"Ping Serial Connection\": the dome's answer"));
  ping->add_option("CAM", r.camera, kCameraNumberHelp)->required();
  CLI::App* version = command(Sub(config_, "version",
                                  "The dome's software versions, as the camera setup reads "
                                  "them"));
  version->add_option("CAM", r.camera, kCameraNumberHelp)->required();
  CLI::App* reset = command(Sub(config_, "reset",
                                "The camera setup's \"Reset Camera\": resets the dome and erases "
                                "its presets (asks first, unless --yes)"));
  reset->add_option("CAM", r.camera, kCameraNumberHelp)->required();
  reset->add_flag("--yes", r.yes, "do not ask");
}

bool ConfigCommands::Parsed() const { return config_->parsed(); }

int ConfigCommands::Run(const ConfigOptions& options, std::ostream& out, std::ostream& err,
                        std::istream& in) {
  if (!platform::ActAsLibrary(options.library)) {
    err << "ptzctl config: no library file at " << options.library << "\n";
    return 2;
  }
  config::Context context{out, err, in};
  // Asked before this process starts the module, which marks it too.
  context.shared = CVRTDriver::LibraryInUse();
  int status = 1;
  try {
    CoreSession core(options, err);
    if (!core.Ok()) return 1;
    const std::string& c = request_.command;
    if (c == "show") {
      status = config::Show(context, request_.json);
    } else if (c == "add-line") {
      status = config::AddLine(context, request_);
    } else if (c == "set-line") {
      status = config::SetLine(context, request_);
    } else if (c == "remove-line") {
      status = config::RemoveLine(context, request_);
    } else if (c == "add-camera") {
      status = config::AddCamera(context, request_);
    } else if (c == "set-camera") {
      status = config::SetCamera(context, request_);
    } else if (c == "remove-camera") {
      status = config::RemoveCamera(context, request_);
    } else if (c == "ping") {
      status = config::Ping(context, request_);
    } else if (c == "version") {
      status = config::Version(context, request_);
    } else if (c == "reset") {
      status = config::Reset(context, request_);
    } else {
      err << "ptzctl config: no command\n";
      return 2;
    }
  } catch (const std::exception& error) {
    // The store refused to write, or the XML component failed: nothing of
    // the change is in the file.
    err << "ptzctl config: the driver could not save the settings file: " << error.what() << "\n";
    return 1;
  }
  if (context.changed && context.shared) {
    out << "Note: another process has the driver started on this library; it keeps working "
           "with the settings it read and picks this change up at its next module start "
           "(VRT_CamExitModule, VRT_CamInitModule).\n";
  }
  return status;
}

}  // namespace ptzctl
