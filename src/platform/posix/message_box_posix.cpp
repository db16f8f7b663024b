// Warnings for the user. Without dialogs on this system they go to the
// standard error stream.
#include <cstdio>

#include "platform/message_box.h"

namespace platform {

void ShowWarning(const char* text) {
  std::fprintf(stderr, "QUARO7K7_PTZ: %s\n", text != nullptr ? text : "");
  std::fflush(stderr);
}

}  // namespace platform
