// CDialog: the base of every setup dialog class. It knows its dialog
// resource, receives the events a renderer delivers (initialisation,
// commands, timers, OK and Cancel) and reaches its window only through
// DialogWindow. Nested dialogs are shown through the same Toolkit.
#pragma once

#include <mutex>
#include <string>

#include "ui/dialog_window.h"
#include "ui/resources.h"

namespace ui {

class CDialog;

// Notifications a renderer delivers with OnCommand.
enum class Notify {
  kClicked,        // button, check box, radio button
  kSelChange,      // list box or drop-down list selection changed
  kDoubleClick,    // list box entry double-clicked
  kTreeSelChange,  // tree selection changed
};

// What draws dialogs: makes the window of a dialog's resource and runs it
// modally. Implemented by each renderer (and by the tests' fake).
class Toolkit {
 public:
  virtual ~Toolkit() = default;
  // Shows dialog modally, owned by parent (nullptr: by the host window
  // hostParent, which may be null too), and returns the result the dialog
  // ended with. The renderer creates the window from dialog.Resource(),
  // calls dialog.Attach(window), then OnInitDialog, delivers events until
  // the dialog ends, then calls OnDestroy and dialog.Attach(nullptr) before
  // the window goes.
  virtual int RunModal(CDialog& dialog, CDialog* parent, void* hostParent) = 0;
};

class CDialog {
 public:
  CDialog(Toolkit& toolkit, int resourceId) : toolkit_(toolkit), resourceId_(resourceId) {}
  virtual ~CDialog() = default;
  CDialog(const CDialog&) = delete;
  CDialog& operator=(const CDialog&) = delete;

  int ResourceId() const { return resourceId_; }
  // resources.cpp is built into the driver and into every renderer module.
  // Virtual, so that a renderer reaches the description the dialog's side
  // holds (the renderers' own tests bring descriptions of their own).
  virtual const DialogResource* Resource() const { return FindDialog(resourceId_); }

  // Shows this dialog modally over parent (nullptr: over hostParent).
  int DoModal(CDialog* parent = nullptr, void* hostParent = nullptr) {
    return toolkit_.RunModal(*this, parent, hostParent);
  }

  // --- called by the renderer, on the dialog's thread ---
  void Attach(DialogWindow* window) {
    std::lock_guard<std::mutex> hold(attachLock_);
    window_ = window;
  }
  DialogWindow* Window() const { return window_; }

  // Ends the dialog with result from any thread (the driver closing its
  // windows): posted to the dialog's window while it has one, nothing once
  // the renderer has detached it.
  void PostEndDialog(int result) {
    std::lock_guard<std::mutex> hold(attachLock_);
    if (window_ != nullptr) window_->PostEndDialog(result);
  }
  // Returns 1 (focus as usual).
  virtual int OnInitDialog() { return 1; }
  // A control's notification (OK and Cancel buttons come as OnOk and
  // OnCancel instead).
  virtual void OnCommand(int /*controlId*/, Notify /*code*/) {}
  virtual void OnTimer(int /*timerId*/) {}
  // Button 1, Enter.
  virtual void OnOk() { EndDialog(kResultOk); }
  // Button 2, Escape, the close box.
  virtual void OnCancel() { EndDialog(kResultCancel); }
  // Runs before the renderer delivers each event: the command-update rules
  // (enabled states of buttons).
  virtual void OnCommandUpdate() {}
  // The window is about to go.
  virtual void OnDestroy() {}

 protected:
  Toolkit& GetToolkit() const { return toolkit_; }
  DialogWindow& Win() const { return *window_; }
  void EndDialog(int result) {
    if (window_ != nullptr) window_->EndDialog(result);
  }

 private:
  Toolkit& toolkit_;
  int resourceId_;
  // Attach and PostEndDialog: a post from another thread never reaches a
  // window that is going away.
  std::mutex attachLock_;
  DialogWindow* window_ = nullptr;
};

}  // namespace ui
