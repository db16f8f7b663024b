// The window a setup dialog talks to, addressed by control id. The dialog
// classes (CVRTSetupDlg, CVRTCameraSetupDlg, ...) hold every handler and
// every rule; a renderer (wxWidgets on Linux, Win32 in the DLL, a fake in
// the tests) only draws the controls of the dialog's resource and carries
// these calls out. No toolkit header is ever included by a dialog class.
//
// Rules every renderer keeps (tests/contract checks them against each):
// - Texts are in the settings' code page as the dialog class sees them; the
//   dialog's window (CodePageWindow) converts for a renderer that declares
//   UTF-8.
// - A control id the dialog's resource does not have: setters do nothing,
//   getters answer "", false, 0, -1 or kNoTreeItem.
// - A tree item that is not (or no longer) in the tree: setters do nothing,
//   getters answer "", nullptr, -1; it is never handed to the toolkit. A
//   window never gives the same handle twice, so a handle kept past its
//   item's deletion (or past DeleteAllTreeItems) never names a newer item.
// - Calls while the window is being closed from outside still work; a
//   message box then answers at once with its negative answer.
#pragma once

#include <cstdint>
#include <string>

namespace ui {

// Buttons and icons of a message box, and the answers it gives.
enum class MsgButtons { kOk, kYesNo };
enum class MsgIcon { kNone, kInformation, kExclamation, kQuestion };
enum MsgAnswer { kAnswerOk = 1, kAnswerCancel = 2, kAnswerYes = 6, kAnswerNo = 7 };

// Results a modal dialog ends with.
enum DialogResult { kResultOk = 1, kResultCancel = 2 };

// A tree item of a tree control; 0 is "no item".
using TreeItem = std::uintptr_t;
constexpr TreeItem kNoTreeItem = 0;

// Image indexes of the setup tree's image list.
enum TreeImage { kImageConnection = 0, kImageCamera = 1, kImagePreset = 2 };

class DialogWindow {
 public:
  virtual ~DialogWindow() = default;

  // --- any control ---
  // An edit's, label's or button's text.
  virtual void SetText(int id, const std::string& text) = 0;
  // An edit's or label's text; a list's selected entry ("" with none).
  virtual std::string GetText(int id) = 0;
  virtual void Enable(int id, bool enabled) = 0;
  virtual bool IsEnabled(int id) = 0;
  virtual void SetFocus(int id) = 0;

  // --- edits ---
  // Longest text the user can type into the edit, in characters (one byte
  // each in the code page); 0 or less: the toolkit's own limit.
  virtual void SetLimit(int id, int characters) = 0;

  // --- check boxes and radio buttons ---
  virtual void SetCheck(int id, bool checked) = 0;
  virtual bool GetCheck(int id) = 0;

  // --- list boxes and drop-down lists (combo boxes) ---
  // Empties the list; nothing is selected then.
  virtual void ResetList(int id) = 0;
  // Adds an entry: a sorted list puts it after every entry that does not
  // sort behind it (case-blind), others at the end. Returns its index.
  virtual int AddEntry(int id, const std::string& text) = 0;
  // Inserts an entry at index 0..count, -1 meaning the end (never
  // re-sorted); returns its index, or -1 for any other index (nothing
  // inserted).
  virtual int InsertEntry(int id, int index, const std::string& text) = 0;
  virtual int EntryCount(int id) = 0;
  // An index out of range: nothing set (the tests' fake reports it), nullptr.
  virtual void SetEntryData(int id, int index, void* data) = 0;
  virtual void* GetEntryData(int id, int index) = 0;
  // Selects an entry (-1: none). False, and the selection unchanged, when
  // index is out of range.
  virtual bool SetSelection(int id, int index) = 0;
  // The selected entry, or -1.
  virtual int GetSelection(int id) = 0;

  // --- tree view ---
  // Inserts a child of parent (kNoTreeItem: a root item) at the end;
  // kNoTreeItem when parent is not in the tree.
  virtual TreeItem InsertTreeItem(int id, TreeItem parent, const std::string& text, int image,
                                  void* data) = 0;
  virtual void SetTreeItemText(int id, TreeItem item, const std::string& text) = 0;
  virtual std::string GetTreeItemText(int id, TreeItem item) = 0;
  // Deletes the item with everything below it: none of them is in the tree
  // afterwards.
  virtual void DeleteTreeItem(int id, TreeItem item) = 0;
  // Deletes every item; nothing is selected then.
  virtual void DeleteAllTreeItems(int id) = 0;
  // kNoTreeItem when nothing is selected.
  virtual TreeItem GetSelectedTreeItem(int id) = 0;
  // Selects the item (kNoTreeItem: none) without notifying the dialog.
  virtual void SelectTreeItem(int id, TreeItem item) = 0;
  virtual int GetTreeItemImage(int id, TreeItem item) = 0;
  virtual void* GetTreeItemData(int id, TreeItem item) = 0;
  virtual void ExpandTreeItem(int id, TreeItem item) = 0;
  // Sorts the item's children by their text, case-blind; kNoTreeItem: the
  // root items.
  virtual void SortTreeChildren(int id, TreeItem item) = 0;
  // Switches redrawing of a control off (while it is refilled) and on.
  virtual void SetRedraw(int id, bool redraw) = 0;

  // --- track bar ---
  virtual void SetRange(int id, int low, int high) = 0;
  // A position outside the range is the range's nearest end.
  virtual void SetPosition(int id, int position) = 0;
  virtual int GetPosition(int id) = 0;

  // --- the dialog itself ---
  // A modal message box owned by this dialog, caption "QUARO7K7_PTZ".
  // defaultAnswer: the answer of the default button (0: the first one).
  virtual int MessageBox(const std::string& text, MsgButtons buttons, MsgIcon icon,
                         int defaultAnswer = 0) = 0;
  // A one-shot or repeating timer: the dialog's OnTimer(timerId) runs on the
  // dialog's thread every milliseconds until KillTimer.
  virtual void SetTimer(int timerId, int milliseconds) = 0;
  virtual void KillTimer(int timerId) = 0;
  // Ends the modal loop with result. Only on the dialog's own thread.
  virtual void EndDialog(int result) = 0;
  // Ends the modal loop with result from any thread: the end is posted to
  // the dialog's thread. Safe to call until the dialog has left the
  // driver's window list.
  virtual void PostEndDialog(int result) = 0;
};

}  // namespace ui
