// A camera's settings as one value, as far as the driver is concerned: the
// checks against every other camera, and the one step that gives a camera
// its settings and saves it.
#include "camera/camera.h"
#include "camera/camera_settings_value.h"
#include "comm/comm.h"
#include "driver/driver.h"
#include "driver/settings_change.h"
#include "driver/text.h"
#include "quaro7k7_ptz.h"
#include "ui/resources.h"

namespace {
using ui::kStringNumberTaken;
using ui::kStringAddressTaken;
using ui::kStringNameTaken;
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
  const CameraSettings before = CameraSettings::Of(*camera);
  const bool inFile =
      !camera->KeyPath.empty() && Settings.KeyExists("settings/" + camera->KeyPath) == 1;
  const int32_t oldNumber = camera->TavoID;
  camera->Apply(settings);
  MoveInTable(camera, oldNumber);
  int result = QUARO7_FAILED;
  try {
    result = camera->Save();
  } catch (...) {
    TakeBack(camera, before, inFile);
    throw;
  }
  if (result != 1) TakeBack(camera, before, inFile);
  return result;
}

void CVRTDriver::MoveInTable(CVRTCamera* camera, int32_t oldNumber) {
  if (camera->TavoID == oldNumber) return;
  std::lock_guard<std::mutex> table(tableLock_);
  auto it = camerasByNumber_.find(oldNumber);
  if (it != camerasByNumber_.end() && it->second == camera &&
      camerasByNumber_.count(camera->TavoID) == 0) {
    camerasByNumber_.erase(it);
    camerasByNumber_[camera->TavoID] = camera;
  }
}

void CVRTDriver::TakeBack(CVRTCamera* camera, const CameraSettings& before, bool inFile) {
  // A camera whose save failed keeps what the file holds, as a preset whose
  // store failed is not kept: its old values come back, and so do its nodes
  // in the document, so that a later write of the file (of another camera)
  // does not bring the refused values in after all. That write may fail as
  // well; the first failure is the one reported.
  const int32_t newNumber = camera->TavoID;
  camera->Apply(before);
  MoveInTable(camera, newNumber);
  try {
    if (inFile) {
      camera->Save();
    } else {
      SettingsChange([&] { Settings.DeleteKey("settings/" + camera->KeyPath); });
    }
  } catch (...) {
  }
}
