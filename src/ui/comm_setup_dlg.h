// CVRTCommSetupDlg, "Connection Setup": the name and the serial port of one
// connection, with the system's ports listed and probed.
#pragma once

#include "ui/dialog.h"

class CVRTComm;
class CVRTDriver;

class CVRTCommSetupDlg : public ui::CDialog {
 public:
  CVRTCommSetupDlg(CVRTDriver& driver, ui::Toolkit& toolkit);
  ~CVRTCommSetupDlg() override;

  // The connection being edited (not owned); set before the dialog is shown.
  CVRTComm* Connection = nullptr;
  // 1 when the connection is new and not yet in the driver's list.
  int IsNew = 0;

  int OnInitDialog() override;
  void OnOk() override;
  void OnCancel() override;

 protected:
  CVRTDriver& driver_;
};
