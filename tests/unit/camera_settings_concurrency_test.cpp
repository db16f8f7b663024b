// The camera setup dialog changes a camera while the line's worker ends the
// camera's relay pulses: the worker reads the camera's addresses, relay
// functions, monitor and WaitForResponse holding the line lock only, so the
// dialog's changes must hold it too. Run under ThreadSanitizer, which
// reports the accesses the locks do not order.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "comm/scheduled_task.h"
#include "domesim/domesim.h"
#include "platform/tick_clock.h"
#include "ui/camera_setup_dlg.h"
#include "ui_dialog_fixture.h"

namespace {

using uifake::FakeWindow;
using Dlg = CVRTCameraSetupDlg;

class CameraSettingsConcurrencyTest : public uitest::DialogTest {
 protected:
  void SetUp() override {
    uitest::DialogTest::SetUp();
    sim_.Publish(dir_, 9);
    line_ = AddConnection("Line A", 9);
    camera_ = AddCamera(line_, 4, 12, "Gate");
    ASSERT_EQ(camera_->CreateRelays(camera_->KeyPath, nullptr), 3);
    // A host has the camera open: the line and its worker run throughout.
    ASSERT_EQ(camera_->Open(), 1);
  }
  void TearDown() override {
    camera_->Close();
    uitest::DialogTest::TearDown();
  }
  // Pulse ends of the camera's three relays, one due every periodMs from
  // now on. They are handed over before any dialog runs, so that nothing
  // but the line lock orders the worker's pass against the dialog.
  void SchedulePulseEnds(int count, uint32_t periodMs) {
    const uint32_t now = platform::TickCount();
    for (int i = 0; i < count; ++i) {
      line_->AddTask(std::make_unique<CRelayPulseTask>(
          camera_->GetRelayAt(i % 3), periodMs * static_cast<uint32_t>(i + 1), camera_, now));
    }
  }
  bool WaitForNoTasks(int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (line_->PendingTasks() != 0) {
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
  }

  domesim::DomeSimulator sim_;
  CVRTComm* line_ = nullptr;
  CVRTCamera* camera_ = nullptr;
};

TEST_F(CameraSettingsConcurrencyTest, TheWorkerEndsPulsesWhileTheCameraDialogChangesTheCamera) {
  constexpr int kRounds = 6;
  // Each round takes some 300 ms (the version read at the dialog's start
  // waits twice 150 ms); the pulse ends cover all of them.
  SchedulePulseEnds(kRounds * 20, 20);
  for (int round = 0; round < kRounds; ++round) {
    const bool odd = round % 2 == 1;
    Dlg dialog(Driver(), toolkit_, line_);
    dialog.Camera = camera_;
    toolkit_.Queue(ui::kDlgCameraSetup, [&](FakeWindow& w) {
      // The menu takes the box's state for its exchanges at once.
      w.Click(Dlg::kWaitForResponse);
      w.Click(Dlg::kMenu);
      w.Click(Dlg::kMenu);
      w.Choose(Dlg::kAux1List, round % 4);
      w.Type(Dlg::kAddressEdit, odd ? "13" : "12");
      w.Type(Dlg::kNodeEdit, odd ? "0" : "128");
      w.Type(Dlg::kMonitorEdit, odd ? "2" : "1");
      w.Click(1);
    });
    ASSERT_EQ(dialog.DoModal(), ui::kResultOk) << round;
  }
  EXPECT_TRUE(WaitForNoTasks(5000));
  // The last round's values.
  EXPECT_EQ(camera_->SysID, 13);
  EXPECT_EQ(camera_->NodeAddress, 0);
  EXPECT_EQ(camera_->ControlMonitor, 2);
  EXPECT_EQ(camera_->Aux1Func, 1);
  EXPECT_EQ(toolkit_.Unanswered, 0);
}

}  // namespace
