// The camera commands and the cameras' part of config show.
#include <mutex>
#include <ostream>
#include <vector>

#include "camera/camera.h"
#include "camera/camera_keys.h"
#include "camera/preposition.h"
#include "camera/relay.h"
#include "comm/comm.h"
#include "driver/settings_change.h"
#include "ptzctl/config_context.h"
#include "ptzctl/config_text.h"

namespace ptzctl {
namespace config {

namespace {

using Json = nlohmann::ordered_json;

Json CameraDocument(CVRTCamera& camera) {
  std::lock_guard<CVRTCamera> hold(camera);
  Json doc;
  doc["key"] = camera.KeyPath;
  doc["Name"] = ToUtf8(camera.Name);
#define QUARO7_CONFIG_CAMERA_KEY(member, ...) doc[#member] = camera.member;
  QUARO7_CAMERA_NUMBER_KEYS(QUARO7_CONFIG_CAMERA_KEY)
#undef QUARO7_CONFIG_CAMERA_KEY
  doc["relays"] = Json::array();
  for (int i = 0; i < camera.RelayCount(); ++i)
    doc["relays"].push_back(Json{{"Name", ToUtf8(camera.GetRelayAt(i)->Name)}});
  doc["positions"] = Json::array();
  std::vector<CVRTPrePosition*> presets;
  camera.ListPrePositions(&presets);
  for (CVRTPrePosition* preset : presets) {
    if (preset == nullptr) continue;
    doc["positions"].push_back(
        Json{{"Name", ToUtf8(preset->Name)}, {"ID", preset->ID}, {"MemId", preset->MemId}});
  }
  return doc;
}

}  // namespace

Json CamerasDocument(CVRTComm* line) {
  Json cameras = Json::array();
  CameraHolds holds(line);
  for (CVRTCamera* camera : holds.Cameras()) cameras.push_back(CameraDocument(*camera));
  return cameras;
}

void PrintCamerasText(std::ostream& out, const Json& cameras) {
  for (const Json& camera : cameras) {
    out << "  camera " << camera["TavoID"].get<int>() << " "
        << TextQuoted(camera["Name"].get<std::string>()) << " (" << camera["key"].get<std::string>()
        << "):";
    const char* separator = " ";
    for (int i = 0; i < camera_keys::kCount; ++i) {
      const char* key = camera_keys::ElementName(static_cast<camera_keys::Index>(i));
      if (i == camera_keys::TavoID) continue;
      out << separator << key << " " << camera[key].get<int>();
      separator = ", ";
    }
    out << "\n    relays:";
    int number = 1;
    for (const Json& relay : camera["relays"])
      out << " " << number++ << " " << TextQuoted(relay["Name"].get<std::string>());
    if (camera["relays"].empty()) out << " none";
    out << "\n";
    if (camera["positions"].empty()) continue;
    out << "    presets:";
    for (const Json& preset : camera["positions"])
      out << " [" << preset["ID"].get<int>() << "] "
          << TextQuoted(preset["Name"].get<std::string>());
    out << "\n";
  }
}

}  // namespace config
}  // namespace ptzctl
