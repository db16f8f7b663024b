#include "ui/code_page_window.h"

#include "platform/code_page.h"

namespace ui {

std::string CodePageWindow::Out(const std::string& text) const {
  return utf8_ ? platform::CodePageToUtf8(text) : text;
}

std::string CodePageWindow::In(int id, const std::string& text) const {
  if (!utf8_) return text;
  platform::CodePageText converted = platform::Utf8ToCodePage(text);
  if (!converted.complete) throw TextRefused(id);
  return std::move(converted.text);
}

void CodePageWindow::SetText(int id, const std::string& text) {
  if (window_ != nullptr) window_->SetText(id, Out(text));
}
std::string CodePageWindow::GetText(int id) {
  return window_ != nullptr ? In(id, window_->GetText(id)) : std::string();
}
void CodePageWindow::Enable(int id, bool enabled) {
  if (window_ != nullptr) window_->Enable(id, enabled);
}
bool CodePageWindow::IsEnabled(int id) { return window_ != nullptr && window_->IsEnabled(id); }
void CodePageWindow::SetFocus(int id) {
  if (window_ != nullptr) window_->SetFocus(id);
}
void CodePageWindow::SetLimit(int id, int characters) {
  // One byte is one character in the code page, and one character in
  // the renderer's count too.
  if (window_ != nullptr) window_->SetLimit(id, characters);
}
void CodePageWindow::SetCheck(int id, bool checked) {
  if (window_ != nullptr) window_->SetCheck(id, checked);
}
bool CodePageWindow::GetCheck(int id) { return window_ != nullptr && window_->GetCheck(id); }
void CodePageWindow::ResetList(int id) {
  if (window_ != nullptr) window_->ResetList(id);
}
int CodePageWindow::AddEntry(int id, const std::string& text) {
  return window_ != nullptr ? window_->AddEntry(id, Out(text)) : -1;
}
int CodePageWindow::InsertEntry(int id, int index, const std::string& text) {
  return window_ != nullptr ? window_->InsertEntry(id, index, Out(text)) : -1;
}
int CodePageWindow::EntryCount(int id) { return window_ != nullptr ? window_->EntryCount(id) : 0; }
void CodePageWindow::SetEntryData(int id, int index, void* data) {
  if (window_ != nullptr) window_->SetEntryData(id, index, data);
}
void* CodePageWindow::GetEntryData(int id, int index) {
  return window_ != nullptr ? window_->GetEntryData(id, index) : nullptr;
}
bool CodePageWindow::SetSelection(int id, int index) {
  return window_ != nullptr && window_->SetSelection(id, index);
}
int CodePageWindow::GetSelection(int id) {
  return window_ != nullptr ? window_->GetSelection(id) : -1;
}
TreeItem CodePageWindow::InsertTreeItem(int id, TreeItem parent, const std::string& text, int image,
                                        void* data) {
  return window_ != nullptr ? window_->InsertTreeItem(id, parent, Out(text), image, data)
                            : kNoTreeItem;
}
void CodePageWindow::SetTreeItemText(int id, TreeItem item, const std::string& text) {
  if (window_ != nullptr) window_->SetTreeItemText(id, item, Out(text));
}
std::string CodePageWindow::GetTreeItemText(int id, TreeItem item) {
  return window_ != nullptr ? In(id, window_->GetTreeItemText(id, item)) : std::string();
}
void CodePageWindow::DeleteTreeItem(int id, TreeItem item) {
  if (window_ != nullptr) window_->DeleteTreeItem(id, item);
}
void CodePageWindow::DeleteAllTreeItems(int id) {
  if (window_ != nullptr) window_->DeleteAllTreeItems(id);
}
TreeItem CodePageWindow::GetSelectedTreeItem(int id) {
  return window_ != nullptr ? window_->GetSelectedTreeItem(id) : kNoTreeItem;
}
void CodePageWindow::SelectTreeItem(int id, TreeItem item) {
  if (window_ != nullptr) window_->SelectTreeItem(id, item);
}
int CodePageWindow::GetTreeItemImage(int id, TreeItem item) {
  return window_ != nullptr ? window_->GetTreeItemImage(id, item) : -1;
}
void* CodePageWindow::GetTreeItemData(int id, TreeItem item) {
  return window_ != nullptr ? window_->GetTreeItemData(id, item) : nullptr;
}
void CodePageWindow::ExpandTreeItem(int id, TreeItem item) {
  if (window_ != nullptr) window_->ExpandTreeItem(id, item);
}
void CodePageWindow::SortTreeChildren(int id, TreeItem item) {
  if (window_ != nullptr) window_->SortTreeChildren(id, item);
}
void CodePageWindow::SetRedraw(int id, bool redraw) {
  if (window_ != nullptr) window_->SetRedraw(id, redraw);
}
void CodePageWindow::SetRange(int id, int low, int high) {
  if (window_ != nullptr) window_->SetRange(id, low, high);
}
void CodePageWindow::SetPosition(int id, int position) {
  if (window_ != nullptr) window_->SetPosition(id, position);
}
int CodePageWindow::GetPosition(int id) {
  return window_ != nullptr ? window_->GetPosition(id) : 0;
}
int CodePageWindow::MessageBox(const std::string& text, MsgButtons buttons, MsgIcon icon,
                               int defaultAnswer) {
  if (window_ == nullptr) return buttons == MsgButtons::kYesNo ? kAnswerNo : kAnswerOk;
  return window_->MessageBox(Out(text), buttons, icon, defaultAnswer);
}
void CodePageWindow::SetTimer(int timerId, int milliseconds) {
  if (window_ != nullptr) window_->SetTimer(timerId, milliseconds);
}
void CodePageWindow::KillTimer(int timerId) {
  if (window_ != nullptr) window_->KillTimer(timerId);
}
void CodePageWindow::EndDialog(int result) {
  if (window_ == nullptr) return;
  ended_ = true;
  window_->EndDialog(result);
}
void CodePageWindow::PostEndDialog(int result) {
  if (window_ != nullptr) window_->PostEndDialog(result);
}

}  // namespace ui
