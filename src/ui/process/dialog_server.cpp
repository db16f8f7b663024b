#include "ui/process/dialog_server.h"

#include <unistd.h>
#include <wx/app.h>

#include <utility>

#include "ui/closing_answer.h"

namespace setupproc {

using ui::wire::Event;
using ui::wire::Kind;
using ui::wire::Method;
using ui::wire::Reader;
using ui::wire::Writer;

int RemoteDialog::OnInitDialog() {
  if (hostWindow_ != 0) MakeTransientFor(RendererWindow(), hostWindow_);
  server_.Forward(serial_, Event::kInit);
  return 1;
}

namespace {
std::mutex runningLock;
DialogServer* running = nullptr;
}  // namespace

DialogServer::DialogServer(platform::ProcessChannel& channel, ui::Toolkit& toolkit)
    : channel_(channel), toolkit_(toolkit) {
  std::lock_guard<std::mutex> hold(runningLock);
  running = this;
}

DialogServer::~DialogServer() {
  std::lock_guard<std::mutex> hold(runningLock);
  if (running == this) running = nullptr;
}

bool DialogServer::RunOnUi(std::function<void()> job) {
  std::lock_guard<std::mutex> hold(runningLock);
  if (running == nullptr) return false;
  std::vector<Incoming> incoming(1);
  incoming[0].job = std::move(job);
  running->Post(incoming);
  return true;
}

void DialogServer::Receive(std::vector<std::string>& frames) {
  std::vector<Incoming> incoming;
  incoming.reserve(frames.size());
  for (std::string& frame : frames) incoming.push_back({std::move(frame), nullptr});
  frames.clear();
  Post(incoming);
}

void DialogServer::Post(std::vector<Incoming>& incoming) {
  bool post = false;
  {
    std::lock_guard<std::mutex> hold(lock_);
    for (Incoming& one : incoming) queue_.push_back(std::move(one));
    // One drain waiting in the toolkit's queue takes all that comes
    // before it runs (a tree of 50,000 items is not 50,000 events).
    post = !drainPosted_;
    drainPosted_ = true;
  }
  arrived_.notify_all();
  if (post) wxTheApp->CallAfter([this] { Drain(); });
}

bool DialogServer::Take(Incoming* incoming, bool wait) {
  std::unique_lock<std::mutex> hold(lock_);
  if (wait) arrived_.wait(hold, [this] { return !queue_.empty(); });
  if (queue_.empty()) return false;
  *incoming = std::move(queue_.front());
  queue_.pop_front();
  return true;
}

void DialogServer::Drain() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    drainPosted_ = false;
  }
  Incoming incoming;
  while (Take(&incoming, false)) Handle(incoming);
}

void DialogServer::Handle(Incoming& incoming) {
  if (incoming.job) {
    incoming.job();
    incoming.job = nullptr;
  } else {
    Handle(incoming.frame);
  }
}

void DialogServer::Send(Writer& out) {
  // The host has gone: nothing of ours is left to end properly.
  if (!channel_.Write(out.Bytes().data(), out.Bytes().size())) _exit(0);
  out.Bytes().clear();
}

void DialogServer::Forward(int window, Event event, int a, int b) {
  const std::int32_t number = ++lastEvent_;
  Writer out;
  out.Begin(Kind::kEvent);
  out.Int(window);
  out.Int(number);
  out.Int(static_cast<int>(event));
  out.Int(a);
  out.Int(b);
  out.End();
  Send(out);
  Incoming incoming;
  while (handled_.count(number) == 0) {
    Take(&incoming, true);
    Handle(incoming);
  }
  handled_.erase(number);
}

void DialogServer::Handle(const std::string& frame) {
  Reader r(frame.data(), frame.size());
  switch (r.TheKind()) {
    case Kind::kShow:
      Show(r);
      break;
    case Kind::kCall:
      CallWindow(r, false);
      break;
    case Kind::kAsk:
      CallWindow(r, true);
      break;
    case Kind::kDone:
      handled_.insert(r.Int());
      break;
    case Kind::kPostEnd: {
      const int serial = r.Int();
      const int result = r.Int();
      auto found = dialogs_.find(serial);
      if (found != dialogs_.end() && found->second->Window() != nullptr)
        found->second->Window()->PostEndDialog(result);
      break;
    }
    default:
      // Not a host of this build: nothing sensible can follow.
      _exit(3);
  }
}

