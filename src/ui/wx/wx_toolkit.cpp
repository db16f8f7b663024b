// The wxWidgets toolkit of the dialog module: wxWidgets runs on a UI thread
// of the module's own (or in the host's loop when the host is a wxWidgets
// application); a dialog asked for on any other thread is shown there while
// the asking thread waits for its result.
#include "ui/wx/wx_toolkit.h"

#include <wx/app.h>
#include <wx/debug.h>
#include <wx/evtloop.h>
#include <wx/init.h>
#include <wx/log.h>
#include <wx/thread.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

#include "ui/wx/gtk_style.h"
#include "ui/wx/wx_modal.h"
#include "ui/wx/wx_window.h"

namespace uiwx {

namespace {

// The application object when the module runs wxWidgets itself: it keeps
// running when the last dialog closes.
class ModuleApp : public wxApp {
 public:
  bool OnInit() override {
    SetExitOnFrameDelete(false);
    return true;
  }
  // A failure escaping a handler has already been caught by the window;
  // anything else must not end the host's process.
  bool OnExceptionInMainLoop() override { return true; }
};

// Keeps the toolkit's messages away from the host's terminal and the user's
// screen; the last error is kept to say why the toolkit did not start.
class QuietLog : public wxLog {
 public:
  std::string LastError() {
    std::lock_guard<std::mutex> hold(lock_);
    return lastError_;
  }

 protected:
  void DoLogRecord(wxLogLevel level, const wxString& text, const wxLogRecordInfo&) override {
    if (level <= wxLOG_Error) {
      std::lock_guard<std::mutex> hold(lock_);
      lastError_ = std::string(text.utf8_str());
    }
  }

