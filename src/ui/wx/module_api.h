// The dialog module's one entry: the driver finds QUARO7K7_PTZ_wx.so beside
// itself, looks this function up and gets the toolkit that draws its
// dialogs with wxWidgets. Shared by the module and the driver's loader.
#pragma once

namespace ui {
class Toolkit;
}

// File name of the module, beside the driver library.
#define QUARO7_WX_MODULE_FILE "QUARO7K7_PTZ_wx.so"
// Name of the factory function the module exports.
#define QUARO7_WX_MODULE_ENTRY "QUARO7K7_PTZ_wx_Toolkit"

// Raised whenever the dialog interfaces (ui::Toolkit, ui::CDialog,
// ui::DialogWindow, the resource types) change shape, so that a module of
// another build is refused instead of called through the wrong layout.
constexpr int kWxModuleInterfaceVersion = 2;

// Starts the toolkit (on its own UI thread, or in the host's wxWidgets
// application when there is one) and returns it, or nullptr with one line in
// why (a NUL-terminated text of at most whyLength bytes) saying why not. The
// toolkit lives until the process ends; the module is never unloaded.
using WxModuleEntry = ui::Toolkit* (*)(int interfaceVersion, char* why, int whyLength);
