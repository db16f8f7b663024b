// Tells the user something that needs attention.
#pragma once

namespace platform {

// A modal message with the exclamation icon; without a desktop it goes to
// the standard error stream.
void ShowWarning(const char* text);

}  // namespace platform