 private:
  std::mutex lock_;
  std::string lastError_;
};

enum class State { kStopped, kStarting, kRunning, kFailed };

struct Runner {
  std::mutex lock;
  std::condition_variable changed;
  State state = State::kStopped;
  bool ownThread = false;
  bool threadDone = false;
  std::string failure;
  QuietLog* log = nullptr;
};

Runner& TheRunner() {
  static Runner* runner = new Runner;  // outlives every other static
  return *runner;
}

void UiThreadMain() {
  Runner& r = TheRunner();
  static char name[] = "QUARO7K7_PTZ";
  static char* argv[] = {name, nullptr};
  int argc = 1;
  // Neither GTK's diagnostics nor wxWidgets' assertion dialogs reach the
  // host's terminal or the user's screen.
  wxApp::GTKSuppressDiagnostics();
  wxSetAssertHandler(nullptr);
  wxApp::SetInstance(new ModuleApp);
  const bool started = wxEntryStart(argc, argv) && wxTheApp != nullptr && wxTheApp->CallOnInit();
  if (!started) {
    std::string error = r.log != nullptr ? r.log->LastError() : std::string();
    if (error.empty()) error = "wxWidgets could not start";
    std::lock_guard<std::mutex> hold(r.lock);
    // The toolkit's own words; whoever started it says who could not.
    r.failure = error;
    r.state = State::kFailed;
    r.threadDone = true;
    r.changed.notify_all();
    return;
  }
  ApplyCompactStyle();
  {
    std::lock_guard<std::mutex> hold(r.lock);
    r.state = State::kRunning;
    r.changed.notify_all();
  }
  wxTheApp->OnRun();
  wxTheApp->OnExit();
  wxEntryCleanup();
  std::lock_guard<std::mutex> hold(r.lock);
  r.state = State::kStopped;
  r.threadDone = true;
  r.changed.notify_all();
}

// Ends the UI thread when the process ends, before the toolkit's own static
// objects go, so that it never runs on destroyed ones. A dialog still open
// then is ended as cancelled; the wait is bounded so the host never hangs.
struct StopAtExit {
  ~StopAtExit() {
    Runner& r = TheRunner();
    std::unique_lock<std::mutex> hold(r.lock);
    if (!r.ownThread || r.state != State::kRunning || wxTheApp == nullptr) return;
    wxTheApp->CallAfter([] {
      for (wxWindow* top : wxTopLevelWindows) {
        if (auto* dialog = dynamic_cast<wxDialog*>(top)) {
          if (auto* window = dynamic_cast<WxDialogWindow*>(dialog)) {
            window->EndNow(2);
          } else if (dialog->IsModal()) {
            dialog->EndModal(wxID_CANCEL);
          }
        }
      }
      wxTheApp->ExitMainLoop();
    });
    r.changed.wait_for(hold, std::chrono::seconds(3), [&] { return r.threadDone; });
  }
};

}  // namespace

bool StartToolkit(std::string* why) {
  Runner& r = TheRunner();
  std::unique_lock<std::mutex> hold(r.lock);
  // A call while another is starting the toolkit waits for that start: a
  // second UI thread would start wxWidgets twice.
  r.changed.wait(hold, [&] { return r.state != State::kStarting; });
  if (r.state == State::kRunning) return true;
  if (r.state == State::kFailed) {
    *why = r.failure;
    return false;
  }
  if (wxTheApp != nullptr) {
    // The host is a wxWidgets application: its loop shows the dialogs.
    r.state = State::kRunning;
    return true;
  }
  r.state = State::kStarting;
  r.ownThread = true;
  r.log = new QuietLog;
  delete wxLog::SetActiveTarget(r.log);
  static StopAtExit stopAtExit;
  std::thread(UiThreadMain).detach();
  r.changed.wait(hold, [&] { return r.state != State::kStarting; });
  if (r.state == State::kRunning) return true;
  *why = r.failure;
  return false;
}

bool OnUiThread() { return wxThread::IsMain(); }

ui::TextEncoding WxToolkit::Encoding() const { return ui::TextEncoding::kUtf8; }

int WxToolkit::RunModal(ui::CDialog& dialog, ui::CDialog* parent, void* hostParent) {
  if (OnUiThread()) return RunHere(dialog, parent, hostParent);
  // Another thread: the dialog is shown on the UI thread while this one
  // waits; a failure escaping the dialog is raised again here.
  struct Call {
    std::mutex lock;
    std::condition_variable done;
    bool finished = false;
    int result = ui::kResultCancel;
    std::exception_ptr failure;
  };
  auto call = std::make_shared<Call>();
  wxTheApp->CallAfter([this, call, &dialog, parent, hostParent] {
    int result = ui::kResultCancel;
    std::exception_ptr failure;
    try {
      result = RunHere(dialog, parent, hostParent);
    } catch (...) {
      failure = std::current_exception();
    }
    std::lock_guard<std::mutex> hold(call->lock);
    call->result = result;
    call->failure = failure;
    call->finished = true;
    call->done.notify_all();
  });
  std::unique_lock<std::mutex> hold(call->lock);
  call->done.wait(hold, [&] { return call->finished; });
  if (call->failure) std::rethrow_exception(call->failure);
  return call->result;
}

int WxToolkit::RunHere(ui::CDialog& dialog, ui::CDialog* parent, void* /*hostParent*/) {
  // The host's window handle is not a window of this toolkit: a dialog
  // without a parent dialog has no owner.
  const ui::DialogResource* resource = dialog.Resource();
  if (resource == nullptr) return ui::kResultCancel;
  WxDialogWindow* owner =
      parent != nullptr ? WxDialogWindow::FromDialogWindow(parent->RendererWindow()) : nullptr;
  // A dialog whose parent is being closed from outside is not shown.
  if (owner != nullptr && IsClosing(owner)) return ui::kResultCancel;

  auto* window = new WxDialogWindow(owner, *resource, dialog);
  PushModal(window, window, [window] { window->EndNow(ui::kResultCancel); });
  dialog.Attach(window);
  window->Deliver({ui::DialogEvent::kInit}, false);
  const int result = window->RunModalLoop();
  // The window has ended whichever way; the dialog hears of its end once.
  std::exception_ptr failure = dialog.TakeFailure();
  try {
    dialog.OnDestroy();
  } catch (...) {
    if (!failure) failure = std::current_exception();
  }
  dialog.Attach(nullptr);
  window->Detach();
  PopModal(window);
  delete window;
  if (failure) std::rethrow_exception(failure);
  return result;
}

}  // namespace uiwx
