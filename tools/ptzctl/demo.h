// The demo: the dome simulator on a pseudo-terminal, a private copy of the
// library with a demo configuration, and a scripted tour that shows the host
// calls, the wire lines and the dome's state side by side.
#pragma once

#include <string>

namespace ptzctl {

struct DemoOptions {
  std::string library;  // the library to copy into the directory
  std::string dir = "demo-run";
  bool pauses = true;  // wait for Enter between steps (on a terminal)
  bool drive = false;  // after the tour, drive camera 0 from the keyboard
  bool color = false;  // ANSI colours
};

// The demo configuration: one line on COM1 with two cameras, a preset and
// named relays.
std::string DemoSettingsXml();

// Runs the demo; returns 0 when every check passed, 1 when one failed, 2 when
// the demo could not be set up.
int RunDemo(const DemoOptions& options);

}  // namespace ptzctl
