// The driver's list of open dialogs: every dialog kind is in it exactly
// while its window is up, whatever it does itself, and a close from another
// thread (the host's VRT_CamCloseUi) ends it, nested dialogs and their
// message boxes included.
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "quaro7k7_ptz.h"
#include "ui/about_dlg.h"
#include "ui/camera_setup_dlg.h"
#include "ui/comm_setup_dlg.h"
#include "ui/select_comm_dlg.h"
#include "ui/setup_dlg.h"
#include "ui_dialog_fixture.h"

namespace {

using uifake::FakeWindow;

// A dialog class with the list counted as its window is initialised and
// as it goes (OnDestroy runs with the window still attached).
template <typename Dialog>
class Counted : public Dialog {
 public:
  template <typename... Args>
  explicit Counted(Args&&... args) : Dialog(std::forward<Args>(args)...) {}
  int OnInitDialog() override {
    AtInit = Driver().WindowCount();
    return Dialog::OnInitDialog();
  }
  void OnDestroy() override {
    Dialog::OnDestroy();
    AtDestroy = Driver().WindowCount();
  }
  int AtInit = -1;
  int AtDestroy = -1;
};

// What the list held in one run of a dialog.
struct Shown {
  int result = -1;
  int atInit = -1;
  int atDestroy = -1;
  int after = -1;
};

// Shows one dialog object twice (a dialog shown again enters again).
template <typename Dialog>
std::vector<Shown> ShowTwice(Dialog& dialog) {
  EXPECT_EQ(Driver().WindowCount(), 0) << "in the list before it is shown";
  std::vector<Shown> runs(2);
  for (Shown& run : runs) {
    run.result = dialog.DoModal();
    run.atInit = dialog.AtInit;
    run.atDestroy = dialog.AtDestroy;
    run.after = Driver().WindowCount();
  }
  return runs;
}

struct Kind {
  const char* name;
  int resourceId;
  std::function<std::vector<Shown>(ui::Toolkit&, CVRTComm*, CVRTCamera*)> show;
};

const Kind kKinds[] = {
    {"driver setup", ui::kDlgDriverSetup,
     [](ui::Toolkit& toolkit, CVRTComm*, CVRTCamera*) {
       Counted<CVRTSetupDlg> dialog(Driver(), toolkit);
       return ShowTwice(dialog);
     }},
    {"camera setup", ui::kDlgCameraSetup,
     [](ui::Toolkit& toolkit, CVRTComm* line, CVRTCamera* camera) {
       Counted<CVRTCameraSetupDlg> dialog(Driver(), toolkit, line);
       dialog.Camera = camera;
       return ShowTwice(dialog);
     }},
    {"connection setup", ui::kDlgCommSetup,
     [](ui::Toolkit& toolkit, CVRTComm* line, CVRTCamera*) {
       Counted<CVRTCommSetupDlg> dialog(Driver(), toolkit);
       dialog.Connection = line;
       return ShowTwice(dialog);
     }},
    {"select connection", ui::kDlgSelectComm,
     [](ui::Toolkit& toolkit, CVRTComm*, CVRTCamera*) {
       Counted<CVRTSelectCommDlg> dialog(Driver(), toolkit);
       return ShowTwice(dialog);
     }},
    {"about", ui::kDlgAbout,
     [](ui::Toolkit& toolkit, CVRTComm*, CVRTCamera*) {
       Counted<CAbout> dialog(Driver(), toolkit);
       return ShowTwice(dialog);
     }},
};

class WindowListTest : public uitest::DialogTest {
 protected:
  void SetUp() override {
    uitest::DialogTest::SetUp();
    FakePorts({"COM9"}, {});
    // A line whose port does not exist: the camera dialog says so as it
    // opens, in a message box.
    line_ = AddConnection("Line A", 9);
    camera_ = AddCamera(line_, 4, 12, "Gate");
  }
  static void CloseUiFromAnotherThread() {
    std::thread([] { VRT_CamCloseUi(); }).join();
  }

