#include "ui/process_toolkit.h"

#include <cstdint>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "ui/closing_answer.h"
#include "ui/dialog_failure.h"
#include "ui/dialog_wire.h"
#include "ui/live_windows.h"
#include "ui/tree_items.h"

namespace ui {

namespace {

using wire::Event;
using wire::Kind;
using wire::Method;

// How long the process may take to start its toolkit (a display that
// accepts the connection but never answers must not hold the host).
constexpr int kStartWaitMs = 20000;
// Setters are sent once this much has gathered, or before any wait.
constexpr size_t kFlushBytes = 256 * 1024;
// How long an ended process may take to go before it is killed.
constexpr int kEndWaitMs = 3000;
// How long a process whose dialogs are over may take to go before it is
// killed: it holds nothing of the host's, and the configure call (or an
// unload of the library waiting for it) must not wait on its toolkit's
// clean-up.
constexpr int kQuitWaitMs = 200;

// The integer arguments of a window call.
template <typename... Ints>
auto Args(Ints... values) {
  return [=](wire::Writer& w) { (w.Int(static_cast<std::int32_t>(values)), ...); };
}

struct Answer {
  std::int32_t number = 0;
  std::string text;
};

}  // namespace

class RemoteWindow;

// One dialog process and the windows it draws for the dialogs of one
// top-level dialog; used by the thread that shows them (PostEnd: any
// thread).
class ProcessToolkit::Session {
 public:
  explicit Session(std::unique_ptr<platform::ChildProcess> process)
      : process_(std::move(process)) {}
  ~Session() {
    process_->Channel().Shutdown();
    process_->WaitForEnd(kQuitWaitMs);
  }

  // Greets the process and waits until its toolkit runs; false with why.
  bool Start(std::string* why);
  int Run(CDialog& dialog, RemoteWindow* parent, std::uintptr_t hostWindow);

  // A window call without an answer, queued with the ones before it.
  template <typename Fill>
  void Call(int window, Method method, Fill fill) {
    std::lock_guard<std::mutex> hold(outLock_);
    if (lost_) return;
    out_.Begin(Kind::kCall);
    out_.Int(window);
    out_.Int(static_cast<int>(method));
    fill(out_);
    out_.End();
    if (out_.Bytes().size() >= kFlushBytes) FlushLocked();
  }
  // A window call whose answer the dialog class waits for; the window's
  // events that come meanwhile (a timer under a message box) are delivered.
  template <typename Fill>
  Answer Ask(int window, Method method, Fill fill);
  // From any thread.
  void PostEnd(int window, int result) {
    std::lock_guard<std::mutex> hold(outLock_);
    if (lost_) return;
    out_.Begin(Kind::kPostEnd);
    out_.Int(window);
    out_.Int(result);
    out_.End();
    FlushLocked();
  }

  bool Lost() {
    std::lock_guard<std::mutex> hold(outLock_);
    return lost_;
  }
  void ThrowIfLost() {
    if (Lost()) throw DialogUnavailable(why_, true);
  }

  // Data pointers stay here; the process keeps their numbers.
  std::int32_t Number(void* data) {
    if (data == nullptr) return 0;
    auto found = numbers_.find(data);
    if (found != numbers_.end()) return found->second;
    pointers_.push_back(data);
    const auto number = static_cast<std::int32_t>(pointers_.size());
    numbers_.emplace(data, number);
    return number;
  }
  void* Pointer(std::int32_t number) const {
    if (number <= 0 || static_cast<size_t>(number) > pointers_.size()) return nullptr;
    return pointers_[static_cast<size_t>(number) - 1];
  }

 private:
  void FlushLocked();
  void Flush() {
    std::lock_guard<std::mutex> hold(outLock_);
    FlushLocked();
  }
  // The next frame from the process; false once it has gone.
  bool NextFrame(std::string* frame, int timeoutMs);
  void Lose(const std::string& what);
  // Handles frames until done() holds or the process has gone.
  template <typename Until>
  void Pump(Until done);
  void Handle(const std::string& frame);
  void Done(std::int32_t event) {
    std::lock_guard<std::mutex> hold(outLock_);
    if (lost_) return;
    out_.Begin(Kind::kDone);
    out_.Int(event);
    out_.End();
  }

