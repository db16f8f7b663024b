// The camera's subtree of the settings document: its keys, its presets
// ("positions") and its relays ("relays").
#include <algorithm>

#include "camera/camera.h"
#include "comm/comm.h"
#include "driver/driver.h"
#include "driver/log.h"
#include "driver/settings_change.h"
#include "driver/settings_values.h"
#include "quaro7k7_ptz.h"
#include "settings/xml_settings.h"

namespace {

// The camera's member of each number key, in the keys' order.
constexpr int32_t CVRTCamera::*kMembers[] = {
#define QUARO7_CAMERA_KEY_MEMBER(member, ...) &CVRTCamera::member,
    QUARO7_CAMERA_NUMBER_KEYS(QUARO7_CAMERA_KEY_MEMBER)
#undef QUARO7_CAMERA_KEY_MEMBER
};
static_assert(sizeof kMembers / sizeof kMembers[0] == camera_keys::kCount, "one member per key");

}  // namespace

int CVRTCamera::Load(const std::string& keyPath) {
  KeyPath = keyPath;
  const std::string base = "settings/" + keyPath;
  // Every number is read before the presets and relays: the relays made
  // when the file has none are NofRelays of them (never more than a camera
  // can have), and nothing else read here depends on the sub-loads.
  Name = ReadTextKey(base + camera_keys::kName);
  for (int i = 0; i < camera_keys::kCount; ++i) {
    const camera_keys::NumberKey& key = camera_keys::kNumberKeys[i];
    this->*kMembers[i] = key.Loaded(ReadIntKey(base + key.key));
  }
  ResetLocations();
  int result = LoadPrePositions(keyPath);
  if (result != 1) return result;
  result = LoadRelays(keyPath);
  if (result != 1) return result;
  VRT_LOG_LINE("CAM.Load: TAVO Camera %d (physical ID %d) load OK.\n", OneBased(TavoID), SysID);
  return 1;
}

int CVRTCamera::Save(const std::string& keyPath) {
  // Host calls change the camera with its lock held: it is held while its
  // values are read. Some twenty values and every preset and relay are
  // written to the file as one change.
  std::lock_guard<CVRTCamera> hold(*this);
  int result = -3;
  SettingsChange([&] { result = SaveKeys(keyPath); });
  return result;
}

int CVRTCamera::SaveKeys(const std::string& keyPath) {
  if (!keyPath.empty()) KeyPath = keyPath;
  if (KeyPath.empty()) return QUARO7_BAD_ARGUMENT;
  const std::string base = "settings/" + KeyPath;
  WriteKey(base + camera_keys::kName, Name);
  for (int i = 0; i < camera_keys::kCount; ++i)
    WriteKey(base + camera_keys::kNumberKeys[i].key, this->*kMembers[i]);
  int result = SavePrePositions(KeyPath);
  if (result != 1) return result;
  result = SaveRelays(KeyPath);
  if (result != 1) return result;
  LogWhenWritten("CAM.Save: TAVO Camera %d save OK.\n", OneBased(TavoID));
  return 1;
}

int CVRTCamera::LoadPrePositions(const std::string& keyPath) {
  const std::string parent = "settings/" + keyPath + "/positions";
  for (int n : NumberedKeys(parent, "PrePos")) {
    auto preset = std::make_unique<CVRTPrePosition>();
    const int result = preset->Load(keyPath + "/positions/PrePos" + std::to_string(n));
    if (result != 1) return result;
    if (preset->MemId >= 1 && preset->MemId <= kLocationCount) TakeLocation(preset->MemId);
    PrePositions.push_back(std::move(preset));
  }
  VRT_LOG_LINE("CAM.LoadPrePositions: TAVO Camera %d preposition load OK (%d positions).\n",
               OneBased(TavoID), PresetCount());
  return 1;
}

int CVRTCamera::SavePrePositions(const std::string& keyPath) {
  const int result = WritePrePositions(keyPath);
  if (result != 1) return result;
  LogWhenWritten("CAM.SavePrePositions: TAVO Camera %d preposition save OK (%d positions).\n",
                 OneBased(TavoID), PresetCount());
  return 1;
}

