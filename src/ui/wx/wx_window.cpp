// The window of one setup dialog over wxWidgets controls.
#include "ui/wx/wx_window.h"

#include <wx/app.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/fontenum.h>
#include <wx/imaglist.h>
#include <wx/listbox.h>
#include <wx/radiobut.h>
#include <wx/slider.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/treectrl.h>

#include <algorithm>
#include <cctype>

#include "ui/closing_answer.h"
#include "ui/live_windows.h"
#include "ui/wx/gtk_style.h"
#include "ui/wx/wx_modal.h"

namespace uiwx {

namespace {

// Live windows by serial.
ui::LiveWindows<WxDialogWindow>& Windows() {
  static ui::LiveWindows<WxDialogWindow> windows;
  return windows;
}

wxString ToWx(const std::string& text) { return wxString::FromUTF8(text.c_str()); }
std::string FromWx(const wxString& text) { return std::string(text.utf8_str()); }

// The order of the system's sorted lists and trees: case-blind.
int CompareNoCase(const wxString& a, const wxString& b) { return a.CmpNoCase(b); }

// The dialogs' font, "MS Sans Serif" 8 on Windows: a sans face of the same
// metrics where the system has one.
// The dialog units come from it, as on Windows.
wxFont DialogFont(int points = 8) {
  static const char* const faces[] = {"Liberation Sans", "Arial", "DejaVu Sans"};
  for (const char* face : faces) {
    if (wxFontEnumerator::IsValidFacename(face)) return wxFont(wxFontInfo(points).FaceName(face));
  }
  return wxFont(wxFontInfo(points).Family(wxFONTFAMILY_SWISS));
}

wxBitmap IconBitmap(const ui::IconResource& icon) {
  wxImage image(16, 16);
  image.InitAlpha();
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 16; ++x) {
      const std::uint32_t p = icon.pixels[y][x];
      image.SetRGB(x, y, (p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
      image.SetAlpha(x, y, (p >> 24) & 0xFF);
    }
  }
  return wxBitmap(image);
}

wxBitmap EmptyBitmap() {
  wxImage image(16, 16);
  image.InitAlpha();
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) image.SetAlpha(x, y, 0);
  return wxBitmap(image);
}

// A tree whose children sort as the system's tree view sorts them.
class SortedTree : public wxTreeCtrl {
 public:
  using wxTreeCtrl::wxTreeCtrl;
  int OnCompareItems(const wxTreeItemId& a, const wxTreeItemId& b) override {
    return CompareNoCase(GetItemText(a), GetItemText(b));
  }
};

// Digits only (an edit with the number style); editing keys pass.
void DigitsOnly(wxKeyEvent& event) {
  const int key = event.GetKeyCode();
  if (key < WXK_SPACE || key == WXK_DELETE || key >= WXK_START || (key >= '0' && key <= '9')) {
    event.Skip();
  }
}

}  // namespace

// One tree control; its items are in the window's TreeItems, each beside
// its wxTreeItemId, so that a stale handle is never passed to the tree.
struct WxDialogWindow::TreeState {
  SortedTree* tree = nullptr;
  wxTreeItemId root;
  int frozen = 0;
  // The selection the dialog last set or was told of.
  ui::TreeItem lastSelection = ui::kNoTreeItem;
};

namespace {

ui::TreeItems::Native Native(const wxTreeItemId& id) {
  return reinterpret_cast<ui::TreeItems::Native>(id.GetID());
}

}  // namespace

WxDialogWindow::WxDialogWindow(wxWindow* owner, const ui::DialogResource& resource,
                               ui::CDialog& dialog)
    : dialog_(&dialog), resource_(resource), serial_(Windows().Add(this)) {
  Create(owner, wxID_ANY, ToWx(resource.caption ? resource.caption : ""), wxDefaultPosition,
         wxDefaultSize, wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX);
  SetFont(DialogFont());
  SetEscapeId(wxID_NONE);
  SetAffirmativeId(wxID_NONE);
  SetClientSize(ConvertDialogToPixels(wxSize(resource.width, resource.height)));
  for (const ui::ControlResource& control : resource.controls) CreateControl(control);
  Bind(wxEVT_CHAR_HOOK, &WxDialogWindow::OnCharHook, this);
  Bind(wxEVT_CLOSE_WINDOW, &WxDialogWindow::OnClose, this);
  if (owner != nullptr) {
    CentreOnParent();
  } else {
    CentreOnScreen();
  }
}

