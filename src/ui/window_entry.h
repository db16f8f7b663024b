// A dialog's entry in the driver's list of open windows, through which the
// driver ends the dialog from any thread (the end is posted to the dialog's
// own thread). The dialog enters it once its window exists and leaves it
// before the window goes.
#pragma once

#include "driver/driver.h"
#include "ui/dialog.h"

namespace ui {

class WindowEntry final : public CVRTWindow {
 public:
  explicit WindowEntry(CDialog& dialog) : dialog_(dialog) {}
  ~WindowEntry() override { Leave(); }
  WindowEntry(const WindowEntry&) = delete;
  WindowEntry& operator=(const WindowEntry&) = delete;

  void Enter(CVRTDriver& driver) {
    if (driver_ != nullptr) return;
    driver_ = &driver;
    driver.AddWindow(this);
  }
  void Leave() {
    if (driver_ == nullptr) return;
    driver_->RemoveWindow(this);
    driver_ = nullptr;
  }

  void EndDialog(int result) override {
    if (DialogWindow* window = dialog_.Window()) window->PostEndDialog(result);
  }

 private:
  CDialog& dialog_;
  CVRTDriver* driver_ = nullptr;
};

}  // namespace ui
