// The dialogs on Linux are drawn by a dialog process of ours,
// QUARO7K7_PTZ_setup beside the library, started for each configure call
// and ended with its dialog: the library links no GUI toolkit and never
// loads one, so the host's process never holds a display connection or a
// toolkit of ours. Without that program there are no dialogs.
#include <stdlib.h>

#include <string>

#include "platform/child_process.h"
#include "platform/module_path.h"
#include "platform/ui_toolkit.h"
#include "ui/dialog_wire.h"
#include "ui/process_toolkit.h"

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

std::unique_ptr<ChildProcess> StartDialogProcess(std::string* why) {
  const std::string program = BesideLibrary(ui::wire::kProgramFile);
  if (program.empty()) {
    *why = "the library's own file name is not known";
    return nullptr;
  }
  return StartChildProcess(program, std::string(), why);
}

}  // namespace

ui::Toolkit* UiToolkit(std::string* why) {
  if (!HasDisplay()) {
    // Looked at before anything starts: without a display the dialog
    // program would only fail. Asked again next time.
    if (why != nullptr)
      *why = "no display to show the dialogs on (neither DISPLAY nor WAYLAND_DISPLAY is set)";
    return nullptr;
  }
  // Holds nothing between dialogs, so it may go with the library.
  static ui::ProcessToolkit process(StartDialogProcess);
  return &process;
}

}  // namespace platform
