// A dialog's entry in the driver's list of open windows, through which the
// driver ends the dialog from any thread (the end is posted to the dialog's
// own thread, CDialog::PostEndDialog). The dialog enters it once its window
// exists and leaves it before the window goes.
#pragma once

#include "driver/driver.h"
#include "ui/dialog.h"

namespace ui {

class WindowEntry final {
 public:
  explicit WindowEntry(CDialog& dialog) : dialog_(dialog) {}
  ~WindowEntry() { Leave(); }
  WindowEntry(const WindowEntry&) = delete;
  WindowEntry& operator=(const WindowEntry&) = delete;

  void Enter(CVRTDriver& driver) {
    if (driver_ != nullptr) return;
    driver_ = &driver;
    driver.AddWindow(&dialog_);
  }
  void Leave() {
    if (driver_ == nullptr) return;
    driver_->RemoveWindow(&dialog_);
    driver_ = nullptr;
  }

 private:
  CDialog& dialog_;
  CVRTDriver* driver_ = nullptr;
};

}  // namespace ui
