#include "ui/win32/win32_toolkit.h"

#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>
// The window interface has a MessageBox of its own.
#undef MessageBox

#include <algorithm>
#include <exception>
#include <map>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/process_end.h"
#include "ui/closing_answer.h"
#include "ui/live_windows.h"
#include "ui/resources.h"
#include "ui/tree_items.h"
#include "ui/win32/dialog_template.h"

namespace uiwin32 {
namespace {

// Posted to a dialog to end it from another thread: wParam the result,
// lParam the window's serial, so that a late post never ends another
// dialog that got the same handle.
constexpr UINT kPostedEnd = WM_APP + 0x51;
constexpr char kMessageCaption[] = "QUARO7K7_PTZ";

class Win32Window;

// The driver dialogs' windows now open in this process.
ui::LiveWindows<Win32Window>& LiveDialogs() {
  static ui::LiveWindows<Win32Window> dialogs;
  return dialogs;
}

bool IsDriverDialog(HWND hwnd);

HINSTANCE ModuleInstance();

// The image list of the setup tree: the connection, camera and preset
// icons, 16 x 16 with mask, in this order.
HIMAGELIST MakeTreeImages() {
  HIMAGELIST images = ImageList_Create(16, 16, ILC_COLOR32 | ILC_MASK, 2, 1);
  if (images == nullptr) return nullptr;
  for (int id : {ui::kIconConnection, ui::kIconCamera, ui::kIconPreset}) {
    const ui::IconResource* icon = ui::FindIcon(id);
    if (icon == nullptr) continue;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = 16;
    info.bmiHeader.biHeight = -16;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP colour = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    // Monochrome mask, rows of 16 bits: 1 where the icon is transparent.
    BYTE mask[16 * 2] = {};
    if (colour != nullptr && bits != nullptr) {
      auto* pixels = static_cast<std::uint32_t*>(bits);
      for (int row = 0; row < 16; ++row) {
        for (int col = 0; col < 16; ++col) {
          const std::uint32_t argb = icon->pixels[row][col];
          const bool transparent = (argb >> 24) == 0;
          // BGRA in memory is 0xAARRGGBB as a 32-bit number.
          pixels[row * 16 + col] = transparent ? 0 : argb;
          if (transparent) mask[row * 2 + col / 8] |= static_cast<BYTE>(0x80 >> (col % 8));
        }
      }
      HBITMAP monochrome = CreateBitmap(16, 16, 1, 1, mask);
      ImageList_Add(images, colour, monochrome);
      if (monochrome != nullptr) DeleteObject(monochrome);
    }
    if (colour != nullptr) DeleteObject(colour);
  }
  return images;
}

// The window of one dialog; lives on RunModal's stack.
class Win32Window : public ui::DialogWindow {
 public:
  Win32Window(ui::CDialog& dialog, const ui::DialogResource& resource)
      : dialog_(&dialog), resource_(resource) {}

  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

  HWND Handle() const { return hwnd_; }
  std::exception_ptr TakeFailure() { return std::exchange(failure_, nullptr); }
  void ReleaseImages() {
    for (HIMAGELIST images : imageLists_) ImageList_Destroy(images);
    imageLists_.clear();
  }

