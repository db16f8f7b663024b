// CDialog: the base of every setup dialog class. It knows its dialog
// resource, receives the events a renderer delivers (initialisation,
// commands, timers, OK and Cancel) and reaches its window only through
// DialogWindow. Nested dialogs are shown through the same Toolkit.
#pragma once

#include <exception>
#include <mutex>
#include <string>

#include "ui/code_page_window.h"
#include "ui/dialog_window.h"
#include "ui/resources.h"
#include "ui/window_list.h"

namespace ui {

// A dialog ended by its OK or Cancel button answers the button's id.
static_assert(int{kIdOk} == int{kResultOk} && int{kIdCancel} == int{kResultCancel},
              "OK and Cancel end with their ids");

class CDialog;

// Notifications a renderer delivers with OnCommand.
enum class Notify {
  kClicked,        // button, check box, radio button
  kSelChange,      // list box or drop-down list selection changed
  kDoubleClick,    // list box entry double-clicked
  kTreeSelChange,  // tree selection changed
};

// What a renderer delivers to its dialog (CDialog::Deliver).
struct DialogEvent {
  enum Kind { kInit, kCommand, kTimer, kOk, kCancel };
  Kind kind;
  int id = 0;                      // the control (kCommand) or the timer (kTimer)
  Notify code = Notify::kClicked;  // kCommand only
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
  // the window goes. Every event reaches the dialog through
  // dialog.Deliver; after the window has gone, dialog.TakeFailure() is
  // raised again on the calling thread.
  virtual int RunModal(CDialog& dialog, CDialog* parent, void* hostParent) = 0;
  // The encoding of the texts this renderer's windows take and give; the
  // dialogs' window (CodePageWindow) converts to it.
  virtual TextEncoding Encoding() const { return TextEncoding::kCodePage; }
};

class CDialog {
 public:
  // windows: the list of open dialogs this one enters while its window is
  // up (nullptr: none).
  CDialog(Toolkit& toolkit, int resourceId, WindowList* windows = nullptr)
      : toolkit_(toolkit), resourceId_(resourceId), windows_(windows) {}
  virtual ~CDialog() { LeaveList(); }
  CDialog(const CDialog&) = delete;
  CDialog& operator=(const CDialog&) = delete;

  int ResourceId() const { return resourceId_; }
  // resources.cpp is built into the driver and into every renderer module.
  // Virtual, so that a renderer reaches the description the dialog's side
  // holds (the renderers' own tests bring descriptions of their own).
  virtual const DialogResource* Resource() const { return FindDialog(resourceId_); }

  // Shows this dialog modally over parent (nullptr: over hostParent). The
  // dialog is in its window list from its initialisation until its window
  // goes, and out of it when this returns, whatever the renderer did.
  int DoModal(CDialog* parent = nullptr, void* hostParent = nullptr);

  // --- called by the renderer, on the dialog's thread ---
  // The renderer's window of this dialog (nullptr: it goes; the dialog
  // leaves its window list first).
  void Attach(DialogWindow* window);
  // The window as the dialog side sees it (texts in the code page), or
  // nullptr while none is attached.
  DialogWindow* Window() { return texts_.Renderer() != nullptr ? &texts_ : nullptr; }
  // The renderer's own window, as attached.
  DialogWindow* RendererWindow() const { return texts_.Renderer(); }

  // Runs one event in the dialog class (the initialisation enters the
  // dialog into its window list first): the command-update rules first
  // (unless updateFirst is false), the event, the rules again, each step
  // only while the dialog has not ended its window. A text the code page
  // cannot hold abandons the event: the user is told, the field gets the
  // focus, the dialog stays. Any other failure escaping from the dialog is
  // kept for TakeFailure and the answer is false: the renderer ends the
  // window as cancelled.
  virtual bool Deliver(const DialogEvent& event, bool updateFirst = true);
  // What OnInitDialog answered when Deliver ran it (1 before).
  int InitAnswer() const { return initAnswer_; }
  // The failure Deliver kept (once).
  std::exception_ptr TakeFailure() {
    std::exception_ptr failure = failure_;
    failure_ = nullptr;
    return failure;
  }

  // Ends the dialog with result from any thread (the window list closing
  // its dialogs): posted to the dialog's window while it has one, nothing
  // once the renderer has detached it.
  void PostEndDialog(int result) {
    std::lock_guard<std::mutex> hold(attachLock_);
    texts_.PostEndDialog(result);
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
  DialogWindow& Win() { return texts_; }
  void EndDialog(int result) { texts_.EndDialog(result); }

 private:
  // The window list, entered and left on the dialog's thread. Never called
  // with attachLock_ held: the list holds its own lock while it posts ends
  // (PostEndDialog), which take attachLock_.
  void EnterList();
  void LeaveList();

  Toolkit& toolkit_;
  int resourceId_;
  WindowList* windows_;
  bool listed_ = false;
  // Attach and PostEndDialog: a post from another thread never reaches a
  // window that is going away.
  std::mutex attachLock_;
  CodePageWindow texts_;
  std::exception_ptr failure_;
  int initAnswer_ = 1;
};

}  // namespace ui
