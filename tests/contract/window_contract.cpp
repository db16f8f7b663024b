#include "window_contract.h"

#include <sstream>

#include "ui/resources.h"

namespace contract {

namespace {

// The controls the checks use, as the resources have them.
constexpr int kTree = 1008;       // driver setup: the tree
constexpr int kRelayList = 1054;  // camera setup: a drop-down list, not sorted
constexpr int kSpeedBar = 1040;   // camera setup: the track bar
constexpr int kNameEdit = 1011;   // camera setup: an edit
constexpr int kLensCheck = 1046;  // camera setup: an automatic check box
constexpr int kPortList = 1029;   // connection setup: a sorted drop-down list

template <typename T>
std::string Shown(const T& value) {
  std::ostringstream out;
  out << value;
  return out.str();
}
std::string Shown(const std::string& value) { return "\"" + value + "\""; }
std::string Shown(const std::vector<std::string>& values) {
  std::string out = "{";
  for (const std::string& v : values) out += (out.size() > 1 ? ", " : "") + Shown(v);
  return out + "}";
}

class ContractDialog : public ui::CDialog {
 public:
  ContractDialog(ui::Toolkit& toolkit, int resourceId, const RootTexts& rootTexts,
                 std::vector<std::string>* broken)
      : ui::CDialog(toolkit, resourceId), rootTexts_(rootTexts), broken_(*broken) {}

  int OnInitDialog() override {
    shown = true;
    switch (ResourceId()) {
      case ui::kDlgDriverSetup:
        CheckTree();
        break;
      case ui::kDlgCameraSetup:
        CheckList();
        CheckControls();
        break;
      case ui::kDlgCommSetup:
        CheckSortedList();
        break;
      default:
        break;
    }
    EndDialog(ui::kResultOk);
    return 1;
  }

 private:
  template <typename A, typename B>
  void Expect(const A& actual, const B& expected, const std::string& rule) {
    if (actual == expected) return;
    broken_.push_back(rule + ": " + Shown(actual) + ", not " + Shown(expected));
  }

  void CheckList() {
    ui::DialogWindow& w = Win();
    w.ResetList(kRelayList);
    Expect(w.EntryCount(kRelayList), 0, "ResetList empties the list");
    Expect(w.GetSelection(kRelayList), -1, "ResetList leaves no selection");
    Expect(w.InsertEntry(kRelayList, -1, "b"), 0, "InsertEntry(-1) into an empty list");
    Expect(w.InsertEntry(kRelayList, 0, "a"), 0, "InsertEntry(0)");
    Expect(w.InsertEntry(kRelayList, -1, "c"), 2, "InsertEntry(-1) appends");
    Expect(w.InsertEntry(kRelayList, 3, "d"), 3, "InsertEntry at the count appends");
    Expect(w.InsertEntry(kRelayList, 5, "x"), -1, "InsertEntry past the count fails");
    Expect(w.InsertEntry(kRelayList, -2, "x"), -1, "InsertEntry(-2) fails");
    Expect(w.EntryCount(kRelayList), 4, "failed insertions add nothing");
    Expect(w.SetSelection(kRelayList, 4), false, "SetSelection past the end fails");
    Expect(w.GetSelection(kRelayList), -1, "a failed SetSelection keeps the selection");
    Expect(w.SetSelection(kRelayList, 1), true, "SetSelection in range");
    Expect(w.GetSelection(kRelayList), 1, "GetSelection after SetSelection");
    Expect(w.GetText(kRelayList), std::string("b"), "a drop-down list's text is its selection");
    Expect(w.SetSelection(kRelayList, -1), true, "SetSelection(-1) clears");
    Expect(w.GetSelection(kRelayList), -1, "no selection after SetSelection(-1)");
    Expect(w.GetText(kRelayList), std::string(), "no text without a selection");
    int marker = 0;
    w.SetEntryData(kRelayList, 3, &marker);
    Expect(w.GetEntryData(kRelayList, 3), static_cast<void*>(&marker), "entry data kept");
    Expect(w.GetEntryData(kRelayList, 4), static_cast<void*>(nullptr), "no data past the end");
    Expect(w.GetEntryData(kRelayList, -1), static_cast<void*>(nullptr), "no data at -1");
  }

