// The window tests' view of the dialogs a host's library shows: they are
// drawn by the dialog program, in a process of its own, so a test looks at
// them and works them through a probe built into the test's copy of that
// program (probe/probe_agent.cpp), over a socket whose file the test names
// before the library starts the program (UseProbeSocket). Each call asks
// the dialog program running now; with none running, nothing is found and
// nothing is done.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace probe {

// A dialog on screen in one dialog process (that process's id and its
// window there); compares equal to nullptr when none was found.
struct Dialog {
  long process = 0;
  std::uint64_t window = 0;
  Dialog() = default;
  Dialog(std::nullptr_t) {}  // NOLINT: stands for "no dialog" as a pointer would
  bool operator==(const Dialog& other) const {
    return process == other.process && window == other.window;
  }
  bool operator!=(const Dialog& other) const { return !(*this == other); }
};
inline std::ostream& operator<<(std::ostream& out, const Dialog& dialog) {
  return out << "dialog " << dialog.window << " of process " << dialog.process;
}

// Names the socket the next dialog programs listen on.
void UseProbeSocket(const std::string& path);

// The innermost modal dialog on screen with this title, once it is there
// (nullptr after timeoutMs).
Dialog WaitForDialog(const std::string& title, int timeoutMs = 10000);
// The message box on screen showing text (nullptr after timeoutMs).
Dialog WaitForMessage(const std::string& text, int timeoutMs = 10000);
// Ends every modal window still on screen (after a failed test).
void EndAllDialogs();
// True once no dialog with this title is on screen (false after timeoutMs).
bool WaitForNoDialog(const std::string& title, int timeoutMs = 10000);

// A user's actions, as the in-process helpers of wx_test_util.h do them.
void Click(Dialog dialog, int id);
void ToggleCheck(Dialog dialog, int id);
void ChooseEntry(Dialog dialog, int id, int index);
void DoubleClickEntry(Dialog dialog, int id, int index);
void PressKey(Dialog dialog, int keyCode);
void CloseBox(Dialog dialog);
void Type(Dialog dialog, int id, const std::string& text);
// Selects the tree item with this text; false when there is none.
bool SelectTreeItem(Dialog dialog, int id, const std::string& text);

// State read on the dialog program's UI thread.
std::string TextOf(Dialog dialog, int id);
bool EnabledOf(Dialog dialog, int id);
std::string MessageOf(Dialog box);
// The tree, one line per item, indented by two spaces a level.
std::vector<std::string> TreeLines(Dialog dialog, int id);
// The texts of the root items of tree id in the innermost window with this
// title, in the order shown; read on the dialog program's UI thread even
// while that thread waits for the host (a dialog class asking from its
// own handler). Empty without such a tree.
std::vector<std::string> RootTexts(const std::string& title, int id);
// The entries of a list or choice.
std::vector<std::string> Entries(Dialog dialog, int id);
// The id of the dialog's default button (0 when it has none).
int DefaultButtonOf(Dialog dialog);

// Waits until the dialog program's loop has handled everything queued.
void Settle();
// A PNG of the window with this title (with the title bar GTK draws).
bool Screenshot(const std::string& title, const std::string& path);

}  // namespace probe