WxDialogWindow::~WxDialogWindow() {
  StopTimers();
  Windows().Remove(serial_);
}

WxDialogWindow* WxDialogWindow::FindBySerial(std::uint64_t serial) {
  return Windows().Find(serial);
}

WxDialogWindow* WxDialogWindow::FromDialogWindow(ui::DialogWindow* window) {
  if (window == nullptr) return nullptr;
  return Windows().FindIf(
      [window](WxDialogWindow* live) { return static_cast<ui::DialogWindow*>(live) == window; });
}

void WxDialogWindow::CreateControl(const ui::ControlResource& c) {
  const wxRect rect(ConvertDialogToPixels(wxPoint(c.x, c.y)),
                    ConvertDialogToPixels(wxSize(c.width, c.height)));
  const int id = c.id > 0 ? c.id : wxID_ANY;
  const wxString text = ToWx(c.text ? c.text : "");
  wxWindow* window = nullptr;
  switch (c.kind) {
    case ui::ControlKind::kLabel: {
      long style = wxST_NO_AUTORESIZE;
      if (c.style & ui::kRightAlign) style |= wxALIGN_RIGHT;
      if (c.style & ui::kCenter) style |= wxALIGN_CENTRE_HORIZONTAL;
      window = new wxStaticText(this, id, text, rect.GetPosition(), rect.GetSize(), style);
      SingleLineLabel(window->GetHandle());
      // A text a little wider than its rectangle (this face runs wider than
      // Windows' one) is shown whole rather than cut.
      const int natural = window->GetBestSize().x;
      if (natural > rect.width && !(c.style & ui::kCenter)) {
        const int x = (c.style & ui::kRightAlign) ? rect.GetRight() + 1 - natural : rect.x;
        window->SetSize(x, rect.y, natural, rect.height);
      }
      break;
    }
    case ui::ControlKind::kGroupBox:
      window = new wxStaticBox(this, id, text, rect.GetPosition(), rect.GetSize());
      break;
    case ui::ControlKind::kButton: {
      auto* button = new wxButton(this, id, text, rect.GetPosition(), rect.GetSize());
      if (c.style & ui::kDefault) {
        button->SetDefault();
        defaultButton_ = c.id;
      }
      button->Bind(wxEVT_BUTTON, [this, cid = c.id](wxCommandEvent&) { OnButton(cid); });
      window = button;
      break;
    }
    case ui::ControlKind::kEdit: {
      long style = 0;
      if (c.style & ui::kReadOnly) style |= wxTE_READONLY;
      auto* edit = new wxTextCtrl(this, id, text, rect.GetPosition(), rect.GetSize(), style);
      if (c.style & ui::kNumber) edit->Bind(wxEVT_CHAR, DigitsOnly);
      window = edit;
      break;
    }
    case ui::ControlKind::kCheckBox: {
      auto* box = new wxCheckBox(this, id, text, rect.GetPosition(), rect.GetSize());
      const bool automatic = (c.style & ui::kAuto) != 0;
      box->Bind(wxEVT_CHECKBOX, [this, box, automatic, cid = c.id](wxCommandEvent&) {
        // A check box without the automatic style does not toggle itself:
        // its dialog sets the mark.
        if (!automatic) box->SetValue(!box->GetValue());
        Deliver({ui::DialogEvent::kCommand, cid, ui::Notify::kClicked});
      });
      window = box;
      break;
    }
    case ui::ControlKind::kRadioButton: {
      auto* radio = new wxRadioButton(this, id, text, rect.GetPosition(), rect.GetSize(),
                                      (c.style & ui::kGroup) ? wxRB_GROUP : 0);
      radio->Bind(wxEVT_RADIOBUTTON, [this, cid = c.id](wxCommandEvent&) {
        Deliver({ui::DialogEvent::kCommand, cid, ui::Notify::kClicked});
      });
      window = radio;
      break;
    }
    case ui::ControlKind::kComboBox: {
      // The resource's height is that of the opened list; the closed box
      // keeps the toolkit's own height.
      // A closed list is 13 dialog units high on Windows.
      const int closed = ConvertDialogToPixels(wxSize(0, 13)).y;
      auto* choice = new wxChoice(this, id, rect.GetPosition(), wxSize(rect.width, closed));
      for (const char* entry : c.entries) choice->Append(ToWx(entry));
      choice->Bind(wxEVT_CHOICE, [this, cid = c.id](wxCommandEvent&) {
        if (quiet_ == 0) Deliver({ui::DialogEvent::kCommand, cid, ui::Notify::kSelChange});
      });
      window = choice;
      break;
    }
    case ui::ControlKind::kListBox: {
      auto* list = new wxListBox(this, id, rect.GetPosition(), rect.GetSize(), 0, nullptr,
                                 wxLB_SINGLE | ((c.style & ui::kVScroll) ? wxLB_ALWAYS_SB : 0));
      for (const char* entry : c.entries) list->Append(ToWx(entry));
      if (c.style & ui::kNotify) {
        list->Bind(wxEVT_LISTBOX, [this, cid = c.id](wxCommandEvent&) {
          if (quiet_ == 0) Deliver({ui::DialogEvent::kCommand, cid, ui::Notify::kSelChange});
        });
        list->Bind(wxEVT_LISTBOX_DCLICK, [this, cid = c.id](wxCommandEvent&) {
          Deliver({ui::DialogEvent::kCommand, cid, ui::Notify::kDoubleClick});
        });
      }
      window = list;
      break;
    }
    case ui::ControlKind::kTreeView: {
      long style = wxTR_HIDE_ROOT | wxTR_SINGLE;
      if (c.style & ui::kHasButtons) style |= wxTR_HAS_BUTTONS;
      if (c.style & ui::kLinesAtRoot) style |= wxTR_LINES_AT_ROOT;
      if (!(c.style & ui::kHasLines)) style |= wxTR_NO_LINES;
      style |= (c.style & ui::kBorder) ? wxBORDER_SUNKEN : wxBORDER_NONE;
      auto state = std::make_unique<TreeState>();
      state->tree = new SortedTree(this, id, rect.GetPosition(), rect.GetSize(), style);
      state->root = state->tree->AddRoot("");
      // The tree's images: connection, camera, preset.
      auto* images = new wxImageList(16, 16, true, 3);
      for (int icon : {ui::kIconConnection, ui::kIconCamera, ui::kIconPreset}) {
        const ui::IconResource* resource = ui::FindIcon(icon);
        // A missing icon leaves an empty image, so the indexes still hold.
        images->Add(resource != nullptr ? IconBitmap(*resource) : EmptyBitmap());
      }
      state->tree->AssignImageList(images);
      state->tree->Bind(wxEVT_TREE_SEL_CHANGED,
                        [this, cid = c.id](wxTreeEvent& event) { OnTreeSelChanged(cid, event); });
      window = state->tree;
      trees_[c.id] = std::move(state);
      break;
    }
    case ui::ControlKind::kTrackBar: {
      long style = wxSL_HORIZONTAL | wxSL_BOTTOM;
      if (c.style & ui::kAutoTicks) style |= wxSL_AUTOTICKS;
      window = new wxSlider(this, id, 0, 0, 10, rect.GetPosition(), rect.GetSize(), style);
      break;
    }
  }
  if (window == nullptr) return;
  window->SetFont(GetFont());
  if (c.kind == ui::ControlKind::kCheckBox || c.kind == ui::ControlKind::kRadioButton) {
    // GTK draws its check mark no smaller than its own size: a box lower
    // than that keeps the toolkit's height, centred on its rectangle.
    const int best = window->GetBestSize().y;
    if (best > rect.height)
      window->SetSize(rect.x, rect.y - (best - rect.height) / 2, rect.width, best);
  }
  if (c.style & ui::kDisabled) window->Enable(false);
  if (c.id > 0) controls_[c.id] = Control{&c, window};
}