  CVRTComm* line_ = nullptr;
  CVRTCamera* camera_ = nullptr;
};

TEST_F(WindowListTest, EveryDialogIsListedWhileItsWindowIsUpAndEndsOnACloseFromAnotherThread) {
  for (const Kind& kind : kKinds) {
    SCOPED_TRACE(kind.name);
    std::vector<int> inScript;
    std::vector<bool> ended;
    toolkit_.On(kind.resourceId, [&](FakeWindow& w) {
      inScript.push_back(Driver().WindowCount());
      CloseUiFromAnotherThread();
      ended.push_back(w.WaitForPostedEnd(2000));
    });
    for (const Shown& run : kind.show(toolkit_, line_, camera_)) {
      EXPECT_EQ(run.result, ui::kResultCancel);
      EXPECT_EQ(run.atInit, 1);
      EXPECT_EQ(run.atDestroy, 1);
      EXPECT_EQ(run.after, 0);
    }
    EXPECT_EQ(inScript, (std::vector<int>{1, 1}));
    EXPECT_EQ(ended, (std::vector<bool>{true, true}));
  }
  // A close with nothing up has nothing to end, and leaves no rule behind.
  CloseUiFromAnotherThread();
  EXPECT_FALSE(Driver().ClosingWindows());
}

TEST_F(WindowListTest, OneCloseEndsTheCameraDialogOverTheDriverDialogWithItsMessageBoxUp) {
  std::promise<void> boxUp;
  bool boxEnded = false;
  bool driverEnded = false;
  int listedWithBoxUp = -1;
  toolkit_.WhileMessageBox = [&](FakeWindow& w, const uifake::MessageRecord& box) {
    if (box.dialogId != ui::kDlgCameraSetup || listedWithBoxUp != -1) return;
    listedWithBoxUp = Driver().WindowCount();
    boxUp.set_value();
    // The posted end takes the box down with the dialog.
    boxEnded = w.WaitForPostedEnd(10000);
  };
  // No script for the camera dialog: it must end before its user sees it.
  toolkit_.Queue(ui::kDlgDriverSetup, [&](FakeWindow& w) {
    EXPECT_TRUE(w.FireTimer(CVRTSetupDlg::kStartTimer));
    driverEnded = w.WaitForPostedEnd(10000);
  });
  auto configure = std::async(std::launch::async,
                              [&] { return RunDriverSetup(Driver(), toolkit_, 4, nullptr); });
  ASSERT_EQ(boxUp.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_EQ(VRT_CamCloseUi(), 1);
  EXPECT_EQ(configure.get(), -12);
  // The camera dialog was listed while it said its line would not open.
  EXPECT_EQ(listedWithBoxUp, 2);
  EXPECT_TRUE(boxEnded);
  EXPECT_TRUE(driverEnded);
  EXPECT_EQ(toolkit_.Runs(ui::kDlgCameraSetup), 1);
  EXPECT_EQ(Driver().WindowCount(), 0);
  EXPECT_FALSE(Driver().ClosingWindows());
}

TEST_F(WindowListTest, ACloseAfterTheUserPressedOkDoesNotTurnTheAnswerIntoCancel) {
  // The dialog stays listed until its window goes; an end posted after
  // its OK finds it ended and changes nothing.
  toolkit_.Queue(ui::kDlgDriverSetup, [&](FakeWindow& w) {
    w.Click(ui::kIdOk);
    EXPECT_EQ(Driver().WindowCount(), 1);
    CloseUiFromAnotherThread();
    w.DeliverPostedEnd();
    EXPECT_EQ(w.Result(), ui::kResultOk);
  });
  EXPECT_EQ(RunDriverSetup(Driver(), toolkit_, -1, nullptr), 1);
  EXPECT_EQ(Driver().WindowCount(), 0);
  EXPECT_FALSE(Driver().ClosingWindows());
}

}  // namespace
