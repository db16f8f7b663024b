#include "driver/settings_change.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "camera/camera.h"
#include "comm/comm.h"
#include "driver/driver.h"

namespace {
// The lines waiting for the outermost change of this thread; null outside
// one. A plain pointer, so that nothing per thread needs destroying.
thread_local std::vector<std::string>* t_pendingLines = nullptr;

class PendingScope {
 public:
  explicit PendingScope(std::vector<std::string>* lines) { t_pendingLines = lines; }
  ~PendingScope() { t_pendingLines = nullptr; }
  PendingScope(const PendingScope&) = delete;
  PendingScope& operator=(const PendingScope&) = delete;
};
}  // namespace

void SettingsChange(const std::function<void()>& work) {
  CXMLSettingsAPI& settings = Driver().Settings;
  if (t_pendingLines != nullptr) {
    settings.Batch(work);
    return;
  }
  std::vector<std::string> lines;
  {
    PendingScope scope(&lines);
    settings.Batch(work);
  }
  for (const std::string& line : lines) DriverLog().WriteLine("%s", line.c_str());
}

void LogWhenWritten(const char* format, ...) {
  if (DriverLog().Enabled() == 0) return;
  char text[CVRTLog::kMaxMessage];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (t_pendingLines != nullptr)
    t_pendingLines->push_back(text);
  else
    DriverLog().WriteLine("%s", text);
}

CameraHolds::~CameraHolds() {
  for (auto it = held_.rbegin(); it != held_.rend(); ++it) {
    (*it)->Unlock();
    (*it)->Unpin();
  }
}

void CameraHolds::Add(CVRTComm* connection) {
  if (connection == nullptr) return;
  std::vector<CVRTCamera*> cameras;
  connection->PinCameras(&cameras);
  held_.reserve(held_.size() + cameras.size());
  for (CVRTCamera* camera : cameras) {
    camera->Lock();
    held_.push_back(camera);
  }
}
