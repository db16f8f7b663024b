// The fake window behaves like the controls the dialogs are written for:
// the behaviour tests of every dialog rely on it.
#include "ui_fake.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <thread>

namespace {

using uifake::FakeToolkit;
using uifake::FakeWindow;

// A dialog that only records what reaches it.
class Probe : public ui::CDialog {
 public:
  Probe(ui::Toolkit& toolkit, int resourceId) : ui::CDialog(toolkit, resourceId) {}
  int OnInitDialog() override {
    ++inits;
    return 1;
  }
  void OnCommand(int id, ui::Notify code) override { commands.push_back({id, code}); }
  void OnCommandUpdate() override { ++updates; }
  void OnDestroy() override { destroyed = Window() != nullptr; }
  int inits = 0, updates = 0;
  bool destroyed = false;
  std::vector<std::pair<int, ui::Notify>> commands;
};

TEST(UiFake, SortedListsSortAddedEntriesButNotInsertedOnes) {
  FakeToolkit toolkit;
  Probe dialog(toolkit, ui::kDlgCommSetup);  // 1029 is a sorted drop-down list
  toolkit.Queue(ui::kDlgCommSetup, [](FakeWindow& w) {
    w.InsertEntry(1029, 0, "COM3");
    w.InsertEntry(1029, 1, "COM10");
    w.InsertEntry(1029, 2, "COM1 Not Accessible");
    EXPECT_EQ(w.InsertEntry(1029, 9, "COM9"), -1);
    EXPECT_EQ(w.EntryTexts(1029),
              (std::vector<std::string>{"COM3", "COM10", "COM1 Not Accessible"}));
    w.ResetList(1029);
    EXPECT_EQ(w.AddEntry(1029, "com3"), 0);
    EXPECT_EQ(w.AddEntry(1029, "COM10"), 0);
    EXPECT_EQ(w.AddEntry(1029, "COM1"), 0);
    EXPECT_EQ(w.EntryTexts(1029), (std::vector<std::string>{"COM1", "COM10", "com3"}));
    EXPECT_TRUE(w.SetSelection(1029, 2));
    EXPECT_EQ(w.GetText(1029), "com3");
    EXPECT_FALSE(w.SetSelection(1029, 3));
    w.Type(1014, "Line A");
    w.Click(1);
  });
  EXPECT_EQ(dialog.DoModal(), ui::kResultOk);
  EXPECT_EQ(dialog.inits, 1);
  EXPECT_TRUE(dialog.destroyed);  // OnDestroy runs while the window is still attached
  EXPECT_EQ(dialog.Window(), nullptr);
}

TEST(UiFake, UserActionsFollowTheControlsStateAndRunTheUpdateRulesFirst) {
  FakeToolkit toolkit;
  Probe dialog(toolkit, ui::kDlgCameraSetup);
  toolkit.Queue(ui::kDlgCameraSetup, [&](FakeWindow& w) {
    w.SetLimit(1050, 3);
    w.Type(1050, "1289");
    EXPECT_EQ(w.GetText(1050), "128");
    w.Type(1010, "4a2");  // digits only
    EXPECT_EQ(w.GetText(1010), "42");
    // Auto check box toggles itself, the other one does not.
    w.Click(1046);
    w.Click(1053);
    EXPECT_TRUE(w.GetCheck(1046));
    EXPECT_FALSE(w.GetCheck(1053));
    // Radio buttons of one group.
    w.Click(1038);
    w.Click(1039);
    EXPECT_FALSE(w.GetCheck(1038));
    EXPECT_TRUE(w.GetCheck(1039));
    // The drop-down lists start with the resource's entries.
    EXPECT_EQ(w.EntryCount(1055), 4);
    w.ChooseText(1055, "WIPE");
    EXPECT_EQ(w.GetSelection(1055), 2);
    // Disabled at start: the user cannot move it.
    EXPECT_NONFATAL_FAILURE(w.Slide(1040, 5), "disabled");
    const int before = dialog.updates;
    w.Click(1049);
    // Before the click and after its handler, as a renderer delivers it.
    EXPECT_EQ(dialog.updates, before + 2);
    w.Close();
  });
  EXPECT_EQ(dialog.DoModal(), ui::kResultCancel);
  ASSERT_FALSE(dialog.commands.empty());
  EXPECT_EQ(dialog.commands.back().first, 1049);
}

TEST(UiFake, TreeKeepsOrderSortsChildrenAndForgetsADeletedSelection) {
  FakeToolkit toolkit;
  Probe dialog(toolkit, ui::kDlgDriverSetup);
  toolkit.Queue(ui::kDlgDriverSetup, [](FakeWindow& w) {
    const ui::TreeItem b = w.InsertTreeItem(1008, ui::kNoTreeItem, "[COM2]  B", 0, nullptr);
    const ui::TreeItem a = w.InsertTreeItem(1008, ui::kNoTreeItem, "[COM1]  A", 0, nullptr);
    const ui::TreeItem cam = w.InsertTreeItem(1008, b, "010 [001]: x", 1, nullptr);
    w.InsertTreeItem(1008, b, "002 [001]: y", 1, nullptr);
    w.InsertTreeItem(1008, cam, " [01] p", 2, nullptr);
    w.SortTreeChildren(1008, b);
    w.ExpandTreeItem(1008, b);
    EXPECT_EQ(w.TreeDump(), "+[COM2]  B\n  002 [001]: y\n  010 [001]: x\n     [01] p\n[COM1]  A\n");
    EXPECT_EQ(w.TreeChildren(ui::kNoTreeItem), (std::vector<ui::TreeItem>{b, a}));
    w.ClickTreeItem(1008, cam);
    EXPECT_EQ(w.GetSelectedTreeItem(1008), cam);
    w.DeleteTreeItem(1008, b);
    EXPECT_EQ(w.GetSelectedTreeItem(1008), ui::kNoTreeItem);
    EXPECT_EQ(w.FindTreeItem(" [01] p"), ui::kNoTreeItem);
    EXPECT_EQ(w.TreeDump(), "[COM1]  A\n");
    w.Click(1);
  });
  EXPECT_EQ(dialog.DoModal(), ui::kResultOk);
}

TEST(UiFake, MessageBoxesTakeQueuedAnswersAndOkBoxesNeverTakeQuestionsAnswers) {
  FakeToolkit toolkit;
  Probe dialog(toolkit, ui::kDlgAbout);
  toolkit.Answer(ui::kAnswerYes);
  toolkit.Queue(ui::kDlgAbout, [](FakeWindow& w) {
    EXPECT_EQ(w.MessageBox("note", ui::MsgButtons::kOk, ui::MsgIcon::kInformation, 0),
              ui::kAnswerOk);
    EXPECT_EQ(w.MessageBox("sure?", ui::MsgButtons::kYesNo, ui::MsgIcon::kQuestion, 0),
              ui::kAnswerYes);
    EXPECT_EQ(w.MessageBox("again?", ui::MsgButtons::kYesNo, ui::MsgIcon::kQuestion, 0),
              ui::kAnswerNo);
    w.Click(1);
  });
  dialog.DoModal();
  EXPECT_EQ(toolkit.MessageTexts(), (std::vector<std::string>{"note", "sure?", "again?"}));
  EXPECT_EQ(toolkit.Unanswered, 1);
  EXPECT_EQ(toolkit.Messages[0].dialogId, ui::kDlgAbout);
}

TEST(UiFake, NestedRunsTimersAndAnEndPostedFromAnotherThread) {
  FakeToolkit toolkit;
  Probe outer(toolkit, ui::kDlgDriverSetup);
  Probe inner(toolkit, ui::kDlgSelectComm);
  toolkit.Queue(ui::kDlgSelectComm, [&](FakeWindow& w) {
    EXPECT_EQ(toolkit.Open.size(), 2u);
    EXPECT_NONFATAL_FAILURE(w.Click(1), "disabled");  // OK is disabled at start
    std::thread closer([&] { w.PostEndDialog(ui::kResultCancel); });
    EXPECT_TRUE(w.WaitForPostedEnd(5000));
    closer.join();
    EXPECT_TRUE(w.Ended());
  });
  toolkit.Queue(ui::kDlgDriverSetup, [&](FakeWindow& w) {
    w.SetTimer(1010, 20);
    EXPECT_TRUE(w.FireTimer(1010));
    w.KillTimer(1010);
    EXPECT_FALSE(w.FireTimer(1010));
    EXPECT_EQ(inner.DoModal(&outer), ui::kResultCancel);
    w.Click(1);
  });
  EXPECT_EQ(outer.DoModal(), ui::kResultOk);
  EXPECT_EQ(toolkit.Opened, (std::vector<int>{ui::kDlgDriverSetup, ui::kDlgSelectComm}));
  EXPECT_EQ(toolkit.Parents[1], &outer);
  EXPECT_TRUE(toolkit.Open.empty());
}

}  // namespace