  std::unique_ptr<platform::ChildProcess> process_;
  std::mutex outLock_;
  wire::Writer out_;
  bool lost_ = false;
  std::string why_;
  wire::FrameBuffer in_;
  // The windows of this process now shown, by the serial the process
  // knows them by.
  LiveWindows<RemoteWindow> windows_;
  std::unordered_map<void*, std::int32_t> numbers_;
  std::vector<void*> pointers_;
  // The answers being waited for, innermost last.
  std::vector<std::pair<bool, Answer>*> waiting_;
};

// The window of one dialog, as the dialog class sees it.
class RemoteWindow : public DialogWindow {
 public:
  RemoteWindow(ProcessToolkit::Session& session, CDialog& dialog)
      : session_(session), dialog_(&dialog) {}

  // The number the process knows the window by; set once, before the
  // window is attached to its dialog.
  int Serial() const { return serial_; }
  void SetSerial(int serial) { serial_ = serial; }
  ProcessToolkit::Session& TheSession() { return session_; }

  // One event into the dialog class (CDialog::Deliver). A failure escaping
  // ends the window; it is raised again when the dialog's call returns.
  void Deliver(const DialogEvent& event, bool updateFirst) {
    if (dialog_ == nullptr || ended_) return;
    if (dialog_->Deliver(event, updateFirst)) return;
    std::exception_ptr failure = dialog_->TakeFailure();
    if (session_.Lost()) return;
    if (!failure_) failure_ = failure;
    EndDialog(kResultCancel);
  }
  void Destroyed() {
    if (dialog_ == nullptr || destroyed_) return;
    destroyed_ = true;
    try {
      dialog_->OnDestroy();
    } catch (...) {
      if (!session_.Lost() && !failure_) failure_ = std::current_exception();
    }
  }
  void Finish(int result) {
    finished_ = true;
    result_ = result;
  }
  bool Finished() const { return finished_; }
  int Result() const { return result_; }
  std::exception_ptr Failure() const { return failure_; }
  void Initialised() { initialised_ = true; }
  bool WasInitialised() const { return initialised_; }
  void Detach() { dialog_ = nullptr; }

  // --- DialogWindow ---
  void SetText(int id, const std::string& text) override {
    session_.Call(serial_, Method::kSetText, [&](wire::Writer& w) {
      w.Int(id);
      w.Text(wire::ToChannel(text));
    });
  }
  std::string GetText(int id) override {
    return wire::FromChannel(session_.Ask(serial_, Method::kGetText, Args(id)).text);
  }
  void Enable(int id, bool enabled) override {
    session_.Call(serial_, Method::kEnable, Args(id, enabled ? 1 : 0));
  }
  bool IsEnabled(int id) override {
    return session_.Ask(serial_, Method::kIsEnabled, Args(id)).number != 0;
  }
  void SetFocus(int id) override { session_.Call(serial_, Method::kSetFocus, Args(id)); }
  void SetLimit(int id, int characters) override {
    session_.Call(serial_, Method::kSetLimit, Args(id, characters));
  }
  void SetCheck(int id, bool checked) override {
    session_.Call(serial_, Method::kSetCheck, Args(id, checked ? 1 : 0));
  }
  bool GetCheck(int id) override {
    return session_.Ask(serial_, Method::kGetCheck, Args(id)).number != 0;
  }
  void ResetList(int id) override { session_.Call(serial_, Method::kResetList, Args(id)); }
  int AddEntry(int id, const std::string& text) override {
    return session_
        .Ask(serial_, Method::kAddEntry,
             [&](wire::Writer& w) {
               w.Int(id);
               w.Text(wire::ToChannel(text));
             })
        .number;
  }
  int InsertEntry(int id, int index, const std::string& text) override {
    return session_
        .Ask(serial_, Method::kInsertEntry,
             [&](wire::Writer& w) {
               w.Int(id);
               w.Int(index);
               w.Text(wire::ToChannel(text));
             })
        .number;
  }
  int EntryCount(int id) override {
    return session_.Ask(serial_, Method::kEntryCount, Args(id)).number;
  }
  void SetEntryData(int id, int index, void* data) override {
    session_.Call(serial_, Method::kSetEntryData, Args(id, index, session_.Number(data)));
  }
  void* GetEntryData(int id, int index) override {
    return session_.Pointer(session_.Ask(serial_, Method::kGetEntryData, Args(id, index)).number);
  }
  bool SetSelection(int id, int index) override {
    return session_.Ask(serial_, Method::kSetSelection, Args(id, index)).number != 0;
  }
  int GetSelection(int id) override {
    return session_.Ask(serial_, Method::kGetSelection, Args(id)).number;
  }