  void CheckSortedList() {
    ui::DialogWindow& w = Win();
    w.ResetList(kPortList);
    Expect(w.AddEntry(kPortList, "com3"), 0, "AddEntry into an empty sorted list");
    Expect(w.AddEntry(kPortList, "COM10"), 0, "AddEntry sorts without regard to case");
    Expect(w.AddEntry(kPortList, "COM1"), 0, "AddEntry sorts before a longer text");
    Expect(w.InsertEntry(kPortList, -1, "COM0"), 3, "InsertEntry into a sorted list is not sorted");
    Expect(w.SetSelection(kPortList, 2), true, "SetSelection in a sorted list");
    Expect(w.GetText(kPortList), std::string("com3"), "the sorted list's order");
  }

  void CheckControls() {
    ui::DialogWindow& w = Win();
    // Texts cross the renderer in the code page's bytes, both ways.
    const std::string name =
        "Einfahrt S\xfc"
        "d \xe9\xff";
    w.SetText(kNameEdit, name);
    Expect(w.GetText(kNameEdit), name, "an edit's text with accents");
    w.SetText(kNameEdit, "");
    Expect(w.GetText(kNameEdit), std::string(), "an empty edit");
    w.SetCheck(kLensCheck, true);
    Expect(w.GetCheck(kLensCheck), true, "SetCheck");
    w.Enable(kLensCheck, false);
    Expect(w.IsEnabled(kLensCheck), false, "Enable(false)");
    w.Enable(kLensCheck, true);
    Expect(w.IsEnabled(kLensCheck), true, "Enable(true)");
    w.SetRange(kSpeedBar, 1, 10);
    w.SetPosition(kSpeedBar, 15);
    Expect(w.GetPosition(kSpeedBar), 10, "a position above the range is its top");
    w.SetPosition(kSpeedBar, -3);
    Expect(w.GetPosition(kSpeedBar), 1, "a position below the range is its bottom");
    w.SetPosition(kSpeedBar, 4);
    Expect(w.GetPosition(kSpeedBar), 4, "a position in the range");
  }