  // --- ui::DialogWindow ---
  void SetText(int id, const std::string& text) override {
    SetDlgItemTextA(hwnd_, id, text.c_str());
  }
  std::string GetText(int id) override {
    HWND control = Item(id);
    if (control == nullptr) return std::string();
    const int length = GetWindowTextLengthA(control);
    std::string text(static_cast<size_t>(std::max(length, 0)) + 1, '\0');
    const int got = GetWindowTextA(control, text.data(), static_cast<int>(text.size()));
    text.resize(static_cast<size_t>(std::max(got, 0)));
    return text;
  }
  void Enable(int id, bool enabled) override {
    if (HWND control = Item(id)) EnableWindow(control, enabled ? TRUE : FALSE);
  }
  bool IsEnabled(int id) override {
    HWND control = Item(id);
    return control != nullptr && IsWindowEnabled(control) != 0;
  }
  void SetFocus(int id) override {
    if (HWND control = Item(id)) SendMessageA(hwnd_, WM_NEXTDLGCTL, (WPARAM)control, TRUE);
  }
  void SetLimit(int id, int characters) override {
    Send(id, EM_LIMITTEXT, static_cast<WPARAM>(std::max(characters, 0)), 0);
  }
  void SetCheck(int id, bool checked) override {
    Send(id, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
  }
  bool GetCheck(int id) override { return Send(id, BM_GETCHECK, 0, 0) == BST_CHECKED; }

  void ResetList(int id) override { Send(id, List(id, LB_RESETCONTENT, CB_RESETCONTENT), 0, 0); }
  int AddEntry(int id, const std::string& text) override {
    const LRESULT index = Send(id, List(id, LB_ADDSTRING, CB_ADDSTRING), 0, (LPARAM)text.c_str());
    return index < 0 ? -1 : static_cast<int>(index);
  }
  int InsertEntry(int id, int index, const std::string& text) override {
    // -1 appends.
    if (index < -1 || index > EntryCount(id)) return -1;
    const LRESULT at =
        Send(id, List(id, LB_INSERTSTRING, CB_INSERTSTRING),
             static_cast<WPARAM>(index == -1 ? EntryCount(id) : index), (LPARAM)text.c_str());
    return at < 0 ? -1 : static_cast<int>(at);
  }
  int EntryCount(int id) override {
    const LRESULT count = Send(id, List(id, LB_GETCOUNT, CB_GETCOUNT), 0, 0);
    return count < 0 ? 0 : static_cast<int>(count);
  }
  void SetEntryData(int id, int index, void* data) override {
    if (index < 0 || index >= EntryCount(id)) return;
    Send(id, List(id, LB_SETITEMDATA, CB_SETITEMDATA), static_cast<WPARAM>(index), (LPARAM)data);
  }
  void* GetEntryData(int id, int index) override {
    if (index < 0 || index >= EntryCount(id)) return nullptr;
    return reinterpret_cast<void*>(
        Send(id, List(id, LB_GETITEMDATA, CB_GETITEMDATA), static_cast<WPARAM>(index), 0));
  }
  bool SetSelection(int id, int index) override {
    const UINT message = List(id, LB_SETCURSEL, CB_SETCURSEL);
    if (index == -1) {
      Send(id, message, static_cast<WPARAM>(-1), 0);  // answers "error" for no selection
      return true;
    }
    if (index < 0 || index >= EntryCount(id)) return false;
    return Send(id, message, static_cast<WPARAM>(index), 0) == index;
  }
  int GetSelection(int id) override {
    const LRESULT index = Send(id, List(id, LB_GETCURSEL, CB_GETCURSEL), 0, 0);
    return index < 0 ? -1 : static_cast<int>(index);
  }

  // The tree's items are handed out here, each beside its HTREEITEM.
  ui::TreeItem InsertTreeItem(int id, ui::TreeItem parent, const std::string& text, int image,
                              void* data) override {
    const HTREEITEM under = parent == ui::kNoTreeItem ? TVI_ROOT : Native(id, parent);
    if (under == nullptr) return ui::kNoTreeItem;
    TVINSERTSTRUCTA insert{};
    insert.hParent = under;
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_PARAM;
    insert.item.pszText = const_cast<char*>(text.c_str());
    insert.item.iImage = image;
    insert.item.iSelectedImage = image;
    insert.item.lParam = reinterpret_cast<LPARAM>(data);
    Quiet quiet(*this);
    const LRESULT made = Send(id, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&insert));
    // 0: not inserted; -1: no such control.
    if (made == 0 || made == -1) return ui::kNoTreeItem;
    return items_.Add(id, parent, static_cast<ui::TreeItems::Native>(made), image, data);
  }
  void SetTreeItemText(int id, ui::TreeItem item, const std::string& text) override {
    const HTREEITEM native = Native(id, item);
    if (native == nullptr) return;
    TVITEMA entry{};
    entry.mask = TVIF_HANDLE | TVIF_TEXT;
    entry.hItem = native;
    entry.pszText = const_cast<char*>(text.c_str());
    Send(id, TVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&entry));
  }
  std::string GetTreeItemText(int id, ui::TreeItem item) override {
    const HTREEITEM native = Native(id, item);
    if (native == nullptr) return std::string();
    char buffer[512] = {};
    TVITEMA entry{};
    entry.mask = TVIF_HANDLE | TVIF_TEXT;
    entry.hItem = native;
    entry.pszText = buffer;
    entry.cchTextMax = sizeof buffer;
    if (Send(id, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&entry)) <= 0) return std::string();
    return entry.pszText != nullptr ? std::string(entry.pszText) : std::string();
  }
  void DeleteTreeItem(int id, ui::TreeItem item) override {
    const HTREEITEM native = Native(id, item);
    if (native == nullptr) return;
    items_.Remove(id, item);
    Quiet quiet(*this);
    Send(id, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(native));
  }
  void DeleteAllTreeItems(int id) override {
    items_.RemoveAll(id);
    Quiet quiet(*this);
    Send(id, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
  }
  ui::TreeItem GetSelectedTreeItem(int id) override {
    const LRESULT selected = Send(id, TVM_GETNEXTITEM, TVGN_CARET, 0);
    if (selected == -1) return ui::kNoTreeItem;
    return items_.FromNative(id, static_cast<ui::TreeItems::Native>(selected));
  }
  void SelectTreeItem(int id, ui::TreeItem item) override {
    const HTREEITEM native = Native(id, item);
    if (item != ui::kNoTreeItem && native == nullptr) return;
    Quiet quiet(*this);
    Send(id, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(native));
  }
  int GetTreeItemImage(int id, ui::TreeItem item) override { return items_.Image(id, item); }
  void* GetTreeItemData(int id, ui::TreeItem item) override { return items_.Data(id, item); }
  void ExpandTreeItem(int id, ui::TreeItem item) override {
    const HTREEITEM native = Native(id, item);
    if (native == nullptr) return;
    Quiet quiet(*this);
    Send(id, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(native));
  }
  void SortTreeChildren(int id, ui::TreeItem item) override {
    // No item: the root items.
    const HTREEITEM parent = item == ui::kNoTreeItem ? TVI_ROOT : Native(id, item);
    if (parent == nullptr) return;
    Send(id, TVM_SORTCHILDREN, FALSE, reinterpret_cast<LPARAM>(parent));
  }
  void SetRedraw(int id, bool redraw) override {
    HWND control = Item(id);
    if (control == nullptr) return;
    SendMessageA(control, WM_SETREDRAW, redraw ? TRUE : FALSE, 0);
    if (redraw) InvalidateRect(control, nullptr, TRUE);
  }

  void SetRange(int id, int low, int high) override {
    Send(id, TBM_SETRANGE, TRUE, MAKELPARAM(low, high));
  }
  void SetPosition(int id, int position) override { Send(id, TBM_SETPOS, TRUE, position); }
  int GetPosition(int id) override { return static_cast<int>(Send(id, TBM_GETPOS, 0, 0)); }

  int MessageBox(const std::string& text, ui::MsgButtons buttons, ui::MsgIcon icon,
                 int defaultAnswer) override {
    // The driver is closing this dialog: nobody is there to answer.
    return ui::AnswerUnlessClosing(
        endedByPost_, buttons, [&] { return ShowMessageBox(text, buttons, icon, defaultAnswer); });
  }
  void SetTimer(int timerId, int milliseconds) override {
    ::SetTimer(hwnd_, static_cast<UINT_PTR>(timerId), static_cast<UINT>(std::max(milliseconds, 1)),
               nullptr);
    timers_.insert(timerId);
  }
  void KillTimer(int timerId) override {
    ::KillTimer(hwnd_, static_cast<UINT_PTR>(timerId));
    timers_.erase(timerId);
  }
  void EndDialog(int result) override {
    ended_ = true;
    ::EndDialog(hwnd_, result);
  }
  // Called with the window attached to its dialog (between OnInitDialog
  // and OnDestroy), so hwnd_ and serial_ are this window's.
  void PostEndDialog(int result) override {
    PostMessageA(hwnd_, kPostedEnd, static_cast<WPARAM>(result), static_cast<LPARAM>(serial_));
  }
  // The end posted with lParam, on the dialog's thread: only the window it
  // was posted for, while it is live.
  void TakePostedEnd(int result, LPARAM serial) {
    if (serial_ == ui::LiveWindows<Win32Window>::kNoSerial ||
        static_cast<LPARAM>(serial_) != serial || LiveDialogs().Find(serial_) != this)
      return;
    EndByPost(result);
  }

 private:
  // Tree notifications caused by the dialog's own calls are not delivered
  // back to it.
  struct Quiet {
    explicit Quiet(Win32Window& w) : window(w) { ++window.quiet_; }
    ~Quiet() { --window.quiet_; }
    Win32Window& window;
  };

  int ShowMessageBox(const std::string& text, ui::MsgButtons buttons, ui::MsgIcon icon,
                     int defaultAnswer) {
    const bool yesNo = buttons == ui::MsgButtons::kYesNo;
    UINT style = (yesNo ? MB_YESNO : MB_OK) | MB_APPLMODAL;
    switch (icon) {
      case ui::MsgIcon::kInformation:
        style |= MB_ICONINFORMATION;
        break;
      case ui::MsgIcon::kExclamation:
        style |= MB_ICONEXCLAMATION;
        break;
      case ui::MsgIcon::kQuestion:
        style |= MB_ICONQUESTION;
        break;
      case ui::MsgIcon::kNone:
        break;
    }
    if (yesNo && defaultAnswer == ui::kAnswerNo) style |= MB_DEFBUTTON2;
    ++messageBoxes_;
    const int answer = ::MessageBoxA(hwnd_, text.c_str(), kMessageCaption, style);
    --messageBoxes_;
    return answer;
  }

  HWND Item(int id) const { return hwnd_ != nullptr ? GetDlgItem(hwnd_, id) : nullptr; }
  LRESULT Send(int id, UINT message, WPARAM wParam, LPARAM lParam) {
    HWND control = Item(id);
    return control != nullptr ? SendMessageA(control, message, wParam, lParam) : -1;
  }
  // The message for a list box or for a drop-down list, by the control's kind.
  UINT List(int id, UINT listMessage, UINT comboMessage) const {
    const ui::ControlResource* control = resource_.Control(id);
    return control != nullptr && control->kind == ui::ControlKind::kComboBox ? comboMessage
                                                                             : listMessage;
  }
  // The HTREEITEM of a live item of the tree id, nullptr otherwise.
  HTREEITEM Native(int id, ui::TreeItem item) const {
    return reinterpret_cast<HTREEITEM>(items_.NativeOf(id, item));
  }

  // Delivers one event to the dialog class (ui::CDialog::Deliver), unless
  // the window has ended; a failure escaping from the dialog ends it, and
  // RunModal passes it on once the window has gone.
  void Deliver(const ui::DialogEvent& event, bool updateFirst = true) {
    if (ended_ || dialog_ == nullptr) return;
    if (!dialog_->Deliver(event, updateFirst)) EndNow(ui::kResultCancel);
  }

  void EndNow(int result) {
    ended_ = true;
    ::EndDialog(hwnd_, result);
  }

  // The end posted by the driver: the dialog ends with the result, and a
  // message box it is showing is answered with its negative button.
  void EndByPost(int result) {
    endedByPost_ = true;
    if (messageBoxes_ > 0) {
      EnumThreadWindows(GetCurrentThreadId(), &AnswerMessageBox, reinterpret_cast<LPARAM>(hwnd_));
    }
    // Ended because the library is being unloaded: the activation would
    // pass to the owner, the host's window, and drawing its caption can
    // need the system's loader lock (a default icon is loaded), which the
    // unload holds until this call has returned out of the library. The
    // dialog gives the activation up first, to no window.
    if (platform::LibraryIsUnloading() && GetActiveWindow() == hwnd_) SetActiveWindow(nullptr);
    EndNow(result);
  }

  // A message box owned by the dialog (not a nested driver dialog) gets
  // its negative answer.
  static BOOL CALLBACK AnswerMessageBox(HWND candidate, LPARAM owner) {
    char className[16] = {};
    GetClassNameA(candidate, className, sizeof className);
    if (GetWindow(candidate, GW_OWNER) == reinterpret_cast<HWND>(owner) &&
        std::string(className) == "#32770" && !IsDriverDialog(candidate)) {
      const int answer = GetDlgItem(candidate, IDNO) != nullptr ? IDNO : IDOK;
      PostMessageA(candidate, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), 0);
    }
    return TRUE;
  }

