// The setup dialogs' resources: dialogs, strings and icons. Pure data: this
// file is compiled into the driver and into every renderer module.
#include "ui/resources.h"

#include <utility>

namespace ui {

const ControlResource* DialogResource::Control(int controlId) const {
  for (const ControlResource& control : controls) {
    if (control.id == controlId) return &control;
  }
  return nullptr;
}

namespace {

constexpr std::uint32_t kTab = kTabStop;

// Shorthands for the controls of the tables below.
ControlResource Label(const char* text, int x, int y, int w, int h,
                      std::uint32_t style = kStyleNone, int id = kStaticId) {
  return {id, ControlKind::kLabel, style, text, x, y, w, h, {}};
}
ControlResource Group(const char* text, int x, int y, int w, int h) {
  return {kStaticId, ControlKind::kGroupBox, kStyleNone, text, x, y, w, h, {}};
}
ControlResource Button(int id, const char* text, int x, int y, int w, int h,
                       std::uint32_t style = kStyleNone) {
  return {id, ControlKind::kButton, style | kTab, text, x, y, w, h, {}};
}
ControlResource Edit(int id, int x, int y, int w, int h, std::uint32_t style = kStyleNone) {
  return {id, ControlKind::kEdit, style | kTab, "", x, y, w, h, {}};
}
ControlResource Check(int id, const char* text, int x, int y, int w, int h,
                      std::uint32_t style = kStyleNone) {
  return {id, ControlKind::kCheckBox, style | kTab, text, x, y, w, h, {}};
}
ControlResource Radio(int id, const char* text, int x, int y, int w, int h, std::uint32_t style) {
  return {id, ControlKind::kRadioButton, style, text, x, y, w, h, {}};
}
ControlResource Combo(int id, int x, int y, int w, int h, std::uint32_t style,
                      std::vector<const char*> entries = {}) {
  return {id, ControlKind::kComboBox, style | kTab, "", x, y, w, h, std::move(entries)};
}

// 101: the driver setup dialog.
DialogResource DriverSetup() {
  using C = DriverSetupIds;
  return {kDlgDriverSetup,
          "QUARO7K7_PTZ Driver Setup",
          "MS Sans Serif",
          8,
          289,
          223,
          {
              Label("Configuration:", 4, 3, 44, 8),
              {C::kTree,
               ControlKind::kTreeView,
               kHasButtons | kHasLines | kLinesAtRoot | kShowSelAlways | kBorder | kTab,
               "",
               4,
               13,
               191,
               204,
               {}},
              Group("Connection", 197, 10, 89, 65),
              Button(C::kCommConfigure, "Configure Connection ...", 200, 20, 82, 14),
              Button(C::kCommAdd, "Add Connection ...", 200, 37, 82, 14),
              Button(C::kCommRemove, "Remove Connection ...", 200, 55, 82, 14),
              Group("Camera", 197, 81, 89, 64),
              Button(C::kCamConfigure, "Configure Camera ...", 200, 91, 82, 14),
              Button(C::kCamAdd, "Add Camera ...", 200, 108, 82, 14),
              Button(C::kCamRemove, "Remove Camera ...", 200, 126, 82, 14),
              Button(C::kAboutButton, "About Driver", 200, 185, 82, 14),
              Button(kIdOk, "OK", 200, 202, 82, 14, kDefault),
          }};
}

// 107: the camera setup dialog.
DialogResource CameraSetup() {
  using C = CameraSetupIds;
  return {kDlgCameraSetup,
          "Camera Setup",
          "MS Sans Serif",
          8,
          430,
          342,
          {
              Group("Common information", 5, 4, 208, 89),
              Label("DVR camera ID:", 13, 21, 57, 8),
              Edit(C::kNumberEdit, 75, 18, 17, 13, kNumber),
              Label("(1 ... n)", 98, 20, 36, 9),
              Label("Connection:", 29, 44, 39, 8),
              Edit(C::kConnectionEdit, 75, 41, 82, 13, kReadOnly),
              Edit(C::kPortEdit, 157, 41, 42, 13, kReadOnly),
              Label("Camera name:", 22, 72, 47, 8),
              Edit(C::kNameEdit, 75, 69, 125, 13),
              Group("Addresses", 217, 4, 207, 89),
              Label("Node address:", 223, 15, 48, 11),
              Edit(C::kNodeEdit, 273, 14, 18, 12),
              Label("Camera address:", 313, 15, 54, 8),
              Edit(C::kAddressEdit, 375, 13, 17, 13, kNumber),
              Label("Control monitor:", 315, 29, 51, 11),
              Edit(C::kMonitorEdit, 375, 29, 18, 12),
              Label("Korvalin sw versions:", 225, 53, 66, 11),
              Edit(C::kVersionEdit, 295, 53, 108, 12, kReadOnly),
              Button(C::kPing, "Ping Serial Connection", 225, 69, 87, 13),
              Label("", 315, 71, 91, 11, kStyleNone, C::kPingResult),
              Group("Presets", 5, 103, 109, 89),
              Label("Default speed (18-100):", 9, 113, 75, 10),
              Edit(C::kPresetSpeedEdit, 86, 113, 22, 13),
              Label("Number of presets:", 21, 135, 61, 12),
              Edit(C::kPresetCountEdit, 86, 135, 22, 13),
              Group("Camera speed", 117, 103, 95, 90),
              Radio(C::kDefaultSpeed, "Default", 129, 122, 68, 10, kAuto | kGroup | kTab),
              Radio(C::kCustomSpeed, "Custom", 129, 133, 68, 10, kAuto),
              {C::kSpeedBar, ControlKind::kTrackBar, kDisabled | kTab, "", 119, 154, 87, 21, {}},
              Label("Min", 126, 175, 14, 8, kDisabled, C::kSpeedMin),
              Label("Max", 191, 175, 14, 8, kDisabled, C::kSpeedMax),
              Group("Internal settings of the selected camera", 217, 103, 206, 90),
              Button(C::kMenu, "Menu", 295, 119, 44, 12),
              Button(C::kUp, "Up", 305, 135, 25, 14),
              Button(C::kLeft, "Left", 275, 151, 25, 14),
              Button(C::kSet, "Set", 305, 154, 25, 14),
              Button(C::kRight, "Right", 335, 154, 25, 14),
              Button(C::kDown, "Down", 305, 170, 25, 14),
              Check(C::kLensSlow, "Lens slow", 222, 205, 53, 10, kAuto),
              Check(C::kWaitForResponse, "Wait for response", 222, 220, 75, 10),
              Group("Relays", 5, 201, 208, 93),
              Label("Number of relays:", 15, 219, 58, 12),
              Edit(C::kRelayCountEdit, 88, 219, 21, 12),
              Label("Relay function assignment:", 15, 242, 88, 12),
              Label("AUX1:", 119, 241, 24, 11),
              Label("AUX2:", 119, 258, 24, 11),
              Label("AUX3:", 119, 275, 24, 11),
              Combo(C::kAux1List, 145, 240, 48, 46, kStyleNone, {"AUX1", "WASH", "WIPE", "LAMPS"}),
              Combo(C::kAux2List, 145, 257, 48, 44, kStyleNone, {"AUX2", "WASH", "WIPE", "LAMPS"}),
              Combo(C::kAux3List, 145, 273, 48, 44, kStyleNone, {"AUX3", "WASH", "WIPE", "LAMPS"}),
              Button(C::kReset, "Reset Camera", 232, 280, 59, 13),
              Button(kIdOk, "OK", 305, 322, 50, 14, kDefault),
              Button(kIdCancel, "Cancel", 359, 322, 50, 14),
          }};
}

// 108: choosing the connection of a new camera.
DialogResource SelectComm() {
  using C = SelectCommIds;
  return {kDlgSelectComm,
          "Choose Connection for the New Camera",
          "MS Sans Serif",
          8,
          227,
          65,
          {
              Label("Available connections:", 4, 2, 72, 8),
              {C::kConnectionList,
               ControlKind::kListBox,
               kNotify | kSorted | kBorder | kVScroll | kNoIntegralHeight | kTab,
               "",
               4,
               12,
               162,
               47,
               {}},
              Button(C::kCreateNew, "Create New", 170, 12, 50, 14),
              Button(kIdOk, "OK", 170, 29, 50, 14, kDefault | kDisabled),
              Button(kIdCancel, "Cancel", 170, 45, 50, 14),
          }};
}

// 109: a connection's name and serial port.
DialogResource CommSetup() {
  using C = CommSetupIds;
  return {kDlgCommSetup,
          "Connection Setup",
          "MS Sans Serif",
          8,
          175,
          66,
          {
              Label("Name:", 20, 12, 22, 8, kRightAlign),
              Edit(C::kNameEdit, 45, 9, 123, 13, kAutoHScroll),
              Label("Serial port:", 7, 27, 34, 8, kRightAlign),
              Combo(C::kPortCombo, 45, 26, 123, 53, kSorted | kVScroll),
              Button(kIdOk, "OK", 63, 45, 50, 14, kDefault),
              Button(kIdCancel, "Cancel", 118, 45, 50, 14),
          }};
}

// 111: the about box.
DialogResource About() {
  return {kDlgAbout,
          "About QUARO7K7_PTZ Driver",
          "MS Sans Serif",
          8,
          270,
          78,
          {
              Group("", 7, 0, 198, 70),
              Label("PTZ driver for QUARO7 protocol. ", 27, 10, 161, 14, kCenter),
              Label("Version 1.2", 81, 30, 55, 9),
              Button(kIdOk, "OK", 212, 55, 50, 14, kDefault),
          }};
}

const std::vector<DialogResource>& Dialogs() {
  static const std::vector<DialogResource> dialogs = {DriverSetup(), CameraSetup(), SelectComm(),
                                                      CommSetup(), About()};
  return dialogs;
}

struct StringEntry {
  int id;
  const char* text;
};

constexpr StringEntry kStrings[] = {
    {kStringRemoveConnection,
     "Do you really want to remove the connection?\n\nAll Associated cameras and their "
     "prepositions will be deleted,"},
    {kStringRemoveCamera,
     "WARNING! \n\nDo you really want to delete the camera?\n\nAll associated prepositions and "
     "programs will also be deleted!"},
    {kStringFillAllFields, "Please fill all fields"},
    {kStringNameMissing, "Please enter name to 'Name' box"},
    {kStringIllegalPort,
     "Illegal COM-port. There may be problems with identifying your COM-ports or configuration "
     "is bad."},
    {kStringPortReserved, "Checked COM-port is reserved to the another connection"},
    {kStringNumberTaken, "Entered Camera ID is reserved to the another camera in the system"},
    {kStringAddressTaken,
     "Entered Camera Address is reserved to the another camera in this connection."},
    {kStringNameTaken, "Entered name is reserved to the another camera in this connection"},
    {kStringCannotOpen,
     "There is some problems with opening the connection assosiated to this camera.\n\nTherefore "
     "you can not use Ping.\n(See further information about error from log file)"},
    {kStringIllegalNode, "Illegal node address. Valid values: 0 ... 127."},
    {kStringResetWarning,
     "WARNING!\n\nThis action resets and tests the camera. \n\nALL PROGRAMMED PRESETS WILL BE "
     "ERASED FROM THE CAMERA!!!\n\nContinue?"},
    {kStringTextNotStorable,
     "Entered text contains characters that can not be stored in the configuration.\n\nPlease "
     "use only the characters of the system's code page."},
    {kStringSaveFailed,
     "The settings could not be saved to the configuration file.\n\n(See further information "
     "about error from log file)"},
};

// The icons are drawn as characters, one per pixel; the palette below maps
// them to colours ('.' is transparent).
using IconArt = char[16][17];

constexpr std::uint32_t PaletteColour(char c) {
  switch (c) {
    case 'k':
      return 0xFF000000u;  // black outline
    case 'g':
      return 0xFF808080u;  // dark grey
    case 'G':
      return 0xFFC0C0C0u;  // light grey
    case 'w':
      return 0xFFFFFFFFu;  // white
    case 'b':
      return 0xFF0040A0u;  // dark blue
    case 'B':
      return 0xFF4090E0u;  // light blue
    case 'y':
      return 0xFFF0C000u;  // gold
    case 'r':
      return 0xFFC02020u;  // red
    default:
      return 0x00000000u;  // '.'
  }
}

constexpr bool ArtIsComplete(const IconArt& art) {
  for (int row = 0; row < 16; ++row) {
    for (int col = 0; col < 16; ++col) {
      const char c = art[row][col];
      if (c != '.' && PaletteColour(c) == 0) return false;
    }
  }
  return true;
}

// A serial line: the cable into a nine-pin plug.
constexpr IconArt kConnectionArt = {
    "......kkkk......",  //
    "......kggk......",  //
    "......kggk......",  //
    "......kggk......",  //
    ".....kkggkk.....",  //
    "..kkkkkkkkkkkk..",  //
    ".kGGGGGGGGGGGGk.",  //
    ".kGwwwwwwwwwwgk.",  //
    ".kGwykykykykwgk.",  //
    "..kGwwwwwwwwgk..",  //
    "..kGwykykykwgk..",  //
    "...kGwwwwwwgk...",  //
    "...kggggggggk...",  //
    "....kkkkkkkk....",  //
    "................",  //
    "................",  //
};

// A dome camera on its bracket, lens to the front.
constexpr IconArt kCameraArt = {
    "................",  //
    "................",  //
    ".kkkkkkkkkkk....",  //
    ".kGGGGGGGGGk....",  //
    ".kGwwwwwwwGkkkk.",  //
    ".kGwGGGGGwGkBBk.",  //
    ".kGwGGGGGwGkbBk.",  //
    ".kGwwwwwwwGkkkk.",  //
    ".kGGGGGGGGGk....",  //
    ".kkkkkkkkkkk....",  //
    ".....kgk........",  //
    ".....kgk........",  //
    "...kkkgkkk......",  //
    "...kgggggk......",  //
    "...kkkkkkk......",  //
    "................",  //
};

// A stored position: a pin with a red head.
constexpr IconArt kPresetArt = {
    "................",  //
    ".....kkkkk......",  //
    "....krrrrrk.....",  //
    "...krrwwrrrk....",  //
    "...krwwrrrrk....",  //
    "...krrrrrrrk....",  //
    "...krrrrrrrk....",  //
    "....krrrrrk.....",  //
    ".....kkrkk......",  //
    "......kgk.......",  //
    "......kgk.......",  //
    "......kgk.......",  //
    "......kgk.......",  //
    ".......k........",  //
    "....kkkkkkk.....",  //
    "................",  //
};

static_assert(ArtIsComplete(kConnectionArt) && ArtIsComplete(kCameraArt) &&
                  ArtIsComplete(kPresetArt),
              "every icon pixel is a palette character");

IconResource MakeIcon(int id, const IconArt& art) {
  IconResource icon{id, {}};
  for (int row = 0; row < 16; ++row) {
    for (int col = 0; col < 16; ++col) icon.pixels[row][col] = PaletteColour(art[row][col]);
  }
  return icon;
}

const std::vector<IconResource>& Icons() {
  static const std::vector<IconResource> icons = {MakeIcon(kIconConnection, kConnectionArt),
                                                  MakeIcon(kIconCamera, kCameraArt),
                                                  MakeIcon(kIconPreset, kPresetArt)};
  return icons;
}

}  // namespace

const DialogResource* FindDialog(int id) {
  for (const DialogResource& dialog : Dialogs()) {
    if (dialog.id == id) return &dialog;
  }
  return nullptr;
}

const char* LoadString(int id) {
  for (const StringEntry& entry : kStrings) {
    if (entry.id == id) return entry.text;
  }
  return "";
}

const IconResource* FindIcon(int id) {
  for (const IconResource& icon : Icons()) {
    if (icon.id == id) return &icon;
  }
  return nullptr;
}

}  // namespace ui
