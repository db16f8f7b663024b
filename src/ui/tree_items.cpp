#include "ui/tree_items.h"

#include <algorithm>

namespace ui {

const TreeItems::Entry* TreeItems::Find(int control, TreeItem item) const {
  if (item == kNoTreeItem) return nullptr;
  auto found = items_.find(item);
  return found != items_.end() && found->second.control == control ? &found->second : nullptr;
}

bool TreeItems::Insert(int control, TreeItem handle, TreeItem parent, Native native, int image,
                       void* data) {
  if (parent != kNoTreeItem && !Live(control, parent)) return false;
  items_.emplace(handle, Entry{control, parent, native, image, data, {}});
  if (parent != kNoTreeItem) items_[parent].children.push_back(handle);
  if (native != 0) byNative_[control][native] = handle;
  return true;
}

TreeItem TreeItems::Add(int control, TreeItem parent, Native native, int image, void* data) {
  if (parent != kNoTreeItem && !Live(control, parent)) return kNoTreeItem;
  // Skips a handle adopted meanwhile.
  do {
    ++last_;
  } while (last_ == kNoTreeItem || items_.count(last_) != 0);
  Insert(control, last_, parent, native, image, data);
  return last_;
}

bool TreeItems::Adopt(int control, TreeItem handle, TreeItem parent, Native native, int image,
                      void* data) {
  if (handle == kNoTreeItem || items_.count(handle) != 0) return false;
  if (!Insert(control, handle, parent, native, image, data)) return false;
  last_ = std::max(last_, handle);
  return true;
}

TreeItems::Native TreeItems::NativeOf(int control, TreeItem item) const {
  const Entry* entry = Find(control, item);
  return entry != nullptr ? entry->native : 0;
}

TreeItem TreeItems::FromNative(int control, Native native) const {
  if (native == 0) return kNoTreeItem;
  auto tree = byNative_.find(control);
  if (tree == byNative_.end()) return kNoTreeItem;
  auto found = tree->second.find(native);
  return found != tree->second.end() ? found->second : kNoTreeItem;
}

int TreeItems::Image(int control, TreeItem item) const {
  const Entry* entry = Find(control, item);
  return entry != nullptr ? entry->image : -1;
}

void* TreeItems::Data(int control, TreeItem item) const {
  const Entry* entry = Find(control, item);
  return entry != nullptr ? entry->data : nullptr;
}

TreeItem TreeItems::Parent(int control, TreeItem item) const {
  const Entry* entry = Find(control, item);
  return entry != nullptr ? entry->parent : kNoTreeItem;
}

void TreeItems::Erase(TreeItem item, std::vector<TreeItem>* removed) {
  auto found = items_.find(item);
  if (found == items_.end()) return;
  removed->push_back(item);
  const std::vector<TreeItem> children = std::move(found->second.children);
  if (found->second.native != 0) {
    auto tree = byNative_.find(found->second.control);
    // Only the mapping that is still this item's (the toolkit may have
    // given its memory to a newer item already).
    if (tree != byNative_.end()) {
      auto back = tree->second.find(found->second.native);
      if (back != tree->second.end() && back->second == item) tree->second.erase(back);
    }
  }
  items_.erase(found);
  for (TreeItem child : children) Erase(child, removed);
}

std::vector<TreeItem> TreeItems::Remove(int control, TreeItem item) {
  std::vector<TreeItem> removed;
  const Entry* entry = Find(control, item);
  if (entry == nullptr) return removed;
  if (entry->parent != kNoTreeItem) {
    std::vector<TreeItem>& siblings = items_[entry->parent].children;
    auto at = std::find(siblings.begin(), siblings.end(), item);
    if (at != siblings.end()) siblings.erase(at);
  }
  Erase(item, &removed);
  return removed;
}

void TreeItems::RemoveAll(int control) {
  for (auto it = items_.begin(); it != items_.end();) {
    it = it->second.control == control ? items_.erase(it) : std::next(it);
  }
  byNative_.erase(control);
}

void TreeItems::Clear() {
  items_.clear();
  byNative_.clear();
}

std::size_t TreeItems::Count(int control) const {
  return static_cast<std::size_t>(
      std::count_if(items_.begin(), items_.end(),
                    [control](const auto& entry) { return entry.second.control == control; }));
}

}  // namespace ui
