// Helpers of the window tests: the dialog module's toolkit, calls run on
// its UI thread, the dialogs now on screen, a user's clicks and typing, and
// screenshots. The renderer tests link the same wxWidgets libraries as the
// module, so they see the module's windows in their own process; the
// dialog program's probe (probe/probe_agent.cpp) uses them on its own.
#pragma once

#include <wx/dialog.h>

#include <functional>
#include <string>

namespace ui {
class Toolkit;
}

namespace wxtest {

// True when a display is there to test on.
bool HaveDisplay();

// Loads the module file and returns its toolkit, or nullptr with why.
ui::Toolkit* ModuleToolkit(const std::string& modulePath, std::string* why);

// The toolkit runs in this process already (the dialog program's probe,
// after its start): OnUi may use it.
void UseRunningToolkit();

// Runs call on the UI thread and waits for it (false after timeoutMs, or at
// once while the toolkit has not started).
bool OnUi(const std::function<void()>& call, int timeoutMs = 10000);

// The innermost modal dialog on screen with this title, once it is there
// (nullptr after timeoutMs). Only touch it through OnUi.
wxDialog* WaitForDialog(const std::string& title, int timeoutMs = 10000);
// The message box on screen showing text (nullptr after timeoutMs).
wxDialog* WaitForMessage(const std::string& text, int timeoutMs = 10000);
// Ends every modal window still on screen (after a failed test).
void EndAllDialogs();
// True once no dialog with this title is on screen (false after timeoutMs).
bool WaitForNoDialog(const std::string& title, int timeoutMs = 10000);

// A user's actions, each queued as the toolkit's own event and handled by
// the UI thread's loop afterwards (so that a click that opens a nested
// dialog does not block the test).
void Click(wxDialog* dialog, int id);
// The same with the X server's own mouse events at the control's centre.
void ClickWithMouse(wxDialog* dialog, int id);
void ToggleCheck(wxDialog* dialog, int id);
void ChooseEntry(wxDialog* dialog, int id, int index);
void DoubleClickEntry(wxDialog* dialog, int id, int index);
void PressKey(wxDialog* dialog, int keyCode);
void CloseBox(wxDialog* dialog);
// Types text into an edit, replacing what is there (synchronous).
void Type(wxDialog* dialog, int id, const std::string& text);

// State read on the UI thread.
std::string TextOf(wxDialog* dialog, int id);
bool EnabledOf(wxDialog* dialog, int id);
// The text of a message box.
std::string MessageOf(wxDialog* box);

// Waits until the loop has handled everything queued so far.
void Settle();

// A PNG of the window with this title (with the title bar GTK draws).
bool Screenshot(const std::string& title, const std::string& path);

}  // namespace wxtest
