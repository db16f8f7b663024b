#include "ui/camera_setup_dlg.h"

#include <cstdio>
#include <mutex>
#include <string>

#include "camera/camera.h"
#include "comm/comm.h"
#include "driver/driver.h"
#include "quaro7k7_ptz.h"
#include "settings/xml_settings.h"
#include "ui/dialog_numbers.h"

namespace {

// The ranges the dialog keeps the camera's values in, and the values it
// falls back on, are those of the camera's keys.
constexpr const camera_keys::NumberKey& kSpeedLevel = camera_keys::Of(camera_keys::CamAccFactor);
constexpr const camera_keys::NumberKey& kPresetLocations =
    camera_keys::Of(camera_keys::NofStorageLocations);
constexpr const camera_keys::NumberKey& kPresetSpeed =
    camera_keys::Of(camera_keys::DefaultPreposSpeed);
constexpr const camera_keys::NumberKey& kRelayCount = camera_keys::Of(camera_keys::NofRelays);
constexpr int kLowestSpeedLevel = kSpeedLevel.low;
constexpr int kHighestSpeedLevel = kSpeedLevel.high;
constexpr int kDefaultSpeedLevel = kSpeedLevel.initial;
constexpr int kDefaultPresetLocations = kPresetLocations.initial;
constexpr int kDefaultPresetSpeed = kPresetSpeed.initial;

// Menu keys of the dome's on-screen menu (command 47).
constexpr int kKeySet = 0, kKeyUp = 1, kKeyDown = 2, kKeyRight = 3, kKeyLeft = 4, kKeyMenu = 5;

const int kArrowButtons[] = {CVRTCameraSetupDlg::kLeft, CVRTCameraSetupDlg::kRight,
                             CVRTCameraSetupDlg::kDown, CVRTCameraSetupDlg::kUp,
                             CVRTCameraSetupDlg::kSet};
const int kRelayLists[] = {CVRTCameraSetupDlg::kAux1List, CVRTCameraSetupDlg::kAux2List,
                           CVRTCameraSetupDlg::kAux3List};

std::string Number(int value) { return std::to_string(value); }

}  // namespace

CVRTCameraSetupDlg::CVRTCameraSetupDlg(CVRTDriver& driver, ui::Toolkit& toolkit,
                                       CVRTComm* connection)
    : ui::CDialog(toolkit, ui::kDlgCameraSetup, &driver),
      driver_(driver),
      connection_(connection) {}

int CVRTCameraSetupDlg::OnInitDialog() {
  if (Camera == nullptr) {
    EndDialog(ui::kResultCancel);
    return 1;
  }
  // The line tests need the line: the dialog opens it when nobody has.
  bool usable = connection_ != nullptr && connection_->IsOpen();
  if (connection_ != nullptr && !usable) usable = openedConnection_ = connection_->Open() == 1;
  if (!usable) {
    Win().MessageBox(ui::LoadString(ui::kStringCannotOpen), ui::MsgButtons::kOk,
                     ui::MsgIcon::kInformation);
  }
  Win().SetLimit(kNameEdit, kNameLimit);
  Win().SetLimit(kPresetSpeedEdit, 3);
  Win().SetLimit(kNodeEdit, 3);
  const bool relaysWithinBounds = FillControls();
  if (!relaysWithinBounds) {
    char text[80];
    std::snprintf(text, sizeof text, "Warning: too many relays in configuration! Maximum is %d",
                  kMaxRelays);
    Win().MessageBox(text, ui::MsgButtons::kOk, ui::MsgIcon::kExclamation);
  }
  {
    std::lock_guard<CVRTCamera> hold(*Camera);
    savedWaitForResponse_ = Camera->WaitForResponse;
    if (Camera->SysID == -1) {
      driver_.Log().WriteLine(
          "CAMERASETUPDLG.OnInitDialog: Camera setup dialog opened for new camera\n");
    } else {
      driver_.Log().WriteLine(
          "CAMERASETUPDLG.OnInitDialog: Camera %d (name: %s) setup dialog opened\n",
          Camera->TavoID + 1, Camera->Name.c_str());
    }
  }
  SetMenuButtons(false);
  Win().SetText(kVersionEdit, connection_ != nullptr ? connection_->QueryVersion() : "...");
  return 1;
}

