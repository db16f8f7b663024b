// The stack of modal windows on the UI thread, and the message box.
#include "ui/wx/wx_modal.h"

#include <wx/artprov.h>
#include <wx/button.h>
#include <wx/clntdata.h>
#include <wx/dialog.h>
#include <wx/sizer.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>

#include <vector>

#include "ui/closing_answer.h"
#include "ui/dialog_window.h"
#include "ui/wx/wx_window.h"

namespace uiwx {

namespace {

struct Frame {
  wxDialog* modal;
  WxDialogWindow* window;
  std::function<void()> forceEnd;
};

std::vector<Frame>& Stack() {
  static std::vector<Frame> stack;
  return stack;
}

// The system's message box: icon, text, OK or Yes and No, one default
// button. Escape answers an OK box; a Yes/No box has neither Escape nor a
// close box, as on Windows.
class MessageBoxDialog : public wxDialog {
 public:
  MessageBoxDialog(wxWindow* owner, const std::string& text, int buttons, int icon,
                   int defaultAnswer)
      : yesNo_(buttons == static_cast<int>(ui::MsgButtons::kYesNo)) {
    Create(owner, wxID_ANY, "QUARO7K7_PTZ", wxDefaultPosition, wxDefaultSize,
           yesNo_ ? wxCAPTION : (wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX));
    SetName("QUARO7K7_PTZ message box");
    SetEscapeId(wxID_NONE);
    auto* top = new wxBoxSizer(wxVERTICAL);
    auto* row = new wxBoxSizer(wxHORIZONTAL);
    wxArtID art;
    switch (static_cast<ui::MsgIcon>(icon)) {
      case ui::MsgIcon::kInformation:
        art = wxART_INFORMATION;
        break;
      case ui::MsgIcon::kExclamation:
        art = wxART_WARNING;
        break;
      case ui::MsgIcon::kQuestion:
        art = wxART_QUESTION;
        break;
      case ui::MsgIcon::kNone:
        break;
    }
    if (!art.empty()) {
      auto* bitmap =
          new wxStaticBitmap(this, wxID_ANY, wxArtProvider::GetBitmap(art, wxART_MESSAGE_BOX));
      row->Add(bitmap, 0, wxALL | wxALIGN_TOP, 12);
    }
    auto* label = new wxStaticText(this, wxID_ANY, wxString::FromUTF8(text.c_str()));
    label->SetName("message");
    // The text as given, before the wrapping breaks its lines.
    label->SetClientObject(new wxStringClientData(wxString::FromUTF8(text.c_str())));
    label->Wrap(420);
    row->Add(label, 1, wxTOP | wxBOTTOM | wxRIGHT | wxALIGN_CENTER_VERTICAL, 12);
    top->Add(row, 1, wxEXPAND | wxLEFT, art.empty() ? 12 : 0);
    auto* line = new wxBoxSizer(wxHORIZONTAL);
    line->AddStretchSpacer();
    wxButton* first = nullptr;
    wxButton* chosen = nullptr;
    auto add = [&](int id, const char* label_text, int answer) {
      auto* button = new wxButton(this, id, label_text);
      button->Bind(wxEVT_BUTTON, [this, answer](wxCommandEvent&) { EndModal(answer); });
      line->Add(button, 0, wxLEFT, 8);
      if (first == nullptr) first = button;
      if (answer == defaultAnswer) chosen = button;
    };
    if (yesNo_) {
      add(wxID_YES, "&Yes", ui::kAnswerYes);
      add(wxID_NO, "&No", ui::kAnswerNo);
    } else {
      add(wxID_OK, "OK", ui::kAnswerOk);
    }
    if (chosen == nullptr) chosen = first;
    chosen->SetDefault();
    chosen->SetFocus();
    top->Add(line, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 12);
    SetSizerAndFit(top);
    if (owner != nullptr) {
      CentreOnParent();
    } else {
      CentreOnScreen();
    }
    Bind(wxEVT_CHAR_HOOK, [this](wxKeyEvent& event) {
      if (event.GetKeyCode() == WXK_ESCAPE) {
        if (!yesNo_) EndModal(ui::kAnswerOk);
        return;
      }
      event.Skip();
    });
    Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent&) { EndModal(Negative()); });
  }

  int Negative() const {
    return ui::ClosingAnswer(yesNo_ ? ui::MsgButtons::kYesNo : ui::MsgButtons::kOk);
  }

 private:
  bool yesNo_;
};

}  // namespace

void PushModal(wxDialog* modal, WxDialogWindow* window, std::function<void()> forceEnd) {
  Stack().push_back(Frame{modal, window, std::move(forceEnd)});
}

void PopModal(wxDialog* modal) {
  std::vector<Frame>& stack = Stack();
  for (auto it = stack.end(); it != stack.begin();) {
    --it;
    if (it->modal == modal) {
      stack.erase(it);
      break;
    }
  }
  // A dialog ended while a window above it was shown is ended now that it
  // is the innermost again (only the innermost modal loop can be left).
  if (!stack.empty() && stack.back().window != nullptr) stack.back().window->ResumeEnd();
}

bool IsInnermost(wxDialog* modal) { return !Stack().empty() && Stack().back().modal == modal; }

void EndModalsAbove(wxDialog* modal) {
  // Copies: ending a window may pop frames.
  std::vector<std::function<void()>> ends;
  const std::vector<Frame>& stack = Stack();
  for (auto it = stack.rbegin(); it != stack.rend() && it->modal != modal; ++it) {
    ends.push_back(it->forceEnd);
  }
  bool found = false;
  for (const Frame& frame : stack) found = found || frame.modal == modal;
  if (!found) return;
  for (auto& end : ends) end();
}

bool IsClosing(WxDialogWindow* window) {
  for (const Frame& frame : Stack()) {
    if (frame.window != nullptr && frame.window->Ended()) return true;
    if (frame.window == window) break;
  }
  return window != nullptr && window->Ended();
}

int ShowMessageBox(wxWindow* owner, const std::string& text, int buttons, int icon,
                   int defaultAnswer) {
  MessageBoxDialog box(owner, text, buttons, icon, defaultAnswer);
  const int negative = box.Negative();
  bool forced = false;
  PushModal(&box, nullptr, [&box, &forced, negative] {
    forced = true;
    if (box.IsModal()) box.EndModal(negative);
  });
  const int answer = box.ShowModal();
  PopModal(&box);
  return forced ? negative : answer;
}

}  // namespace uiwx
