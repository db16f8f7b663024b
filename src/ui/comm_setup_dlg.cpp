#include "ui/comm_setup_dlg.h"

CVRTCommSetupDlg::CVRTCommSetupDlg(CVRTDriver& driver, ui::Toolkit& toolkit)
    : ui::CDialog(toolkit, ui::kDlgCommSetup), driver_(driver) {}

CVRTCommSetupDlg::~CVRTCommSetupDlg() = default;

int CVRTCommSetupDlg::OnInitDialog() { return 1; }

void CVRTCommSetupDlg::OnOk() { EndDialog(ui::kResultOk); }

void CVRTCommSetupDlg::OnCancel() { EndDialog(ui::kResultCancel); }