  void CheckTree() {
    ui::DialogWindow& w = Win();
    int marker = 0;
    const ui::TreeItem b = w.InsertTreeItem(kTree, ui::kNoTreeItem, "b", ui::kImageCamera, &marker);
    const ui::TreeItem a =
        w.InsertTreeItem(kTree, ui::kNoTreeItem, "A", ui::kImageConnection, nullptr);
    const ui::TreeItem c = w.InsertTreeItem(kTree, ui::kNoTreeItem, "c", ui::kImagePreset, nullptr);
    const ui::TreeItem child = w.InsertTreeItem(kTree, b,
                                                "S\xfc"
                                                "d",
                                                ui::kImagePreset, &marker);
    Expect(b != ui::kNoTreeItem && a != ui::kNoTreeItem && c != ui::kNoTreeItem &&
               child != ui::kNoTreeItem,
           true, "InsertTreeItem gives items");
    Expect(w.GetTreeItemText(kTree, child),
           std::string("S\xfc"
                       "d"),
           "a tree item's text");
    Expect(w.GetTreeItemImage(kTree, b), static_cast<int>(ui::kImageCamera), "a tree item's image");
    Expect(w.GetTreeItemData(kTree, child), static_cast<void*>(&marker), "a tree item's data");
    Expect(rootTexts_(*this, kTree), std::vector<std::string>{"b", "A", "c"},
           "root items in the order inserted");
    w.SortTreeChildren(kTree, ui::kNoTreeItem);
    Expect(rootTexts_(*this, kTree), std::vector<std::string>{"A", "b", "c"},
           "SortTreeChildren(kNoTreeItem) sorts the root items without regard to case");
    w.SelectTreeItem(kTree, c);
    Expect(w.GetSelectedTreeItem(kTree), c, "SelectTreeItem");
    w.SelectTreeItem(kTree, ui::kNoTreeItem);
    Expect(w.GetSelectedTreeItem(kTree), ui::kNoTreeItem, "SelectTreeItem(kNoTreeItem) clears");
    w.DeleteTreeItem(kTree, b);
    Expect(w.GetTreeItemText(kTree, child), std::string(), "a deleted item's child has no text");
    Expect(w.GetTreeItemData(kTree, child), static_cast<void*>(nullptr),
           "a deleted item's child has no data");
    Expect(w.GetTreeItemImage(kTree, b), -1, "a deleted item has no image");
    w.DeleteTreeItem(kTree, b);  // again: nothing
    w.SortTreeChildren(kTree, b);
    Expect(rootTexts_(*this, kTree), std::vector<std::string>{"A", "c"},
           "the other items stay after a deletion");
    // The toolkit may give the deleted items' memory to new ones: the old
    // handles still name nothing.
    std::vector<ui::TreeItem> fresh;
    for (int i = 0; i < 8; ++i)
      fresh.push_back(w.InsertTreeItem(kTree, a, "new", ui::kImagePreset, nullptr));
    Expect(w.GetTreeItemText(kTree, b), std::string(), "a deleted item stays gone after inserts");
    Expect(w.GetTreeItemText(kTree, child), std::string(),
           "a deleted item's child stays gone after inserts");
    Expect(w.GetTreeItemImage(kTree, child), -1,
           "a deleted item's child has no image after inserts");
    bool reused = false;
    for (ui::TreeItem item : fresh) reused = reused || item == b || item == child;
    Expect(reused, false, "a new item never gets a deleted item's handle");
    w.DeleteTreeItem(kTree, child);  // a stale handle: nothing, the new items stay
    Expect(w.GetTreeItemText(kTree, fresh.back()), std::string("new"),
           "deleting a stale handle leaves the new items");
    w.SelectTreeItem(kTree, a);
    w.DeleteAllTreeItems(kTree);
    Expect(w.GetSelectedTreeItem(kTree), ui::kNoTreeItem, "nothing selected in an emptied tree");
    Expect(w.GetTreeItemText(kTree, a), std::string(), "no item stays after DeleteAllTreeItems");
    Expect(rootTexts_(*this, kTree).empty(), true, "an emptied tree shows nothing");
    const ui::TreeItem again =
        w.InsertTreeItem(kTree, ui::kNoTreeItem, "again", ui::kImageCamera, &marker);
    Expect(again != a && again != c && again != fresh.front(), true,
           "an item of a refilled tree gets a new handle");
    Expect(w.GetTreeItemText(kTree, a), std::string(),
           "an old handle names nothing in a refilled tree");
    Expect(w.GetTreeItemData(kTree, fresh.front()), static_cast<void*>(nullptr),
           "an old handle has no data in a refilled tree");
    w.DeleteAllTreeItems(kTree);
  }

  const RootTexts& rootTexts_;
  std::vector<std::string>& broken_;

 public:
  bool shown = false;
};

}  // namespace

std::vector<std::string> CheckWindowContract(ui::Toolkit& toolkit, const RootTexts& rootTexts) {
  std::vector<std::string> broken;
  for (int id : {ui::kDlgDriverSetup, ui::kDlgCameraSetup, ui::kDlgCommSetup}) {
    std::vector<std::string> ofThis;
    ContractDialog dialog(toolkit, id, rootTexts, &ofThis);
    const int result = dialog.DoModal();
    if (!dialog.shown) {
      ofThis.push_back(std::string(kNotShown) + " (ended with " + std::to_string(result) + ")");
    } else if (result != ui::kResultOk) {
      ofThis.push_back("the dialog ended with " + std::to_string(result));
    }
    for (const std::string& line : ofThis)
      broken.push_back("dialog " + std::to_string(id) + ": " + line);
  }
  return broken;
}

}  // namespace contract
