// The module's one export: the toolkit, started on first use.
#include <cstring>
#include <string>

#include "ui/wx/module_api.h"
#include "ui/wx/wx_toolkit.h"

extern "C" __attribute__((visibility("default"))) ui::Toolkit* QUARO7K7_PTZ_wx_Toolkit(
    int interfaceVersion, char* why, int whyLength) {
  std::string reason;
  ui::Toolkit* toolkit = nullptr;
  try {
    if (interfaceVersion != kWxModuleInterfaceVersion) {
      reason = "the dialog module belongs to another build of the driver (interface " +
               std::to_string(kWxModuleInterfaceVersion) + ", driver " +
               std::to_string(interfaceVersion) + ")";
    } else if (uiwx::StartToolkit(&reason)) {
      static uiwx::WxToolkit* const instance = new uiwx::WxToolkit;  // lives with the process
      toolkit = instance;
    } else {
      reason = "the dialog module could not start the toolkit: " + reason;
    }
  } catch (...) {
    reason = "the dialog module failed while starting the toolkit";
  }
  if (toolkit == nullptr && why != nullptr && whyLength > 0) {
    std::strncpy(why, reason.c_str(), static_cast<size_t>(whyLength) - 1);
    why[whyLength - 1] = '\0';
  }
  return toolkit;
}
