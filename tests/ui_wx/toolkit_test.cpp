// The wxWidgets toolkit of the dialog module on a real X display, with a
// dialog description of the test's own: controls at their dialog-unit
// rectangles, the window calls the dialog classes make, the user's actions
// as the dialog classes receive them, message boxes, timers, and ending a
// dialog from another thread.
#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/button.h>
#include <wx/choice.h>
#include <wx/slider.h>
#include <wx/toplevel.h>
#include <wx/treectrl.h>

#include <atomic>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "ui/dialog.h"
#include "window_contract.h"
#include "wx_test_util.h"

namespace {

using namespace ui;
using wxtest::OnUi;

enum {
  kEdit = 1100,
  kNumber = 1101,
  kAction = 1102,
  kManualCheck = 1103,
  kAutoCheck = 1104,
  kRadioA = 1105,
  kRadioB = 1106,
  kCombo = 1107,
  kSortedList = 1108,
  kTree = 1109,
  kSlider = 1110,
  kDisabledButton = 1111,
  kOrderedList = 1112,
};

const DialogResource& TestResource() {
  static const DialogResource resource = {
      900,
      "Toolkit Test",
      "MS Sans Serif",
      8,
      260,
      170,
      {
          {kStaticId, ControlKind::kGroupBox, kStyleNone, "Group", 4, 2, 120, 70, {}},
          {kStaticId, ControlKind::kLabel, kRightAlign, "Name:", 8, 14, 30, 8, {}},
          {kEdit, ControlKind::kEdit, kAutoHScroll, "start", 42, 12, 70, 13, {}},
          {kNumber, ControlKind::kEdit, kNumber, "", 42, 28, 30, 13, {}},
          {kManualCheck, ControlKind::kCheckBox, kStyleNone, "Manual", 8, 46, 50, 10, {}},
          {kAutoCheck, ControlKind::kCheckBox, kAuto, "Auto", 60, 46, 50, 10, {}},
          {kRadioA, ControlKind::kRadioButton, kAuto | kGroup, "A", 8, 58, 30, 10, {}},
          {kRadioB, ControlKind::kRadioButton, kAuto, "B", 40, 58, 30, 10, {}},
          {kCombo, ControlKind::kComboBox, kVScroll, "", 130, 4, 60, 50, {"AUX1", "WASH", "WIPE"}},
          {kSortedList,
           ControlKind::kListBox,
           kSorted | kNotify | kBorder,
           "",
           130,
           22,
           60,
           40,
           {}},
          {kOrderedList, ControlKind::kListBox, kBorder, "", 195, 22, 60, 40, {}},
          {kTree,
           ControlKind::kTreeView,
           kHasButtons | kHasLines | kLinesAtRoot | kBorder,
           "",
           4,
           76,
           120,
           70,
           {}},
          {kSlider, ControlKind::kTrackBar, kStyleNone, "", 130, 70, 80, 21, {}},
          {kAction, ControlKind::kButton, kStyleNone, "Action", 130, 100, 50, 14, {}},
          {kDisabledButton, ControlKind::kButton, kDisabled, "Later", 185, 100, 50, 14, {}},
          {1, ControlKind::kButton, kDefault, "OK", 130, 150, 50, 14, {}},
          {2, ControlKind::kButton, kStyleNone, "Cancel", 185, 150, 50, 14, {}},
      }};
  return resource;
}

// A dialog that records what it receives and runs the test's steps.
class ProbeDialog : public CDialog {
 public:
  explicit ProbeDialog(Toolkit& toolkit) : CDialog(toolkit, 900) {}
  const DialogResource* Resource() const override { return &TestResource(); }

  std::function<void(DialogWindow&)> init;
  std::function<void(int, Notify)> command;
  std::function<void(int)> timer;
  // What arrived, in order ("update" for each command-update round).
  std::vector<std::string> events;
  std::atomic<int> updates{0};
  std::atomic<bool> destroyed{false};
  std::atomic<bool> initialised{false};

