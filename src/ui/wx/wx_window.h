// The wxWidgets window of one setup dialog: a wxDialog holding the controls
// of the dialog's resource at the pixel rectangles of their dialog units,
// carrying out the DialogWindow calls of the dialog class and delivering the
// user's actions to it (each after the dialog's command-update rules).
// Everything here runs on the UI thread except PostEndDialog.
#pragma once

#include <wx/dialog.h>
#include <wx/timer.h>
#include <wx/treebase.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "ui/dialog.h"
#include "ui/tree_items.h"

class wxTreeCtrl;
class wxTreeEvent;
class wxImageList;

namespace uiwx {

class WxDialogWindow : public wxDialog, public ui::DialogWindow {
 public:
  // Builds the window of resource for dialog, owned by owner (may be null).
  WxDialogWindow(wxWindow* owner, const ui::DialogResource& resource, ui::CDialog& dialog);
  ~WxDialogWindow() override;

  // A number no other window of this process had; PostEndDialog finds the
  // window by it, so a late end never reaches another dialog.
  std::uint64_t Serial() const { return serial_; }
  // The live window with this serial, or nullptr (UI thread).
  static WxDialogWindow* FindBySerial(std::uint64_t serial);
  // The live window behind a DialogWindow pointer, or nullptr (UI thread).
  static WxDialogWindow* FromDialogWindow(ui::DialogWindow* window);

  // Shows the window modally until its dialog ends it; the dialog's
  // OnInitDialog has already run. Returns the result it ended with.
  int RunModalLoop();
  // True once the dialog has been ended (by itself, by a posted end, or
  // because a window below it was ended).
  bool Ended() const { return ended_; }
  // Ends the window at once with result, whatever its dialog is doing.
  void EndNow(int result);
  // Leaves the modal loop of an ended window once it is the innermost.
  void ResumeEnd();
  // Delivers one event to the dialog class (ui::CDialog::Deliver), unless
  // the window has ended; a failure escaping from the dialog ends it.
  void Deliver(const ui::DialogEvent& event, bool updateFirst = true);
  // The dialog class behind this window, until it detaches.
  void Detach() { dialog_ = nullptr; }

  // --- ui::DialogWindow ---
  void SetText(int id, const std::string& text) override;
  std::string GetText(int id) override;
  void Enable(int id, bool enabled) override;
  bool IsEnabled(int id) override;
  void SetFocus(int id) override;
  void SetLimit(int id, int characters) override;
  void SetCheck(int id, bool checked) override;
  bool GetCheck(int id) override;
  void ResetList(int id) override;
  int AddEntry(int id, const std::string& text) override;
  int InsertEntry(int id, int index, const std::string& text) override;
  int EntryCount(int id) override;
  void SetEntryData(int id, int index, void* data) override;
  void* GetEntryData(int id, int index) override;
  bool SetSelection(int id, int index) override;
  int GetSelection(int id) override;
  ui::TreeItem InsertTreeItem(int id, ui::TreeItem parent, const std::string& text, int image,
                              void* data) override;
  void SetTreeItemText(int id, ui::TreeItem item, const std::string& text) override;
  std::string GetTreeItemText(int id, ui::TreeItem item) override;
  void DeleteTreeItem(int id, ui::TreeItem item) override;
  void DeleteAllTreeItems(int id) override;
  ui::TreeItem GetSelectedTreeItem(int id) override;
  void SelectTreeItem(int id, ui::TreeItem item) override;
  int GetTreeItemImage(int id, ui::TreeItem item) override;
  void* GetTreeItemData(int id, ui::TreeItem item) override;
  void ExpandTreeItem(int id, ui::TreeItem item) override;
  void SortTreeChildren(int id, ui::TreeItem item) override;
  void SetRedraw(int id, bool redraw) override;
  void SetRange(int id, int low, int high) override;
  void SetPosition(int id, int position) override;
  int GetPosition(int id) override;
  int MessageBox(const std::string& text, ui::MsgButtons buttons, ui::MsgIcon icon,
                 int defaultAnswer) override;
  void SetTimer(int timerId, int milliseconds) override;
  void KillTimer(int timerId) override;
  void EndDialog(int result) override;
  void PostEndDialog(int result) override;

 private:
  struct Control {
    const ui::ControlResource* resource;
    wxWindow* window;
  };
  struct TreeState;

  void CreateControl(const ui::ControlResource& control);
  Control* Find(int id);
  template <typename T>
  T* Get(int id);
  TreeState* Tree(int id);
  // The tree's own item behind a live item of control id; not IsOk() otherwise.
  wxTreeItemId Id(int id, ui::TreeItem item) const;
  void StopTimers();

  void OnButton(int id);
  void OnCharHook(wxKeyEvent& event);
  void OnClose(wxCloseEvent& event);
  void OnTreeSelChanged(int id, wxTreeEvent& event);

  ui::CDialog* dialog_;
  const ui::DialogResource& resource_;
  std::uint64_t serial_;
  std::map<int, Control> controls_;
  std::map<int, std::unique_ptr<TreeState>> trees_;
  ui::TreeItems items_;
  std::map<int, std::unique_ptr<wxTimer>> timers_;
  int defaultButton_ = 0;
  // Set while the dialog's own calls change controls: the toolkit's change
  // notifications of that moment are not delivered back to the dialog.
  int quiet_ = 0;
  bool ended_ = false;
  int result_ = ui::kResultCancel;
};

}  // namespace uiwx