  // Tree items are numbered here, so that filling a tree needs no answers;
  // the process keeps the numbers beside its own items. An item is known
  // here with its control, parent, image and data until it is deleted.
  TreeItem InsertTreeItem(int id, TreeItem parent, const std::string& text, int image,
                          void* data) override {
    if (!IsTree(id)) return kNoTreeItem;
    const TreeItem item = items_.Add(id, parent, 0, image, data);
    if (item == kNoTreeItem) return kNoTreeItem;
    session_.Call(serial_, Method::kInsertTreeItem, [&](wire::Writer& w) {
      w.Int(id);
      w.Int(static_cast<std::int32_t>(parent));
      w.Text(wire::ToChannel(text));
      w.Int(image);
      w.Int(static_cast<std::int32_t>(item));
    });
    return item;
  }
  void SetTreeItemText(int id, TreeItem item, const std::string& text) override {
    if (!items_.Live(id, item)) return;
    session_.Call(serial_, Method::kSetTreeItemText, [&](wire::Writer& w) {
      w.Int(id);
      w.Int(static_cast<std::int32_t>(item));
      w.Text(wire::ToChannel(text));
    });
  }
  std::string GetTreeItemText(int id, TreeItem item) override {
    if (!items_.Live(id, item)) return std::string();
    return wire::FromChannel(
        session_.Ask(serial_, Method::kGetTreeItemText, Args(id, static_cast<int>(item))).text);
  }
  void DeleteTreeItem(int id, TreeItem item) override {
    if (items_.Remove(id, item).empty()) return;
    session_.Call(serial_, Method::kDeleteTreeItem, Args(id, static_cast<int>(item)));
  }
  void DeleteAllTreeItems(int id) override {
    items_.RemoveAll(id);
    session_.Call(serial_, Method::kDeleteAllTreeItems, Args(id));
  }
  TreeItem GetSelectedTreeItem(int id) override {
    const auto item =
        static_cast<TreeItem>(session_.Ask(serial_, Method::kGetSelectedTreeItem, Args(id)).number);
    return items_.Live(id, item) ? item : kNoTreeItem;
  }
  void SelectTreeItem(int id, TreeItem item) override {
    if (item != kNoTreeItem && !items_.Live(id, item)) return;
    session_.Call(serial_, Method::kSelectTreeItem, Args(id, static_cast<int>(item)));
  }
  int GetTreeItemImage(int id, TreeItem item) override { return items_.Image(id, item); }
  void* GetTreeItemData(int id, TreeItem item) override { return items_.Data(id, item); }
  void ExpandTreeItem(int id, TreeItem item) override {
    if (!items_.Live(id, item)) return;
    session_.Call(serial_, Method::kExpandTreeItem, Args(id, static_cast<int>(item)));
  }
  void SortTreeChildren(int id, TreeItem item) override {
    if (item != kNoTreeItem && !items_.Live(id, item)) return;
    session_.Call(serial_, Method::kSortTreeChildren, Args(id, static_cast<int>(item)));
  }
  void SetRedraw(int id, bool redraw) override {
    session_.Call(serial_, Method::kSetRedraw, Args(id, redraw ? 1 : 0));
  }
  void SetRange(int id, int low, int high) override {
    session_.Call(serial_, Method::kSetRange, Args(id, low, high));
  }
  void SetPosition(int id, int position) override {
    session_.Call(serial_, Method::kSetPosition, Args(id, position));
  }
  int GetPosition(int id) override {
    return session_.Ask(serial_, Method::kGetPosition, Args(id)).number;
  }
  // Once the process has gone a message box answers as if its negative
  // button had been pressed: nothing is done on the user's behalf.
  int MessageBox(const std::string& text, MsgButtons buttons, MsgIcon icon,
                 int defaultAnswer) override {
    return AnswerUnlessClosing(session_.Lost() || ended_, buttons, [&] {
      try {
        return session_
            .Ask(serial_, Method::kMessageBox,
                 [&](wire::Writer& w) {
                   w.Text(wire::ToChannel(text));
                   w.Int(static_cast<int>(buttons));
                   w.Int(static_cast<int>(icon));
                   w.Int(defaultAnswer);
                 })
            .number;
      } catch (const DialogUnavailable&) {
        return ClosingAnswer(buttons);
      }
    });
  }
  void SetTimer(int timerId, int milliseconds) override {
    session_.Call(serial_, Method::kSetTimer, Args(timerId, milliseconds));
  }
  void KillTimer(int timerId) override {
    session_.Call(serial_, Method::kKillTimer, Args(timerId));
  }
  void EndDialog(int result) override {
    ended_ = true;
    session_.Call(serial_, Method::kEndDialog, Args(result));
  }
  void PostEndDialog(int result) override { session_.PostEnd(serial_, result); }

