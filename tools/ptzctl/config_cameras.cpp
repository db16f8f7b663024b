// The camera commands and the cameras' part of config show. add-camera and
// set-camera build the camera's settings as one value, as the camera setup
// dialog reads its fields into one, and go through the driver's checks of
// it and its one save of the camera.
#include <algorithm>
#include <bitset>
#include <cstring>
#include <memory>
#include <mutex>
#include <ostream>
#include <vector>

#include "camera/camera.h"
#include "camera/camera_keys.h"
#include "camera/camera_settings_value.h"
#include "camera/preposition.h"
#include "camera/relay.h"
#include "comm/comm.h"
#include "driver/driver.h"
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

constexpr char kRelayNameKey[] = "RelayName";

// A failed save: nothing of the change is in the file.
int SaveFailed(Context& context, int result) {
  context.err << "ptzctl config: the driver could not save the settings file: result " << result
              << " (its log says why)\n";
  return 1;
}

bool NumberKeyNamed(const std::string& name, camera_keys::Index* key) {
  for (int i = 0; i < camera_keys::kCount; ++i) {
    const camera_keys::Index k = static_cast<camera_keys::Index>(i);
    if (name == camera_keys::ElementName(k)) {
      *key = k;
      return true;
    }
  }
  return false;
}

// RelayName<n>, n from 1 to the most relays a camera has: the 0-based relay.
bool RelayKeyNamed(const std::string& name, int* relay) {
  const size_t prefix = std::strlen(kRelayNameKey);
  if (name.compare(0, prefix, kRelayNameKey) != 0 || name.size() == prefix) return false;
  int n = 0;
  for (size_t i = prefix; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9' || n > camera_keys::kMaxRelays) return false;
    n = n * 10 + (name[i] - '0');
  }
  if (n < 1 || n > camera_keys::kMaxRelays || name[prefix] == '0') return false;
  *relay = n - 1;
  return true;
}

// The command line's values in the settings: the options first, then the
// KEY=VALUE words in their order, the relay names last (a count given in
// the same command counts for them). Words it cannot take give status 2,
// a name it cannot store or a relay the camera will not have status 1;
// 0 when every value is in.
struct Given {
  std::bitset<camera_keys::kCount> numbers;
  std::vector<int> relays;  // 0-based
  bool name = false;
};

int TakeValues(Context& context, const Request& request, CameraSettings* settings, Given* given) {
  if (request.name) {
    std::string name;
    if (!NameArgument(context, *request.name, &name)) return 1;
    settings->SetName(name);
    given->name = true;
  }
  if (request.number) {
    settings->SetNumber(camera_keys::TavoID, *request.number);
    given->numbers.set(camera_keys::TavoID);
  }
  if (request.address) {
    settings->SetNumber(camera_keys::SysID, *request.address);
    given->numbers.set(camera_keys::SysID);
  }
  std::vector<std::pair<int, std::string>> relayNames;
  for (const std::string& word : request.assignments) {
    const size_t equals = word.find('=');
    const std::string key = word.substr(0, equals);
    camera_keys::Index number = camera_keys::kCount;
    int relay = -1;
    if (equals == std::string::npos || key.empty()) {
      context.err << "ptzctl config: " << TextQuoted(word) << " is no KEY=VALUE\n";
      return 2;
    }
    const std::string value = word.substr(equals + 1);
    if (NumberKeyNamed(key, &number)) {
      settings->SetNumber(number, value);
      given->numbers.set(number);
    } else if (key == camera_keys::kName + 1) {
      std::string name;
      if (!NameArgument(context, value, &name)) return 1;
      settings->SetName(name);
      given->name = true;
    } else if (RelayKeyNamed(key, &relay)) {
      std::string name;
      if (!NameArgument(context, value, &name)) return 1;
      relayNames.emplace_back(relay, name);
    } else {
      context.err << "ptzctl config: no camera key " << TextQuoted(key)
                  << " (keys: Name, the settings file's number keys, RelayName1 ... RelayName"
                  << camera_keys::kMaxRelays << ")\n";
      return 2;
    }
  }
  // What the camera's own checks refuse is refused before a relay it would
  // not have: the count is checked first.
  if (!CheckCameraSettings(*settings).Accepted()) return 0;
  for (const auto& relay : relayNames) {
    if (!settings->SetRelayName(relay.first, relay.second)) {
      return context.Refused("ptzctl config: the camera has " +
                             std::to_string(settings->NofRelays) + " relays: no " + kRelayNameKey +
                             std::to_string(relay.first + 1));
    }
    given->relays.push_back(relay.first);
  }
  return 0;
}

// The checks of the camera setup dialog's OK, then a value given here that
// its controls could not have given (outside the key's range), then its
// question about relays sharing a function, which only --yes answers Yes:
// asked when the command makes such a sharing or changes one the camera
// had (`before`, null for a new camera), not for a change of other values.
// 0 when the settings may be applied.
int Check(Context& context, const Request& request, const CameraSettings& settings,
          const Given& given, CVRTComm* line, const CVRTCamera* camera,
          const CameraSettings* before) {
  const CameraSettingsCheck check = Driver().CheckCamera(settings, line, camera);
  if (!check.Accepted()) {
    if (check.problem == CameraSettingsCheck::kNumber)  // the dialog says nothing
      return context.Refused("ptzctl config: the camera number must be a number from 0 up");
    return context.Refused(check.message);
  }
  const CameraSettingsCheck ranges = CheckGivenCameraSettings(settings, given.numbers);
  if (!ranges.Accepted()) return context.Refused(ranges.message);
  const bool kept = before != nullptr && SharesRelayFunction(*before) &&
                    before->NofRelays == settings.NofRelays &&
                    before->Aux1Func == settings.Aux1Func &&
                    before->Aux2Func == settings.Aux2Func && before->Aux3Func == settings.Aux3Func;
  if (SharesRelayFunction(settings) && !kept && !request.yes) {
    context.err << kSharedRelayFunctionQuestion << "\n"
                << "ptzctl config: not saved; give --yes to keep it\n";
    return 1;
  }
  return 0;
}

