// The Win32 renderer of the setup dialogs: each dialog is a modal Windows
// dialog made from an in-memory template of its resource description, run
// on the calling thread and owned by its parent dialog (or the host's
// window). Every user action reaches the dialog class after its
// command-update rules have run.
#pragma once

#include "ui/dialog.h"

namespace uiwin32 {

class Win32Toolkit : public ui::Toolkit {
 public:
  // Registers the common control classes (tree view, track bar) once.
  Win32Toolkit();
  int RunModal(ui::CDialog& dialog, ui::CDialog* parent, void* hostParent) override;
};

}  // namespace uiwin32
