// CVRTCameraSetupDlg, "Camera Setup": edits one camera and tests it on the
// line (ping, reset, software versions, the dome's menu keys).
#pragma once

#include "camera/camera_keys.h"
#include "camera/camera_settings_value.h"
#include "ui/control_ids.h"
#include "ui/dialog.h"

class CVRTCamera;
class CVRTComm;
class CVRTDriver;

class CVRTCameraSetupDlg : public ui::CDialog, public ui::CameraSetupIds {
 public:
  static constexpr int kMaxRelays = camera_keys::Of(camera_keys::NofRelays).high;
  static constexpr int kMaxPresetLocations = camera_keys::Of(camera_keys::NofStorageLocations).high;
  static constexpr int kNameLimit = static_cast<int>(CameraSettings::kMaxNameLength);
  // Node addresses 0..127 name a node; 128 means the dome has none.
  static constexpr int kHighestNodeAddress = camera_keys::Of(camera_keys::NodeAddress).high;

  CVRTCameraSetupDlg(CVRTDriver& driver, ui::Toolkit& toolkit, CVRTComm* connection);

  // The camera being edited (not owned); set before the dialog is shown.
  CVRTCamera* Camera = nullptr;

  int OnInitDialog() override;
  void OnCommand(int controlId, ui::Notify code) override;
  void OnOk() override;
  void OnCancel() override;
  void OnDestroy() override;

 protected:
  // Puts the camera's values into the controls; false when the relay count
  // is above the maximum (the caller warns).
  bool FillControls();
  void SetMenuButtons(bool enabled);
  void OnSpeedChoice(int controlId);
  void OnMenu();
  void OnMenuKey(int key);
  void OnPing();
  void OnReset();
  // The fields as the camera's settings (its values the dialog does not
  // show stay as they are).
  CameraSettings ReadControls();
  // What the dialog shows, resets and logs for a value the check refused.
  void ShowRefusal(const CameraSettingsCheck& check);
  // The OK: reads the fields, checks all of them, asks about relays sharing
  // a function, then gives the camera its settings and saves it once. False
  // when anything refused or the save failed (its message was shown; the
  // camera is as it was) and the dialog stays open.
  bool CheckAndApply();
  void RestoreWaitForResponse();

  CVRTDriver& driver_;
  CVRTComm* connection_;
  bool openedConnection_ = false;
  int savedWaitForResponse_ = 1;
  bool menuMode_ = false;
  bool ended_ = false;
};
