// A fake window and toolkit for the setup dialogs' behaviour tests. The
// window keeps the state of every control of the dialog's resource (texts,
// checks, enabled states, list entries with data and selection, a tree) and
// records the message boxes; the toolkit runs each dialog modally as a
// renderer would (OnInitDialog, then events, then OnDestroy) and plays the
// user from a script chosen by the dialog's resource id.
#pragma once

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ui/dialog.h"
#include "ui/dialog_window.h"
#include "ui/resources.h"

namespace uifake {

struct MessageRecord {
  int dialogId;  // resource id of the dialog that showed it
  std::string text;
  ui::MsgButtons buttons;
  ui::MsgIcon icon;
  int defaultAnswer;
  int answer;
};

class FakeToolkit;

class FakeWindow : public ui::DialogWindow {
 public:
  struct Entry {
    std::string text;
    void* data = nullptr;
  };
  struct Control {
    int id = 0;
    ui::ControlKind kind = ui::ControlKind::kLabel;
    std::uint32_t style = 0;
    std::string text;
    bool enabled = true;
    bool checked = false;
    bool focused = false;
    int limit = 0;  // 0: no limit
    std::vector<Entry> entries;
    int selection = -1;
    int rangeLow = 0, rangeHigh = 100, position = 0;
    bool redraw = true;
  };
  struct TreeNode {
    ui::TreeItem parent = ui::kNoTreeItem;
    std::string text;
    int image = -1;
    void* data = nullptr;
    bool expanded = false;
    std::vector<ui::TreeItem> children;
  };

  FakeWindow(FakeToolkit& toolkit, ui::CDialog& dialog);

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

  // --- the user (each action runs the command-update rules first, as a
  // renderer does before every event; acting on a disabled control or on a
  // dialog that has ended is a test failure and does nothing) ---
  // Clicks a button, check box or radio button (1: OnOk, 2: OnCancel).
  bool Click(int id);
  // Escape or the window's close box.
  void Close();
  // Types into an edit as a user would: digits only in a number edit, cut
  // at the edit's limit.
  bool Type(int id, const std::string& text);
  // Chooses a list entry (by index or by its text) and notifies.
  bool Choose(int id, int index);
  bool ChooseText(int id, const std::string& text);
  bool DoubleClick(int id, int index);
  // Clicks a tree item (selects it and notifies).
  bool ClickTreeItem(int id, ui::TreeItem item);
  bool ClickTreeItemText(int id, const std::string& text);
  // Moves the track bar's thumb.
  bool Slide(int id, int position);
  // Fires a timer the dialog set; false when it is not running.
  bool FireTimer(int timerId);
  // Delivers an end posted from another thread, waiting up to timeoutMs for
  // one; false when none came.
  bool WaitForPostedEnd(int timeoutMs);

  // --- what the test looks at ---
  ui::CDialog& Dialog() { return *dialog_; }
  int ResourceId() const { return resourceId_; }
  bool Ended() const { return ended_; }
  int Result() const { return result_; }
  bool HasControl(int id) const { return controls_.count(id) != 0; }
  Control& Ctl(int id);
  const std::map<int, int>& Timers() const { return timers_; }
  // The entries' texts of a list.
  std::vector<std::string> EntryTexts(int id);
  // Root items (parent kNoTreeItem) or the children of an item, in order.
  std::vector<ui::TreeItem> TreeChildren(ui::TreeItem parent) const;
  const TreeNode* Node(ui::TreeItem item) const;
  // The first item, depth first in display order, whose text is text.
  ui::TreeItem FindTreeItem(const std::string& text) const;
  // The whole tree, one line per item, indented by two blanks per level,
  // "+" before an expanded item with children.
  std::string TreeDump() const;
  // Delivers a posted end, if any.
  void DeliverPostedEnd();

 private:
  friend class FakeToolkit;
  Control* Find(int id, const char* what);
  bool UserCanUse(int id, const char* what);
  void DumpNode(ui::TreeItem item, int depth, std::string* out) const;
  // One event through the dialog's delivery; a failure ends the dialog.
  void Deliver(const ui::DialogEvent& event);

  FakeToolkit& toolkit_;
  ui::CDialog* dialog_;
  int resourceId_;
  std::map<int, Control> controls_;
  std::map<ui::TreeItem, TreeNode> tree_;
  std::vector<ui::TreeItem> roots_;
  ui::TreeItem selected_ = ui::kNoTreeItem;
  ui::TreeItem nextItem_ = 1;
  std::map<int, int> timers_;
  bool ended_ = false;
  int result_ = 0;

  std::mutex postLock_;
  std::condition_variable posted_;
  int postedResult_ = 0;
};

// What the scripted user does with one dialog.
using Script = std::function<void(FakeWindow&)>;

class FakeToolkit : public ui::Toolkit {
 public:
  // Each RunModal of a dialog with this resource id takes the next script
  // queued for it; when none is queued it runs the id's standing script (On);
  // with neither the run is a test failure and the dialog is cancelled.
  void Queue(int resourceId, Script script);
  void On(int resourceId, Script script);

  // Answers for the next message boxes, in order, whatever dialog shows
  // them. When none is queued an OK box is answered OK and a Yes/No box
  // No, and the box is noted as unanswered.
  void Answer(int answer) { answers_.push_back(answer); }
  // Runs while each message box is up, before it is answered (a test
  // closing the dialogs from another thread meanwhile).
  std::function<void(FakeWindow&, const MessageRecord&)> WhileMessageBox;

  int RunModal(ui::CDialog& dialog, ui::CDialog* parent, void* hostParent) override;
  // The fake's windows keep their texts as given; a test of a renderer
  // that takes UTF-8 sets kUtf8.
  ui::TextEncoding Encoding() const override { return TextEncodingOfWindows; }
  ui::TextEncoding TextEncodingOfWindows = ui::TextEncoding::kCodePage;

  // Every message box shown so far, in order.
  std::vector<MessageRecord> Messages;
  // Resource ids of the dialogs run so far, in the order they opened.
  std::vector<int> Opened;
  // Message boxes with Yes/No that found no queued answer.
  int Unanswered = 0;
  // Open dialogs, innermost last (the windows of the dialogs now running).
  std::vector<FakeWindow*> Open;
  // Parents given to the runs, in order.
  std::vector<ui::CDialog*> Parents;

  // How many runs of this id happened.
  int Runs(int resourceId) const;
  // Texts of the message boxes shown so far.
  std::vector<std::string> MessageTexts() const;

 private:
  friend class FakeWindow;
  int NextAnswer(const MessageRecord& box);

  std::map<int, std::deque<Script>> queued_;
  std::map<int, Script> standing_;
  std::deque<int> answers_;
};

}  // namespace uifake