  BOOL OnInitDialog(HWND hwnd) {
    hwnd_ = hwnd;
    serial_ = LiveDialogs().Add(this);
    for (const ui::ControlResource& control : resource_.controls) {
      if (control.kind == ui::ControlKind::kTreeView) {
        HIMAGELIST images = MakeTreeImages();
        if (images != nullptr) {
          imageLists_.push_back(images);
          Send(control.id, TVM_SETIMAGELIST, TVSIL_NORMAL, reinterpret_cast<LPARAM>(images));
        }
      }
      for (const char* entry : control.entries) AddEntry(control.id, entry);
    }
    Centre();
    dialog_->Attach(this);
    Deliver({ui::DialogEvent::kInit}, false);
    return dialog_ == nullptr || dialog_->InitAnswer() != 0 ? TRUE : FALSE;
  }

  // Over the owner, or in the middle of the screen's work area.
  void Centre() {
    RECT area{};
    HWND owner = GetWindow(hwnd_, GW_OWNER);
    if (owner == nullptr || !IsWindowVisible(owner) || !GetWindowRect(owner, &area))
      SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    RECT self{};
    GetWindowRect(hwnd_, &self);
    const int width = self.right - self.left, height = self.bottom - self.top;
    const int x = std::max(0L, area.left + (area.right - area.left - width) / 2);
    const int y = std::max(0L, area.top + (area.bottom - area.top - height) / 2);
    SetWindowPos(hwnd_, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }

  void OnCommand(int id, int code) {
    if (id == IDOK && code == BN_CLICKED) {
      Deliver({ui::DialogEvent::kOk});
      return;
    }
    if (id == IDCANCEL && code == BN_CLICKED) {
      Deliver({ui::DialogEvent::kCancel});
      return;
    }
    const ui::ControlResource* control = resource_.Control(id);
    if (control == nullptr) return;
    ui::Notify notify;
    switch (control->kind) {
      case ui::ControlKind::kButton:
      case ui::ControlKind::kCheckBox:
      case ui::ControlKind::kRadioButton:
        if (code != BN_CLICKED) return;
        notify = ui::Notify::kClicked;
        break;
      case ui::ControlKind::kListBox:
        if (code == LBN_SELCHANGE) {
          notify = ui::Notify::kSelChange;
        } else if (code == LBN_DBLCLK) {
          notify = ui::Notify::kDoubleClick;
        } else {
          return;
        }
        break;
      case ui::ControlKind::kComboBox:
        if (code != CBN_SELCHANGE) return;
        notify = ui::Notify::kSelChange;
        break;
      default:
        return;
    }
    Deliver({ui::DialogEvent::kCommand, id, notify});
  }

  void OnNotify(const NMHDR* header) {
    if (header == nullptr || quiet_ > 0) return;
    if (header->code != TVN_SELCHANGEDA && header->code != TVN_SELCHANGEDW) return;
    const int id = static_cast<int>(header->idFrom);
    Deliver({ui::DialogEvent::kCommand, id, ui::Notify::kTreeSelChange});
  }

  void OnDestroy() {
    for (int timerId : timers_) ::KillTimer(hwnd_, static_cast<UINT_PTR>(timerId));
    timers_.clear();
    if (dialog_ != nullptr) {
      try {
        dialog_->OnDestroy();
      } catch (...) {
        if (!failure_) failure_ = std::current_exception();
      }
      // No post reaches this window from now on.
      dialog_->Attach(nullptr);
      dialog_ = nullptr;
    }
    LiveDialogs().Remove(serial_);
  }

  ui::CDialog* dialog_;
  const ui::DialogResource& resource_;
  ui::LiveWindows<Win32Window>::Serial serial_ = ui::LiveWindows<Win32Window>::kNoSerial;
  HWND hwnd_ = nullptr;
  bool ended_ = false;
  bool endedByPost_ = false;
  int quiet_ = 0;
  int messageBoxes_ = 0;
  ui::TreeItems items_;
  std::unordered_set<int> timers_;
  std::vector<HIMAGELIST> imageLists_;
  std::exception_ptr failure_;
};

bool IsDriverDialog(HWND hwnd) {
  return LiveDialogs().FindIf([hwnd](Win32Window* window) { return window->Handle() == hwnd; }) !=
         nullptr;
}

INT_PTR CALLBACK Win32Window::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* window = reinterpret_cast<Win32Window*>(lParam);
    SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
    return window->OnInitDialog(hwnd);
  }
  auto* window = reinterpret_cast<Win32Window*>(GetWindowLongPtrA(hwnd, DWLP_USER));
  if (window == nullptr) return FALSE;
  switch (message) {
    case WM_COMMAND:
      window->OnCommand(LOWORD(wParam), HIWORD(wParam));
      return TRUE;
    case WM_NOTIFY:
      window->OnNotify(reinterpret_cast<const NMHDR*>(lParam));
      return TRUE;
    case WM_TIMER:
      window->Deliver({ui::DialogEvent::kTimer, static_cast<int>(wParam)});
      return TRUE;
    case kPostedEnd:
      window->TakePostedEnd(static_cast<int>(wParam), lParam);
      return TRUE;
    case WM_DESTROY:
      window->OnDestroy();
      SetWindowLongPtrA(hwnd, DWLP_USER, 0);
      return TRUE;
    default:
      return FALSE;
  }
}

