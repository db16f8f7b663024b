// Warnings for the user in a message box.
#include <windows.h>

#include "platform/message_box.h"

namespace platform {

void ShowWarning(const char* text) {
  MessageBoxA(nullptr, text != nullptr ? text : "", "QUARO7K7_PTZ",
              MB_OK | MB_ICONEXCLAMATION | MB_TASKMODAL);
}

}  // namespace platform
