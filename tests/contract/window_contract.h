// The rules of the window interface (ui/dialog_window.h) at its edges, run
// in real dialogs of a renderer: the same checks for the tests' fake, the
// wxWidgets renderer and the Win32 one.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "ui/dialog.h"

namespace contract {

// The texts of a tree's root items in the order shown, read from the
// renderer's own control (the window interface has no way to walk a tree).
// Called on the dialog's thread with the dialog now shown.
using RootTexts = std::function<std::vector<std::string>(ui::CDialog& dialog, int treeId)>;

// The line of a dialog that never opened (its OnInitDialog did not run).
constexpr char kNotShown[] = "the dialog was not shown";

// Shows the driver setup, camera setup and connection setup dialogs of the
// resources with toolkit, one after the other, checks the rules in each and
// ends it. One line per rule broken; none when the renderer keeps them all.
std::vector<std::string> CheckWindowContract(ui::Toolkit& toolkit, const RootTexts& rootTexts);

}  // namespace contract