int CVRTCamera::WritePrePositions(const std::string& keyPath) {
  // With every key cleared, the lowest free key (MakePrePositionKey) of
  // the preset at list index i is PrePos<i + 1>; presets above the highest
  // key number get none and are not written.
  for (auto& preset : PrePositions) preset->KeyPath.clear();
  for (size_t i = 0; i < PrePositions.size() && i < static_cast<size_t>(kMaxKeyNumber); ++i) {
    const int result = PrePositions[i]->Save(KeyPath + "/positions/PrePos" + std::to_string(i + 1));
    if (result != 1) return result;
  }
  // Nodes above the saved presets are left-overs of deleted presets: remove
  // them, so that a reload yields exactly the presets saved here.
  const std::string parent = "settings/" + keyPath + "/positions";
  for (int n : NumberedKeys(parent, "PrePos"))
    if (n > PresetCount()) Driver().Settings.DeleteKey(parent + "/PrePos" + std::to_string(n));
  return 1;
}

int CVRTCamera::LoadRelays(const std::string& keyPath) {
  // Relay i is node Relay<i + 1>, for the first NofRelays of them (the
  // relay number decides the function a relay drives); a node missing among
  // them gives a relay of the default name, written at once. Nodes above
  // the count are no relays of this camera; they stay in the file as read.
  const std::string parent = "settings/" + keyPath + "/relays";
  const int count = WantedRelays();
  bool any = false;
  otherRelayNodes_.clear();
  for (int n : NumberedKeys(parent, "Relay")) {
    if (n <= count)
      any = true;
    else
      otherRelayNodes_.emplace_back(n,
                                    ReadTextKey(parent + "/Relay" + std::to_string(n) + "/Name"));
  }
  if (!any) {
    if (CreateRelays(keyPath, nullptr) == -1) return QUARO7_FAILED;
  } else {
    int result = 1;
    SettingsChange([&] {
      for (int i = RelayCount(); i < count && result == 1; ++i) {
        auto relay = std::make_unique<CVRTRelay>(this);
        const std::string node = keyPath + "/relays/Relay" + std::to_string(i + 1);
        if (KeyExists("settings/" + node)) {
          result = relay->Load(node);
        } else {
          relay->Name = "Relay" + std::to_string(i + 1);
          relay->KeyPath = node;
          relay->Save();
        }
        relay->Index.store(i);
        if (result == 1) Relays.push_back(std::move(relay));
      }
    });
    if (result != 1) return result;
  }
  VRT_LOG_LINE("CAM.LoadRelays: TAVO Camera %d relay load OK (%d relays).\n", OneBased(TavoID),
               RelayCount());
  return 1;
}

int CVRTCamera::SaveRelays(const std::string& keyPath) {
  // Exactly NofRelays relays, as Relay1 .. Relay<NofRelays>.
  if (RelayCount() < WantedRelays() && CreateRelays(keyPath, nullptr) == -1) return QUARO7_FAILED;
  if (RelayCount() > WantedRelays()) MatchRelays(nullptr);
  for (size_t i = 0; i < Relays.size(); ++i) {
    CVRTRelay& relay = *Relays[i];
    relay.KeyPath = keyPath + "/relays/Relay" + std::to_string(i + 1);
    const int result = relay.Save();
    if (result != 1) return result;
  }
  // The file's relay nodes above the count when the camera was loaded stay
  // as they were (also under a new key path), unless the count has grown
  // over them; the camera's own nodes above its count go.
  const std::string parent = "settings/" + keyPath + "/relays";
  const int count = RelayCount();
  otherRelayNodes_.erase(std::remove_if(otherRelayNodes_.begin(), otherRelayNodes_.end(),
                                        [count](const std::pair<int, std::string>& node) {
                                          return node.first <= count;
                                        }),
                         otherRelayNodes_.end());
  auto isOther = [this](int n) {
    for (const auto& node : otherRelayNodes_)
      if (node.first == n) return true;
    return false;
  };
  for (const auto& node : otherRelayNodes_)
    WriteKey(parent + "/Relay" + std::to_string(node.first) + "/Name", node.second);
  for (int n : NumberedKeys(parent, "Relay"))
    if (n > count && !isOther(n))
      Driver().Settings.DeleteKey(parent + "/Relay" + std::to_string(n));
  LogWhenWritten("CAM.SaveRelays: TAVO Camera %d relays save OK (%d programs).\n", OneBased(TavoID),
                 RelayCount());
  return 1;
}