bool CVRTCameraSetupDlg::FillControls() {
  std::lock_guard<CVRTCamera> hold(*Camera);
  CVRTCamera& camera = *Camera;
  ui::DialogWindow& win = Win();
  win.SetText(kNumberEdit, camera.TavoID == -1 ? std::string() : Number(camera.TavoID + 1));
  win.SetText(kAddressEdit, camera.SysID == -1 ? std::string() : Number(camera.SysID));
  win.SetText(kNameEdit, camera.Name);
  if (connection_ != nullptr) {
    win.SetText(kConnectionEdit, connection_->GetName());
    win.SetText(kPortEdit, "COM" + Number(connection_->GetComPort()));
  }
  win.SetText(kPresetCountEdit,
              Number(camera.NofStorageLocations == -1 ? kDefaultPresetLocations
                                                      : camera.NofStorageLocations));
  const bool speedOk = kPresetSpeed.InRange(camera.DefaultPreposSpeed);
  win.SetText(kPresetSpeedEdit, Number(speedOk ? camera.DefaultPreposSpeed : kDefaultPresetSpeed));
  win.SetText(kMonitorEdit, Number(camera.ControlMonitor == -1 ? 1 : camera.ControlMonitor));
  win.SetCheck(kLensSlow, camera.DefaultLensSlow != 0);
  const bool nodeOk = camera.NodeAddress >= 1 && camera.NodeAddress <= kHighestNodeAddress;
  win.SetText(kNodeEdit, Number(nodeOk ? camera.NodeAddress : 0));
  win.SetCheck(kWaitForResponse, camera.WaitForResponse != 0);

  const int relays = camera.NofRelays == -1 ? kRelayCount.minusOne : camera.NofRelays;
  win.SetText(kRelayCountEdit, Number(relays));
  for (int list : kRelayLists) win.Enable(list, false);
  for (int i = 0; i < relays && i < 3; ++i) {
    const int function = i == 0   ? camera.GetAux1Func()
                         : i == 1 ? camera.GetAux2Func()
                                  : camera.GetAux3Func();
    // An unset function shows (and, with OK, becomes) the plain output.
    win.Enable(kRelayLists[i], true);
    win.SetSelection(kRelayLists[i], function == -1 ? 0 : function);
  }

  win.SetRange(kSpeedBar, kLowestSpeedLevel, kHighestSpeedLevel);
  win.SetPosition(kSpeedBar, camera.CamAccFactor);
  const bool byDefault = camera.CamAccDefaultState == 1;
  win.SetCheck(kDefaultSpeed, byDefault);
  win.SetCheck(kCustomSpeed, !byDefault);
  if (!byDefault) {
    win.Enable(kSpeedBar, true);
    win.Enable(kSpeedMin, true);
    win.Enable(kSpeedMax, true);
  }
  return relays <= kMaxRelays;
}

void CVRTCameraSetupDlg::SetMenuButtons(bool enabled) {
  for (int button : kArrowButtons) Win().Enable(button, enabled);
}

void CVRTCameraSetupDlg::OnCommand(int controlId, ui::Notify code) {
  if (code != ui::Notify::kClicked || Camera == nullptr) return;
  switch (controlId) {
    case kDefaultSpeed:
    case kCustomSpeed:
      OnSpeedChoice(controlId);
      break;
    case kWaitForResponse:
      Win().SetCheck(kWaitForResponse, !Win().GetCheck(kWaitForResponse));
      break;
    case kMenu:
      OnMenu();
      break;
    case kUp:
      OnMenuKey(kKeyUp);
      break;
    case kDown:
      OnMenuKey(kKeyDown);
      break;
    case kRight:
      OnMenuKey(kKeyRight);
      break;
    case kLeft:
      OnMenuKey(kKeyLeft);
      break;
    case kSet:
      OnMenuKey(kKeySet);
      break;
    case kPing:
      OnPing();
      break;
    case kReset:
      OnReset();
      break;
    default:
      break;
  }
}

void CVRTCameraSetupDlg::OnSpeedChoice(int controlId) {
  if (!Win().GetCheck(controlId)) return;
  const bool custom = controlId == kCustomSpeed;
  Win().Enable(kSpeedBar, custom);
  Win().Enable(kSpeedMin, custom);
  Win().Enable(kSpeedMax, custom);
  if (!custom) Win().SetPosition(kSpeedBar, kDefaultSpeedLevel);
}

