// One installer's session with the setup dialogs, from an empty settings
// file to a connection with cameras and back, as the Windows dialogs under
// Wine are worked in tests/integration/wine_dialogs_test.cpp: the same
// clicks, texts and answers through the fake window. The settings file after
// each step is what the Windows DLL must write too; with
// QUARO7_DIALOG_REFERENCE set to a directory the files are written there
// (step1.xml ...) for the Wine test to compare with.
#include <cstdlib>
#include <thread>

#include "domesim/domesim.h"
#include "ui/setup_dlg.h"
#include "ui_dialog_fixture.h"

namespace uitest {
namespace {

using uifake::FakeWindow;
using Strings = std::vector<std::string>;

constexpr int kTree = 1008;

class DialogFlowTest : public DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    FakePorts({"COM7", "COM27", "COM29"}, {"7"});
    sim_.Publish(dir_, 7);
  }
  int Configure(int number) { return RunDriverSetup(Driver(), toolkit_, number, nullptr); }
  // The settings file as this step left it, kept for the Wine test.
  void Step(int step) {
    const std::string text = SettingsText();
    steps_.push_back(text);
    const char* out = std::getenv("QUARO7_DIALOG_REFERENCE");
    if (out != nullptr && *out != '\0')
      settings_test::WriteFile(std::string(out) + "/step" + std::to_string(step) + ".xml", text);
  }
  // Ends every open dialog from another thread, as a host's VRT_CamCloseUi.
  static void CloseUiFromAnotherThread() {
    std::thread closer([] { Driver().KillAllWindows(); });
    closer.join();
  }

  domesim::DomeSimulator sim_;
  std::vector<std::string> steps_;
};

TEST_F(DialogFlowTest, ConnectionAndCamerasAddedConfiguredAndRemoved) {
  // 1: a connection on the simulated port.
  toolkit_.Queue(ui::kDlgDriverSetup, [&](FakeWindow& w) {
    w.Click(1010);
    Step(1);
    // 2: a camera on it, tried on the line first.
    w.Click(1013);
    Step(2);
    // 3: the camera configured again.
    w.ClickTreeItemText(kTree, "005 [003]: Gate");
    w.Click(1012);
    Step(3);
    w.Click(1015);
    w.Click(1);
  });
  toolkit_.Queue(ui::kDlgCommSetup, [&](FakeWindow& w) {
    EXPECT_EQ(w.EntryTexts(1029),
              (Strings{"COM7", "COM27 Not Accessible", "COM29 Not Accessible"}));
    w.Type(1014, "Line A");
    w.Choose(1029, 0);
    w.Click(1);
  });
  toolkit_.Queue(ui::kDlgCameraSetup, [&](FakeWindow& w) {
    EXPECT_EQ(w.GetText(1051), "1.23, 4.56");
    w.Type(1010, "5");
    w.Type(1011, "Gate");
    w.Type(1013, "3");
    w.Type(1050, "128");
    w.Click(1024);
    EXPECT_EQ(w.GetText(1026).rfind("Found. Delay ", 0), 0u) << w.GetText(1026);
    w.Click(1022);
    w.Click(1);
  });
  toolkit_.Answer(ui::kAnswerYes);  // the reset
  toolkit_.Queue(ui::kDlgCameraSetup, [&](FakeWindow& w) {
    EXPECT_EQ(w.GetText(1011), "Gate");
    w.Type(1011, "Gate House");
    w.Type(1043, "64");
    w.Choose(1054, 1);
    w.Click(1);
  });
  toolkit_.Queue(ui::kDlgAbout, [](FakeWindow& w) { w.Click(1); });
  EXPECT_EQ(Configure(-1), 1);
  ASSERT_EQ(steps_.size(), 3u);
  EXPECT_NE(steps_[0].find("<Name value=\"Line A\">"), std::string::npos);
  EXPECT_NE(steps_[1].find("<Name value=\"Gate\">"), std::string::npos);
  EXPECT_NE(steps_[2].find("<Name value=\"Gate House\">"), std::string::npos);
  EXPECT_EQ(sim_.State(128, 3).resets, 1);

  // 4: the host asks for a camera number no camera has; then closes the
  // dialogs from another thread.
  toolkit_.Queue(ui::kDlgDriverSetup, [&](FakeWindow& w) {
    w.FireTimer(CVRTSetupDlg::kStartTimer);
    CloseUiFromAnotherThread();
    EXPECT_TRUE(w.WaitForPostedEnd(2000));
  });
  toolkit_.Queue(ui::kDlgSelectComm, [](FakeWindow& w) {
    EXPECT_FALSE(w.IsEnabled(1));
    EXPECT_EQ(w.EntryTexts(1013), (Strings{"[COM7]: Line A"}));
    w.Choose(1013, 0);
    w.Click(1);
  });
  toolkit_.Queue(ui::kDlgCameraSetup, [](FakeWindow& w) {
    EXPECT_EQ(w.GetText(1010), "10");
    w.Type(1011, "Yard");
    w.Type(1013, "4");
    w.Type(1050, "128");
    w.Click(1);
  });
  EXPECT_EQ(Configure(9), -12);
  Step(4);

  // 5: the host opens an existing camera's setup and closes it at once.
  toolkit_.Queue(ui::kDlgDriverSetup,
                 [&](FakeWindow& w) { w.FireTimer(CVRTSetupDlg::kStartTimer); });
  toolkit_.Queue(ui::kDlgCameraSetup, [](FakeWindow& w) {
    EXPECT_EQ(w.GetText(1011), "Gate House");
    CloseUiFromAnotherThread();
    EXPECT_TRUE(w.WaitForPostedEnd(2000));
  });
  EXPECT_EQ(Configure(4), -12);
  EXPECT_EQ(SettingsText(), steps_.back());

  // 6 and 7: the first camera removed, then the connection (No first).
  toolkit_.Queue(ui::kDlgDriverSetup, [&](FakeWindow& w) {
    w.ClickTreeItemText(kTree, "005 [003]: Gate House");
    w.Click(1014);
    Step(5);
    w.ClickTreeItemText(kTree, "[COM7]  Line A");
    w.Click(1011);
    EXPECT_EQ(SettingsText(), steps_.back());
    w.Click(1011);
    EXPECT_EQ(w.TreeDump(), "");
    Step(6);
    w.Close();
  });
  toolkit_.Answer(ui::kAnswerYes);
  toolkit_.Answer(ui::kAnswerNo);
  toolkit_.Answer(ui::kAnswerYes);
  EXPECT_EQ(Configure(-1), -12);
  EXPECT_EQ(toolkit_.Unanswered, 0);
  EXPECT_EQ(Connections().size(), 0u);
  ASSERT_EQ(steps_.size(), 6u);
  EXPECT_NE(steps_[3].find("<Name value=\"Yard\">"), std::string::npos);
  EXPECT_EQ(steps_[4].find("Gate House"), std::string::npos);
  EXPECT_EQ(steps_[5].find("comm1"), std::string::npos);
}

}  // namespace
}  // namespace uitest