WxDialogWindow::Control* WxDialogWindow::Find(int id) {
  auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : &it->second;
}

template <typename T>
T* WxDialogWindow::Get(int id) {
  Control* control = Find(id);
  return control == nullptr ? nullptr : dynamic_cast<T*>(control->window);
}

WxDialogWindow::TreeState* WxDialogWindow::Tree(int id) {
  auto it = trees_.find(id);
  return it == trees_.end() ? nullptr : it->second.get();
}

// ---------------------------------------------------------------- modal loop

int WxDialogWindow::RunModalLoop() {
  if (ended_) return result_;
  ShowModal();
  return result_;
}

void WxDialogWindow::EndNow(int result) {
  if (ended_) return;
  ended_ = true;
  result_ = result;
  StopTimers();
  EndModalsAbove(this);
  ResumeEnd();
}

void WxDialogWindow::ResumeEnd() {
  // Only the innermost modal loop can be left; a window below waits until
  // the ones above it have gone (PopModal calls this again).
  if (ended_ && IsModal() && IsInnermost(this)) EndModal(result_);
}

void WxDialogWindow::Deliver(const ui::DialogEvent& event, bool updateFirst) {
  if (ended_ || dialog_ == nullptr) return;
  if (!dialog_->Deliver(event, updateFirst)) EndNow(ui::kResultCancel);
}