HINSTANCE ModuleInstance() {
  HMODULE module = nullptr;
  GetModuleHandleExA(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCSTR>(&Win32Window::DialogProc), &module);
  return module;
}

}  // namespace

Win32Toolkit::Win32Toolkit() {
  INITCOMMONCONTROLSEX classes{};
  classes.dwSize = sizeof classes;
  classes.dwICC = ICC_TREEVIEW_CLASSES | ICC_BAR_CLASSES | ICC_STANDARD_CLASSES;
  InitCommonControlsEx(&classes);
  // The common controls look some system functions up the first time a
  // control of theirs is destroyed, and that look-up needs the system's
  // loader lock. A dialog ended because the library is being unloaded is
  // destroyed while the unload holds that lock, so one control of each
  // kind the dialogs use is made and destroyed here, where it is free.
  for (const char* kind : {WC_TREEVIEWA, TRACKBAR_CLASSA}) {
    HWND control = CreateWindowExA(0, kind, "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                   ModuleInstance(), nullptr);
    if (control != nullptr) DestroyWindow(control);
  }
}

int Win32Toolkit::RunModal(ui::CDialog& dialog, ui::CDialog* parent, void* hostParent) {
  const ui::DialogResource* resource = dialog.Resource();
  if (resource == nullptr) return ui::kResultCancel;
  HWND owner = static_cast<HWND>(hostParent);
  if (parent != nullptr) {
    if (auto* window = dynamic_cast<Win32Window*>(parent->RendererWindow()))
      owner = window->Handle();
  }
  // A handle that names no window (a host's mistake) owns nothing.
  if (owner != nullptr && !IsWindow(owner)) owner = nullptr;
  const std::vector<std::uint32_t> layout = BuildDialogTemplate(*resource);
  Win32Window window(dialog, *resource);
  const INT_PTR result =
      DialogBoxIndirectParamA(ModuleInstance(), reinterpret_cast<LPCDLGTEMPLATEA>(layout.data()),
                              owner, &Win32Window::DialogProc, reinterpret_cast<LPARAM>(&window));
  window.ReleaseImages();
  dialog.Attach(nullptr);
  // The owner's own loop may have been ended meanwhile; the message that
  // wakes it went to this dialog's loop, so it gets another.
  if (owner != nullptr && IsDriverDialog(owner)) PostMessageA(owner, WM_NULL, 0, 0);
  std::exception_ptr failure = dialog.TakeFailure();
  if (!failure) failure = window.TakeFailure();
  if (failure) std::rethrow_exception(failure);
  // -1: the window could not be made; the dialog counts as cancelled.
  return result == -1 ? ui::kResultCancel : static_cast<int>(result);
}

}  // namespace uiwin32
