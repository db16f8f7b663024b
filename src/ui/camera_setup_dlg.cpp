#include "ui/camera_setup_dlg.h"

#include <cstdio>
#include <mutex>
#include <string>

#include "camera/camera.h"
#include "comm/comm.h"
#include "driver/driver.h"
#include "ui/dialog_numbers.h"

namespace {

constexpr int kStringFillAllFields = 3;
constexpr int kStringCannotOpen = 16;
constexpr int kStringIllegalNode = 17;
constexpr int kStringResetWarning = 18;

// The ranges the dialog keeps the camera's values in, and the values it
// falls back on, are those of the camera's keys.
constexpr const camera_keys::NumberKey& kSpeedLevel = camera_keys::Of(camera_keys::CamAccFactor);
constexpr const camera_keys::NumberKey& kPresetLocations =
    camera_keys::Of(camera_keys::NofStorageLocations);
constexpr const camera_keys::NumberKey& kPresetSpeed =
    camera_keys::Of(camera_keys::DefaultPreposSpeed);
constexpr const camera_keys::NumberKey& kMonitor = camera_keys::Of(camera_keys::ControlMonitor);
constexpr const camera_keys::NumberKey& kNode = camera_keys::Of(camera_keys::NodeAddress);
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
    : ui::CDialog(toolkit, ui::kDlgCameraSetup), driver_(driver), connection_(connection) {}

CVRTCameraSetupDlg::~CVRTCameraSetupDlg() { driver_.RemoveWindow(this); }

int CVRTCameraSetupDlg::OnInitDialog() {
  if (Camera == nullptr) {
    EndDialog(ui::kResultCancel);
    return 1;
  }
  // The line tests need the line: the dialog opens it when nobody has.
  bool usable = connection_ != nullptr && connection_->IsOpen();
  if (connection_ != nullptr && !usable) usable = openedConnection_ = connection_->Open() == 1;
  if (!usable) {
    Win().MessageBox(ui::LoadString(kStringCannotOpen), ui::MsgButtons::kOk,
                     ui::MsgIcon::kInformation);
  }
  driver_.AddWindow(this);
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
    Camera->PreviousTavoID = Camera->TavoID;
    Camera->PreviousSysID = Camera->SysID;
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
    int function = i == 0   ? camera.GetAux1Func()
                   : i == 1 ? camera.GetAux2Func()
                            : camera.GetAux3Func();
    if (function == -1) {
      function = 0;
      if (i == 0)
        camera.SetAux1Func(0);
      else if (i == 1)
        camera.SetAux2Func(0);
      else
        camera.SetAux3Func(0);
    }
    win.Enable(kRelayLists[i], true);
    win.SetSelection(kRelayLists[i], function);
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
  std::lock_guard<CVRTCamera> hold(*Camera);
  Camera->CamAccDefaultState = custom ? 0 : 1;
  if (!custom) Win().SetPosition(kSpeedBar, kDefaultSpeedLevel);
}

void CVRTCameraSetupDlg::OnMenu() {
  {
    std::lock_guard<CVRTCamera> hold(*Camera);
    Camera->WaitForResponse = Win().GetCheck(kWaitForResponse) ? 1 : 0;
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
  if (Win().MessageBox(ui::LoadString(kStringResetWarning), ui::MsgButtons::kYesNo,
                       ui::MsgIcon::kExclamation, ui::kAnswerNo) != ui::kAnswerYes) {
    return;
  }
  const int address = ui::LeadingDigits(Win().GetText(kAddressEdit), 0, 99999);
  const int node = ui::LeadingDigits(Win().GetText(kNodeEdit), 0, 99999);
  if (connection_ != nullptr) connection_->ResetCamera(node, address);
}

bool CVRTCameraSetupDlg::CheckAndApply() {
  ui::DialogWindow& win = Win();
  CVRTCamera& camera = *Camera;
  int number = 0;
  if (!ui::ParseNumber(win.GetText(kNumberEdit), &number) || number <= 0) return false;
  int address = 0, node = 0, monitor = 0;
  const bool addressOk = ui::ParseNumber(win.GetText(kAddressEdit), &address);
  const bool nodeOk = ui::ParseNumber(win.GetText(kNodeEdit), &node);
  const bool monitorOk = ui::ParseNumber(win.GetText(kMonitorEdit), &monitor);
  {
    std::lock_guard<CVRTCamera> hold(camera);
    camera.WaitForResponse = win.GetCheck(kWaitForResponse) ? 1 : 0;
    camera.SelectOnMonitor(monitorOk && kMonitor.InRange(monitor) ? monitor : 1);
  }
  const std::string name = win.GetText(kNameEdit).substr(0, kNameLimit);
  if (name.empty() || !addressOk || !monitorOk) {
    win.MessageBox(ui::LoadString(kStringFillAllFields), ui::MsgButtons::kOk,
                   ui::MsgIcon::kExclamation);
    return false;
  }
  if (!nodeOk || !kNode.InRange(node)) {
    win.MessageBox(ui::LoadString(kStringIllegalNode), ui::MsgButtons::kOk,
                   ui::MsgIcon::kExclamation);
    return false;
  }

  int presets = 0;
  if (!ui::ParseNumber(win.GetText(kPresetCountEdit), &presets) ||
      !kPresetLocations.InRange(presets)) {
    {
      std::lock_guard<CVRTCamera> hold(camera);
      camera.NofStorageLocations = kDefaultPresetLocations;
    }
    win.SetText(kPresetCountEdit, Number(kDefaultPresetLocations));
    char text[100];
    std::snprintf(text, sizeof text,
                  "Illegal number of preset memories. Maximum values for the driver are 1 - %d",
                  kMaxPresetLocations);
    win.MessageBox(text, ui::MsgButtons::kOk, ui::MsgIcon::kQuestion);
    driver_.Log().WriteLine("CAMERASETUPDLG.OnPrepPrgPartition: FAILED\n");
    return false;
  }
  {
    std::lock_guard<CVRTCamera> hold(camera);
    camera.NofStorageLocations = presets;
  }

  int speed = 0;
  if (!ui::ParseNumber(win.GetText(kPresetSpeedEdit), &speed) || !kPresetSpeed.InRange(speed)) {
    {
      std::lock_guard<CVRTCamera> hold(camera);
      camera.DefaultPreposSpeed = kDefaultPresetSpeed;
    }
    win.SetText(kPresetSpeedEdit, Number(kDefaultPresetSpeed));
    win.MessageBox("Illegal preset speed. Valid values for the driver are 1 - 100",
                   ui::MsgButtons::kOk, ui::MsgIcon::kQuestion);
    driver_.Log().WriteLine("CAMERASETUPDLG.GetData: FAILED\n");
    return false;
  }
  {
    std::lock_guard<CVRTCamera> hold(camera);
    camera.DefaultPreposSpeed = speed;
    camera.SetDefaultLensSlow(win.GetCheck(kLensSlow) ? 1 : 0);
  }

  // A count the camera cannot have (negative, or not a number) is refused
  // like one above the maximum.
  int relays = 0;
  if (!ui::ParseNumber(win.GetText(kRelayCountEdit), &relays) || !kRelayCount.InRange(relays)) {
    win.MessageBox("Illegar number of relays!", ui::MsgButtons::kOk, ui::MsgIcon::kInformation);
    return false;
  }
  int h, l, m;
  {
    std::lock_guard<CVRTCamera> hold(camera);
    camera.SetNofRelays(relays);
    camera.SetAux1Func(0);
    camera.SetAux2Func(0);
    camera.SetAux3Func(0);
  }
  h = win.GetSelection(kAux1List);
  l = win.GetSelection(kAux2List);
  m = win.GetSelection(kAux3List);
  if (relays > 0) {
    bool conflict = false;
    for (int k = 0; k < relays && k < 3 && !conflict; ++k) {
      if (k == 0) conflict = h > 0 && (h == l || h == m);
      if (k == 1) conflict = l > 0 && (l == h || l == m);
      if (k == 2) conflict = m > 0 && (m == h || m == l);
    }
    if (conflict &&
        win.MessageBox("Two relays performing the same function! Do you like to keep this setting?",
                       ui::MsgButtons::kYesNo, ui::MsgIcon::kInformation) != ui::kAnswerYes) {
      return false;
    }
  }
  std::lock_guard<CVRTCamera> hold(camera);
  // A list without a selection keeps its relay on the plain output.
  camera.SetAux1Func(h < 0 ? 0 : h);
  camera.SetAux2Func(l < 0 ? 0 : l);
  camera.SetAux3Func(m < 0 ? 0 : m);
  camera.CamAccFactor = win.GetPosition(kSpeedBar);
  camera.NodeAddress = node;
  camera.TavoID = number - 1;
  camera.SysID = address;
  camera.SetName(name);
  return true;
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
  std::lock_guard<CVRTCamera> hold(*Camera);
  Camera->WaitForResponse = savedWaitForResponse_;
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
  driver_.RemoveWindow(this);
}