void WxDialogWindow::OnButton(int id) {
  if (id == ui::kResultOk) {
    Deliver({ui::DialogEvent::kOk});
  } else if (id == ui::kResultCancel) {
    Deliver({ui::DialogEvent::kCancel});
  } else {
    Deliver({ui::DialogEvent::kCommand, id, ui::Notify::kClicked});
  }
}

void WxDialogWindow::OnCharHook(wxKeyEvent& event) {
  const int key = event.GetKeyCode();
  if (key == WXK_ESCAPE) {
    Deliver({ui::DialogEvent::kCancel});
    return;
  }
  if ((key == WXK_RETURN || key == WXK_NUMPAD_ENTER) && !event.HasAnyModifiers()) {
    // A focused button takes Enter itself; elsewhere it presses the
    // default button, as in the system's dialogs.
    wxWindow* focus = wxWindow::FindFocus();
    if (dynamic_cast<wxButton*>(focus) == nullptr && defaultButton_ != 0) {
      Control* button = Find(defaultButton_);
      if (button != nullptr && button->window->IsEnabled()) OnButton(defaultButton_);
      return;
    }
  }
  event.Skip();
}

void WxDialogWindow::OnClose(wxCloseEvent& event) {
  // The close box cancels through the dialog, which decides.
  if (event.CanVeto()) event.Veto();
  Deliver({ui::DialogEvent::kCancel});
}

void WxDialogWindow::OnTreeSelChanged(int id, wxTreeEvent& event) {
  event.Skip();
  if (quiet_ != 0) return;
  // The tree reports some changes late (an item deleted by the dialog, the
  // selection it set): only a selection the dialog has not seen arrives.
  TreeState* state = Tree(id);
  const ui::TreeItem now = GetSelectedTreeItem(id);
  if (state == nullptr || now == state->lastSelection) return;
  state->lastSelection = now;
  Deliver({ui::DialogEvent::kCommand, id, ui::Notify::kTreeSelChange});
}

// ---------------------------------------------------------------- any control

void WxDialogWindow::SetText(int id, const std::string& text) {
  Control* control = Find(id);
  if (control == nullptr) return;
  ++quiet_;
  if (auto* edit = dynamic_cast<wxTextCtrl*>(control->window)) {
    edit->ChangeValue(ToWx(text));
  } else if (auto* choice = dynamic_cast<wxChoice*>(control->window)) {
    choice->SetStringSelection(ToWx(text));
  } else if (auto* list = dynamic_cast<wxListBox*>(control->window)) {
    list->SetStringSelection(ToWx(text));
  } else {
    control->window->SetLabel(ToWx(text));
  }
  --quiet_;
}

