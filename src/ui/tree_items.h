// The items of a window's tree controls as its dialog knows them: the handle
// each item was given, its control, parent, children, image and data, and
// the toolkit's own item beside it. A handle is never given twice by one
// TreeItems, so a handle kept past its item's deletion (or past emptying the
// tree) names nothing, however the toolkit reuses its own items' memory.
// Used on the window's own thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "ui/dialog_window.h"

namespace ui {

class TreeItems {
 public:
  // A toolkit's own item (a pointer or a number; 0: none).
  using Native = std::uintptr_t;

  // Adds an item of control under parent (kNoTreeItem: a root item) and
  // gives it a new handle; kNoTreeItem, and nothing added, when parent is
  // not a live item of control.
  TreeItem Add(int control, TreeItem parent, Native native, int image, void* data);
  // Adds an item under a handle chosen by the caller (the handles another
  // process gave); false, and nothing added, when handle is kNoTreeItem or
  // already live, or parent is not a live item of control. Handles Add
  // gives afterwards lie above it.
  bool Adopt(int control, TreeItem handle, TreeItem parent, Native native, int image, void* data);

  // True while item is an item of control: added and not removed since.
  bool Live(int control, TreeItem item) const { return Find(control, item) != nullptr; }
  // The toolkit's item behind a live item, 0 otherwise.
  Native NativeOf(int control, TreeItem item) const;
  // The live item of control whose toolkit item is native, or kNoTreeItem.
  TreeItem FromNative(int control, Native native) const;
  // -1 for an item that is not live.
  int Image(int control, TreeItem item) const;
  // nullptr for an item that is not live.
  void* Data(int control, TreeItem item) const;
  TreeItem Parent(int control, TreeItem item) const;

  // Removes item and everything below it; returns the handles removed (the
  // item first, each parent before its children), none when item is not
  // live.
  std::vector<TreeItem> Remove(int control, TreeItem item);
  // Removes every item of control.
  void RemoveAll(int control);
  // Removes every item of every control.
  void Clear();
  // The live items of control.
  std::size_t Count(int control) const;

 private:
  struct Entry {
    int control;
    TreeItem parent;
    Native native;
    int image;
    void* data;
    std::vector<TreeItem> children;
  };

  const Entry* Find(int control, TreeItem item) const;
  bool Insert(int control, TreeItem handle, TreeItem parent, Native native, int image, void* data);
  void Erase(TreeItem item, std::vector<TreeItem>* removed);

  std::unordered_map<TreeItem, Entry> items_;
  // Each control's toolkit items back to their handles.
  std::unordered_map<int, std::unordered_map<Native, TreeItem>> byNative_;
  TreeItem last_ = kNoTreeItem;
};

}  // namespace ui
