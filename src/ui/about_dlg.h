// CAbout, "About QUARO7K7_PTZ Driver": the driver's name and version.
#pragma once

#include "ui/dialog.h"

class CVRTDriver;

class CAbout : public ui::CDialog {
 public:
  // Enters the driver's window list at once, so that the driver can close
  // it; leaves it when it goes.
  CAbout(CVRTDriver& driver, ui::Toolkit& toolkit);
  ~CAbout() override;

  int OnInitDialog() override;
  void OnDestroy() override;

 private:
  CVRTDriver& driver_;
};
