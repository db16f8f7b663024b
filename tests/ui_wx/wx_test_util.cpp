#include "wx_test_util.h"

#include <dlfcn.h>
#include <stdlib.h>
#include <wx/app.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/clntdata.h>
#include <wx/listbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/uiaction.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "ui/wx/module_api.h"

namespace wxtest {

bool HaveDisplay() {
  const char* display = getenv("DISPLAY");
  return display != nullptr && *display != '\0';
}

namespace {

// The toolkit is known to run once this test thread or another has had it
// from the module's entry, which returns only when the start is done: from
// then on wxTheApp, set by the module's UI thread, may be read here.
std::mutex startLock;
bool started = false;

ui::Toolkit* EntryToolkit(void* module, std::string* why) {
  auto entry = reinterpret_cast<WxModuleEntry>(dlsym(module, QUARO7_WX_MODULE_ENTRY));
  if (entry == nullptr) {
    *why = "no entry";
    return nullptr;
  }
  char text[512] = {0};
  ui::Toolkit* toolkit = entry(kWxModuleInterfaceVersion, text, sizeof text);
  if (toolkit == nullptr) *why = text;
  return toolkit;
}

bool ToolkitStarted() {
  std::lock_guard<std::mutex> hold(startLock);
  return started;
}

}  // namespace

ui::Toolkit* ModuleToolkit(const std::string& modulePath, std::string* why) {
  void* module = dlopen(modulePath.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) {
    *why = dlerror();
    return nullptr;
  }
  ui::Toolkit* toolkit = EntryToolkit(module, why);
  std::lock_guard<std::mutex> hold(startLock);
  if (toolkit != nullptr) started = true;
  return toolkit;
}

void UseRunningToolkit() {
  std::lock_guard<std::mutex> hold(startLock);
  started = true;
}

bool OnUi(const std::function<void()>& call, int timeoutMs) {
  if (!ToolkitStarted() || wxTheApp == nullptr) return false;
  struct State {
    std::mutex lock;
    std::condition_variable done;
    bool finished = false;
  };
  auto state = std::make_shared<State>();
  wxTheApp->CallAfter([state, call] {
    call();
    std::lock_guard<std::mutex> hold(state->lock);
    state->finished = true;
    state->done.notify_all();
  });
  std::unique_lock<std::mutex> hold(state->lock);
  return state->done.wait_for(hold, std::chrono::milliseconds(timeoutMs),
                              [&] { return state->finished; });
}

namespace {

wxDialog* FindDialog(const std::string& title) {
  wxDialog* found = nullptr;
  for (wxWindow* top : wxTopLevelWindows) {
    auto* dialog = dynamic_cast<wxDialog*>(top);
    if (dialog != nullptr && dialog->IsShown() && dialog->IsModal() &&
        std::string(dialog->GetTitle().utf8_str()) == title) {
      found = dialog;
    }
  }
  return found;
}

template <typename Pred>
bool Poll(Pred pred, int timeoutMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < end) {
    if (pred()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return pred();
}

void Queue(wxWindow* target, wxEvent* event) { target->GetEventHandler()->QueueEvent(event); }

}  // namespace

wxDialog* WaitForDialog(const std::string& title, int timeoutMs) {
  wxDialog* found = nullptr;
  Poll(
      [&] {
        OnUi([&] { found = FindDialog(title); });
        return found != nullptr;
      },
      timeoutMs);
  // Shown and modal; let the loop draw it once.
  if (found != nullptr) Settle();
  return found;
}

wxDialog* WaitForMessage(const std::string& text, int timeoutMs) {
  wxDialog* found = nullptr;
  Poll(
      [&] {
        wxDialog* box = nullptr;
        OnUi([&] { box = FindDialog("QUARO7K7_PTZ"); });
        if (box != nullptr && MessageOf(box) == text) found = box;
        return found != nullptr;
      },
      timeoutMs);
  if (found != nullptr) Settle();
  return found;
}

void EndAllDialogs() {
  for (int round = 0; round < 20; ++round) {
    bool any = false;
    OnUi(
        [&] {
          for (wxWindow* top : wxTopLevelWindows) {
            auto* dialog = dynamic_cast<wxDialog*>(top);
            if (dialog != nullptr && dialog->IsModal()) {
              any = true;
              auto* event = new wxCloseEvent(wxEVT_CLOSE_WINDOW, dialog->GetId());
              event->SetCanVeto(true);
              event->SetEventObject(dialog);
              Queue(dialog, event);
            }
          }
        },
        2000);
    if (!any) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

bool WaitForNoDialog(const std::string& title, int timeoutMs) {
  return Poll(
      [&] {
        bool gone = false;
        OnUi([&] { gone = FindDialog(title) == nullptr; });
        return gone;
      },
      timeoutMs);
}

void Click(wxDialog* dialog, int id) {
  OnUi([&] {
    wxWindow* control = dialog->FindWindow(id);
    if (control == nullptr) return;
    auto* event = new wxCommandEvent(wxEVT_BUTTON, id);
    event->SetEventObject(control);
    Queue(control, event);
  });
}

void ClickWithMouse(wxDialog* dialog, int id) {
  OnUi([&] {
    wxWindow* control = dialog->FindWindow(id);
    if (control == nullptr) return;
    const wxRect rect = control->GetScreenRect();
    wxUIActionSimulator simulator;
    simulator.MouseMove(rect.GetPosition() + wxPoint(rect.width / 2, rect.height / 2));
    simulator.MouseClick();
  });
}

void ToggleCheck(wxDialog* dialog, int id) {
  OnUi([&] {
    auto* box = dynamic_cast<wxCheckBox*>(dialog->FindWindow(id));
    if (box == nullptr) return;
    box->SetValue(!box->GetValue());
    auto* event = new wxCommandEvent(wxEVT_CHECKBOX, id);
    event->SetInt(box->GetValue());
    event->SetEventObject(box);
    Queue(box, event);
  });
}

void ChooseEntry(wxDialog* dialog, int id, int index) {
  OnUi([&] {
    wxWindow* control = dialog->FindWindow(id);
    if (auto* choice = dynamic_cast<wxChoice*>(control)) {
      choice->SetSelection(index);
      auto* event = new wxCommandEvent(wxEVT_CHOICE, id);
      event->SetInt(index);
      event->SetEventObject(choice);
      Queue(choice, event);
    } else if (auto* list = dynamic_cast<wxListBox*>(control)) {
      list->SetSelection(index);
      auto* event = new wxCommandEvent(wxEVT_LISTBOX, id);
      event->SetInt(index);
      event->SetEventObject(list);
      Queue(list, event);
    }
  });
}

void DoubleClickEntry(wxDialog* dialog, int id, int index) {
  OnUi([&] {
    auto* list = dynamic_cast<wxListBox*>(dialog->FindWindow(id));
    if (list == nullptr) return;
    list->SetSelection(index);
    auto* event = new wxCommandEvent(wxEVT_LISTBOX_DCLICK, id);
    event->SetInt(index);
    event->SetEventObject(list);
    Queue(list, event);
  });
}

void PressKey(wxDialog* dialog, int keyCode) {
  OnUi([&] {
    auto* event = new wxKeyEvent(wxEVT_CHAR_HOOK);
    event->m_keyCode = keyCode;
    event->SetEventObject(dialog);
    Queue(dialog, event);
  });
}

void CloseBox(wxDialog* dialog) {
  OnUi([&] {
    auto* event = new wxCloseEvent(wxEVT_CLOSE_WINDOW, dialog->GetId());
    event->SetCanVeto(true);
    event->SetEventObject(dialog);
    Queue(dialog, event);
  });
}

void Type(wxDialog* dialog, int id, const std::string& text) {
  OnUi([&] {
    if (auto* edit = dynamic_cast<wxTextCtrl*>(dialog->FindWindow(id))) {
      edit->SetValue(wxString::FromUTF8(text.c_str()));
    }
  });
}

std::string TextOf(wxDialog* dialog, int id) {
  std::string text;
  OnUi([&] {
    wxWindow* control = dialog->FindWindow(id);
    if (auto* edit = dynamic_cast<wxTextCtrl*>(control)) {
      text = edit->GetValue().utf8_str();
    } else if (auto* choice = dynamic_cast<wxChoice*>(control)) {
      text = choice->GetStringSelection().utf8_str();
    } else if (control != nullptr) {
      text = control->GetLabel().utf8_str();
    }
  });
  return text;
}

bool EnabledOf(wxDialog* dialog, int id) {
  bool enabled = false;
  OnUi([&] {
    wxWindow* control = dialog->FindWindow(id);
    enabled = control != nullptr && control->IsThisEnabled();
  });
  return enabled;
}

std::string MessageOf(wxDialog* box) {
  std::string text;
  OnUi([&] {
    if (auto* label = dynamic_cast<wxStaticText*>(box->FindWindow("message"))) {
      // The text as the dialog gave it (the label's has the wrapping's
      // line breaks).
      if (auto* data = dynamic_cast<wxStringClientData*>(label->GetClientObject())) {
        text = data->GetData().utf8_str();
      }
    }
  });
  return text;
}

void Settle() {
  // Two round trips: events queued by the first are handled before the
  // second returns.
  OnUi([] {});
  OnUi([] {});
}

bool Screenshot(const std::string& title, const std::string& path) {
  Settle();
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  Settle();
  const std::string command = "id=$(xdotool search --onlyvisible --name '^" + title +
                              "$' | tail -1) && [ -n \"$id\" ] && import -frame -window \"$id\" '" +
                              path + "'";
  return system(command.c_str()) == 0;
}

}  // namespace wxtest
