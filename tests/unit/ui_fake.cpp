#include "ui_fake.h"

#include <gtest/gtest.h>
#include <strings.h>

#include <algorithm>
#include <cctype>
#include <chrono>

namespace uifake {

namespace {

// List boxes, combo boxes and tree views sort without regard to case.
bool TextBefore(const std::string& a, const std::string& b) {
  return strcasecmp(a.c_str(), b.c_str()) < 0;
}

bool IsList(ui::ControlKind kind) {
  return kind == ui::ControlKind::kListBox || kind == ui::ControlKind::kComboBox;
}

}  // namespace

FakeWindow::FakeWindow(FakeToolkit& toolkit, ui::CDialog& dialog)
    : toolkit_(toolkit), dialog_(&dialog), resourceId_(dialog.ResourceId()) {
  const ui::DialogResource* resource = dialog.Resource();
  if (resource == nullptr) return;
  for (const ui::ControlResource& r : resource->controls) {
    if (r.id == ui::kStaticId) continue;
    Control c;
    c.id = r.id;
    c.kind = r.kind;
    c.style = r.style;
    c.text = r.text;
    c.enabled = (r.style & ui::kDisabled) == 0;
    for (const char* entry : r.entries) c.entries.push_back({entry, nullptr});
    controls_[r.id] = c;
  }
}

FakeWindow::Control* FakeWindow::Find(int id, const char* what) {
  auto it = controls_.find(id);
  if (it == controls_.end()) {
    ADD_FAILURE() << "dialog " << resourceId_ << " has no control " << id << " (" << what << ")";
    return nullptr;
  }
  return &it->second;
}

FakeWindow::Control& FakeWindow::Ctl(int id) {
  static Control none;
  Control* c = Find(id, "Ctl");
  return c != nullptr ? *c : none;
}

// --- ui::DialogWindow ---

void FakeWindow::SetText(int id, const std::string& text) {
  if (Control* c = Find(id, "SetText")) c->text = text;
}

std::string FakeWindow::GetText(int id) {
  Control* c = Find(id, "GetText");
  if (c == nullptr) return "";
  if (IsList(c->kind)) {
    return c->selection >= 0 && c->selection < static_cast<int>(c->entries.size())
               ? c->entries[c->selection].text
               : "";
  }
  return c->text;
}

void FakeWindow::Enable(int id, bool enabled) {
  if (Control* c = Find(id, "Enable")) c->enabled = enabled;
}

bool FakeWindow::IsEnabled(int id) {
  Control* c = Find(id, "IsEnabled");
  return c != nullptr && c->enabled;
}

void FakeWindow::SetFocus(int id) {
  if (Find(id, "SetFocus") == nullptr) return;
  for (auto& [cid, c] : controls_) c.focused = cid == id;
}

void FakeWindow::SetLimit(int id, int characters) {
  Control* c = Find(id, "SetLimit");
  if (c == nullptr) return;
  EXPECT_EQ(c->kind, ui::ControlKind::kEdit) << "SetLimit on control " << id;
  c->limit = characters;
}

void FakeWindow::SetCheck(int id, bool checked) {
  if (Control* c = Find(id, "SetCheck")) c->checked = checked;
}

bool FakeWindow::GetCheck(int id) {
  Control* c = Find(id, "GetCheck");
  return c != nullptr && c->checked;
}

void FakeWindow::ResetList(int id) {
  if (Control* c = Find(id, "ResetList")) {
    c->entries.clear();
    c->selection = -1;
  }
}

int FakeWindow::AddEntry(int id, const std::string& text) {
  Control* c = Find(id, "AddEntry");
  if (c == nullptr) return -1;
  std::size_t at = c->entries.size();
  if (c->style & ui::kSorted) {
    at = 0;
    while (at < c->entries.size() && !TextBefore(text, c->entries[at].text)) ++at;
  }
  c->entries.insert(c->entries.begin() + static_cast<long>(at), Entry{text, nullptr});
  if (c->selection >= static_cast<int>(at)) ++c->selection;
  return static_cast<int>(at);
}

int FakeWindow::InsertEntry(int id, int index, const std::string& text) {
  Control* c = Find(id, "InsertEntry");
  if (c == nullptr) return -1;
  const int count = static_cast<int>(c->entries.size());
  if (index == -1) index = count;
  if (index < 0 || index > count) return -1;
  c->entries.insert(c->entries.begin() + index, Entry{text, nullptr});
  if (c->selection >= index) ++c->selection;
  return index;
}

int FakeWindow::EntryCount(int id) {
  Control* c = Find(id, "EntryCount");
  return c != nullptr ? static_cast<int>(c->entries.size()) : 0;
}

void FakeWindow::SetEntryData(int id, int index, void* data) {
  Control* c = Find(id, "SetEntryData");
  if (c == nullptr) return;
  if (index < 0 || index >= static_cast<int>(c->entries.size())) {
    ADD_FAILURE() << "SetEntryData on control " << id << " index " << index;
    return;
  }
  c->entries[index].data = data;
}

void* FakeWindow::GetEntryData(int id, int index) {
  Control* c = Find(id, "GetEntryData");
  if (c == nullptr || index < 0 || index >= static_cast<int>(c->entries.size())) return nullptr;
  return c->entries[index].data;
}

bool FakeWindow::SetSelection(int id, int index) {
  Control* c = Find(id, "SetSelection");
  if (c == nullptr) return false;
  if (index == -1) {
    c->selection = -1;
    return true;
  }
  if (index < 0 || index >= static_cast<int>(c->entries.size())) return false;
  c->selection = index;
  return true;
}

int FakeWindow::GetSelection(int id) {
  Control* c = Find(id, "GetSelection");
  return c != nullptr ? c->selection : -1;
}

ui::TreeItem FakeWindow::InsertTreeItem(int id, ui::TreeItem parent, const std::string& text,
                                        int image, void* data) {
  if (Find(id, "InsertTreeItem") == nullptr) return ui::kNoTreeItem;
  if (parent != ui::kNoTreeItem && tree_.count(parent) == 0) {
    ADD_FAILURE() << "InsertTreeItem under an item that is not there";
    return ui::kNoTreeItem;
  }
  const ui::TreeItem item = nextItem_++;
  TreeNode node;
  node.parent = parent;
  node.text = text;
  node.image = image;
  node.data = data;
  tree_[item] = node;
  if (parent == ui::kNoTreeItem) {
    roots_.push_back(item);
  } else {
    tree_[parent].children.push_back(item);
  }
  return item;
}

const FakeWindow::TreeNode* FakeWindow::Node(ui::TreeItem item) const {
  auto it = tree_.find(item);
  return it != tree_.end() ? &it->second : nullptr;
}

void FakeWindow::SetTreeItemText(int id, ui::TreeItem item, const std::string& text) {
  if (Find(id, "SetTreeItemText") == nullptr) return;
  auto it = tree_.find(item);
  if (it == tree_.end()) {
    ADD_FAILURE() << "SetTreeItemText on an item that is not there";
    return;
  }
  it->second.text = text;
}

std::string FakeWindow::GetTreeItemText(int id, ui::TreeItem item) {
  if (Find(id, "GetTreeItemText") == nullptr) return "";
  const TreeNode* node = Node(item);
  return node != nullptr ? node->text : "";
}

void FakeWindow::DeleteTreeItem(int id, ui::TreeItem item) {
  if (Find(id, "DeleteTreeItem") == nullptr) return;
  auto it = tree_.find(item);
  if (it == tree_.end()) return;
  for (ui::TreeItem child : std::vector<ui::TreeItem>(it->second.children)) {
    DeleteTreeItem(id, child);
  }
  it = tree_.find(item);
  std::vector<ui::TreeItem>& siblings =
      it->second.parent == ui::kNoTreeItem ? roots_ : tree_[it->second.parent].children;
  siblings.erase(std::remove(siblings.begin(), siblings.end(), item), siblings.end());
  // The fake leaves nothing selected when the selected item goes.
  if (selected_ == item) selected_ = ui::kNoTreeItem;
  tree_.erase(it);
}

void FakeWindow::DeleteAllTreeItems(int id) {
  if (Find(id, "DeleteAllTreeItems") == nullptr) return;
  tree_.clear();
  roots_.clear();
  selected_ = ui::kNoTreeItem;
}

ui::TreeItem FakeWindow::GetSelectedTreeItem(int id) {
  return Find(id, "GetSelectedTreeItem") != nullptr ? selected_ : ui::kNoTreeItem;
}

void FakeWindow::SelectTreeItem(int id, ui::TreeItem item) {
  if (Find(id, "SelectTreeItem") == nullptr) return;
  if (item != ui::kNoTreeItem && tree_.count(item) == 0) {
    ADD_FAILURE() << "SelectTreeItem on an item that is not there";
    return;
  }
  selected_ = item;
}

int FakeWindow::GetTreeItemImage(int id, ui::TreeItem item) {
  if (Find(id, "GetTreeItemImage") == nullptr) return -1;
  const TreeNode* node = Node(item);
  return node != nullptr ? node->image : -1;
}

void* FakeWindow::GetTreeItemData(int id, ui::TreeItem item) {
  if (Find(id, "GetTreeItemData") == nullptr) return nullptr;
  const TreeNode* node = Node(item);
  return node != nullptr ? node->data : nullptr;
}

void FakeWindow::ExpandTreeItem(int id, ui::TreeItem item) {
  if (Find(id, "ExpandTreeItem") == nullptr) return;
  auto it = tree_.find(item);
  if (it != tree_.end()) it->second.expanded = true;
}

void FakeWindow::SortTreeChildren(int id, ui::TreeItem item) {
  if (Find(id, "SortTreeChildren") == nullptr) return;
  std::vector<ui::TreeItem>* children = &roots_;
  if (item != ui::kNoTreeItem) {
    auto it = tree_.find(item);
    if (it == tree_.end()) return;
    children = &it->second.children;
  }
  std::stable_sort(children->begin(), children->end(), [this](ui::TreeItem a, ui::TreeItem b) {
    return TextBefore(tree_.at(a).text, tree_.at(b).text);
  });
}

void FakeWindow::SetRedraw(int id, bool redraw) {
  if (Control* c = Find(id, "SetRedraw")) c->redraw = redraw;
}

void FakeWindow::SetRange(int id, int low, int high) {
  if (Control* c = Find(id, "SetRange")) {
    c->rangeLow = low;
    c->rangeHigh = high;
    c->position = std::clamp(c->position, low, std::max(low, high));
  }
}

void FakeWindow::SetPosition(int id, int position) {
  if (Control* c = Find(id, "SetPosition")) {
    c->position = std::clamp(position, c->rangeLow, std::max(c->rangeLow, c->rangeHigh));
  }
}

int FakeWindow::GetPosition(int id) {
  Control* c = Find(id, "GetPosition");
  return c != nullptr ? c->position : 0;
}

int FakeWindow::MessageBox(const std::string& text, ui::MsgButtons buttons, ui::MsgIcon icon,
                           int defaultAnswer) {
  EXPECT_FALSE(ended_) << "message box on dialog " << resourceId_ << " after it ended: " << text;
  MessageRecord box{resourceId_, text, buttons, icon, defaultAnswer, 0};
  if (toolkit_.WhileMessageBox) toolkit_.WhileMessageBox(*this, box);
  box.answer = toolkit_.NextAnswer(box);
  toolkit_.Messages.push_back(box);
  return box.answer;
}

void FakeWindow::SetTimer(int timerId, int milliseconds) { timers_[timerId] = milliseconds; }

void FakeWindow::KillTimer(int timerId) { timers_.erase(timerId); }

void FakeWindow::EndDialog(int result) {
  if (ended_) return;
  ended_ = true;
  result_ = result;
  timers_.clear();
}

void FakeWindow::PostEndDialog(int result) {
  std::lock_guard<std::mutex> hold(postLock_);
  postedResult_ = result;
  posted_.notify_all();
}

void FakeWindow::DeliverPostedEnd() {
  int result = 0;
  {
    std::lock_guard<std::mutex> hold(postLock_);
    result = postedResult_;
    postedResult_ = 0;
  }
  if (result != 0) EndDialog(result);
}

bool FakeWindow::WaitForPostedEnd(int timeoutMs) {
  {
    std::unique_lock<std::mutex> hold(postLock_);
    if (!posted_.wait_for(hold, std::chrono::milliseconds(timeoutMs),
                          [this] { return postedResult_ != 0; })) {
      return false;
    }
  }
  DeliverPostedEnd();
  return true;
}

// --- the user ---

bool FakeWindow::UserCanUse(int id, const char* what) {
  DeliverPostedEnd();
  if (ended_) {
    ADD_FAILURE() << what << " " << id << " on dialog " << resourceId_ << " after it ended";
    return false;
  }
  dialog_->OnCommandUpdate();
  Control* c = Find(id, what);
  if (c == nullptr) return false;
  if (!c->enabled) {
    ADD_FAILURE() << what << ": control " << id << " of dialog " << resourceId_ << " is disabled";
    return false;
  }
  return true;
}

void FakeWindow::Deliver(const ui::DialogEvent& event) {
  // The update rules ran before the user's action already.
  if (!dialog_->Deliver(event, false) && !ended_) EndDialog(ui::kResultCancel);
}

bool FakeWindow::Click(int id) {
  if (!UserCanUse(id, "Click")) return false;
  Control& c = controls_[id];
  if (c.kind == ui::ControlKind::kCheckBox && (c.style & ui::kAuto)) c.checked = !c.checked;
  if (c.kind == ui::ControlKind::kRadioButton && (c.style & ui::kAuto)) {
    // The radio buttons of the clicked one's group (from a control marked
    // kGroup up to the next one) lose their check.
    const std::vector<ui::ControlResource>& all = dialog_->Resource()->controls;
    std::size_t at = 0;
    while (at < all.size() && all[at].id != id) ++at;
    std::size_t first = at;
    while (first > 0 && !(all[first].style & ui::kGroup)) --first;
    for (std::size_t i = first; i < all.size(); ++i) {
      if (i > first && (all[i].style & ui::kGroup)) break;
      if (all[i].kind == ui::ControlKind::kRadioButton) controls_[all[i].id].checked = false;
    }
    c.checked = true;
  }
  if (id == ui::kResultOk) {
    Deliver({ui::DialogEvent::kOk});
  } else if (id == ui::kResultCancel) {
    Deliver({ui::DialogEvent::kCancel});
  } else {
    Deliver({ui::DialogEvent::kCommand, id, ui::Notify::kClicked});
  }
  return true;
}

void FakeWindow::Close() {
  DeliverPostedEnd();
  if (ended_) {
    ADD_FAILURE() << "Close on dialog " << resourceId_ << " after it ended";
    return;
  }
  dialog_->OnCommandUpdate();
  Deliver({ui::DialogEvent::kCancel});
}

bool FakeWindow::Type(int id, const std::string& text) {
  if (!UserCanUse(id, "Type")) return false;
  Control& c = controls_[id];
  if (c.kind != ui::ControlKind::kEdit || (c.style & ui::kReadOnly)) {
    ADD_FAILURE() << "Type into control " << id << ", which takes no typing";
    return false;
  }
  std::string typed;
  for (char ch : text) {
    if ((c.style & ui::kNumber) && !std::isdigit(static_cast<unsigned char>(ch))) continue;
    if (c.limit > 0 && static_cast<int>(typed.size()) >= c.limit) break;
    typed += ch;
  }
  c.text = typed;
  return true;
}

bool FakeWindow::Choose(int id, int index) {
  if (!UserCanUse(id, "Choose")) return false;
  Control& c = controls_[id];
  if (index < 0 || index >= static_cast<int>(c.entries.size())) {
    ADD_FAILURE() << "Choose entry " << index << " of control " << id << " with "
                  << c.entries.size() << " entries";
    return false;
  }
  c.selection = index;
  Deliver({ui::DialogEvent::kCommand, id, ui::Notify::kSelChange});
  return true;
}

bool FakeWindow::ChooseText(int id, const std::string& text) {
  Control* c = Find(id, "ChooseText");
  if (c == nullptr) return false;
  for (std::size_t i = 0; i < c->entries.size(); ++i) {
    if (c->entries[i].text == text) return Choose(id, static_cast<int>(i));
  }
  ADD_FAILURE() << "control " << id << " has no entry '" << text << "'";
  return false;
}

bool FakeWindow::DoubleClick(int id, int index) {
  if (!Choose(id, index)) return false;
  if (ended_) return true;
  dialog_->OnCommandUpdate();
  Deliver({ui::DialogEvent::kCommand, id, ui::Notify::kDoubleClick});
  return true;
}

bool FakeWindow::ClickTreeItem(int id, ui::TreeItem item) {
  if (!UserCanUse(id, "ClickTreeItem")) return false;
  if (tree_.count(item) == 0) {
    ADD_FAILURE() << "ClickTreeItem on an item that is not there";
    return false;
  }
  selected_ = item;
  Deliver({ui::DialogEvent::kCommand, id, ui::Notify::kTreeSelChange});
  return true;
}

bool FakeWindow::ClickTreeItemText(int id, const std::string& text) {
  const ui::TreeItem item = FindTreeItem(text);
  if (item == ui::kNoTreeItem) {
    ADD_FAILURE() << "no tree item '" << text << "' in\n" << TreeDump();
    return false;
  }
  return ClickTreeItem(id, item);
}

bool FakeWindow::Slide(int id, int position) {
  if (!UserCanUse(id, "Slide")) return false;
  SetPosition(id, position);
  return true;
}

bool FakeWindow::FireTimer(int timerId) {
  DeliverPostedEnd();
  if (ended_ || timers_.count(timerId) == 0) return false;
  dialog_->OnCommandUpdate();
  Deliver({ui::DialogEvent::kTimer, timerId});
  return true;
}

// --- looking ---

std::vector<std::string> FakeWindow::EntryTexts(int id) {
  std::vector<std::string> texts;
  if (Control* c = Find(id, "EntryTexts")) {
    for (const Entry& e : c->entries) texts.push_back(e.text);
  }
  return texts;
}

std::vector<ui::TreeItem> FakeWindow::TreeChildren(ui::TreeItem parent) const {
  if (parent == ui::kNoTreeItem) return roots_;
  const TreeNode* node = Node(parent);
  return node != nullptr ? node->children : std::vector<ui::TreeItem>{};
}

ui::TreeItem FakeWindow::FindTreeItem(const std::string& text) const {
  std::vector<ui::TreeItem> stack(roots_.rbegin(), roots_.rend());
  while (!stack.empty()) {
    const ui::TreeItem item = stack.back();
    stack.pop_back();
    const TreeNode& node = tree_.at(item);
    if (node.text == text) return item;
    stack.insert(stack.end(), node.children.rbegin(), node.children.rend());
  }
  return ui::kNoTreeItem;
}

void FakeWindow::DumpNode(ui::TreeItem item, int depth, std::string* out) const {
  const TreeNode& node = tree_.at(item);
  out->append(static_cast<std::size_t>(depth) * 2, ' ');
  if (node.expanded && !node.children.empty()) out->append("+");
  out->append(node.text).append("\n");
  for (ui::TreeItem child : node.children) DumpNode(child, depth + 1, out);
}

std::string FakeWindow::TreeDump() const {
  std::string out;
  for (ui::TreeItem root : roots_) DumpNode(root, 0, &out);
  return out;
}

// --- the toolkit ---

void FakeToolkit::Queue(int resourceId, Script script) {
  queued_[resourceId].push_back(std::move(script));
}

void FakeToolkit::On(int resourceId, Script script) { standing_[resourceId] = std::move(script); }

int FakeToolkit::NextAnswer(const MessageRecord& box) {
  if (box.buttons == ui::MsgButtons::kOk) {
    // An OK box never takes an answer meant for a question.
    if (!answers_.empty() && answers_.front() == ui::kAnswerOk) answers_.pop_front();
    return ui::kAnswerOk;
  }
  if (answers_.empty()) {
    ++Unanswered;
    return ui::kAnswerNo;
  }
  const int answer = answers_.front();
  answers_.pop_front();
  EXPECT_TRUE(answer == ui::kAnswerYes || answer == ui::kAnswerNo)
      << "answer " << answer << " to a Yes/No box: " << box.text;
  return answer;
}

int FakeToolkit::RunModal(ui::CDialog& dialog, ui::CDialog* parent, void* /*hostParent*/) {
  const int id = dialog.ResourceId();
  Opened.push_back(id);
  Parents.push_back(parent);
  if (dialog.Resource() == nullptr) {
    ADD_FAILURE() << "dialog resource " << id << " is not there";
    return ui::kResultCancel;
  }
  Script script;
  auto queued = queued_.find(id);
  if (queued != queued_.end() && !queued->second.empty()) {
    script = std::move(queued->second.front());
    queued->second.pop_front();
  } else if (standing_.count(id) != 0) {
    script = standing_[id];
  }

  FakeWindow window(*this, dialog);
  Open.push_back(&window);
  dialog.Attach(&window);
  window.Deliver({ui::DialogEvent::kInit});
  if (!window.ended_) {
    if (script) {
      script(window);
    } else {
      ADD_FAILURE() << "no script for dialog " << id << "; it is cancelled";
    }
  }
  window.DeliverPostedEnd();
  if (!window.ended_) {
    if (script) ADD_FAILURE() << "dialog " << id << " still open after its script; cancelled";
    dialog.OnCommandUpdate();
    window.Deliver({ui::DialogEvent::kCancel});
    if (!window.ended_) window.EndDialog(ui::kResultCancel);
  }
  dialog.OnDestroy();
  dialog.Attach(nullptr);
  Open.pop_back();
  if (std::exception_ptr failure = dialog.TakeFailure()) std::rethrow_exception(failure);
  return window.result_;
}

int FakeToolkit::Runs(int resourceId) const {
  return static_cast<int>(std::count(Opened.begin(), Opened.end(), resourceId));
}

std::vector<std::string> FakeToolkit::MessageTexts() const {
  std::vector<std::string> texts;
  for (const MessageRecord& m : Messages) texts.push_back(m.text);
  return texts;
}

}  // namespace uifake
