// The dialogs on Linux are drawn by a dialog process of ours,
// QUARO7K7_PTZ_setup beside the library, started for each configure call
// and ended with its dialog: the library links no GUI toolkit, and the
// host's process never holds a display connection or a toolkit of ours.
// Where only the in-process dialog module QUARO7K7_PTZ_wx.so is beside the
// library (a developer's window tests), that module draws them instead: it
// is loaded on first use and never unloaded (its toolkit cannot be).
#include <dlfcn.h>
#include <stdlib.h>

#include <mutex>
#include <string>

#include "platform/child_process.h"
#include "platform/module_path.h"
#include "platform/ui_toolkit.h"
#include "ui/dialog_wire.h"
#include "ui/process_toolkit.h"
#include "ui/wx/module_api.h"

namespace platform {

namespace {

bool HasDisplay() {
  const char* x11 = getenv("DISPLAY");
  const char* wayland = getenv("WAYLAND_DISPLAY");
  return (x11 != nullptr && *x11 != '\0') || (wayland != nullptr && *wayland != '\0');
}

std::string BesideLibrary(const char* file) {
  std::string library;
  if (!LibraryFileName(&library)) return std::string();
  const size_t slash = library.rfind('/');
  return (slash == std::string::npos ? std::string() : library.substr(0, slash + 1)) + file;
}

std::string ModulePath() { return BesideLibrary(QUARO7_WX_MODULE_FILE); }

std::unique_ptr<ChildProcess> StartDialogProcess(std::string* why) {
  const std::string program = BesideLibrary(ui::wire::kProgramFile);
  if (program.empty()) {
    *why = "the library's own file name is not known";
    return nullptr;
  }
  return StartChildProcess(program, std::string(), why);
}

std::mutex lock;
ui::Toolkit* toolkit = nullptr;
// Set once the module could not be used: it is not tried again.
std::string failure;

}  // namespace

ui::Toolkit* InProcessModule(std::string* why);

ui::Toolkit* UiToolkit(std::string* why) {
  if (!HasDisplay()) {
    // Looked at before anything starts: without a display the toolkit
    // would only complain on the host's terminal. Asked again next time.
    if (why != nullptr)
      *why = "no display to show the dialogs on (neither DISPLAY nor WAYLAND_DISPLAY is set)";
    return nullptr;
  }
  const std::string module = ModulePath();
  if (!IsProgramFile(BesideLibrary(ui::wire::kProgramFile)) && !module.empty() &&
      IsProgramFile(module)) {
    return InProcessModule(why);
  }
  // Holds nothing between dialogs, so it may go with the library.
  static ui::ProcessToolkit process(StartDialogProcess);
  return &process;
}

ui::Toolkit* InProcessModule(std::string* why) {
  std::lock_guard<std::mutex> hold(lock);
  std::string reason;
  if (toolkit == nullptr && failure.empty()) {
    if (!HasDisplay()) {
      // Looked at before the module loads: without a display it would only
      // complain on the host's terminal. Asked again next time.
      reason = "no display to show the dialogs on (neither DISPLAY nor WAYLAND_DISPLAY is set)";
    } else {
      const std::string path = ModulePath();
      void* module = path.empty() ? nullptr : dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
      if (module == nullptr) {
        const char* error = dlerror();
        failure = "the dialog module " +
                  (path.empty() ? std::string(QUARO7_WX_MODULE_FILE) : path) +
                  " cannot be loaded: " + (error != nullptr ? error : "not found");
      } else {
        auto entry = reinterpret_cast<WxModuleEntry>(dlsym(module, QUARO7_WX_MODULE_ENTRY));
        if (entry == nullptr) {
          failure = "the dialog module " + path + " has no entry " QUARO7_WX_MODULE_ENTRY;
        } else {
          char text[512] = {0};
          toolkit = entry(kWxModuleInterfaceVersion, text, static_cast<int>(sizeof text));
          if (toolkit == nullptr) failure = text[0] != '\0' ? text : "the dialog module failed";
        }
        // The module stays loaded whether it works or not: a toolkit that
        // has started once cannot be unloaded safely.
      }
    }
  }
  if (toolkit == nullptr && why != nullptr) *why = failure.empty() ? reason : failure;
  return toolkit;
}

}  // namespace platform
