#include "ui/dialog.h"

namespace ui {

bool CDialog::Deliver(const DialogEvent& event, bool updateFirst) {
  const auto open = [this] { return texts_.Renderer() != nullptr && !texts_.Ended(); };
  if (!open()) return true;
  try {
    if (updateFirst) OnCommandUpdate();
    if (!open()) return true;
    switch (event.kind) {
      case DialogEvent::kInit:
        initAnswer_ = OnInitDialog();
        break;
      case DialogEvent::kCommand:
        OnCommand(event.id, event.code);
        break;
      case DialogEvent::kTimer:
        OnTimer(event.id);
        break;
      case DialogEvent::kOk:
        OnOk();
        break;
      case DialogEvent::kCancel:
        OnCancel();
        break;
    }
    if (open()) OnCommandUpdate();
    return true;
  } catch (const TextRefused& refused) {
    // Read before anything was stored: nothing of the event happened.
    try {
      texts_.MessageBox(LoadString(kStringTextNotStorable), MsgButtons::kOk, MsgIcon::kExclamation);
      texts_.SetFocus(refused.ControlId());
      if (open()) OnCommandUpdate();
      return true;
    } catch (...) {
      if (!failure_) failure_ = std::current_exception();
      return false;
    }
  } catch (...) {
    if (!failure_) failure_ = std::current_exception();
    return false;
  }
}

}  // namespace ui
