// A camera's settings as one value, as far as the driver is concerned: the
// checks against every other camera, and the one step that gives a camera
// its settings and saves it.
#include "camera/camera.h"
#include "camera/camera_settings_value.h"
#include "comm/comm.h"
#include "driver/driver.h"
#include "driver/text.h"
#include "quaro7k7_ptz.h"
#include "ui/resources.h"

namespace {
constexpr int kStringNumberTaken = 12;
constexpr int kStringAddressTaken = 13;
constexpr int kStringNameTaken = 14;
}  // namespace

CameraSettingsCheck CVRTDriver::CheckCamera(const CameraSettings& settings, CVRTComm* connection,
                                            const CVRTCamera* camera) {
  using Check = CameraSettingsCheck;
  const Check own = CheckCameraSettings(settings);
  if (!own.Accepted()) return own;
  bool numberTaken = false;
  {
    // Only which camera the number leads to counts: no camera lock needed.
    std::lock_guard<std::mutex> hold(tableLock_);
    auto it = camerasByNumber_.find(settings.TavoID);
    numberTaken = it != camerasByNumber_.end() && it->second != camera;
  }
  // Nor may another process have saved a camera with that number.
  if (!numberTaken) {
    const std::string ownKey = camera != nullptr ? camera->KeyPath : std::string();
    for (const SavedCamera& saved : CamerasInFile())
      if (saved.number == settings.TavoID &&
          (ownKey.empty() || !SameTextIgnoringCase(saved.key, ownKey)))
        numberTaken = true;
  }
  if (numberTaken)
    return Check::Refused(Check::kNumberTaken, camera_keys::TavoID,
                          ui::LoadString(kStringNumberTaken));
  const int conflict = connection != nullptr ? connection->CameraConflict(settings, camera) : 0;
  switch (conflict) {
    case kStringNumberTaken:
      return Check::Refused(Check::kNumberTaken, camera_keys::TavoID, ui::LoadString(conflict));
    case kStringAddressTaken:
      return Check::Refused(Check::kAddressTaken, camera_keys::SysID, ui::LoadString(conflict));
    case kStringNameTaken:
      return Check::Refused(Check::kNameTaken, camera_keys::kCount, ui::LoadString(conflict));
    default:
      return own;
  }
}

int CVRTDriver::ApplyCameraSettings(CVRTCamera* camera, const CameraSettings& settings) {
  if (camera == nullptr) return QUARO7_BAD_ARGUMENT;
  // Host calls on the camera wait until it has its settings and is saved
  // (camera lock, then the table's).
  std::lock_guard<CVRTCamera> hold(*camera);
  const int32_t oldNumber = camera->TavoID;
  camera->Apply(settings);
  if (camera->TavoID != oldNumber) {
    std::lock_guard<std::mutex> table(tableLock_);
    auto it = camerasByNumber_.find(oldNumber);
    if (it != camerasByNumber_.end() && it->second == camera &&
        camerasByNumber_.count(camera->TavoID) == 0) {
      camerasByNumber_.erase(it);
      camerasByNumber_[camera->TavoID] = camera;
    }
  }
  return camera->Save();
}
