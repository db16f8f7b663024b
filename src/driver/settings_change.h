// Changes of the settings file made of many key operations, and what goes
// with them: the log lines that report them, and the cameras they read.
#pragma once

#include <functional>
#include <vector>

#include "driver/log.h"

class CVRTCamera;
class CVRTComm;

// Runs work as one change of the settings file (the store writes the file
// once, when the outermost change ends). The lines given to LogWhenWritten
// meanwhile are logged only after the file was written, and dropped when
// the work or the write fails (the failure passes on to the caller).
void SettingsChange(const std::function<void()>& work);

// A stamped log line that reports something written to the settings file:
// logged at once outside a change, else when the change is in the file.
void LogWhenWritten(const char* format, ...) VRT_PRINTF(1, 2);

// Holds the cameras of connections (pinned, then locked) while a save reads
// them, so that no host call changes one meanwhile and none is destroyed.
// Take it before the change of the file, as host calls do (camera lock
// first), and never while holding a camera of another connection than the
// ones given; locks are taken in the order given.
class CameraHolds {
 public:
  CameraHolds() = default;
  explicit CameraHolds(CVRTComm* connection) { Add(connection); }
  explicit CameraHolds(const std::vector<CVRTComm*>& connections) {
    for (CVRTComm* connection : connections) Add(connection);
  }
  ~CameraHolds();
  CameraHolds(const CameraHolds&) = delete;
  CameraHolds& operator=(const CameraHolds&) = delete;

  // Holds the cameras on the connection's list now, in list order.
  void Add(CVRTComm* connection);
  const std::vector<CVRTCamera*>& Cameras() const { return held_; }

 private:
  std::vector<CVRTCamera*> held_;
};
