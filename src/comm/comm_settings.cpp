// The connection's subtree of the settings document: name, COM port, port
// mode and one subtree per camera.
#include <algorithm>

#include "camera/camera.h"
#include "comm/comm.h"
#include "comm/comm_keys.h"
#include "comm/connection_settings.h"
#include "driver/driver.h"
#include "driver/settings_change.h"
#include "driver/settings_values.h"
#include "quaro7k7_ptz.h"

int CVRTComm::Load(const std::string& key) {
  key_ = key;
  const std::string base = "settings/" + key;
  name_ = ReadTextKey(base + comm_keys::kName);
  comPort_ = comm_keys::LoadedComPort(ReadIntKey(base + comm_keys::kComPort));
  portMode_ = ReadTextKey(base + comm_keys::kPortMode);
  if (portMode_.empty()) portMode_ = kDefaultPortMode;
  return LoadCameras(key);
}

void CVRTComm::Apply(const ConnectionSettings& settings) {
  name_ = settings.Name;
  comPort_ = settings.ComPort;
  portMode_ = settings.PortMode.empty() ? std::string(kDefaultPortMode) : settings.PortMode;
}

int CVRTComm::LoadCameras(const std::string& key) {
  for (int n : NumberedKeys("settings/" + key, "cam")) {
    auto camera = std::make_unique<CVRTCamera>(this);
    const int result = camera->Load(key + "/cam" + std::to_string(n));
    if (result != 1) return result;
    std::lock_guard<std::recursive_mutex> hold(camerasLock_);
    cameras_.push_back(std::move(camera));
  }
  return 1;
}

int CVRTComm::Save(const std::string& key) {
  // The cameras are held while their values are read; the connection with
  // all its cameras is one change of the file.
  CameraHolds holds(this);
  int result = -3;
  SettingsChange([&] { result = SaveKeys(key, holds.Cameras()); });
  return result;
}

int CVRTComm::SaveKeys(const std::string& key, const std::vector<CVRTCamera*>& held) {
  if (!key.empty()) key_ = key;
  if (key_.empty()) return QUARO7_BAD_ARGUMENT;
  const std::string base = "settings/" + key_;
  WriteKey(base + comm_keys::kName, name_);
  WriteKey(base + comm_keys::kComPort, comPort_);
  WriteKey(base + comm_keys::kPortMode,
           portMode_.empty() ? std::string(kDefaultPortMode) : portMode_);
  std::lock_guard<std::recursive_mutex> hold(camerasLock_);
  for (size_t i = 0; i < cameras_.size(); ++i) {
    // A camera that joined the list after the holds were taken is not
    // held, and its lock may not be waited for with the document held (a
    // host call holding it may be waiting for the document): whoever added
    // it wrote its node before it joined.
    CVRTCamera* camera = cameras_[i].get();
    if (std::find(held.begin(), held.end(), camera) == held.end()) continue;
    const int result = camera->Save(key_ + "/cam" + std::to_string(i + 1));
    if (result != 1) return result;
  }
  // Camera nodes above the count are cameras saved under other numbers (or
  // deleted): a reload would load them twice.
  for (int n : NumberedKeys(base, "cam"))
    if (n > static_cast<int>(cameras_.size()))
      Driver().Settings.DeleteKey(base + "/cam" + std::to_string(n));
  return 1;
}
