// The connection's subtree of the settings document: name, COM port, port
// mode and one subtree per camera.
#include "camera/camera.h"
#include "comm/comm.h"
#include "driver/driver.h"
#include "driver/settings_values.h"

int CVRTComm::Load(const std::string& key) {
  key_ = key;
  const std::string base = "settings/" + key;
  name_ = ReadTextKey(base + "/Name");
  comPort_ = ReadIntKey(base + "/ComPort");
  if (comPort_ == 0 || comPort_ > 47) comPort_ = 1;
  portMode_ = ReadTextKey(base + "/PortMode");
  if (portMode_.empty()) portMode_ = kDefaultPortMode;
  return LoadCameras(key);
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
  int result = -3;
  Driver().Settings.Batch([&] { result = SaveKeys(key); });
  return result;
}

int CVRTComm::SaveKeys(const std::string& key) {
  if (!key.empty()) key_ = key;
  if (key_.empty()) return -3;
  const std::string base = "settings/" + key_;
  WriteKey(base + "/Name", name_);
  WriteKey(base + "/ComPort", comPort_);
  WriteKey(base + "/PortMode", portMode_.empty() ? std::string(kDefaultPortMode) : portMode_);
  std::lock_guard<std::recursive_mutex> hold(camerasLock_);
  for (size_t i = 0; i < cameras_.size(); ++i) {
    const int result = cameras_[i]->Save(key_ + "/cam" + std::to_string(i + 1));
    if (result != 1) return result;
  }
  return 1;
}
