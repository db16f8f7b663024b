// The modal windows the toolkit now shows on the UI thread, innermost last:
// setup dialogs and their message boxes. Ending a dialog from outside (the
// host closing every driver dialog) ends whatever is shown above it first,
// so that no message box or nested dialog keeps the host's call waiting.
#pragma once

#include <functional>
#include <string>

class wxDialog;
class wxWindow;

namespace uiwx {

class WxDialogWindow;

// Enters a modal window; forceEnd ends it at once (a message box with its
// negative answer, a dialog with Cancel). UI thread only.
void PushModal(wxDialog* modal, WxDialogWindow* window, std::function<void()> forceEnd);
void PopModal(wxDialog* modal);
// True when modal is the innermost modal window now shown.
bool IsInnermost(wxDialog* modal);
// Ends, innermost first, every modal window shown above modal.
void EndModalsAbove(wxDialog* modal);
// True when window, or a dialog shown below it, has been ended: a nested
// dialog or message box it asks for then answers at once as cancelled.
bool IsClosing(WxDialogWindow* window);

// A modal message box owned by owner, caption "QUARO7K7_PTZ". buttons and
// icon as ui::MsgButtons / ui::MsgIcon; defaultAnswer: the answer of the
// default button (0: the first button). Returns the answer (ui::MsgAnswer).
int ShowMessageBox(wxWindow* owner, const std::string& text, int buttons, int icon,
                   int defaultAnswer);

}  // namespace uiwx
