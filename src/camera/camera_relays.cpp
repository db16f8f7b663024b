// Relays of a camera: the dome's auxiliary outputs, switched, toggled,
// pulsed and named by the host.
#include <cstring>

#include "camera/camera.h"
#include "comm/comm.h"
#include "driver/driver.h"
#include "driver/log.h"
#include "driver/settings_change.h"
#include "quaro7k7_ptz.h"
#include "settings/xml_settings.h"

static std::string RelayNodeName(int index) { return "Relay" + std::to_string(index + 1); }

CVRTRelay* CVRTCamera::GetRelayAt(int index) {
  if (index < 0 || index >= RelayCount()) return nullptr;
  CVRTRelay* relay = Relays[static_cast<size_t>(index)].get();
  relay->Index.store(index);
  return relay;
}

int CVRTCamera::CreateRelays(const std::string& keyPath, std::vector<std::string>* names) {
  bool made = true;
  // The new relays' nodes are one change of the file. A camera has no more
  // than NofRelays relays: the ones it lacks are made.
  SettingsChange([&] {
    for (int i = RelayCount(); i < WantedRelays(); ++i) {
      std::unique_ptr<CVRTRelay> relay;
      try {
        relay = std::make_unique<CVRTRelay>(this);
      } catch (const std::bad_alloc&) {
        made = false;
        return;
      }
      relay->Index.store(i);
      relay->Name = RelayNodeName(i);
      if (names != nullptr) names->push_back(relay->Name);
      // Relays are stored under their number; the name is only a value, so a
      // renamed relay is found again on reload.
      relay->KeyPath = keyPath + "/relays/" + RelayNodeName(i);
      relay->Save();
      Relays.push_back(std::move(relay));
    }
  });
  if (!made) return -1;
  VRT_LOG_LINE("Cam.CreateRelays: %d relay object succesfully created to TAVO camera %d \n",
               NofRelays, OneBased(TavoID));
  return NofRelays;
}

void CVRTCamera::MatchRelays(const std::vector<std::string>* names) {
  const int count = WantedRelays();
  auto given = [names](int i, std::string* name) {
    if (names == nullptr || i >= static_cast<int>(names->size())) return false;
    *name = (*names)[static_cast<size_t>(i)].substr(0, kNameLength);
    return true;
  };
  if (Connection != nullptr) Connection->Lock();
  while (RelayCount() > count) {
    if (Connection != nullptr) Connection->ForgetTasksOf(this, Relays.back().get());
    Relays.pop_back();
  }
  std::string name;
  for (int i = 0; i < RelayCount(); ++i)
    if (given(i, &name)) Relays[static_cast<size_t>(i)]->Name = name;
  for (int i = RelayCount(); i < count; ++i) {
    auto relay = std::make_unique<CVRTRelay>(this);
    relay->Index.store(i);
    relay->Name = given(i, &name) ? name : RelayNodeName(i);
    relay->KeyPath = KeyPath + "/relays/" + RelayNodeName(i);
    Relays.push_back(std::move(relay));
  }
  if (Connection != nullptr) Connection->Unlock();
}

int CVRTCamera::SetRelay(int relay, int mode, int time) {
  if (Connection != nullptr) Connection->CancelTasks(this, CVRTScheduledTask::kRelayPulse, relay);
  CVRTRelay* target = GetRelayAt(relay);
  if (target == nullptr) return QUARO7_NO_SUCH_RELAY;
  const int result = target->Set(static_cast<unsigned>(mode), time);
  if (result == 1)
    VRT_LOG_LINE("CAM.SetRelay: OK (TavoID %d), relay: %d mode: %d, time: %d\n", OneBased(TavoID),
                 relay, mode, time);
  else
    VRT_LOG_LINE("CAM.SetRelay: FAILED (TavoID %d), relay: %d mode: %d, time: %d\n",
                 OneBased(TavoID), relay, mode, time);
  return result;
}

int CVRTCamera::SetRelayName(int relay, const std::string& name) {
  CVRTRelay* target = GetRelayAt(relay);
  if (target == nullptr) return QUARO7_NO_SUCH_RELAY;
  {
    // The worker thread reads the name while it ends a pulse.
    if (Connection != nullptr) Connection->Lock();
    target->Name = name.substr(0, kNameLength);
    if (Connection != nullptr) Connection->Unlock();
  }
  VRT_LOG_LINE("CAM.SetRelayName: OK (TavoID %d), name: '%s'\n", OneBased(TavoID), name.c_str());
  return 1;
}

int CVRTCamera::GetRelayState(VRT_RelayRecord* record) {
  if (record == nullptr) return QUARO7_BAD_ARGUMENT;
  const int relay = record->relay;
  if (relay == -1) return RelayCount();
  CVRTRelay* target = GetRelayAt(relay);
  if (target == nullptr) return QUARO7_NO_SUCH_RELAY;
  record->handle = CameraIdentifier();
  record->capabilities = target->GetCapabilities();
  record->state = target->GetState();
  std::memset(record->name, 0, sizeof record->name);
  std::strncpy(record->name, target->Name.c_str(), sizeof record->name - 1);
  VRT_LOG_LINE("CAM.GetRelayState: relay = %d OK.(TavoID %d)\n", relay, OneBased(TavoID));
  return 1;
}

int CVRTCamera::SetNofRelays(int count) {
  if (count < 0 || count > kMaxRelays) return QUARO7_BAD_ARGUMENT;
  std::lock_guard<CVRTCamera> hold(*this);
  if (count == NofRelays && count == RelayCount()) return 1;
  if (KeyPath.empty() && Connection != nullptr) Connection->MakeCameraKey(1, &KeyPath);
  NofRelays = count;
  MatchRelays(nullptr);
  // The relays' nodes above the new count go with the save.
  Save();
  return 1;
}