void CVRTCameraSetupDlg::OnMenu() {
  {
    // The menu's exchanges wait for answers as the box says, at once.
    std::lock_guard<CVRTCamera> hold(*Camera);
    Camera->SetWaitForResponse(Win().GetCheck(kWaitForResponse) ? 1 : 0);
    if (connection_ != nullptr) connection_->SendMenuKey(Camera, kKeyMenu);
  }
  menuMode_ = !menuMode_;
  SetMenuButtons(menuMode_);
}

void CVRTCameraSetupDlg::OnMenuKey(int key) {
  std::lock_guard<CVRTCamera> hold(*Camera);
  if (connection_ != nullptr) connection_->SendMenuKey(Camera, key);
}

void CVRTCameraSetupDlg::OnPing() {
  // The addresses as typed, not yet stored.
  const int address = ui::LeadingDigits(Win().GetText(kAddressEdit), 0, 99999);
  const int node = ui::LeadingDigits(Win().GetText(kNodeEdit), 0, 99999);
  Win().SetText(kPingResult, "Pinging ...");
  const int result = connection_ != nullptr ? connection_->Ping(node, address) : -1;
  if (result < 0) {
    Win().SetText(kPingResult, "Request timed out");
  } else {
    Win().SetText(kPingResult, "Found. Delay " + Number(result) + "ms");
  }
}

void CVRTCameraSetupDlg::OnReset() {
  if (Win().MessageBox(ui::LoadString(ui::kStringResetWarning), ui::MsgButtons::kYesNo,
                       ui::MsgIcon::kExclamation, ui::kAnswerNo) != ui::kAnswerYes) {
    return;
  }
  const int address = ui::LeadingDigits(Win().GetText(kAddressEdit), 0, 99999);
  const int node = ui::LeadingDigits(Win().GetText(kNodeEdit), 0, 99999);
  if (connection_ != nullptr) connection_->ResetCamera(node, address);
}

CameraSettings CVRTCameraSetupDlg::ReadControls() {
  ui::DialogWindow& win = Win();
  CameraSettings settings = CameraSettings::Of(*Camera);
  // The field shows the host's number counted from 1; 0 and below are no
  // camera number.
  int number = 0;
  if (ui::ParseNumber(win.GetText(kNumberEdit), &number)) {
    settings.TavoID = number > 0 ? number - 1 : -1;
    settings.NotANumber.reset(camera_keys::TavoID);
  } else {
    settings.NotANumber.set(camera_keys::TavoID);
  }
  settings.SetName(win.GetText(kNameEdit));
  settings.SetNumber(camera_keys::SysID, win.GetText(kAddressEdit));
  settings.SetNumber(camera_keys::NodeAddress, win.GetText(kNodeEdit));
  settings.SetNumber(camera_keys::ControlMonitor, win.GetText(kMonitorEdit));
  settings.SetNumber(camera_keys::NofStorageLocations, win.GetText(kPresetCountEdit));
  settings.SetNumber(camera_keys::DefaultPreposSpeed, win.GetText(kPresetSpeedEdit));
  settings.SetNumber(camera_keys::NofRelays, win.GetText(kRelayCountEdit));
  settings.WaitForResponse = win.GetCheck(kWaitForResponse) ? 1 : 0;
  settings.DefaultLensSlow = win.GetCheck(kLensSlow) ? 1 : 0;
  settings.CamAccFactor = win.GetPosition(kSpeedBar);
  // The state changes only with the choice: a stored state the buttons
  // cannot show (neither 0 nor 1) stays as long as "Custom" stays checked.
  const bool byDefault = win.GetCheck(kDefaultSpeed);
  if (byDefault != (settings.CamAccDefaultState == 1)) settings.CamAccDefaultState = byDefault;
  // A list without a selection keeps its relay on the plain output.
  int32_t* functions[] = {&settings.Aux1Func, &settings.Aux2Func, &settings.Aux3Func};
  for (int i = 0; i < 3; ++i) {
    const int selected = win.GetSelection(kRelayLists[i]);
    *functions[i] = selected < 0 ? 0 : selected;
  }
  return settings;
}

