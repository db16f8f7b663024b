// The items of a window's trees: handles, subtrees, and handles kept past
// their items.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "ui/tree_items.h"

namespace {

using ui::kNoTreeItem;
using ui::TreeItem;
using ui::TreeItems;

constexpr int kTree = 1008;
constexpr int kOtherTree = 1009;

// A connection with two cameras (the first with two presets), a second
// connection, in the tree kTree; the toolkit's items are 100, 101, ...
struct SetupTree {
  SetupTree() {
    int next = 100;
    const auto add = [&](const std::string& name, const std::string& parent) {
      const TreeItem under = parent.empty() ? kNoTreeItem : items.at(parent);
      items[name] = tree.Add(kTree, under, static_cast<TreeItems::Native>(next++), 0, nullptr);
    };
    add("line", "");
    add("camera1", "line");
    add("preset1", "camera1");
    add("preset2", "camera1");
    add("camera2", "line");
    add("line2", "");
  }
  std::set<std::string> LiveNames() const {
    std::set<std::string> live;
    for (const auto& [name, item] : items)
      if (tree.Live(kTree, item)) live.insert(name);
    return live;
  }
  TreeItems tree;
  std::map<std::string, TreeItem> items;
};

TEST(TreeItems, DeletingAnItemTakesEverythingBelowItAndNothingElse) {
  struct Case {
    const char* removed;
    std::vector<std::string> gone;  // the item first, each parent before its children
    std::set<std::string> left;
  };
  const Case cases[] = {
      {"preset2", {"preset2"}, {"line", "camera1", "preset1", "camera2", "line2"}},
      {"camera1", {"camera1", "preset1", "preset2"}, {"line", "camera2", "line2"}},
      {"line", {"line", "camera1", "preset1", "preset2", "camera2"}, {"line2"}},
      {"line2", {"line2"}, {"line", "camera1", "preset1", "preset2", "camera2"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.removed);
    SetupTree setup;
    std::vector<TreeItem> expected;
    for (const std::string& name : c.gone) expected.push_back(setup.items.at(name));
    EXPECT_EQ(setup.tree.Remove(kTree, setup.items.at(c.removed)), expected);
    EXPECT_EQ(setup.LiveNames(), c.left);
    EXPECT_EQ(setup.tree.Count(kTree), c.left.size());
    // Again, or through a child that went with it: nothing more goes.
    EXPECT_TRUE(setup.tree.Remove(kTree, setup.items.at(c.removed)).empty());
    EXPECT_TRUE(setup.tree.Remove(kTree, setup.items.at(c.gone.back())).empty());
    EXPECT_EQ(setup.LiveNames(), c.left);
  }
}

TEST(TreeItems, AGoneItemAnswersLikeOneThatNeverWas) {
  SetupTree setup;
  const TreeItem camera = setup.items.at("camera1");
  const TreeItem preset = setup.items.at("preset1");
  setup.tree.Remove(kTree, camera);
  for (TreeItem item : {camera, preset, kNoTreeItem, TreeItem{9999}}) {
    SCOPED_TRACE(item);
    EXPECT_FALSE(setup.tree.Live(kTree, item));
    EXPECT_EQ(setup.tree.NativeOf(kTree, item), 0u);
    EXPECT_EQ(setup.tree.Image(kTree, item), -1);
    EXPECT_EQ(setup.tree.Data(kTree, item), nullptr);
    EXPECT_EQ(setup.tree.Parent(kTree, item), kNoTreeItem);
    EXPECT_EQ(setup.tree.Add(kTree, item == kNoTreeItem ? TreeItem{9999} : item, 500, 0, nullptr),
              kNoTreeItem);
  }
  // The toolkit's items of the gone ones map back to nothing.
  EXPECT_EQ(setup.tree.FromNative(kTree, 101), kNoTreeItem);
  EXPECT_EQ(setup.tree.FromNative(kTree, 102), kNoTreeItem);
  EXPECT_EQ(setup.tree.FromNative(kTree, 104), setup.items.at("camera2"));
  EXPECT_EQ(setup.tree.FromNative(kTree, 0), kNoTreeItem);
}

TEST(TreeItems, AHandleIsNeverGivenTwiceEvenWhenTheToolkitReusesItsItem) {
  TreeItems tree;
  int data = 0;
  std::set<TreeItem> given;
  TreeItem last = kNoTreeItem;
  // The toolkit gives every new item the memory of the one deleted before.
  for (int round = 0; round < 3; ++round) {
    const TreeItem item = tree.Add(kTree, kNoTreeItem, 0x5000, ui::kImageCamera, &data);
    ASSERT_NE(item, kNoTreeItem);
    EXPECT_TRUE(given.insert(item).second) << "handle " << item << " given twice";
    EXPECT_FALSE(tree.Live(kTree, last));
    EXPECT_EQ(tree.FromNative(kTree, 0x5000), item);
    tree.Remove(kTree, item);
    last = item;
  }
  // Emptying the tree does not start the handles again.
  for (int i = 0; i < 3; ++i) given.insert(tree.Add(kTree, kNoTreeItem, 0x6000 + i, 0, nullptr));
  tree.RemoveAll(kTree);
  EXPECT_EQ(tree.Count(kTree), 0u);
  for (TreeItem old : given) EXPECT_FALSE(tree.Live(kTree, old));
  const TreeItem after = tree.Add(kTree, kNoTreeItem, 0x6000, 0, nullptr);
  EXPECT_EQ(given.count(after), 0u);
  EXPECT_EQ(tree.FromNative(kTree, 0x6000), after);
  EXPECT_EQ(tree.FromNative(kTree, 0x6001), kNoTreeItem);
}

TEST(TreeItems, EachControlHasItsOwnItems) {
  TreeItems tree;
  int a = 0, b = 0;
  const TreeItem first = tree.Add(kTree, kNoTreeItem, 7, ui::kImageConnection, &a);
  const TreeItem other = tree.Add(kOtherTree, kNoTreeItem, 7, ui::kImagePreset, &b);
  EXPECT_NE(first, other);
  EXPECT_FALSE(tree.Live(kOtherTree, first));
  EXPECT_EQ(tree.Data(kOtherTree, first), nullptr);
  EXPECT_EQ(tree.Add(kOtherTree, first, 8, 0, nullptr), kNoTreeItem);
  EXPECT_TRUE(tree.Remove(kOtherTree, first).empty());
  EXPECT_EQ(tree.FromNative(kTree, 7), first);
  EXPECT_EQ(tree.FromNative(kOtherTree, 7), other);
  tree.RemoveAll(kOtherTree);
  EXPECT_TRUE(tree.Live(kTree, first));
  EXPECT_EQ(tree.Data(kTree, first), &a);
  EXPECT_EQ(tree.Image(kTree, first), ui::kImageConnection);
  EXPECT_FALSE(tree.Live(kOtherTree, other));
  tree.Clear();
  EXPECT_FALSE(tree.Live(kTree, first));
}

TEST(TreeItems, AdoptedHandlesKeepTheirNumbersAndAreNotGivenAgain) {
  TreeItems tree;
  struct Case {
    TreeItem handle;
    TreeItem parent;
    bool taken;
  };
  const Case cases[] = {
      {5, kNoTreeItem, true},   // a root item
      {9, 5, true},             // its child, numbered above a gap
      {5, kNoTreeItem, false},  // a number already live
      {kNoTreeItem, kNoTreeItem, false},
      {12, 77, false},  // under a number that is not live
      {6, 9, true},     // below the highest number given
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.handle);
    EXPECT_EQ(tree.Adopt(kTree, c.handle, c.parent, 300 + c.handle, 0, nullptr), c.taken);
  }
  EXPECT_EQ(tree.Count(kTree), 3u);
  EXPECT_EQ(tree.Parent(kTree, 6), 9u);
  EXPECT_EQ(tree.NativeOf(kTree, 9), 309u);
  EXPECT_FALSE(tree.Live(kTree, 12));
  const TreeItem next = tree.Add(kTree, kNoTreeItem, 400, 0, nullptr);
  EXPECT_GT(next, 9u);
  // Removing the adopted root takes its adopted children with it.
  EXPECT_EQ(tree.Remove(kTree, 5), (std::vector<TreeItem>{5, 9, 6}));
  EXPECT_EQ(tree.Count(kTree), 1u);
}

}  // namespace
