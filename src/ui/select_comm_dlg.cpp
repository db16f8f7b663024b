#include "ui/select_comm_dlg.h"

CVRTSelectCommDlg::CVRTSelectCommDlg(CVRTDriver& driver, ui::Toolkit& toolkit)
    : ui::CDialog(toolkit, ui::kDlgSelectComm), driver_(driver) {}

CVRTSelectCommDlg::~CVRTSelectCommDlg() = default;

int CVRTSelectCommDlg::OnInitDialog() { return 1; }

void CVRTSelectCommDlg::OnCommand(int /*controlId*/, ui::Notify /*code*/) {}

void CVRTSelectCommDlg::OnOk() { EndDialog(ui::kResultOk); }