std::string WxDialogWindow::GetText(int id) {
  Control* control = Find(id);
  if (control == nullptr) return std::string();
  if (auto* edit = dynamic_cast<wxTextCtrl*>(control->window)) return FromWx(edit->GetValue());
  if (auto* choice = dynamic_cast<wxChoice*>(control->window))
    return FromWx(choice->GetStringSelection());
  if (auto* list = dynamic_cast<wxListBox*>(control->window))
    return FromWx(list->GetStringSelection());
  if (dynamic_cast<wxSlider*>(control->window) != nullptr) return std::string();
  return FromWx(control->window->GetLabel());
}

void WxDialogWindow::Enable(int id, bool enabled) {
  if (Control* control = Find(id)) control->window->Enable(enabled);
}

bool WxDialogWindow::IsEnabled(int id) {
  Control* control = Find(id);
  return control != nullptr && control->window->IsThisEnabled();
}

void WxDialogWindow::SetFocus(int id) {
  if (Control* control = Find(id)) control->window->SetFocus();
}

void WxDialogWindow::SetLimit(int id, int characters) {
  if (auto* edit = Get<wxTextCtrl>(id)) edit->SetMaxLength(characters > 0 ? characters : 0);
}

void WxDialogWindow::SetCheck(int id, bool checked) {
  if (auto* box = Get<wxCheckBox>(id)) {
    box->SetValue(checked);
  } else if (auto* radio = Get<wxRadioButton>(id)) {
    radio->SetValue(checked);
  }
}

bool WxDialogWindow::GetCheck(int id) {
  if (auto* box = Get<wxCheckBox>(id)) return box->GetValue();
  if (auto* radio = Get<wxRadioButton>(id)) return radio->GetValue();
  return false;
}

// ---------------------------------------------------------------- lists

namespace {

// The entries of a list box or drop-down list.
wxItemContainer* Entries(wxWindow* window) {
  if (auto* choice = dynamic_cast<wxChoice*>(window)) return choice;
  if (auto* list = dynamic_cast<wxListBox*>(window)) return list;
  return nullptr;
}

}  // namespace

void WxDialogWindow::ResetList(int id) {
  Control* control = Find(id);
  if (control == nullptr) return;
  if (wxItemContainer* entries = Entries(control->window)) {
    ++quiet_;
    entries->Clear();
    --quiet_;
  }
}

int WxDialogWindow::AddEntry(int id, const std::string& text) {
  Control* control = Find(id);
  if (control == nullptr) return -1;
  wxItemContainer* entries = Entries(control->window);
  if (entries == nullptr) return -1;
  const wxString entry = ToWx(text);
  unsigned int at = entries->GetCount();
  if (control->resource->style & ui::kSorted) {
    // After every entry that does not sort behind the new one.
    at = 0;
    while (at < entries->GetCount() && CompareNoCase(entries->GetString(at), entry) <= 0) ++at;
  }
  ++quiet_;
  const int index = entries->Insert(entry, at);
  --quiet_;
  return index;
}

int WxDialogWindow::InsertEntry(int id, int index, const std::string& text) {
  Control* control = Find(id);
  if (control == nullptr) return -1;
  wxItemContainer* entries = Entries(control->window);
  if (entries == nullptr) return -1;
  // -1 appends, as the system's lists do.
  if (index < -1 || index > static_cast<int>(entries->GetCount())) return -1;
  const unsigned int at = index == -1 ? entries->GetCount() : static_cast<unsigned int>(index);
  ++quiet_;
  const int inserted = entries->Insert(ToWx(text), at);
  --quiet_;
  return inserted;
}

int WxDialogWindow::EntryCount(int id) {
  Control* control = Find(id);
  wxItemContainer* entries = control == nullptr ? nullptr : Entries(control->window);
  return entries == nullptr ? 0 : static_cast<int>(entries->GetCount());
}

void WxDialogWindow::SetEntryData(int id, int index, void* data) {
  Control* control = Find(id);
  wxItemContainer* entries = control == nullptr ? nullptr : Entries(control->window);
  if (entries == nullptr || index < 0 || index >= static_cast<int>(entries->GetCount())) return;
  entries->SetClientData(static_cast<unsigned int>(index), data);
}

