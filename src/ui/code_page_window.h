// The window a dialog class talks to, over the renderer's own: every text
// the dialog gives or reads is in the settings' code page, whatever the
// renderer declares (Toolkit::Encoding). Texts go to a UTF-8 renderer
// converted, and come back converted; a text the user typed that the code
// page cannot hold is refused (TextRefused), never stored in another form.
#pragma once

#include <stdexcept>
#include <string>

#include "ui/dialog_window.h"

namespace ui {

// How a renderer's windows take and give texts.
enum class TextEncoding {
  kCodePage,  // the settings' code page, as the dialogs hold them
  kUtf8,
};

// A text read from a control holds a character the code page has no byte
// for. The dialog's event is abandoned before it stored anything; the
// event's delivery tells the user and keeps the dialog open.
class TextRefused : public std::runtime_error {
 public:
  explicit TextRefused(int controlId)
      : std::runtime_error("text the code page cannot hold"), controlId_(controlId) {}
  int ControlId() const { return controlId_; }

 private:
  int controlId_;
};

class CodePageWindow final : public DialogWindow {
 public:
  // The renderer's window and its encoding (nullptr: none, every call does
  // nothing and answers as for a missing control).
  void Bind(DialogWindow* window, TextEncoding encoding) {
    window_ = window;
    utf8_ = encoding == TextEncoding::kUtf8;
    ended_ = false;
  }
  DialogWindow* Renderer() const { return window_; }
  // True once the dialog has ended its window itself.
  bool Ended() const { return ended_; }

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
  TreeItem InsertTreeItem(int id, TreeItem parent, const std::string& text, int image,
                          void* data) override;
  void SetTreeItemText(int id, TreeItem item, const std::string& text) override;
  std::string GetTreeItemText(int id, TreeItem item) override;
  void DeleteTreeItem(int id, TreeItem item) override;
  void DeleteAllTreeItems(int id) override;
  TreeItem GetSelectedTreeItem(int id) override;
  void SelectTreeItem(int id, TreeItem item) override;
  int GetTreeItemImage(int id, TreeItem item) override;
  void* GetTreeItemData(int id, TreeItem item) override;
  void ExpandTreeItem(int id, TreeItem item) override;
  void SortTreeChildren(int id, TreeItem item) override;
  void SetRedraw(int id, bool redraw) override;
  void SetRange(int id, int low, int high) override;
  void SetPosition(int id, int position) override;
  int GetPosition(int id) override;
  int MessageBox(const std::string& text, MsgButtons buttons, MsgIcon icon,
                 int defaultAnswer = 0) override;
  void SetTimer(int timerId, int milliseconds) override;
  void KillTimer(int timerId) override;
  void EndDialog(int result) override;
  void PostEndDialog(int result) override;

 private:
  std::string Out(const std::string& text) const;
  std::string In(int id, const std::string& text) const;

  DialogWindow* window_ = nullptr;
  bool utf8_ = false;
  bool ended_ = false;
};

}  // namespace ui
