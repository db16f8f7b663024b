// The renderer that draws the setup dialogs on this platform.
#pragma once

#include <string>

namespace ui {
class Toolkit;
}

namespace platform {

// The dialogs' toolkit, ready to show dialogs; made on first use and kept
// for the life of the process. nullptr when there is none (no dialog
// program or no display): why says which, as one line.
ui::Toolkit* UiToolkit(std::string* why);

}  // namespace platform
