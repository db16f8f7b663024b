// In-memory dialog templates (DLGTEMPLATE with DS_SETFONT) built from the
// setup dialogs' resource descriptions: the caption, the font, the size and
// every control with its window class, style, id, text and rectangle in
// dialog units, as a resource compiler would lay them out.
#pragma once

#include <cstdint>
#include <vector>

#include "ui/resources.h"

namespace uiwin32 {

// Window style of a control of the given description.
std::uint32_t ControlStyle(const ui::ControlResource& control);

// The template's bytes, DWORD-aligned at the start of the buffer (the
// vector's storage is of 32-bit words).
std::vector<std::uint32_t> BuildDialogTemplate(const ui::DialogResource& dialog);

}  // namespace uiwin32