void* WxDialogWindow::GetEntryData(int id, int index) {
  Control* control = Find(id);
  wxItemContainer* entries = control == nullptr ? nullptr : Entries(control->window);
  if (entries == nullptr || index < 0 || index >= static_cast<int>(entries->GetCount()))
    return nullptr;
  if (!entries->HasClientUntypedData()) return nullptr;
  return entries->GetClientData(static_cast<unsigned int>(index));
}

bool WxDialogWindow::SetSelection(int id, int index) {
  Control* control = Find(id);
  wxItemContainer* entries = control == nullptr ? nullptr : Entries(control->window);
  if (entries == nullptr) return false;
  if (index < -1 || index >= static_cast<int>(entries->GetCount())) return false;
  ++quiet_;
  entries->SetSelection(index == -1 ? wxNOT_FOUND : index);
  --quiet_;
  return true;
}

int WxDialogWindow::GetSelection(int id) {
  Control* control = Find(id);
  wxItemContainer* entries = control == nullptr ? nullptr : Entries(control->window);
  if (entries == nullptr) return -1;
  const int selection = entries->GetSelection();
  return selection == wxNOT_FOUND ? -1 : selection;
}

// ---------------------------------------------------------------- tree

ui::TreeItem WxDialogWindow::InsertTreeItem(int id, ui::TreeItem parent, const std::string& text,
                                            int image, void* data) {
  TreeState* state = Tree(id);
  if (state == nullptr) return ui::kNoTreeItem;
  wxTreeItemId under = state->root;
  if (parent != ui::kNoTreeItem) {
    under = Id(id, parent);
    if (!under.IsOk()) return ui::kNoTreeItem;
  }
  ++quiet_;
  const wxTreeItemId item = state->tree->AppendItem(under, ToWx(text), image, image);
  --quiet_;
  return items_.Add(id, parent, Native(item), image, data);
}

wxTreeItemId WxDialogWindow::Id(int id, ui::TreeItem item) const {
  return wxTreeItemId(reinterpret_cast<void*>(items_.NativeOf(id, item)));
}

void WxDialogWindow::SetTreeItemText(int id, ui::TreeItem item, const std::string& text) {
  TreeState* state = Tree(id);
  const wxTreeItemId target = Id(id, item);
  if (state == nullptr || !target.IsOk()) return;
  state->tree->SetItemText(target, ToWx(text));
}

std::string WxDialogWindow::GetTreeItemText(int id, ui::TreeItem item) {
  TreeState* state = Tree(id);
  const wxTreeItemId target = Id(id, item);
  if (state == nullptr || !target.IsOk()) return std::string();
  return FromWx(state->tree->GetItemText(target));
}

void WxDialogWindow::DeleteTreeItem(int id, ui::TreeItem item) {
  TreeState* state = Tree(id);
  const wxTreeItemId target = Id(id, item);
  if (state == nullptr || !target.IsOk()) return;
  items_.Remove(id, item);
  ++quiet_;
  state->tree->Delete(target);
  --quiet_;
  state->lastSelection = GetSelectedTreeItem(id);
}

void WxDialogWindow::DeleteAllTreeItems(int id) {
  TreeState* state = Tree(id);
  if (state == nullptr) return;
  items_.RemoveAll(id);
  ++quiet_;
  state->tree->DeleteChildren(state->root);
  --quiet_;
  state->lastSelection = ui::kNoTreeItem;
}

ui::TreeItem WxDialogWindow::GetSelectedTreeItem(int id) {
  TreeState* state = Tree(id);
  if (state == nullptr) return ui::kNoTreeItem;
  const wxTreeItemId selected = state->tree->GetSelection();
  if (!selected.IsOk() || selected == state->root) return ui::kNoTreeItem;
  return items_.FromNative(id, Native(selected));
}