std::string CameraText(int number, const std::string& name, const std::string& key) {
  return "camera " + std::to_string(number) + " " + Shown(name) + " (" + key + ")";
}

// ", Key old -> new" for every value that differs.
std::string Differences(const CameraSettings& before, const CameraSettings& after) {
  std::string what;
  if (before.Name != after.Name)
    what += ", Name " + Shown(before.Name) + " -> " + Shown(after.Name);
  for (int i = 0; i < camera_keys::kCount; ++i) {
    const camera_keys::Index key = static_cast<camera_keys::Index>(i);
    if (before.Number(key) != after.Number(key))
      what += std::string(", ") + camera_keys::ElementName(key) + " " +
              std::to_string(before.Number(key)) + " -> " + std::to_string(after.Number(key));
  }
  const int relays = std::max(before.NofRelays, after.NofRelays);
  for (int i = 0; i < relays && i < camera_keys::kMaxRelays; ++i) {
    const bool had = i < before.NofRelays, has = i < after.NofRelays;
    if (had && has && before.RelayName(i) == after.RelayName(i)) continue;
    what += std::string(", ") + kRelayNameKey + std::to_string(i + 1) + " " +
            (had ? Shown(before.RelayName(i)) : "none") + " -> " +
            (has ? Shown(after.RelayName(i)) : "none");
  }
  return what;
}

// The camera by its host number, not held: this process has no other
// thread that could remove it, and the driver's checks and save take its
// lock themselves, as they do for the setup dialog.
CVRTCamera* CameraNumbered(Context& context, int number) {
  HeldCamera held = Driver().FindCameraByNumber(number);
  if (!held) context.err << "ptzctl config: no camera " << number << "\n";
  return held.get();
}

}  // namespace

int AddCamera(Context& context, const Request& request) {
  CVRTComm* line = FindLine(context, request.line);
  if (line == nullptr) return 1;
  std::string key;
  if (line->MakeCameraKey(1, &key) != 1)
    return context.Refused("ptzctl config: line " + LineText(line) + " has no free camera key");
  // As the driver setup dialog makes a new camera for the camera setup
  // dialog: nothing reaches the file before every value is checked.
  auto camera = std::make_unique<CVRTCamera>(line);
  camera->KeyPath = key;
  CameraSettings settings = CameraSettings::Of(*camera);
  Given given;
  const int taken = TakeValues(context, request, &settings, &given);
  if (taken != 0) return taken;
  const int checked = Check(context, request, settings, given, line, camera.get(), nullptr);
  if (checked != 0) return checked;
  const int saved = Driver().ApplyCameraSettings(camera.get(), settings);
  if (saved != 1) return SaveFailed(context, saved);
  CVRTCamera* added = camera.get();
  if (line->AddCamera(std::move(camera)) == 1) Driver().AddCamera(added);
  const CameraSettings now = CameraSettings::Of(*added);
  std::string what =
      "added " + CameraText(now.TavoID, now.Name, key) + " on line " + LineText(line);
  for (int i = 0; i < camera_keys::kCount; ++i) {
    const camera_keys::Index k = static_cast<camera_keys::Index>(i);
    if (given.numbers.test(k) && k != camera_keys::TavoID)
      what += std::string(", ") + camera_keys::ElementName(k) + " " + std::to_string(now.Number(k));
  }
  for (int relay : given.relays)
    what += std::string(", ") + kRelayNameKey + std::to_string(relay + 1) + " " +
            Shown(now.RelayName(relay));
  context.Changed(what);
  return 0;
}

int SetCamera(Context& context, const Request& request) {
  CVRTCamera* camera = CameraNumbered(context, request.camera);
  if (camera == nullptr) return 1;
  const CameraSettings before = CameraSettings::Of(*camera);
  CameraSettings settings = before;
  Given given;
  const int taken = TakeValues(context, request, &settings, &given);
  if (taken != 0) return taken;
  const int checked = Check(context, request, settings, given, camera->Connection, camera, &before);
  if (checked != 0) return checked;
  const std::string text = CameraText(before.TavoID, before.Name, camera->KeyPath);
  // The relay names the count keeps, compared as the camera would have
  // them.
  CameraSettings wanted = settings;
  wanted.RelayNames.clear();
  for (int i = 0; i < settings.NofRelays; ++i) wanted.RelayNames.push_back(settings.RelayName(i));
  if (Differences(before, wanted).empty()) {
    context.out << text << ": nothing to change\n";
    return 0;
  }
  const int saved = Driver().ApplyCameraSettings(camera, settings);
  if (saved != 1) return SaveFailed(context, saved);
  context.Changed("changed " + text + Differences(before, CameraSettings::Of(*camera)));
  return 0;
}

int RemoveCamera(Context& context, const Request& request) {
  CVRTCamera* camera = CameraNumbered(context, request.camera);
  if (camera == nullptr) return 1;
  std::string text;
  {
    std::lock_guard<CVRTCamera> hold(*camera);
    text = CameraText(camera->TavoID, camera->Name, camera->KeyPath);
  }
  CVRTComm* line = camera->Connection;
  const int removed = Driver().DeleteCamera(camera);
  if (removed != 1) return SaveFailed(context, removed);
  // The cameras after it on the line are saved again as cam1 ... camN, as
  // the driver setup dialog's "Remove Camera" leaves them.
  context.Changed("removed " + text + " from line " + LineText(line));
  return 0;
}

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
