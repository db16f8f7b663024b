// The setup dialogs' resources as data, described once: every dialog with
// its caption, font, size and controls (id, kind, style, text, rectangle in
// dialog units), the string table and the three 16 x 16 tree icons. Every
// renderer draws from these descriptions.
#pragma once

#include <cstdint>
#include <vector>

#include "ui/control_ids.h"

namespace ui {

enum class ControlKind {
  kLabel,  // static text
  kGroupBox,
  kButton,  // push button; style kDefault makes it the default button
  kEdit,
  kCheckBox,     // style kAuto: toggles itself when clicked
  kRadioButton,  // style kAuto and kGroup as in Windows resources
  kComboBox,     // drop-down list
  kListBox,
  kTreeView,
  kTrackBar,
};

// Style flags; which apply depends on the kind.
enum ControlStyle : std::uint32_t {
  kStyleNone = 0,
  kDisabled = 1u << 0,           // disabled at start
  kDefault = 1u << 1,            // default push button
  kReadOnly = 1u << 2,           // edit
  kNumber = 1u << 3,             // edit: digits only
  kAutoHScroll = 1u << 4,        // edit
  kRightAlign = 1u << 5,         // label
  kCenter = 1u << 6,             // label
  kSorted = 1u << 7,             // list box, combo box
  kVScroll = 1u << 8,            // list box, combo box
  kNotify = 1u << 9,             // list box
  kBorder = 1u << 10,            // list box, tree view
  kNoIntegralHeight = 1u << 11,  // list box
  kAuto = 1u << 12,              // check box, radio button
  kGroup = 1u << 13,             // first control of a group
  kTabStop = 1u << 14,
  kHasButtons = 1u << 15,     // tree view
  kHasLines = 1u << 16,       // tree view
  kLinesAtRoot = 1u << 17,    // tree view
  kShowSelAlways = 1u << 18,  // tree view
  kAutoTicks = 1u << 19,      // track bar
};

struct ControlResource {
  int id;  // kStaticId for labels and group boxes without an id
  ControlKind kind;
  std::uint32_t style;
  const char* text;         // caption or label text; "" for none
  int x, y, width, height;  // dialog units
  // Initial entries of a drop-down list (the resource's initial data).
  std::vector<const char*> entries;
};

struct DialogResource {
  int id;
  const char* caption;
  const char* fontName;  // "MS Sans Serif"
  int pointSize;         // 8
  int width, height;     // dialog units
  std::vector<ControlResource> controls;

  // The control with this id, or nullptr.
  const ControlResource* Control(int controlId) const;
};

// The dialog resource with this id, or nullptr.
const DialogResource* FindDialog(int id);

// The string table entry with this id, or "" when there is none.
const char* LoadString(int id);

// A 16 x 16 icon: rows top to bottom, each pixel 0xAARRGGBB (alpha 0: the
// mask's transparent pixels).
struct IconResource {
  int id;
  std::uint32_t pixels[16][16];
};
// The icon with this id, or nullptr.
const IconResource* FindIcon(int id);

}  // namespace ui
