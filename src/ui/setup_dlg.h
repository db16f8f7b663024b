// CVRTSetupDlg, "QUARO7K7_PTZ Driver Setup": the tree of connections,
// cameras and presets, with the buttons that configure, add and remove them.
// Every action saves before it returns; closing the dialog undoes nothing.
#pragma once

#include <functional>
#include <string>

#include "ui/control_ids.h"
#include "ui/dialog.h"

class CVRTCamera;
class CVRTComm;
class CVRTDriver;

class CVRTSetupDlg : public ui::CDialog, public ui::DriverSetupIds {
 public:
  // What the dialog does 20 ms after it is shown.
  enum Pending { kPendingNone = 0, kPendingSetupCamera = 1, kPendingNewCamera = 2 };

  // The start timer.
  enum { kStartTimer = 1010, kStartDelayMs = 20 };

  CVRTSetupDlg(CVRTDriver& driver, ui::Toolkit& toolkit);

  int PendingAction = kPendingNone;
  // The host's camera number given to the configure call, or -1.
  int StartCamera = -1;

  int OnInitDialog() override;
  void OnCommand(int controlId, ui::Notify code) override;
  void OnTimer(int timerId) override;
  void OnOk() override;
  void OnCommandUpdate() override;

  void FillTree();
  void OnCommConfigure();
  int SetupNewConnection();
  void OnCommRemove();
  int SetupCamera();
  int SetupNewCamera();
  void OnCamRemove();
  void OnAbout();
  // Runs a remove; false when its save failed (logged, the tree refilled
  // and the user told).
  bool Removed(const char* where, const std::function<void()>& remove);

  // The selected item's connection or camera, when it is one that the
  // driver still has; nullptr otherwise.
  CVRTComm* GetSelectedConnection();
  CVRTCamera* GetSelectedCamera();

  // The texts of the tree's items.
  static std::string ConnectionText(CVRTComm* connection);
  static std::string CameraText(CVRTCamera* camera);

 private:
  bool SelectedImageIs(int image);

  CVRTDriver& driver_;
};

// The configure call: shows the driver setup dialog with toolkit for the
// host's camera number (-1: plain setup; an existing camera: its camera
// setup opens at once; another number: a new camera with that number).
// 1 when the dialog ended with OK, -12 otherwise, -3 for a number below -1.
int RunDriverSetup(CVRTDriver& driver, ui::Toolkit& toolkit, int cameraNumber, void* parentWindow);
