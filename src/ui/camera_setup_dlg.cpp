#include "ui/camera_setup_dlg.h"

CVRTCameraSetupDlg::CVRTCameraSetupDlg(CVRTDriver& driver, ui::Toolkit& toolkit,
                                       CVRTComm* connection)
    : ui::CDialog(toolkit, ui::kDlgCameraSetup), driver_(driver), connection_(connection) {}

CVRTCameraSetupDlg::~CVRTCameraSetupDlg() = default;

int CVRTCameraSetupDlg::OnInitDialog() { return 1; }

void CVRTCameraSetupDlg::OnCommand(int /*controlId*/, ui::Notify /*code*/) {}

void CVRTCameraSetupDlg::OnOk() { EndDialog(ui::kResultOk); }

void CVRTCameraSetupDlg::OnCancel() { EndDialog(ui::kResultCancel); }

void CVRTCameraSetupDlg::OnDestroy() {}
