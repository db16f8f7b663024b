// What the driver adds to the settings store's rules for several processes
// on one file (settings/xml_settings.h): the names its log gives the file's
// subtrees, and that no two processes give two cameras one number or one
// line's two cameras one address.
#include <cstdio>

#include "camera/camera_keys.h"
#include "driver/driver.h"
#include "driver/settings_values.h"
#include "settings/subtrees.h"

namespace {

CVRTDriver::SavedCamera ReadSavedCamera(const std::string& key) {
  CVRTDriver::SavedCamera camera;
  const std::string base = "settings/" + key;
  camera.key = key;
  camera.connection = key.substr(0, key.find('/'));
  camera.name = ReadTextKey(base + camera_keys::kName);
  camera.number = ReadIntKey(base + camera_keys::Of(camera_keys::TavoID).key);
  camera.node = ReadIntKey(base + camera_keys::Of(camera_keys::NodeAddress).key);
  camera.address = ReadIntKey(base + camera_keys::Of(camera_keys::SysID).key);
  return camera;
}

}  // namespace

std::vector<CVRTDriver::SavedCamera> CVRTDriver::CamerasInFile() {
  Settings.TakeInOtherChanges();
  std::vector<SavedCamera> cameras;
  for (const std::string& connection : Settings.ChildKeys("settings")) {
    if (!subtrees::IsConnectionName(connection)) continue;
    for (const std::string& key : Settings.CamerasOf(connection))
      cameras.push_back(ReadSavedCamera(key));
  }
  return cameras;
}

std::string CVRTDriver::DescribeSettingsSubtree(const std::string& subtree) {
  const std::string base = "settings/" + subtree;
  char text[160];
  if (subtree.find('/') != std::string::npos) {
    if (!KeyExists(base)) return "Camera settings/" + subtree;
    const SavedCamera camera = ReadSavedCamera(subtree);
    std::snprintf(text, sizeof text, "Camera %d ('%s', settings/%s)", camera.number + 1,
                  camera.name.c_str(), subtree.c_str());
    return text;
  }
  if (subtree.empty()) return std::string();
  std::snprintf(text, sizeof text, "Connection '%s' (settings/%s)",
                ReadTextKey(base + "/Name").c_str(), subtree.c_str());
  return text;
}

std::string CVRTDriver::CheckNumbersOfOtherProcesses(const std::vector<std::string>& cameras) {
  std::vector<SavedCamera> others;
  for (const std::string& subtree : Settings.ChangedElsewhere())
    if (subtree.find('/') != std::string::npos && KeyExists("settings/" + subtree))
      others.push_back(ReadSavedCamera(subtree));
  if (others.empty()) return std::string();
  char text[200];
  for (const std::string& key : cameras) {
    const SavedCamera camera = ReadSavedCamera(key);
    for (const SavedCamera& other : others) {
      if (other.key == key) continue;
      if (other.number == camera.number) {
        std::snprintf(text, sizeof text,
                      "Camera %d ('%s', settings/%s): another process saved that number for "
                      "settings/%s",
                      camera.number + 1, camera.name.c_str(), key.c_str(), other.key.c_str());
        return text;
      }
      if (other.connection == camera.connection && other.node == camera.node &&
          other.address == camera.address) {
        std::snprintf(text, sizeof text,
                      "Camera %d ('%s', settings/%s): another process saved node %d camera "
                      "address %d on this line for settings/%s",
                      camera.number + 1, camera.name.c_str(), key.c_str(), camera.node,
                      camera.address, other.key.c_str());
        return text;
      }
    }
  }
  return std::string();
}
