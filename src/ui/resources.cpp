// The setup dialogs' resources: dialogs, strings and icons.
#include "ui/resources.h"

namespace ui {

const ControlResource* DialogResource::Control(int controlId) const {
  for (const ControlResource& control : controls) {
    if (control.id == controlId) return &control;
  }
  return nullptr;
}

const DialogResource* FindDialog(int /*id*/) { return nullptr; }

const char* LoadString(int /*id*/) { return ""; }

const IconResource* FindIcon(int /*id*/) { return nullptr; }

}  // namespace ui