 private:
  bool IsTree(int id) const {
    const DialogResource* resource = dialog_ != nullptr ? dialog_->Resource() : nullptr;
    const ControlResource* control = resource != nullptr ? resource->Control(id) : nullptr;
    return control != nullptr && control->kind == ControlKind::kTreeView;
  }

  ProcessToolkit::Session& session_;
  int serial_ = 0;
  CDialog* dialog_;
  bool ended_ = false;
  bool destroyed_ = false;
  bool finished_ = false;
  bool initialised_ = false;
  int result_ = kResultCancel;
  std::exception_ptr failure_;
  TreeItems items_;
};

// ---------------------------------------------------------------- session

void ProcessToolkit::Session::FlushLocked() {
  if (out_.Bytes().empty() || lost_) return;
  const bool written = process_->Channel().Write(out_.Bytes().data(), out_.Bytes().size());
  out_.Bytes().clear();
  // A failed write is noticed by the next read, which says how the
  // process ended.
  (void)written;
}

bool ProcessToolkit::Session::NextFrame(std::string* frame, int timeoutMs) {
  char chunk[65536];
  for (;;) {
    bool damaged = false;
    if (in_.Next(frame, &damaged)) return true;
    if (damaged) {
      Lose("the dialog process sent a damaged message");
      return false;
    }
    const int got = process_->Channel().Read(chunk, sizeof chunk, timeoutMs);
    if (got == -2) {
      Lose("the dialog process did not answer within " + std::to_string(timeoutMs / 1000) + " s");
      return false;
    }
    if (got <= 0) {
      process_->Channel().Shutdown();
      const std::string how = process_->WaitForEnd(kEndWaitMs);
      Lose("the dialog process " + std::to_string(process_->Id()) + " ended (" + how + ")");
      return false;
    }
    in_.Add(chunk, static_cast<size_t>(got));
  }
}

void ProcessToolkit::Session::Lose(const std::string& what) {
  std::lock_guard<std::mutex> hold(outLock_);
  if (lost_) return;
  lost_ = true;
  why_ = what;
  out_.Bytes().clear();
}

bool ProcessToolkit::Session::Start(std::string* why) {
  {
    std::lock_guard<std::mutex> hold(outLock_);
    out_.Begin(Kind::kHello);
    out_.Int(wire::kVersion);
    out_.End();
    FlushLocked();
  }
  std::string frame;
  if (!NextFrame(&frame, kStartWaitMs)) {
    *why = why_;
    return false;
  }
  wire::Reader r(frame.data(), frame.size());
  const Kind kind = r.TheKind();
  if (kind == Kind::kReady) return true;
  *why = kind == Kind::kFailed ? r.Text() : std::string("the dialog process did not start");
  Lose(*why);
  return false;
}

template <typename Until>
void ProcessToolkit::Session::Pump(Until done) {
  std::string frame;
  while (!done()) {
    Flush();
    if (!NextFrame(&frame, -1)) return;
    Handle(frame);
  }
}

template <typename Fill>
Answer ProcessToolkit::Session::Ask(int window, Method method, Fill fill) {
  ThrowIfLost();
  {
    std::lock_guard<std::mutex> hold(outLock_);
    out_.Begin(Kind::kAsk);
    out_.Int(window);
    out_.Int(static_cast<int>(method));
    fill(out_);
    out_.End();
  }
  std::pair<bool, Answer> slot{false, Answer{}};
  waiting_.push_back(&slot);
  Pump([&] { return slot.first || Lost(); });
  waiting_.pop_back();
  ThrowIfLost();
  return slot.second;
}

void ProcessToolkit::Session::Handle(const std::string& frame) {
  wire::Reader r(frame.data(), frame.size());
  const Kind kind = r.TheKind();
  if (kind == Kind::kAnswer) {
    Answer answer;
    answer.number = r.Int();
    answer.text = r.Text();
    if (!waiting_.empty() && !waiting_.back()->first) {
      waiting_.back()->first = true;
      waiting_.back()->second = std::move(answer);
    }
  } else if (kind == Kind::kEvent) {
    const int serial = r.Int();
    const std::int32_t number = r.Int();
    const auto event = static_cast<Event>(r.Int());
    const int a = r.Int();
    const int b = r.Int();
    RemoteWindow* window = windows_.Find(static_cast<std::uint32_t>(serial));
    if (window != nullptr && !r.Damaged()) {
      switch (event) {
        case Event::kInit:
          window->Initialised();
          window->Deliver({DialogEvent::kInit}, false);
          break;
        case Event::kCommand:
          window->Deliver({DialogEvent::kCommand, a, static_cast<Notify>(b)}, true);
          break;
        case Event::kTimer:
          window->Deliver({DialogEvent::kTimer, a}, true);
          break;
        case Event::kOk:
          window->Deliver({DialogEvent::kOk}, true);
          break;
        case Event::kCancel:
          window->Deliver({DialogEvent::kCancel}, true);
          break;
        case Event::kDestroy:
          window->Destroyed();
          break;
      }
    }
    Done(number);
  } else if (kind == Kind::kEnded) {
    const int serial = r.Int();
    const int result = r.Int();
    if (RemoteWindow* window = windows_.Find(static_cast<std::uint32_t>(serial)))
      window->Finish(result);
  } else {
    Lose("the dialog process sent a message of an unknown kind");
  }
}

int ProcessToolkit::Session::Run(CDialog& dialog, RemoteWindow* parent, std::uintptr_t hostWindow) {
  // A dialog asked for once the process has gone is not shown.
  if (Lost()) return kResultCancel;
  RemoteWindow window(*this, dialog);
  const auto serial = static_cast<int>(windows_.Add(&window));
  window.SetSerial(serial);
  dialog.Attach(&window);
  {
    std::lock_guard<std::mutex> hold(outLock_);
    out_.Begin(Kind::kShow);
    out_.Int(serial);
    out_.Int(parent != nullptr ? parent->Serial() : 0);
    out_.Int(dialog.ResourceId());
    out_.Int(static_cast<std::int32_t>(static_cast<std::uint64_t>(hostWindow) & 0xffffffffu));
    out_.Int(static_cast<std::int32_t>(static_cast<std::uint64_t>(hostWindow) >> 32));
    out_.End();
  }
  Pump([&] { return window.Finished() || Lost(); });
  // Whichever way it went, the dialog hears of its end once.
  if (!window.Finished() && window.WasInitialised()) window.Destroyed();
  dialog.Attach(nullptr);
  window.Detach();
  windows_.Remove(static_cast<std::uint32_t>(serial));
  if (window.Failure()) std::rethrow_exception(window.Failure());
  return window.Finished() ? window.Result() : kResultCancel;
}

// ---------------------------------------------------------------- toolkit

namespace {
// The session of the dialogs now shown on each thread (one at most per
// thread: the dialogs over it run in it). Neither thread-local storage
// (an object of it with a destructor keeps the library loaded for as long
// as the thread lives, so a host's unload with a dialog open would neither
// free the library nor end the dialog; and the sanitizers' leak check
// trips over the dynamic thread-local blocks of a library loaded and
// freed again) nor anything with a destructor: a call still returning
// through here when the library is freed finds its slot as it left it.
struct ThreadSession {
  std::thread::id thread;
  ProcessToolkit::Session* session;
};
constexpr int kSessionSlots = 64;
std::mutex sessionsLock;
ThreadSession sessions[kSessionSlots];

ProcessToolkit::Session* SessionOfThisThread() {
  const std::thread::id self = std::this_thread::get_id();
  std::lock_guard<std::mutex> hold(sessionsLock);
  for (const ThreadSession& slot : sessions)
    if (slot.session != nullptr && slot.thread == self) return slot.session;
  return nullptr;
}

// False when every slot is taken (so many threads showing dialogs at once):
// the thread's later dialogs without a parent then start a process of
// their own.
bool EnterSession(ProcessToolkit::Session* session) {
  std::lock_guard<std::mutex> hold(sessionsLock);
  for (ThreadSession& slot : sessions) {
    if (slot.session == nullptr) {
      slot = {std::this_thread::get_id(), session};
      return true;
    }
  }
  return false;
}

void LeaveSession(ProcessToolkit::Session* session) {
  std::lock_guard<std::mutex> hold(sessionsLock);
  for (ThreadSession& slot : sessions)
    if (slot.session == session) slot = {std::thread::id(), nullptr};
}
}  // namespace

ProcessToolkit::ProcessToolkit(Starter start) : start_(std::move(start)) {}
ProcessToolkit::~ProcessToolkit() = default;

int ProcessToolkit::RunModal(CDialog& dialog, CDialog* parent, void* hostParent) {
  auto* parentWindow =
      parent != nullptr ? dynamic_cast<RemoteWindow*>(parent->RendererWindow()) : nullptr;
  // Nested dialogs and message boxes run in the process of the dialog
  // below them, on this thread.
  Session* session = parentWindow != nullptr ? &parentWindow->TheSession() : SessionOfThisThread();
  if (session != nullptr) return session->Run(dialog, parentWindow, 0);

  std::string why;
  std::unique_ptr<platform::ChildProcess> process = start_(&why);
  if (!process) throw DialogUnavailable(why, false);
  Session top(std::move(process));
  if (!top.Start(&why)) throw DialogUnavailable(why, false);
  struct Leave {
    Session* session;
    ~Leave() { LeaveSession(session); }
  } leave{EnterSession(&top) ? &top : nullptr};
  const int result = top.Run(dialog, nullptr, reinterpret_cast<std::uintptr_t>(hostParent));
  // The process is ended when this returns (no display connection stays
  // open between dialogs); one that died on the way is reported.
  top.ThrowIfLost();
  return result;
}

}  // namespace ui
