#include "ui/dialog.h"

namespace ui {

int CDialog::DoModal(CDialog* parent, void* hostParent) {
  struct Leave {
    CDialog& dialog;
    ~Leave() { dialog.LeaveList(); }
  } leave{*this};
  return toolkit_.RunModal(*this, parent, hostParent);
}

void CDialog::Attach(DialogWindow* window) {
  if (window == nullptr) LeaveList();
  std::lock_guard<std::mutex> hold(attachLock_);
  texts_.Bind(window, window != nullptr ? toolkit_.Encoding() : TextEncoding::kCodePage);
  if (window != nullptr) failure_ = nullptr;
}

void CDialog::EnterList() {
  if (windows_ == nullptr || listed_) return;
  listed_ = true;
  windows_->AddWindow(this);
}

void CDialog::LeaveList() {
  if (windows_ == nullptr || !listed_) return;
  listed_ = false;
  windows_->RemoveWindow(this);
}

bool CDialog::Deliver(const DialogEvent& event, bool updateFirst) {
  const auto open = [this] { return texts_.Renderer() != nullptr && !texts_.Ended(); };
  if (!open()) return true;
  try {
    // Entered as the window is initialised rather than as it is attached:
    // only then does every renderer's window take a posted end (the dialog
    // process learns of a window after it was attached here).
    if (event.kind == DialogEvent::kInit) EnterList();
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
