// The setup dialogs' numbers, each written once: the dialog resources, the
// tree icons, the string table and every dialog's control ids. The numbers
// are the dialogs' own and never change: the Windows dialogs, the dialog
// process and the hosts that drive the dialogs by their control ids all
// name controls by them. A dialog class reaches its controls by deriving
// from its group below (CVRTSetupDlg::kTree).
#pragma once

namespace ui {

// Dialog resource ids.
enum DialogId {
  kDlgDriverSetup = 101,
  kDlgCameraSetup = 107,
  kDlgSelectComm = 108,
  kDlgCommSetup = 109,
  kDlgAbout = 111,
};

// Icon resource ids (tree images 0, 1, 2).
enum IconId { kIconConnection = 102, kIconCamera = 103, kIconPreset = 104 };

// A control without an id of its own (labels, group boxes).
constexpr int kStaticId = -1;

// The OK and Cancel buttons of every dialog: the dialog ends with the
// button's id as its result (kResultOk, kResultCancel).
enum ButtonId { kIdOk = 1, kIdCancel = 2 };

// The string table.
enum StringId {
  kStringRemoveConnection = 1,
  kStringRemoveCamera = 2,
  kStringFillAllFields = 3,
  kStringNameMissing = 8,
  kStringIllegalPort = 9,
  kStringPortReserved = 11,
  kStringNumberTaken = 12,
  kStringAddressTaken = 13,
  kStringNameTaken = 14,
  kStringCannotOpen = 16,
  kStringIllegalNode = 17,
  kStringResetWarning = 18,
  kStringTextNotStorable = 19,
  kStringSaveFailed = 20,
};

// Dialog 101, the driver setup.
struct DriverSetupIds {
  enum ControlId {
    kTree = 1008,
    kCommConfigure = 1009,
    kCommAdd = 1010,
    kCommRemove = 1011,
    kCamConfigure = 1012,
    kCamAdd = 1013,
    kCamRemove = 1014,
    kAboutButton = 1015,
  };
};

// Dialog 107, the camera setup.
struct CameraSetupIds {
  enum ControlId {
    kNumberEdit = 1010,
    kNameEdit = 1011,
    kConnectionEdit = 1012,
    kAddressEdit = 1013,
    kReset = 1022,
    kLeft = 1023,
    kPing = 1024,
    kRight = 1025,
    kPingResult = 1026,
    kUp = 1027,
    kDown = 1028,
    kPortEdit = 1029,
    kSet = 1030,
    kDefaultSpeed = 1038,
    kCustomSpeed = 1039,
    kSpeedBar = 1040,
    kSpeedMin = 1041,
    kSpeedMax = 1042,
    kPresetCountEdit = 1043,
    kPresetSpeedEdit = 1044,
    kLensSlow = 1046,
    kRelayCountEdit = 1048,
    kMenu = 1049,
    kNodeEdit = 1050,
    kVersionEdit = 1051,
    kMonitorEdit = 1052,
    kWaitForResponse = 1053,
    kAux1List = 1054,
    kAux2List = 1055,
    kAux3List = 1057,
  };
};

// Dialog 108, choosing a new camera's connection.
struct SelectCommIds {
  enum ControlId { kConnectionList = 1013, kCreateNew = 1037 };
};

// Dialog 109, a connection's setup.
struct CommSetupIds {
  enum ControlId { kNameEdit = 1014, kPortCombo = 1029 };
};

// Dialog 111, the about box: OK only.

}  // namespace ui
