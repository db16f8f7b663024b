// The setup dialogs on Windows: native dialogs drawn by the Win32 renderer,
// always available.
#include "platform/ui_toolkit.h"
#include "ui/win32/win32_toolkit.h"

namespace platform {

ui::Toolkit* UiToolkit(std::string* why) {
  static uiwin32::Win32Toolkit toolkit;
  if (why != nullptr) why->clear();
  return &toolkit;
}

}  // namespace platform
