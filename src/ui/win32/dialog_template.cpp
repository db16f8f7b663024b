#include "ui/win32/dialog_template.h"

#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <string>

namespace uiwin32 {
namespace {

// Writes 16-bit words; the items of a template start on 32-bit boundaries.
class TemplateWriter {
 public:
  void Word(std::uint16_t value) { words_.push_back(value); }
  void Dword(std::uint32_t value) {
    Word(static_cast<std::uint16_t>(value & 0xFFFF));
    Word(static_cast<std::uint16_t>(value >> 16));
  }
  // A zero-terminated text in UTF-16; the driver's texts are Latin-1.
  void Text(const char* text) {
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != 0; ++p)
      Word(*p);
    Word(0);
  }
  void Align() {
    if (words_.size() % 2 != 0) Word(0);
  }
  std::vector<std::uint32_t> Take() {
    Align();
    std::vector<std::uint32_t> out(words_.size() / 2);
    for (size_t i = 0; i < out.size(); ++i)
      out[i] = static_cast<std::uint32_t>(words_[2 * i]) |
               (static_cast<std::uint32_t>(words_[2 * i + 1]) << 16);
    return out;
  }

 private:
  std::vector<std::uint16_t> words_;
};

// Predefined window classes by their atoms.
constexpr std::uint16_t kButtonAtom = 0x0080;
constexpr std::uint16_t kEditAtom = 0x0081;
constexpr std::uint16_t kStaticAtom = 0x0082;
constexpr std::uint16_t kListBoxAtom = 0x0083;
constexpr std::uint16_t kComboBoxAtom = 0x0085;

bool Has(const ui::ControlResource& control, std::uint32_t flag) {
  return (control.style & flag) != 0;
}

}  // namespace

std::uint32_t ControlStyle(const ui::ControlResource& c) {
  std::uint32_t style = WS_CHILD | WS_VISIBLE;
  if (Has(c, ui::kTabStop)) style |= WS_TABSTOP;
  if (Has(c, ui::kGroup)) style |= WS_GROUP;
  if (Has(c, ui::kDisabled)) style |= WS_DISABLED;
  switch (c.kind) {
    case ui::ControlKind::kLabel:
      style |= Has(c, ui::kRightAlign) ? SS_RIGHT : Has(c, ui::kCenter) ? SS_CENTER : SS_LEFT;
      break;
    case ui::ControlKind::kGroupBox:
      style |= BS_GROUPBOX;
      break;
    case ui::ControlKind::kButton:
      style |= Has(c, ui::kDefault) ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
      break;
    case ui::ControlKind::kEdit:
      style |= ES_LEFT | WS_BORDER;
      if (Has(c, ui::kAutoHScroll)) style |= ES_AUTOHSCROLL;
      if (Has(c, ui::kNumber)) style |= ES_NUMBER;
      if (Has(c, ui::kReadOnly)) style |= ES_READONLY;
      break;
    case ui::ControlKind::kCheckBox:
      style |= Has(c, ui::kAuto) ? BS_AUTOCHECKBOX : BS_CHECKBOX;
      break;
    case ui::ControlKind::kRadioButton:
      style |= Has(c, ui::kAuto) ? BS_AUTORADIOBUTTON : BS_RADIOBUTTON;
      break;
    case ui::ControlKind::kComboBox:
      style |= CBS_DROPDOWNLIST;
      if (Has(c, ui::kSorted)) style |= CBS_SORT;
      if (Has(c, ui::kVScroll)) style |= WS_VSCROLL;
      break;
    case ui::ControlKind::kListBox:
      if (Has(c, ui::kNotify)) style |= LBS_NOTIFY;
      if (Has(c, ui::kSorted)) style |= LBS_SORT;
      if (Has(c, ui::kBorder)) style |= WS_BORDER;
      if (Has(c, ui::kVScroll)) style |= WS_VSCROLL;
      if (Has(c, ui::kNoIntegralHeight)) style |= LBS_NOINTEGRALHEIGHT;
      break;
    case ui::ControlKind::kTreeView:
      if (Has(c, ui::kHasButtons)) style |= TVS_HASBUTTONS;
      if (Has(c, ui::kHasLines)) style |= TVS_HASLINES;
      if (Has(c, ui::kLinesAtRoot)) style |= TVS_LINESATROOT;
      if (Has(c, ui::kShowSelAlways)) style |= TVS_SHOWSELALWAYS;
      if (Has(c, ui::kBorder)) style |= WS_BORDER;
      break;
    case ui::ControlKind::kTrackBar:
      style |= TBS_HORZ | TBS_BOTTOM;
      if (Has(c, ui::kAutoTicks)) style |= TBS_AUTOTICKS;
      break;
  }
  return style;
}

std::vector<std::uint32_t> BuildDialogTemplate(const ui::DialogResource& dialog) {
  TemplateWriter out;
  // A popup with caption, system menu and modal frame, in the resource's
  // font; centred over its owner when it is shown.
  out.Dword(DS_MODALFRAME | DS_SETFONT | WS_POPUP | WS_CAPTION | WS_SYSMENU);
  out.Dword(0);  // extended style
  out.Word(static_cast<std::uint16_t>(dialog.controls.size()));
  out.Word(0);  // x
  out.Word(0);  // y
  out.Word(static_cast<std::uint16_t>(dialog.width));
  out.Word(static_cast<std::uint16_t>(dialog.height));
  out.Word(0);  // no menu
  out.Word(0);  // the standard dialog class
  out.Text(dialog.caption);
  out.Word(static_cast<std::uint16_t>(dialog.pointSize));
  out.Text(dialog.fontName);
  for (const ui::ControlResource& control : dialog.controls) {
    out.Align();
    out.Dword(ControlStyle(control));
    out.Dword(0);  // extended style
    out.Word(static_cast<std::uint16_t>(control.x));
    out.Word(static_cast<std::uint16_t>(control.y));
    out.Word(static_cast<std::uint16_t>(control.width));
    out.Word(static_cast<std::uint16_t>(control.height));
    out.Word(static_cast<std::uint16_t>(control.id));  // -1: 0xFFFF, no id
    switch (control.kind) {
      case ui::ControlKind::kLabel:
        out.Word(0xFFFF);
        out.Word(kStaticAtom);
        break;
      case ui::ControlKind::kGroupBox:
      case ui::ControlKind::kButton:
      case ui::ControlKind::kCheckBox:
      case ui::ControlKind::kRadioButton:
        out.Word(0xFFFF);
        out.Word(kButtonAtom);
        break;
      case ui::ControlKind::kEdit:
        out.Word(0xFFFF);
        out.Word(kEditAtom);
        break;
      case ui::ControlKind::kComboBox:
        out.Word(0xFFFF);
        out.Word(kComboBoxAtom);
        break;
      case ui::ControlKind::kListBox:
        out.Word(0xFFFF);
        out.Word(kListBoxAtom);
        break;
      case ui::ControlKind::kTreeView:
        out.Text("SysTreeView32");
        break;
      case ui::ControlKind::kTrackBar:
        out.Text("msctls_trackbar32");
        break;
    }
    out.Text(control.text);
    out.Word(0);  // no creation data
  }
  return out.Take();
}

}  // namespace uiwin32