  int OnInitDialog() override {
    if (init) init(Win());
    initialised = true;
    return 1;
  }
  void OnCommand(int id, Notify code) override {
    std::string what =
        "command " + std::to_string(id) + " " + std::to_string(static_cast<int>(code));
    if (code == Notify::kTreeSelChange)
      what += " " + Win().GetTreeItemText(id, Win().GetSelectedTreeItem(id));
    events.push_back(what);
    if (command) command(id, code);
  }
  void OnTimer(int id) override {
    events.push_back("timer " + std::to_string(id));
    if (timer) timer(id);
  }
  void OnOk() override {
    events.push_back("ok");
    EndDialog(kResultOk);
  }
  void OnCancel() override {
    events.push_back("cancel");
    EndDialog(kResultCancel);
  }
  void OnCommandUpdate() override {
    ++updates;
    if (!events.empty() && events.back() != "update") events.push_back("update");
  }
  void OnDestroy() override { destroyed = true; }

  using CDialog::Win;
};

class ToolkitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!wxtest::HaveDisplay()) GTEST_SKIP() << "no display";
    std::string why;
    toolkit_ = wxtest::ModuleToolkit(QUARO7_WX_MODULE_PATH, &why);
    ASSERT_NE(toolkit_, nullptr) << why;
  }

  void TearDown() override {
    // A failed test may leave a dialog open: close it so the test ends.
    if (toolkit_ != nullptr) wxtest::EndAllDialogs();
  }

  // Runs dialog on a thread of its own, as a host's configure call does.
  std::future<int> Show(ProbeDialog& dialog) {
    return std::async(std::launch::async,
                      [this, &dialog] { return toolkit_->RunModal(dialog, nullptr, nullptr); });
  }
  wxDialog* Shown() { return wxtest::WaitForDialog("Toolkit Test"); }
  static int Finish(std::future<int>& result) {
    if (result.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
      ADD_FAILURE() << "the dialog did not end";
      return -1;
    }
    return result.get();
  }

  Toolkit* toolkit_ = nullptr;
};

