// The settings document as a whole: where the file lives, how the driver
// builds its connections and camera table from it, how it saves, and how
// cameras and connections leave it.
#include "camera/camera.h"
#include "comm/comm.h"
#include "driver/driver.h"
#include "driver/settings_change.h"
#include "driver/settings_values.h"
#include "platform/file_ops.h"
#include "platform/module_path.h"
#include "quaro7k7_ptz.h"

int CVRTDriver::InitXML() {
  std::string library;
  if (!platform::LibraryFileName(&library)) return QUARO7_FAILED;
  const size_t slash = library.find_last_of(platform::kPathSeparator);
  const std::string directory = slash == std::string::npos ? library : library.substr(0, slash);
  const std::string path = directory + platform::kPathSeparator + kSettingsFileName;
  Settings.Folder = directory;
  platform::ClearReadOnly(path);
  // A start of the module after its end (nothing loaded is left) reads the
  // file afresh, with what other processes saved meanwhile; a second start
  // without an end keeps what the first read.
  const bool again = Settings.OpenCount() > 0 && ConnectionCount() == 0;
  // Only a missing file is replaced by a new empty document. A file that
  // exists but is empty or damaged stays as it is: the open below refuses it.
  const platform::FileProbe probe = platform::ProbeFile(path);
  if (!probe.exists && !again) Settings.CreateDocument(kSettingsFileName, "settings", 1);
  int32_t opened = Settings.OpenDocument(kSettingsFileName, 1, 1);
  if (opened == 0 && again) opened = Settings.ReadAgain("settings");
  if (opened == 0) {
    VRT_LOG_LINE("DRV.InitXML: XML configuration intialised.\n");
    return 1;
  }
  VRT_LOG_TEXT("DRV.InitXML: XML init failed");
  return QUARO7_FAILED;
}

int CVRTDriver::Load() {
  // Cameras without relay keys get their default relays written while they
  // load: one write of the file for the whole load.
  int loaded = 1;
  SettingsChange([&] { loaded = LoadConnections(); });
  if (loaded != 1) {
    VRT_LOG_LINE("DRV.Load: Connection load failed (error %d).\n", loaded);
    return loaded;
  }
  const int table = BuildCameraTable();
  if (table != 1) {
    VRT_LOG_LINE("DRV.Load: Internal camera table initialization failed (error %d).\n", table);
    return table;
  }
  VRT_LOG_LINE("DRV.Load: Load OK.\n");
  return 1;
}

int CVRTDriver::LoadConnections() {
  int result = 1;
  for (int n : NumberedKeys("settings", "comm")) {
    auto connection = std::make_unique<CVRTComm>();
    connection->SetOption(ConnectionOption);
    result = connection->Load("comm" + std::to_string(n));
    if (result == 1) AddConnection(std::move(connection));
  }
  return result;
}

// For callers that hold no camera (the setup dialog): every camera is held
// while the connections are written.
int CVRTDriver::Save() {
  std::vector<CVRTComm*> connections;
  GetConnections(&connections);
  CameraHolds holds(connections);
  int result = 1;
  SettingsChange([&] {
    for (CVRTComm* connection : connections) {
      result = connection->Save();
      if (result != 1) {
        VRT_LOG_LINE("DRV.Save: Connection %s save failed (error %d).\n",
                     connection->GetName().c_str(), result);
        return;
      }
    }
  });
  return result;
}

int CVRTDriver::DeleteCameraKeys(CVRTComm* connection) {
  if (connection == nullptr) return 1;
  const std::string base = "settings/" + connection->GetKey();
  SettingsChange([&] {
    for (int n : NumberedKeys(base, "cam")) Settings.DeleteKey(base + "/cam" + std::to_string(n));
  });
  return 1;
}

int CVRTDriver::DeleteAllConnectionKeys() {
  std::vector<CVRTComm*> connections;
  GetConnections(&connections);
  SettingsChange([&] {
    for (CVRTComm* connection : connections) {
      DeleteCameraKeys(connection);
      Settings.DeleteKey("settings/" + connection->GetKey());
    }
  });
  return 1;
}

int CVRTDriver::DeleteCamera(CVRTCamera* camera) {
  if (camera == nullptr || camera->Connection == nullptr) return 0;
  CVRTComm* connection = camera->Connection;
  const int number = camera->TavoID;
  // The camera leaves the tables first, so no host call can reach it, then
  // the connection's list, which waits for any call or save that still
  // holds it; only then is it destroyed.
  RemoveCamera(camera);
  std::unique_ptr<CVRTCamera> removed = connection->RemoveCamera(camera);
  removed.reset();
  // The others are renumbered from their state in memory: held, so that no
  // host call changes one while it is read. Their old nodes go and their new
  // ones come in one change of the file.
  CameraHolds holds(connection);
  const std::vector<CVRTCamera*>& remaining = holds.Cameras();
  SettingsChange([&] {
    DeleteCameraKeys(connection);
    for (size_t i = 0; i < remaining.size(); ++i)
      remaining[i]->Save(connection->GetKey() + "/cam" + std::to_string(i + 1));
  });
  VRT_LOG_LINE("CAM.DeleteCamera, id = %d OK.\n", number);
  return 1;
}

int CVRTDriver::DeleteConnection(CVRTComm* connection) {
  if (connection == nullptr) return 1;
  // Every connection's keys go and the remaining connections come back as
  // comm1 ... commN: one change of the file, made after the connection and
  // its cameras are gone (that waits for host calls still holding them) and
  // with the remaining cameras held while they are read.
  const std::string key = connection->GetKey();
  std::unique_ptr<CVRTComm> removed = RemoveConnection(connection);
  const bool listed = removed != nullptr;
  Destroy(std::move(removed));
  std::vector<CVRTComm*> connections;
  GetConnections(&connections);
  CameraHolds holds(connections);
  SettingsChange([&] {
    if (listed && !key.empty()) Settings.DeleteKey("settings/" + key);
    DeleteAllConnectionKeys();
    for (size_t i = 0; i < connections.size(); ++i)
      connections[i]->Save("comm" + std::to_string(i + 1));
  });
  return 1;
}

int CVRTDriver::DeletePrePositionKeys(CVRTCamera* camera) {
  if (camera == nullptr) return 0;
  if (!camera->KeyPath.empty()) Settings.DeleteKey("settings/" + camera->KeyPath + "/positions");
  return 1;
}

int CVRTDriver::DeleteRelayKeys(CVRTCamera* camera) {
  if (camera == nullptr) return 0;
  if (!camera->KeyPath.empty()) Settings.DeleteKey("settings/" + camera->KeyPath + "/relays");
  return 1;
}
