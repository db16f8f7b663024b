// No dialog renderer in this build yet.
#include "platform/ui_toolkit.h"

namespace platform {

ui::Toolkit* UiToolkit(std::string* why) {
  if (why != nullptr) *why = "no dialog renderer in this build";
  return nullptr;
}

}  // namespace platform