// Hosts may ask for the toolkit on several threads before it has started:
// it starts once, and each call returns only once it runs.
TEST(ToolkitStartTest, FirstCallsFromSeveralThreadsAtOnceStartItOnce) {
  if (!wxtest::HaveDisplay()) GTEST_SKIP() << "no display";
  constexpr int kCallers = 4;
  std::atomic<int> ready{0};
  std::vector<std::future<Toolkit*>> calls;
  for (int i = 0; i < kCallers; ++i) {
    calls.push_back(std::async(std::launch::async, [&ready] {
      ++ready;
      while (ready.load() < kCallers) std::this_thread::yield();
      std::string why;
      return wxtest::ModuleToolkit(QUARO7_WX_MODULE_PATH, &why);
    }));
  }
  std::vector<Toolkit*> toolkits;
  for (auto& call : calls) toolkits.push_back(call.get());
  ASSERT_NE(toolkits[0], nullptr);
  for (Toolkit* toolkit : toolkits) EXPECT_EQ(toolkit, toolkits[0]);
  // One application runs them all: a dialog shown from every caller's
  // thread at once ends with its own result.
  std::vector<std::unique_ptr<ProbeDialog>> dialogs;
  std::vector<std::future<int>> results;
  for (int i = 0; i < kCallers; ++i) {
    dialogs.push_back(std::make_unique<ProbeDialog>(*toolkits[0]));
    dialogs.back()->init = [i](DialogWindow& w) { w.EndDialog(i % 2 ? kResultOk : kResultCancel); };
  }
  for (int i = 0; i < kCallers; ++i) {
    ProbeDialog* dialog = dialogs[i].get();
    Toolkit* toolkit = toolkits[0];
    results.push_back(std::async(std::launch::async, [toolkit, dialog] {
      return toolkit->RunModal(*dialog, nullptr, nullptr);
    }));
  }
  for (int i = 0; i < kCallers; ++i) {
    ASSERT_EQ(results[i].wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(results[i].get(), i % 2 ? kResultOk : kResultCancel);
  }
}

TEST_F(ToolkitTest, ControlsSitAtTheirDialogUnitRectanglesWithTheirStartStates) {
  ProbeDialog dialog(*toolkit_);
  auto result = Show(dialog);
  wxDialog* window = Shown();
  ASSERT_NE(window, nullptr);
  OnUi([&] {
    EXPECT_EQ(window->GetClientSize(), window->ConvertDialogToPixels(wxSize(260, 170)));
    wxWindow* action = window->FindWindow(kAction);
    ASSERT_NE(action, nullptr);
    EXPECT_EQ(action->GetPosition(), window->ConvertDialogToPixels(wxPoint(130, 100)));
    EXPECT_EQ(action->GetSize(), window->ConvertDialogToPixels(wxSize(50, 14)));
    EXPECT_FALSE(window->FindWindow(kDisabledButton)->IsThisEnabled());
    auto* ok = dynamic_cast<wxButton*>(window->FindWindow(1));
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(window->GetDefaultItem(), ok);
    auto* combo = dynamic_cast<wxChoice*>(window->FindWindow(kCombo));
    ASSERT_NE(combo, nullptr);
    ASSERT_EQ(combo->GetCount(), 3u);
    EXPECT_EQ(combo->GetString(1), "WASH");
    EXPECT_EQ(combo->GetSelection(), wxNOT_FOUND);
    EXPECT_EQ(window->GetFont().GetPointSize(), 8);
  });
  EXPECT_EQ(wxtest::TextOf(window, kEdit), "start");
  wxtest::Screenshot("Toolkit Test", "toolkit-test.png");
  wxtest::Click(window, 2);
  EXPECT_EQ(Finish(result), kResultCancel);
  EXPECT_TRUE(dialog.destroyed);
  EXPECT_EQ(dialog.Window(), nullptr);
}

TEST_F(ToolkitTest, ListsSortWhereSortedAndKeepTheirInsertionsElsewhere) {
  ProbeDialog dialog(*toolkit_);
  int a = 1, b = 2;
  dialog.init = [&](DialogWindow& w) {
    EXPECT_EQ(w.AddEntry(kSortedList, "[COM2]: Line A"), 0);
    EXPECT_EQ(w.AddEntry(kSortedList, "[COM1]: line B"), 0);
    EXPECT_EQ(w.AddEntry(kSortedList, "[com1]: Line C"), 1);  // case-blind, after its equal
    w.SetEntryData(kSortedList, 0, &a);
    w.SetEntryData(kSortedList, 2, &b);
    // An index given is kept in a sorted list too; -1 appends; beyond the end fails.
    EXPECT_EQ(w.InsertEntry(kSortedList, 0, "ZZZ"), 0);
    EXPECT_EQ(w.InsertEntry(kOrderedList, 0, "COM3 Not Accessible"), 0);
    EXPECT_EQ(w.InsertEntry(kOrderedList, 1, "COM1"), 1);
    EXPECT_EQ(w.InsertEntry(kOrderedList, -1, "COM9"), 2);
    EXPECT_EQ(w.InsertEntry(kOrderedList, 5, "COM5"), -1);
    EXPECT_EQ(w.AddEntry(kOrderedList, "AAA"), 3);
    EXPECT_EQ(w.EntryCount(kOrderedList), 4);
    EXPECT_EQ(w.GetEntryData(kSortedList, 1), &a);
    EXPECT_EQ(w.GetEntryData(kSortedList, 3), &b);
    EXPECT_EQ(w.GetEntryData(kSortedList, 4), nullptr);
    EXPECT_EQ(w.GetEntryData(kSortedList, -1), nullptr);
    EXPECT_EQ(w.GetSelection(kCombo), -1);
    EXPECT_FALSE(w.SetSelection(kCombo, 3));
    EXPECT_TRUE(w.SetSelection(kCombo, 2));
    EXPECT_EQ(w.GetText(kCombo), "WIPE");
    EXPECT_TRUE(w.SetSelection(kCombo, -1));
    EXPECT_EQ(w.GetSelection(kCombo), -1);
    EXPECT_EQ(w.GetText(kCombo), "");
    w.ResetList(kOrderedList);
    EXPECT_EQ(w.EntryCount(kOrderedList), 0);
    // Unknown ids and kinds are harmless.
    EXPECT_EQ(w.AddEntry(4711, "x"), -1);
    EXPECT_EQ(w.EntryCount(kAction), 0);
    EXPECT_EQ(w.GetText(4711), "");
  };
  auto result = Show(dialog);
  wxDialog* window = Shown();
  ASSERT_NE(window, nullptr);
  std::vector<std::string> texts;
  OnUi([&] {
    auto* list = dynamic_cast<wxItemContainer*>(window->FindWindow(kSortedList));
    for (unsigned i = 0; i < list->GetCount(); ++i)
      texts.push_back(list->GetString(i).ToStdString());
  });
  EXPECT_EQ(texts, (std::vector<std::string>{"ZZZ", "[COM1]: line B", "[com1]: Line C",
                                             "[COM2]: Line A"}));
  // The user's choice arrives as a selection change; a double click too.
  wxtest::ChooseEntry(window, kSortedList, 2);
  wxtest::DoubleClickEntry(window, kSortedList, 3);
  wxtest::Settle();
  OnUi([&] {
    EXPECT_EQ(dialog.Win().GetSelection(kSortedList), 3);
    EXPECT_EQ(dialog.Win().GetText(kSortedList), "[COM2]: Line A");
  });
  wxtest::Click(window, 1);
  EXPECT_EQ(Finish(result), kResultOk);
  EXPECT_EQ(dialog.events, (std::vector<std::string>{"command 1108 1", "update", "command 1108 2",
                                                     "update", "ok"}));
}

TEST_F(ToolkitTest, TreeKeepsItemsImagesAndDataAndIgnoresStaleHandles) {
  ProbeDialog dialog(*toolkit_);
  int conn = 0, cam = 0;
  TreeItem root = 0, deletedCamera = 0, kept = 0;
  dialog.init = [&](DialogWindow& w) {
    w.SetRedraw(kTree, false);
    root = w.InsertTreeItem(kTree, kNoTreeItem, "[COM3]  Line A", kImageConnection, &conn);
    deletedCamera = w.InsertTreeItem(kTree, root, "005 [012]: gate", kImageCamera, &cam);
    const TreeItem preset =
        w.InsertTreeItem(kTree, deletedCamera, " [07] Door", kImagePreset, nullptr);
    kept = w.InsertTreeItem(kTree, root, "002 [ ? ]: Yard", kImageCamera, nullptr);
    w.InsertTreeItem(kTree, root, "010 [001]: Alpha", kImageCamera, nullptr);
    w.ExpandTreeItem(kTree, root);
    w.ExpandTreeItem(kTree, kept);  // no children: nothing to expand
    w.SortTreeChildren(kTree, root);
    w.SetRedraw(kTree, true);
    EXPECT_EQ(w.GetTreeItemText(kTree, preset), " [07] Door");
    EXPECT_EQ(w.GetTreeItemImage(kTree, deletedCamera), kImageCamera);
    EXPECT_EQ(w.GetTreeItemData(kTree, root), &conn);
    EXPECT_EQ(w.GetSelectedTreeItem(kTree), kNoTreeItem);
    w.SelectTreeItem(kTree, deletedCamera);
    EXPECT_EQ(w.GetSelectedTreeItem(kTree), deletedCamera);
    w.DeleteTreeItem(kTree, deletedCamera);
    // The deleted item and the preset under it are gone for every call.
    EXPECT_EQ(w.GetTreeItemText(kTree, preset), "");
    EXPECT_EQ(w.GetTreeItemData(kTree, deletedCamera), nullptr);
    EXPECT_EQ(w.GetTreeItemImage(kTree, deletedCamera), -1);
    w.SelectTreeItem(kTree, deletedCamera);
    w.SetTreeItemText(kTree, preset, "x");
    w.DeleteTreeItem(kTree, preset);
    EXPECT_EQ(w.InsertTreeItem(kTree, deletedCamera, "orphan", 2, nullptr), kNoTreeItem);
    w.SetTreeItemText(kTree, kept, "002 [004]: Yard");
  };
  auto result = Show(dialog);
  wxDialog* window = Shown();
  ASSERT_NE(window, nullptr);
  std::vector<std::string> texts;
  OnUi([&] {
    auto* tree = dynamic_cast<wxTreeCtrl*>(window->FindWindow(kTree));
    wxTreeItemIdValue cookie;
    const wxTreeItemId first = tree->GetFirstChild(tree->GetRootItem(), cookie);
    EXPECT_TRUE(tree->IsExpanded(first));
    for (wxTreeItemId c = tree->GetFirstChild(first, cookie); c.IsOk();
         c = tree->GetNextChild(first, cookie))
      texts.push_back(tree->GetItemText(c).ToStdString());
    EXPECT_EQ(tree->GetImageList()->GetImageCount(), 3);
  });
  // Sorted case-blind by text; the deleted camera is gone.
  EXPECT_EQ(texts, (std::vector<std::string>{"002 [004]: Yard", "010 [001]: Alpha"}));
  wxtest::Screenshot("Toolkit Test", "toolkit-tree.png");
  // A user's selection arrives; the dialog's own selections did not.
  OnUi([&] {
    // The user picks the kept camera by its text (the window's handles are
    // its own, not the tree's items).
    auto* tree = dynamic_cast<wxTreeCtrl*>(window->FindWindow(kTree));
    wxTreeItemIdValue cookie;
    const wxTreeItemId first = tree->GetFirstChild(tree->GetRootItem(), cookie);
    for (wxTreeItemId c = tree->GetFirstChild(first, cookie); c.IsOk();
         c = tree->GetNextChild(first, cookie)) {
      if (tree->GetItemText(c) == "002 [004]: Yard") tree->SelectItem(c);
    }
  });
  wxtest::Settle();
  OnUi([&] {
    EXPECT_EQ(dialog.Win().GetSelectedTreeItem(kTree), kept);
    dialog.Win().DeleteAllTreeItems(kTree);
    EXPECT_EQ(dialog.Win().GetSelectedTreeItem(kTree), kNoTreeItem);
    EXPECT_EQ(dialog.Win().GetTreeItemText(kTree, root), "");
  });
  wxtest::PressKey(window, WXK_ESCAPE);
  EXPECT_EQ(Finish(result), kResultCancel);
  // Deleting the selected camera moved the selection to the next item, as
  // the system's tree does; then the user's choice.
  EXPECT_EQ(dialog.events,
            (std::vector<std::string>{"command 1109 3 010 [001]: Alpha", "update",
                                      "command 1109 3 002 [004]: Yard", "update", "cancel"}));
}

TEST_F(ToolkitTest, UserActionsArriveAfterTheCommandUpdateRules) {
  ProbeDialog dialog(*toolkit_);
  dialog.init = [](DialogWindow& w) {
    w.SetLimit(kEdit, 5);
    w.SetText(kEdit, "abc");
    w.SetRange(kSlider, 1, 11);
    w.SetPosition(kSlider, 6);
    w.SetCheck(kRadioA, true);
  };
  std::vector<std::string> seen;
  dialog.command = [&](int id, Notify) {
    DialogWindow& w = dialog.Win();
    if (id == kManualCheck) {
      // The check box did not toggle itself; the dialog sets the mark.
      seen.push_back(w.GetCheck(kManualCheck) ? "manual on" : "manual off");
      w.SetCheck(kManualCheck, !w.GetCheck(kManualCheck));
    } else if (id == kAutoCheck) {
      seen.push_back(w.GetCheck(kAutoCheck) ? "auto on" : "auto off");
    } else if (id == kAction) {
      seen.push_back("action " + w.GetText(kEdit) + " " + std::to_string(w.GetPosition(kSlider)));
      w.Enable(kDisabledButton, true);
      w.SetPosition(kSlider, 40);  // beyond the range: held at its end
    }
  };
  auto result = Show(dialog);
  wxDialog* window = Shown();
  ASSERT_NE(window, nullptr);
  const int updatesAtStart = dialog.updates;
  wxtest::ToggleCheck(window, kManualCheck);
  wxtest::ToggleCheck(window, kAutoCheck);
  wxtest::Type(window, kEdit, "Gate");
  wxtest::Click(window, kAction);
  wxtest::Settle();
  EXPECT_EQ(seen, (std::vector<std::string>{"manual off", "auto on", "action Gate 6"}));
  EXPECT_GE(dialog.updates - updatesAtStart, 3);
  EXPECT_TRUE(wxtest::EnabledOf(window, kDisabledButton));
  OnUi([&] {
    EXPECT_TRUE(dialog.Win().GetCheck(kManualCheck));
    EXPECT_TRUE(dialog.Win().GetCheck(kRadioA));
    EXPECT_FALSE(dialog.Win().GetCheck(kRadioB));
    EXPECT_EQ(dialog.Win().GetPosition(kSlider), 11);
    EXPECT_TRUE(dialog.Win().IsEnabled(kDisabledButton));
    // The edit takes no more than its limit from the user.
    auto* edit = dynamic_cast<wxTextCtrl*>(window->FindWindow(kEdit));
    edit->SetValue("");
    edit->WriteText("abcdefgh");
  });
  // Digits only in a number edit: letters typed are dropped.
  wxtest::OnUi([&] { window->FindWindow(kNumber)->SetFocus(); });
  // Enter in an edit presses the default button.
  wxtest::PressKey(window, WXK_RETURN);
  EXPECT_EQ(Finish(result), kResultOk);
  ASSERT_FALSE(dialog.events.empty());
  EXPECT_EQ(dialog.events.back(), "ok");
  EXPECT_EQ(dialog.events.front(), "command 1103 0");
}

TEST_F(ToolkitTest, CloseBoxCancelsThroughTheDialogWhichMayRefuse) {
  ProbeDialog dialog(*toolkit_);
  int refusals = 1;
  auto result = std::async(std::launch::async, [&] {
    class Refusing : public ProbeDialog {
     public:
      using ProbeDialog::ProbeDialog;
      int* refusals = nullptr;
      void OnCancel() override {
        events.push_back("cancel");
        if ((*refusals)-- > 0) return;  // stays open once
        EndDialog(kResultCancel);
      }
    } refusing(*toolkit_);
    refusing.refusals = &refusals;
    const int r = toolkit_->RunModal(refusing, nullptr, nullptr);
    dialog.events = refusing.events;
    return r;
  });
  wxDialog* window = Shown();
  ASSERT_NE(window, nullptr);
  wxtest::CloseBox(window);
  wxtest::Settle();
  EXPECT_NE(wxtest::WaitForDialog("Toolkit Test", 100), nullptr);
  wxtest::CloseBox(window);
  EXPECT_EQ(Finish(result), kResultCancel);
  EXPECT_EQ(dialog.events, (std::vector<std::string>{"cancel", "update", "cancel"}));
}

TEST_F(ToolkitTest, MessageBoxesShowTextIconButtonsAndTheirDefault) {
  ProbeDialog dialog(*toolkit_);
  std::vector<int> answers;
  dialog.command = [&](int id, Notify) {
    if (id != kAction) return;
    answers.push_back(dialog.Win().MessageBox("Do you really want to remove the connection?",
                                              MsgButtons::kYesNo, MsgIcon::kQuestion));
    answers.push_back(dialog.Win().MessageBox("WARNING!\n\nContinue?", MsgButtons::kYesNo,
                                              MsgIcon::kExclamation, kAnswerNo));
    answers.push_back(
        dialog.Win().MessageBox("Please fill all fields", MsgButtons::kOk, MsgIcon::kInformation));
  };
  auto result = Show(dialog);
  wxDialog* window = Shown();
  ASSERT_NE(window, nullptr);
  wxtest::Click(window, kAction);

  wxDialog* box = wxtest::WaitForDialog("QUARO7K7_PTZ");
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(wxtest::MessageOf(box), "Do you really want to remove the connection?");
  OnUi([&] {
    EXPECT_EQ(box->GetParent(), window);
    auto* yes = dynamic_cast<wxButton*>(box->FindWindow(wxID_YES));
    ASSERT_NE(yes, nullptr);
    EXPECT_EQ(box->GetDefaultItem(), yes);
    EXPECT_EQ(yes->GetLabelText(), "Yes");
    EXPECT_EQ(box->FindWindow(wxID_OK), nullptr);
  });
  wxtest::Screenshot("QUARO7K7_PTZ", "toolkit-question.png");
  // Escape does not answer a Yes/No box.
  wxtest::PressKey(box, WXK_ESCAPE);
  wxtest::Settle();
  EXPECT_EQ(wxtest::WaitForDialog("QUARO7K7_PTZ", 100), box);
  wxtest::Click(box, wxID_YES);

  box = wxtest::WaitForMessage("WARNING!\n\nContinue?");
  ASSERT_NE(box, nullptr);
  OnUi([&] { EXPECT_EQ(box->GetDefaultItem(), box->FindWindow(wxID_NO)); });
  wxtest::Click(box, wxID_NO);

  box = wxtest::WaitForMessage("Please fill all fields");
  ASSERT_NE(box, nullptr);
  // Escape answers an OK box.
  wxtest::PressKey(box, WXK_ESCAPE);
  ASSERT_TRUE(wxtest::WaitForNoDialog("QUARO7K7_PTZ"));
  wxtest::Click(window, 1);
  EXPECT_EQ(Finish(result), kResultOk);
  EXPECT_EQ(answers, (std::vector<int>{kAnswerYes, kAnswerNo, kAnswerOk}));
}

TEST_F(ToolkitTest, TimersRunOnTheDialogsThreadUntilKilled) {
  ProbeDialog dialog(*toolkit_);
  std::atomic<int> fired{0};
  std::atomic<bool> onUiThread{true};
  dialog.init = [](DialogWindow& w) {
    w.SetTimer(1010, 20);
    w.SetTimer(7, 10);
  };
  dialog.timer = [&](int id) {
    onUiThread = onUiThread && wxThread::IsMain();
    if (id == 1010) {
      dialog.Win().KillTimer(1010);
      dialog.Win().SetText(kEdit, "fired");
    } else if (++fired == 3) {
      dialog.Win().KillTimer(7);
    }
  };
  auto result = Show(dialog);
  wxDialog* window = Shown();
  ASSERT_NE(window, nullptr);
  for (int i = 0; i < 200 && (fired < 3 || wxtest::TextOf(window, kEdit) != "fired"); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::this_thread::sleep_for(std::chrono::milliseconds(80));
  wxtest::Settle();
  EXPECT_EQ(fired, 3);
  EXPECT_EQ(wxtest::TextOf(window, kEdit), "fired");
  EXPECT_TRUE(onUiThread);
  int oneShot = 0;
  OnUi([&] {
    for (const std::string& e : dialog.events) oneShot += e == "timer 1010";
  });
  EXPECT_EQ(oneShot, 1);
  wxtest::Click(window, 2);
  EXPECT_EQ(Finish(result), kResultCancel);
}

TEST_F(ToolkitTest, PostEndFromAnotherThreadEndsNestedDialogsAndBoxesFirst) {
  // The outer dialog opens a nested one, which asks a question; the host
  // then ends the outer dialog from its own thread.
  ProbeDialog outer(*toolkit_);
  ProbeDialog inner(*toolkit_);
  std::vector<int> seen;
  int nestedAgain = -1;
  int boxAgain = -1;
  std::atomic<bool> boxShown{false};
  inner.init = [&](DialogWindow&) {};
  inner.command = [&](int id, Notify) {
    if (id != kAction) return;
    boxShown = true;
    seen.push_back(inner.Win().MessageBox("Continue?", MsgButtons::kYesNo, MsgIcon::kQuestion));
    // The outer dialog is being closed: no more questions or dialogs.
    boxAgain = inner.Win().MessageBox("Again?", MsgButtons::kYesNo, MsgIcon::kQuestion);
  };
  outer.command = [&](int id, Notify) {
    if (id != kAction) return;
    seen.push_back(toolkit_->RunModal(inner, &outer, nullptr));
    ProbeDialog third(*toolkit_);
    nestedAgain = toolkit_->RunModal(third, &outer, nullptr);
  };
  auto result = Show(outer);
  wxDialog* window = Shown();
  ASSERT_NE(window, nullptr);
  wxtest::Click(window, kAction);
  wxDialog* nested = nullptr;
  for (int i = 0; i < 100; ++i) {
    nested = wxtest::WaitForDialog("Toolkit Test");
    if (nested != nullptr && nested != window) break;
  }
  ASSERT_NE(nested, window);
  OnUi([&] { EXPECT_EQ(nested->GetParent(), window); });
  wxtest::Click(nested, kAction);
  ASSERT_NE(wxtest::WaitForDialog("QUARO7K7_PTZ"), nullptr);
  std::thread host([&] { outer.Window()->PostEndDialog(kResultCancel); });
  host.join();
  EXPECT_EQ(Finish(result), kResultCancel);
  EXPECT_EQ(seen, (std::vector<int>{kAnswerNo, kResultCancel}));
  EXPECT_EQ(boxAgain, kAnswerNo);
  EXPECT_EQ(nestedAgain, kResultCancel);
  EXPECT_TRUE(inner.destroyed);
  EXPECT_TRUE(outer.destroyed);
  EXPECT_TRUE(wxtest::WaitForNoDialog("QUARO7K7_PTZ"));
  EXPECT_TRUE(wxtest::WaitForNoDialog("Toolkit Test"));
}

TEST_F(ToolkitTest, EndingBeforeTheLoopRunsAndLateEndsAreHarmless) {
  // A dialog that ends itself while it initialises is never shown.
  ProbeDialog early(*toolkit_);
  early.init = [&](DialogWindow& w) { w.EndDialog(kResultOk); };
  EXPECT_EQ(toolkit_->RunModal(early, nullptr, nullptr), kResultOk);
  EXPECT_TRUE(early.destroyed);

  // A posted end that arrives while the dialog is still initialising.
  ProbeDialog posted(*toolkit_);
  posted.init = [&](DialogWindow& w) { w.PostEndDialog(kResultCancel); };
  EXPECT_EQ(toolkit_->RunModal(posted, nullptr, nullptr), kResultCancel);

  // An end posted twice, the second after the window has gone, reaches no
  // later dialog.
  ProbeDialog first(*toolkit_);
  first.init = [&](DialogWindow& w) {
    w.PostEndDialog(kResultOk);
    w.PostEndDialog(kResultCancel);
  };
  EXPECT_EQ(toolkit_->RunModal(first, nullptr, nullptr), kResultOk);
  ProbeDialog second(*toolkit_);
  auto result = Show(second);
  wxDialog* window = Shown();
  ASSERT_NE(window, nullptr);
  wxtest::Settle();
  EXPECT_EQ(wxtest::WaitForDialog("Toolkit Test", 50), window);
  wxtest::Click(window, 1);
  EXPECT_EQ(Finish(result), kResultOk);
}

TEST_F(ToolkitTest, AFailureInAHandlerEndsTheDialogAndReachesTheCallingThread) {
  ProbeDialog dialog(*toolkit_);
  dialog.command = [](int, Notify) { throw std::runtime_error("settings document failed"); };
  auto result = Show(dialog);
  wxDialog* window = Shown();
  ASSERT_NE(window, nullptr);
  wxtest::Click(window, kAction);
  ASSERT_EQ(result.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_THROW(result.get(), std::runtime_error);
  EXPECT_TRUE(dialog.destroyed);
  EXPECT_TRUE(wxtest::WaitForNoDialog("Toolkit Test"));
  // The toolkit carries on.
  ProbeDialog next(*toolkit_);
  next.init = [](DialogWindow& w) { w.EndDialog(kResultOk); };
  EXPECT_EQ(toolkit_->RunModal(next, nullptr, nullptr), kResultOk);
}

TEST_F(ToolkitTest, TheXServersMouseClickReachesTheDialog) {
  ProbeDialog dialog(*toolkit_);
  auto result = Show(dialog);
  wxDialog* window = Shown();
  ASSERT_NE(window, nullptr);
  wxtest::ClickWithMouse(window, kAction);
  for (int i = 0; i < 200; ++i) {
    bool clicked = false;
    OnUi([&] { clicked = !dialog.events.empty(); });
    if (clicked) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  wxtest::ClickWithMouse(window, 1);
  EXPECT_EQ(Finish(result), kResultOk);
  EXPECT_EQ(dialog.events, (std::vector<std::string>{"command 1102 0", "update", "ok"}));
}

}  // namespace

namespace {

// The root items of the tree with this id in the dialog's window, found by
// its caption (UI thread).
std::vector<std::string> WxRootTexts(ui::CDialog& dialog, int treeId) {
  std::vector<std::string> texts;
  const std::string caption = dialog.Resource()->caption;
  for (wxWindow* window : wxTopLevelWindows) {
    auto* top = dynamic_cast<wxTopLevelWindow*>(window);
    if (top == nullptr || std::string(top->GetTitle().utf8_str()) != caption) continue;
    auto* tree = dynamic_cast<wxTreeCtrl*>(top->FindWindow(treeId));
    if (tree == nullptr) continue;
    wxTreeItemIdValue cookie;
    const wxTreeItemId root = tree->GetRootItem();
    for (wxTreeItemId c = tree->GetFirstChild(root, cookie); c.IsOk();
         c = tree->GetNextChild(root, cookie)) {
      texts.push_back(std::string(tree->GetItemText(c).utf8_str()));
    }
  }
  return texts;
}

}  // namespace

TEST_F(ToolkitTest, TheWindowInterfacesRulesHoldAsInTheOtherRenderers) {
  auto checks = std::async(
      std::launch::async, [this] { return contract::CheckWindowContract(*toolkit_, WxRootTexts); });
  ASSERT_EQ(checks.wait_for(std::chrono::seconds(20)), std::future_status::ready);
  for (const std::string& broken : checks.get()) ADD_FAILURE() << broken;
}
