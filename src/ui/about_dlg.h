// CAbout, "About QUARO7K7_PTZ Driver": the driver's name and version.
#pragma once

#include "ui/dialog.h"

class CVRTDriver;

class CAbout : public ui::CDialog {
 public:
  // In the driver's window list while it is up, so that the driver can
  // close it.
  CAbout(CVRTDriver& driver, ui::Toolkit& toolkit);

  int OnInitDialog() override;

 private:
  CVRTDriver& driver_;
};
