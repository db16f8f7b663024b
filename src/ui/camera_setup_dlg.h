// CVRTCameraSetupDlg, "Camera Setup": edits one camera and tests it on the
// line (ping, reset, software versions, the dome's menu keys).
#pragma once

#include "ui/dialog.h"

class CVRTCamera;
class CVRTComm;
class CVRTDriver;

class CVRTCameraSetupDlg : public ui::CDialog {
 public:
  CVRTCameraSetupDlg(CVRTDriver& driver, ui::Toolkit& toolkit, CVRTComm* connection);
  ~CVRTCameraSetupDlg() override;

  // The camera being edited (not owned); set before the dialog is shown.
  CVRTCamera* Camera = nullptr;

  int OnInitDialog() override;
  void OnCommand(int controlId, ui::Notify code) override;
  void OnOk() override;
  void OnCancel() override;
  void OnDestroy() override;

 protected:
  CVRTDriver& driver_;
  CVRTComm* connection_;
};
