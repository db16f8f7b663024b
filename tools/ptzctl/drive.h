// The interactive mode: steer one camera from the keyboard.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "ptzctl/session.h"

namespace ptzctl {

struct DriveOptions {
  std::string camera;  // camera number, or 0x... handle
  int speed_key = 5;   // 1..9
  int input_fd = 0;
  int output_fd = 1;
  // Lines to show as they come (the simulator's wire lines); may be empty.
  std::function<std::vector<std::string>()> poll_lines;
  // Text added to the status line (the simulated dome's state); may be empty.
  std::function<std::string()> status_extra;
};

// The host speed code (1..16) for the speed keys 1..9.
int SpeedForKey(int key);

// Keys and their meaning, for --help and the mode's own help line.
extern const char kDriveKeysHelp[];

// Runs until q, Ctrl-C, Ctrl-D, end of input or a terminating signal. Returns
// 0, 1 when the camera could not be opened, 2 when the input is not a
// terminal. Leaves the camera stopped and open in the session.
int RunDrive(Session& session, const DriveOptions& options);

}  // namespace ptzctl
