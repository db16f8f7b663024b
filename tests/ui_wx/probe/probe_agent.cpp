// The window probe inside the window tests' copy of the dialog program:
// when the test has named a socket file (probewire::kSocketVariable), a
// thread of the program listens there and answers the test's requests
// (window_probe.h) with the in-process helpers of wx_test_util.h, run on
// the program's UI thread. The program itself is the one the library
// starts; only this file is added to it.
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <wx/listbox.h>
#include <wx/treectrl.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "probe_wire.h"
#include "ui/process/dialog_server.h"
#include "ui/wx/wx_toolkit.h"
#include "wx_test_util.h"

namespace {

using Fields = std::vector<std::string>;

int Number(const Fields& request, size_t at) {
  return at < request.size() ? atoi(request[at].c_str()) : 0;
}

// The dialog a request names, when it is on screen in this process.
wxDialog* Named(const Fields& request) {
  if (request.size() < 3 || atol(request[1].c_str()) != static_cast<long>(getpid())) return nullptr;
  const auto window = static_cast<uintptr_t>(strtoull(request[2].c_str(), nullptr, 10));
  wxDialog* found = nullptr;
  wxtest::OnUi([&] {
    for (wxWindow* top : wxTopLevelWindows) {
      if (reinterpret_cast<uintptr_t>(top) == window) found = dynamic_cast<wxDialog*>(top);
    }
  });
  return found;
}

Fields Found(wxDialog* dialog) {
  if (dialog == nullptr) return {"ok"};
  return {"ok", std::to_string(getpid()), std::to_string(reinterpret_cast<uintptr_t>(dialog))};
}

wxTreeCtrl* TreeOf(wxDialog* dialog, int id) {
  return dynamic_cast<wxTreeCtrl*>(dialog->FindWindow(id));
}

Fields OnDialog(const std::string& op, wxDialog* dialog, const Fields& request) {
  const int id = Number(request, 3);
  const std::string text = request.size() > 4 ? request[4] : std::string();
  if (op == "click") {
    wxtest::Click(dialog, id);
  } else if (op == "toggle") {
    wxtest::ToggleCheck(dialog, id);
  } else if (op == "choose") {
    wxtest::ChooseEntry(dialog, id, Number(request, 4));
  } else if (op == "double-click") {
    wxtest::DoubleClickEntry(dialog, id, Number(request, 4));
  } else if (op == "key") {
    wxtest::PressKey(dialog, id);
  } else if (op == "close") {
    wxtest::CloseBox(dialog);
  } else if (op == "type") {
    wxtest::Type(dialog, id, text);
  } else if (op == "text") {
    return {"ok", wxtest::TextOf(dialog, id)};
  } else if (op == "enabled") {
    return {"ok", wxtest::EnabledOf(dialog, id) ? "1" : "0"};
  } else if (op == "message-text") {
    return {"ok", wxtest::MessageOf(dialog)};
  } else if (op == "default") {
    int item = 0;
    wxtest::OnUi([&] {
      if (wxWindow* button = dialog->GetDefaultItem()) item = button->GetId();
    });
    return {"ok", std::to_string(item)};
  } else if (op == "tree") {
    Fields lines = {"ok"};
    wxtest::OnUi([&] {
      wxTreeCtrl* tree = TreeOf(dialog, id);
      if (tree == nullptr) return;
      std::function<void(const wxTreeItemId&, int)> walk = [&](const wxTreeItemId& item,
                                                               int level) {
        wxTreeItemIdValue cookie;
        for (wxTreeItemId c = tree->GetFirstChild(item, cookie); c.IsOk();
             c = tree->GetNextChild(item, cookie)) {
          lines.push_back(std::string(level * 2, ' ') +
                          std::string(tree->GetItemText(c).utf8_str()));
          walk(c, level + 1);
        }
      };
      walk(tree->GetRootItem(), 0);
    });
    return lines;
  } else if (op == "select") {
    bool found = false;
    wxtest::OnUi([&] {
      wxTreeCtrl* tree = TreeOf(dialog, id);
      if (tree == nullptr) return;
      std::function<bool(const wxTreeItemId&)> walk = [&](const wxTreeItemId& item) {
        wxTreeItemIdValue cookie;
        for (wxTreeItemId c = tree->GetFirstChild(item, cookie); c.IsOk();
             c = tree->GetNextChild(item, cookie)) {
          if (std::string(tree->GetItemText(c).utf8_str()) == text) {
            tree->SelectItem(c);
            return true;
          }
          if (walk(c)) return true;
        }
        return false;
      };
      found = walk(tree->GetRootItem());
    });
    wxtest::Settle();
    return {"ok", found ? "1" : "0"};
  } else if (op == "entries") {
    Fields entries = {"ok"};
    wxtest::OnUi([&] {
      if (auto* items = dynamic_cast<wxItemContainer*>(dialog->FindWindow(id))) {
        for (unsigned i = 0; i < items->GetCount(); ++i)
          entries.push_back(std::string(items->GetString(i).utf8_str()));
      }
    });
    return entries;
  } else {
    return {"unknown request"};
  }
  return {"ok"};
}

// Runs call on the UI thread, also while a dialog's event is with the host
// (a dialog class asking from its handler); false after timeoutMs.
bool OnUiEvenWhileWaiting(const std::function<void()>& call, int timeoutMs = 10000) {
  struct State {
    std::mutex lock;
    std::condition_variable done;
    bool finished = false;
  };
  auto state = std::make_shared<State>();
  const bool queued = setupproc::DialogServer::RunOnUi([state, call] {
    call();
    std::lock_guard<std::mutex> hold(state->lock);
    state->finished = true;
    state->done.notify_all();
  });
  if (!queued) return wxtest::OnUi(call, timeoutMs);
  std::unique_lock<std::mutex> hold(state->lock);
  return state->done.wait_for(hold, std::chrono::milliseconds(timeoutMs),
                              [&] { return state->finished; });
}

// The texts of the root items of tree id in the innermost window titled
// title, in the order shown.
Fields RootTexts(const std::string& title, int id) {
  auto texts = std::make_shared<Fields>();
  const bool ran = OnUiEvenWhileWaiting([texts, title, id] {
    wxTreeCtrl* tree = nullptr;
    for (wxWindow* window : wxTopLevelWindows) {
      auto* top = dynamic_cast<wxTopLevelWindow*>(window);
      if (top != nullptr && std::string(top->GetTitle().utf8_str()) == title)
        tree = dynamic_cast<wxTreeCtrl*>(top->FindWindow(id));
    }
    if (tree == nullptr) return;
    wxTreeItemIdValue cookie;
    const wxTreeItemId root = tree->GetRootItem();
    for (wxTreeItemId c = tree->GetFirstChild(root, cookie); c.IsOk();
         c = tree->GetNextChild(root, cookie))
      texts->push_back(std::string(tree->GetItemText(c).utf8_str()));
  });
  if (!ran) return {"the UI thread did not answer"};
  Fields answer = {"ok"};
  answer.insert(answer.end(), texts->begin(), texts->end());
  return answer;
}

Fields Answer(const Fields& request) {
  std::string why;
  if (!uiwx::StartToolkit(&why)) return {"no toolkit: " + why};
  wxtest::UseRunningToolkit();
  const std::string& op = request[0];
  const std::string what = request.size() > 1 ? request[1] : std::string();
  if (op == "find") return Found(wxtest::WaitForDialog(what, 0));
  if (op == "message") return Found(wxtest::WaitForMessage(what, 0));
  if (op == "end-all") {
    wxtest::EndAllDialogs();
    return {"ok"};
  }
  if (op == "root-texts") return RootTexts(what, Number(request, 2));
  if (op == "settle") {
    wxtest::Settle();
    return {"ok"};
  }
  wxDialog* dialog = Named(request);
  if (dialog == nullptr) return {"no such dialog"};
  return OnDialog(op, dialog, request);
}

void Serve(std::string path) {
  sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return;
  memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener < 0) return;
  // The dialog program before this one may still be ending: this one
  // answers from now on.
  unlink(path.c_str());
  if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener, 8) != 0) {
    close(listener);
    return;
  }
  for (;;) {
    const int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::string bytes;
    Fields request;
    if (probewire::ReadAll(fd, &bytes) && probewire::Decode(bytes, &request) && !request.empty())
      probewire::SendAll(fd, probewire::Encode(Answer(request)));
    close(fd);
  }
}

// Started with the program; it ends with the program.
const bool listening = [] {
  const char* path = getenv(probewire::kSocketVariable);
  if (path == nullptr || *path == '\0') return false;
  std::thread(Serve, std::string(path)).detach();
  return true;
}();

}  // namespace