void WxDialogWindow::SelectTreeItem(int id, ui::TreeItem item) {
  TreeState* state = Tree(id);
  if (state == nullptr) return;
  const wxTreeItemId target = Id(id, item);
  ++quiet_;
  if (item == ui::kNoTreeItem) {
    state->tree->Unselect();
  } else if (target.IsOk()) {
    state->tree->SelectItem(target);
    state->tree->EnsureVisible(target);
  }
  --quiet_;
  state->lastSelection = GetSelectedTreeItem(id);
}

int WxDialogWindow::GetTreeItemImage(int id, ui::TreeItem item) {
  return Tree(id) != nullptr ? items_.Image(id, item) : -1;
}

void* WxDialogWindow::GetTreeItemData(int id, ui::TreeItem item) {
  return Tree(id) != nullptr ? items_.Data(id, item) : nullptr;
}

void WxDialogWindow::ExpandTreeItem(int id, ui::TreeItem item) {
  TreeState* state = Tree(id);
  const wxTreeItemId target = Id(id, item);
  if (state == nullptr || !target.IsOk()) return;
  if (!state->tree->ItemHasChildren(target)) return;
  ++quiet_;
  state->tree->Expand(target);
  --quiet_;
}

void WxDialogWindow::SortTreeChildren(int id, ui::TreeItem item) {
  TreeState* state = Tree(id);
  if (state == nullptr) return;
  if (item == ui::kNoTreeItem) {
    state->tree->SortChildren(state->root);
    return;
  }
  const wxTreeItemId target = Id(id, item);
  if (target.IsOk() && state->tree->ItemHasChildren(target)) state->tree->SortChildren(target);
}

void WxDialogWindow::SetRedraw(int id, bool redraw) {
  Control* control = Find(id);
  if (control == nullptr) return;
  TreeState* state = Tree(id);
  if (!redraw) {
    control->window->Freeze();
    if (state != nullptr) ++state->frozen;
  } else if (control->window->IsFrozen()) {
    control->window->Thaw();
    if (state != nullptr && state->frozen > 0) --state->frozen;
  }
}

// ---------------------------------------------------------------- track bar

void WxDialogWindow::SetRange(int id, int low, int high) {
  if (auto* slider = Get<wxSlider>(id)) slider->SetRange(low, high > low ? high : low);
}

void WxDialogWindow::SetPosition(int id, int position) {
  if (auto* slider = Get<wxSlider>(id)) {
    slider->SetValue(std::clamp(position, slider->GetMin(), slider->GetMax()));
  }
}

int WxDialogWindow::GetPosition(int id) {
  auto* slider = Get<wxSlider>(id);
  return slider == nullptr ? 0 : slider->GetValue();
}

// ---------------------------------------------------------------- the dialog

int WxDialogWindow::MessageBox(const std::string& text, ui::MsgButtons buttons, ui::MsgIcon icon,
                               int defaultAnswer) {
  // A dialog being closed from outside gets no more questions answered by
  // the user.
  return ui::AnswerUnlessClosing(IsClosing(this), buttons, [&] {
    return ShowMessageBox(this, text, static_cast<int>(buttons), static_cast<int>(icon),
                          defaultAnswer);
  });
}

void WxDialogWindow::SetTimer(int timerId, int milliseconds) {
  if (ended_) return;
  std::unique_ptr<wxTimer>& timer = timers_[timerId];
  if (!timer) {
    timer = std::make_unique<wxTimer>();
    timer->Bind(wxEVT_TIMER, [this, timerId](wxTimerEvent&) {
      Deliver({ui::DialogEvent::kTimer, timerId});
    });
  }
  timer->Start(milliseconds > 0 ? milliseconds : 1);
}

void WxDialogWindow::KillTimer(int timerId) {
  auto it = timers_.find(timerId);
  if (it != timers_.end()) it->second->Stop();
}

void WxDialogWindow::StopTimers() {
  for (auto& entry : timers_) entry.second->Stop();
}

void WxDialogWindow::EndDialog(int result) { EndNow(result); }

void WxDialogWindow::PostEndDialog(int result) {
  const std::uint64_t serial = serial_;
  wxTheApp->CallAfter([serial, result] {
    if (WxDialogWindow* window = FindBySerial(serial)) window->EndNow(result);
  });
}

}  // namespace uiwx
