// CVRTSelectCommDlg, "Choose Connection for the New Camera": the user picks
// the connection a new camera goes on, or creates one on the spot.
#pragma once

#include "ui/control_ids.h"
#include "ui/dialog.h"

class CVRTComm;
class CVRTDriver;

class CVRTSelectCommDlg : public ui::CDialog, public ui::SelectCommIds {
 public:
  CVRTSelectCommDlg(CVRTDriver& driver, ui::Toolkit& toolkit);

  // The chosen connection (not owned) once the dialog ended with OK.
  CVRTComm* SelectedConnection = nullptr;

  int OnInitDialog() override;
  void OnCommand(int controlId, ui::Notify code) override;
  void OnOk() override;

 protected:
  void FillList();
  void OnCreateNew();

  CVRTDriver& driver_;
};
