// A compact look for GTK's controls, so that they fit the dialogs'
// rectangles (only when the module runs GTK itself: a host's own windows
// keep their look).
#pragma once

namespace uiwx {

// False when GTK's style functions could not be reached (the dialogs still
// work, with GTK's larger controls).
bool ApplyCompactStyle();

// A label's text stays on one line (GTK breaks a label that is a little
// too narrow for its text into lines its rectangle cannot show); label is
// the label's GtkWidget.
void SingleLineLabel(void* label);

}  // namespace uiwx