void CVRTCameraSetupDlg::ShowRefusal(const CameraSettingsCheck& check) {
  using Check = CameraSettingsCheck;
  ui::DialogWindow& win = Win();
  ui::MsgIcon icon = ui::MsgIcon::kExclamation;
  switch (check.problem) {
    case Check::kAccepted:
    case Check::kNumber:  // refused without a word
      return;
    case Check::kPresetCount:
      // The field falls back on the default; the camera keeps its value.
      win.SetText(kPresetCountEdit, Number(kDefaultPresetLocations));
      icon = ui::MsgIcon::kQuestion;
      break;
    case Check::kPresetSpeed:
      win.SetText(kPresetSpeedEdit, Number(kDefaultPresetSpeed));
      icon = ui::MsgIcon::kQuestion;
      break;
    case Check::kRelayCount:
    case Check::kNumberTaken:
      icon = ui::MsgIcon::kInformation;
      break;
    default:
      break;
  }
  win.MessageBox(check.message, ui::MsgButtons::kOk, icon);
  if (check.problem == Check::kPresetCount)
    driver_.Log().WriteLine("CAMERASETUPDLG.OnPrepPrgPartition: FAILED\n");
  if (check.problem == Check::kPresetSpeed)
    driver_.Log().WriteLine("CAMERASETUPDLG.GetData: FAILED\n");
}

bool CVRTCameraSetupDlg::CheckAndApply() {
  const CameraSettings settings = ReadControls();
  const CameraSettingsCheck check = driver_.CheckCamera(settings, connection_, Camera);
  if (!check.Accepted()) {
    ShowRefusal(check);
    return false;
  }
  if (SharesRelayFunction(settings) &&
      Win().MessageBox(kSharedRelayFunctionQuestion, ui::MsgButtons::kYesNo,
                       ui::MsgIcon::kInformation) != ui::kAnswerYes) {
    return false;
  }
  // A failed save leaves the camera as the file has it; the dialog stays
  // open with what was typed, to try again or cancel.
  int saved = QUARO7_EXCEPTION;
  try {
    saved = driver_.ApplyCameraSettings(Camera, settings);
  } catch (const SettingsError&) {
  }
  if (saved == 1) return true;
  driver_.Log().WriteLine("CAMERASETUPDLG.OnOk: Camera %d (name: %s) save failed (error %d).\n",
                          settings.TavoID + 1, settings.Name.c_str(), saved);
  Win().MessageBox(ui::LoadString(ui::kStringSaveFailed), ui::MsgButtons::kOk,
                   ui::MsgIcon::kExclamation);
  return false;
}

void CVRTCameraSetupDlg::OnOk() {
  if (Camera == nullptr) {
    EndDialog(ui::kResultCancel);
    return;
  }
  if (!CheckAndApply()) return;
  ended_ = true;
  if (Camera->TavoID < 0) {
    driver_.Log().WriteLine("CAMERASETUPDLG.OnOk: Camera setup dialog closed with no action\n");
  } else {
    driver_.Log().WriteLine("CAMERASETUPDLG.OnOk: Camera %d (name: %s) setup dialog closed\n",
                            Camera->TavoID + 1, Camera->Name.c_str());
  }
  EndDialog(ui::kResultOk);
}

void CVRTCameraSetupDlg::RestoreWaitForResponse() {
  ended_ = true;
  if (Camera == nullptr) return;
  Camera->SetWaitForResponse(savedWaitForResponse_);
}

void CVRTCameraSetupDlg::OnCancel() {
  RestoreWaitForResponse();
  if (Camera != nullptr) {
    driver_.Log().WriteLine(
        "CAMERASETUPDLG.OnInitDialog: Camera %d (name: %s) setup dialog closed\n",
        Camera->TavoID + 1, Camera->Name.c_str());
  }
  EndDialog(ui::kResultCancel);
}

void CVRTCameraSetupDlg::OnDestroy() {
  // Ended by the driver rather than by OK or Cancel: as Cancel.
  if (!ended_ && Camera != nullptr) RestoreWaitForResponse();
  // A host that opened a camera on the line meanwhile keeps it open.
  if (openedConnection_ && connection_ != nullptr && connection_->OpenCount() == 0)
    connection_->Close();
  openedConnection_ = false;
}