void DialogServer::Show(Reader& r) {
  const int serial = r.Int();
  const int parentSerial = r.Int();
  const int resourceId = r.Int();
  const auto low = static_cast<std::uint32_t>(r.Int());
  const auto high = static_cast<std::uint32_t>(r.Int());
  RemoteDialog dialog(*this, toolkit_, serial, resourceId,
                      (static_cast<std::uint64_t>(high) << 32) | low);
  auto parent = dialogs_.find(parentSerial);
  RemoteDialog* parentDialog = parent != dialogs_.end() ? parent->second : nullptr;
  dialogs_[serial] = &dialog;
  int result = ui::kResultCancel;
  try {
    result = toolkit_.RunModal(dialog, parentDialog, nullptr);
  } catch (...) {
    result = ui::kResultCancel;
  }
  dialogs_.erase(serial);
  Writer out;
  out.Begin(Kind::kEnded);
  out.Int(serial);
  out.Int(result);
  out.End();
  Send(out);
}

void DialogServer::CallWindow(Reader& r, bool answered) {
  const int serial = r.Int();
  const auto method = static_cast<Method>(r.Int());
  auto found = dialogs_.find(serial);
  RemoteDialog* dialog = found != dialogs_.end() ? found->second : nullptr;
  // The renderer's own window: the texts on the channel are UTF-8 already.
  ui::DialogWindow* w = dialog != nullptr ? dialog->RendererWindow() : nullptr;
  std::int32_t number = 0;
  std::string text;
  if (w == nullptr) {
    // A window that has gone: the calls do nothing, the answers are empty
    // (a message box's is its negative one).
    if (method == Method::kMessageBox) {
      r.Text();
      number = ui::ClosingAnswer(static_cast<ui::MsgButtons>(r.Int()));
    } else if (method == Method::kGetSelection || method == Method::kInsertEntry ||
               method == Method::kAddEntry) {
      number = -1;
    }
  } else if (method == Method::kMessageBox) {
    const std::string message = r.Text();
    const int buttons = r.Int();
    const int icon = r.Int();
    number = w->MessageBox(message, static_cast<ui::MsgButtons>(buttons),
                           static_cast<ui::MsgIcon>(icon), r.Int());
  } else {
    const int id = r.Int();
    // The renderer's item behind the host's number of an item of the tree.
    auto item = [&](std::int32_t host) {
      return static_cast<ui::TreeItem>(
          dialog->items.NativeOf(id, static_cast<ui::TreeItem>(static_cast<std::uint32_t>(host))));
    };
    const auto hostItem = [](std::int32_t host) {
      return static_cast<ui::TreeItem>(static_cast<std::uint32_t>(host));
    };
    switch (method) {
      case Method::kSetText: {
        const std::string value = r.Text();
        w->SetText(id, value);
        break;
      }
      case Method::kGetText:
        text = w->GetText(id);
        break;
      case Method::kEnable:
        w->Enable(id, r.Int() != 0);
        break;
      case Method::kIsEnabled:
        number = w->IsEnabled(id) ? 1 : 0;
        break;
      case Method::kSetFocus:
        w->SetFocus(id);
        break;
      case Method::kSetLimit:
        w->SetLimit(id, r.Int());
        break;
      case Method::kSetCheck:
        w->SetCheck(id, r.Int() != 0);
        break;
      case Method::kGetCheck:
        number = w->GetCheck(id) ? 1 : 0;
        break;
      case Method::kResetList:
        w->ResetList(id);
        break;
      case Method::kAddEntry:
        number = w->AddEntry(id, r.Text());
        break;
      case Method::kInsertEntry: {
        const int index = r.Int();
        number = w->InsertEntry(id, index, r.Text());
        break;
      }
      case Method::kEntryCount:
        number = w->EntryCount(id);
        break;
      case Method::kSetEntryData: {
        const int index = r.Int();
        // The host's number for its pointer, never used as one here.
        w->SetEntryData(id, index, reinterpret_cast<void*>(static_cast<std::intptr_t>(r.Int())));
        break;
      }
      case Method::kGetEntryData: {
        const int index = r.Int();
        number =
            static_cast<std::int32_t>(reinterpret_cast<std::intptr_t>(w->GetEntryData(id, index)));
        break;
      }
      case Method::kSetSelection:
        number = w->SetSelection(id, r.Int()) ? 1 : 0;
        break;
      case Method::kGetSelection:
        number = w->GetSelection(id);
        break;
      case Method::kInsertTreeItem: {
        const std::int32_t parent = r.Int();
        const std::string value = r.Text();
        const int image = r.Int();
        const std::int32_t host = r.Int();
        const ui::TreeItem under = parent != 0 ? item(parent) : ui::kNoTreeItem;
        if (parent != 0 && under == ui::kNoTreeItem) break;
        const ui::TreeItem made = w->InsertTreeItem(id, under, value, image, nullptr);
        if (made != ui::kNoTreeItem)
          dialog->items.Adopt(id, hostItem(host), hostItem(parent), made, image, nullptr);
        break;
      }
      case Method::kSetTreeItemText: {
        const ui::TreeItem at = item(r.Int());
        const std::string value = r.Text();
        if (at != ui::kNoTreeItem) w->SetTreeItemText(id, at, value);
        break;
      }
      case Method::kGetTreeItemText: {
        const ui::TreeItem at = item(r.Int());
        if (at != ui::kNoTreeItem) text = w->GetTreeItemText(id, at);
        break;
      }
      case Method::kDeleteTreeItem: {
        const std::int32_t host = r.Int();
        const ui::TreeItem at = item(host);
        if (at != ui::kNoTreeItem) w->DeleteTreeItem(id, at);
        // The numbers of the items below it go with it.
        dialog->items.Remove(id, hostItem(host));
        break;
      }
      case Method::kDeleteAllTreeItems:
        w->DeleteAllTreeItems(id);
        dialog->items.RemoveAll(id);
        break;
      case Method::kGetSelectedTreeItem: {
        const ui::TreeItem at = w->GetSelectedTreeItem(id);
        number = static_cast<std::int32_t>(dialog->items.FromNative(id, at));
        break;
      }
      case Method::kSelectTreeItem: {
        const std::int32_t host = r.Int();
        const ui::TreeItem at = item(host);
        if (host == 0 || at != ui::kNoTreeItem) w->SelectTreeItem(id, at);
        break;
      }
      case Method::kExpandTreeItem: {
        const ui::TreeItem at = item(r.Int());
        if (at != ui::kNoTreeItem) w->ExpandTreeItem(id, at);
        break;
      }
      case Method::kSortTreeChildren: {
        const std::int32_t host = r.Int();
        const ui::TreeItem at = item(host);
        if (host == 0 || at != ui::kNoTreeItem) w->SortTreeChildren(id, at);
        break;
      }
      case Method::kSetRedraw:
        w->SetRedraw(id, r.Int() != 0);
        break;
      case Method::kSetRange: {
        const int low = r.Int();
        w->SetRange(id, low, r.Int());
        break;
      }
      case Method::kSetPosition:
        w->SetPosition(id, r.Int());
        break;
      case Method::kGetPosition:
        number = w->GetPosition(id);
        break;
      case Method::kMessageBox:
        break;
      case Method::kSetTimer: {
        w->SetTimer(id, r.Int());
        break;
      }
      case Method::kKillTimer:
        w->KillTimer(id);
        break;
      case Method::kEndDialog:
        w->EndDialog(id);
        break;
    }
  }
  if (!answered) return;
  Writer out;
  out.Begin(Kind::kAnswer);
  out.Int(number);
  out.Text(text);
  out.End();
  Send(out);
}

}  // namespace setupproc
