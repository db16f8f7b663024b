// Presets of a camera: the list the host numbers, the dome's storage
// locations, and store, recall, read and delete.
#include <cstring>

#include "camera/camera.h"
#include "comm/comm.h"
#include "driver/driver.h"
#include "driver/log.h"
#include "driver/settings_change.h"
#include "driver/text.h"
#include "quaro7k7_ptz.h"
#include "settings/xml_settings.h"

// ---------------------------------------------------------------- locations

void CVRTCamera::ResetLocations() {
  for (StorageLocation& entry : StorageLocations) entry = {0, kFree};
}

void CVRTCamera::TakeLocation(int location) {
  if (location < 1 || location > kLocationCount) return;
  StorageLocation& entry = StorageLocations[location - 1];
  ++entry.useCount;
  entry.location = static_cast<uint16_t>(location);
}

void CVRTCamera::ReleaseLocation(int location) {
  if (location < 1 || location > kLocationCount) return;
  StorageLocation& entry = StorageLocations[location - 1];
  if (entry.useCount > 0) --entry.useCount;
  if (entry.useCount == 0) entry.location = kFree;
}

int CVRTCamera::FindFreeLocationSlot() const {
  const int limit = NofStorageLocations < kLocationCount ? NofStorageLocations : kLocationCount;
  for (int slot = 0; slot < limit; ++slot)
    if (StorageLocations[slot].location == kFree) return slot;
  return -1;
}

// ---------------------------------------------------------------- lookups

CVRTPrePosition* CVRTCamera::GetPrePositionAt(int index) {
  if (index < 0 || index >= PresetCount()) return nullptr;
  CVRTPrePosition* preset = PrePositions[static_cast<size_t>(index)].get();
  preset->ID = index;
  return preset;
}

CVRTPrePosition* CVRTCamera::FindPrePosition(const std::string& name) {
  for (size_t i = 0; i < PrePositions.size(); ++i) {
    if (PrePositions[i]->Name == name) {
      PrePositions[i]->ID = static_cast<int32_t>(i);
      return PrePositions[i].get();
    }
  }
  return nullptr;
}

int CVRTCamera::GetPrePositionIndex(const std::string& name) {
  CVRTPrePosition* preset = FindPrePosition(name);
  return preset ? preset->ID : -1;
}

CVRTPrePosition* CVRTCamera::GetActivePrePosition() {
  for (auto& preset : PrePositions)
    if (preset->Active != 0) return preset.get();
  return nullptr;
}

int CVRTCamera::MakePrePositionKey(int mode, std::string* key) {
  if (mode != 1 || key == nullptr) return 0;
  for (int n = 1; n <= 999; ++n) {
    const std::string candidate = KeyPath + "/positions/PrePos" + std::to_string(n);
    bool used = false;
    for (auto& preset : PrePositions)
      if (SameTextIgnoringCase(preset->KeyPath, candidate)) used = true;
    if (!used) {
      *key = candidate;
      return 1;
    }
  }
  return 0;
}

int CVRTCamera::ListPrePositions(std::vector<CVRTPrePosition*>* list) {
  if (list == nullptr) return 0;
  list->clear();
  for (size_t i = 0; i < PrePositions.size(); ++i) {
    PrePositions[i]->ID = static_cast<int32_t>(i);
    list->push_back(PrePositions[i].get());
  }
  return static_cast<int>(list->size());
}

// ---------------------------------------------------------------- recall

int CVRTCamera::MoveToPrePosition(int position, int speed) {
  if (Connection == nullptr) return QUARO7_FAILED;
  if (OpenState != 1) {
    VRT_LOG_LINE("CAM.MoveToPrePosition: TAVO Camera %d busy (error %d).\n", OneBased(TavoID), -20);
    return QUARO7_CAMERA_BUSY;
  }
  SelectPending = 1;
  CVRTPrePosition* preset = GetPrePositionAt(position);
  if (preset == nullptr) {
    VRT_LOG_LINE("CAM.MoveToPrePosition: TAVO Camera %d doesn't have preposition %d (error %d).\n",
                 OneBased(TavoID), position, -23);
    return QUARO7_NO_SUCH_PRESET;
  }
  if (CVRTPrePosition* active = GetActivePrePosition()) active->Active = 0;
  preset->Active = 1;
  const int result = Connection->MoveToPrePosition(this, preset);
  CurrentLocation = preset->MemId;
  if (result == 1)
    VRT_LOG_LINE("CAM.MoveToPrePosition: position = %d speed = %d OK.\n", position, speed);
  else
    VRT_LOG_LINE("CAM.MoveToPrePosition: position = %d speed = %d FAILED (error %d).\n", position,
                 speed, result);
  return result;
}

int CVRTCamera::MoveToPrePositionName(const std::string& name, int speed) {
  if (Connection == nullptr) return QUARO7_FAILED;
  if (OpenState != 1) {
    VRT_LOG_LINE("CAM.MoveToPrePositionName: TAVO Camera %d busy (error %d).\n", OneBased(TavoID),
                 -20);
    return QUARO7_CAMERA_BUSY;
  }
  CVRTPrePosition* preset = FindPrePosition(name);
  if (preset == nullptr) return QUARO7_NO_SUCH_PRESET;
  if (CVRTPrePosition* active = GetActivePrePosition()) active->Active = 0;
  preset->Active = 1;
  const int result = Connection->MoveToPrePosition(this, preset);
  CurrentLocation = preset->MemId;
  if (result == 1)
    VRT_LOG_LINE("CAM.MoveToPrePositionName: Name = %s speed = %d OK.\n", name.c_str(), speed);
  else
    VRT_LOG_LINE("CAM.MoveToPrePositionName: Name = %s speed = %d FAILED (error %d).\n",
                 name.c_str(), speed, result);
  return result;
}

// ---------------------------------------------------------------- store

// Makes a preset with a free key and has the dome store the current
// position in a free location. -18 with no preset when there is no line or
// no key; otherwise the connection's result, with the preset in *stored.
int CVRTCamera::StorePreset(int id, const std::string& name,
                            std::unique_ptr<CVRTPrePosition>* stored) {
  if (Connection == nullptr) return QUARO7_FAILED;
  auto preset = std::make_unique<CVRTPrePosition>();
  if (!MakePrePositionKey(1, &preset->KeyPath)) return QUARO7_FAILED;
  preset->ID = id;
  preset->Name = name.substr(0, kNameLength);
  const int result = Connection->SetPrePosition(this, preset.get());
  *stored = std::move(preset);
  return result;
}

void CVRTCamera::KeepPreset(std::unique_ptr<CVRTPrePosition> preset, bool wholeCamera) {
  const int location = preset->MemId;
  CVRTPrePosition* kept = preset.get();
  PrePositions.push_back(std::move(preset));
  try {
    // The nodes are renumbered in list order, so that a reload brings every
    // preset back at the number the host knows it by. A preset stored by
    // name is saved under its own key first, then the whole camera: its node
    // comes before any of the camera's keys that the file lacked.
    SettingsChange([&] {
      if (wholeCamera) {
        kept->Save();
        Save();
      } else {
        WritePrePositions(KeyPath);
      }
    });
  } catch (...) {
    // The host is told that the store failed: the preset is not kept, and
    // its node leaves the document too (a later write of the file must not
    // bring it back); that write may fail as well.
    PrePositions.pop_back();
    ReleaseLocation(location);
    try {
      SettingsChange([&] { WritePrePositions(KeyPath); });
    } catch (...) {
    }
    throw;
  }
}

int CVRTCamera::SetPrePosition(int position, const std::string& name) {
  if (position < -1 || position > PresetCount()) {
    VRT_LOG_LINE("CAMERA.SetPrePosition: FAILED, illegal iPosition (%d)(TavoID %d)\n", position,
                 OneBased(TavoID));
    return QUARO7_BAD_ARGUMENT;
  }
  if (PresetCount() >= NofStorageLocations) {
    VRT_LOG_LINE("CAM.SetPrePosition: Camera %d FAILED, maximum number of prepositions reached.\n",
                 OneBased(TavoID));
    return QUARO7_PRESETS_FULL;
  }
  std::lock_guard<CVRTCamera> hold(*this);
  if (OpenState != 1) {
    VRT_LOG_LINE("CAM.SetPrePosition: TAVO Camera %d busy (error %d).\n", OneBased(TavoID), -20);
    return QUARO7_CAMERA_BUSY;
  }
  if (position == -1 || GetPrePositionAt(position) != nullptr) return QUARO7_FAILED;
  std::unique_ptr<CVRTPrePosition> preset;
  const int result = StorePreset(position, name, &preset);
  if (result == -18 && !preset) return QUARO7_FAILED;
  if (result != 1) {
    VRT_LOG_LINE("CAM.SetPrePosition: position = %d name = '%s' FAILED (error %d).\n", position,
                 name.c_str(), result);
    return result;
  }
  KeepPreset(std::move(preset), false);
  VRT_LOG_LINE("CAM.SetPrePosition: position = %d name = '%s' OK.\n", position, name.c_str());
  return 1;
}

int CVRTCamera::SetPrePositionName(const std::string& name) {
  if (FindPrePosition(name.substr(0, kNameLength)) != nullptr) {
    VRT_LOG_LINE("CAMERA.SetPrePosition: FAILED, position %s already exist(TavoID %d)\n",
                 name.c_str(), OneBased(TavoID));
    return QUARO7_BAD_ARGUMENT;
  }
  if (PresetCount() >= NofStorageLocations) {
    VRT_LOG_LINE(
        "CAM.SetPrePositionName: Camera %d FAILED, maximum number of prepositions reached.\n",
        OneBased(TavoID));
    return QUARO7_PRESETS_FULL;
  }
  std::lock_guard<CVRTCamera> hold(*this);
  if (OpenState != 1) {
    VRT_LOG_LINE("CAM.SetPrePosition: TAVO Camera %d busy (error %d).\n", OneBased(TavoID), -20);
    return QUARO7_CAMERA_BUSY;
  }
  std::unique_ptr<CVRTPrePosition> preset;
  const int result = StorePreset(PresetCount(), name, &preset);
  if (result == -18 && !preset) return QUARO7_FAILED;
  if (result != 1) {
    VRT_LOG_LINE("CAM.SetPrePositionName: name = '%s' FAILED (error %d).\n", name.c_str(), result);
    return result;
  }
  KeepPreset(std::move(preset), true);
  VRT_LOG_LINE("CAM.SetPrePositionName: name = '%s' OK.\n", name.c_str());
  return 1;
}

// ---------------------------------------------------------------- read, delete

int CVRTCamera::GetPrePosition(VRT_PresetRecord* record) {
  if (record == nullptr) return QUARO7_BAD_ARGUMENT;
  const int position = record->position;
  if (position == -1) return PresetCount();
  CVRTPrePosition* preset = GetPrePositionAt(position);
  if (preset == nullptr) {
    VRT_LOG_LINE("CAM.GetPrePosition: TAVO Camera %d doesn't have preposition %d (error %d).\n",
                 OneBased(TavoID), position, -23);
    return QUARO7_NO_SUCH_PRESET;
  }
  record->handle = CameraIdentifier();
  record->position = position;
  std::memset(record->name, 0, sizeof record->name);
  std::strncpy(record->name, preset->Name.c_str(), sizeof record->name - 1);
  record->active = preset->Active;
  VRT_LOG_LINE("CAM.GetPrePosition: position = %d OK.\n", position);
  return 1;
}

int CVRTCamera::DeletePrePositionName(const std::string& name) {
  CVRTPrePosition* preset = FindPrePosition(name);
  if (preset == nullptr) {
    VRT_LOG_LINE(
        "CAM.DeletePrePositionName: TAVO Camera %d doesn't have preposition %s (error "
        "%d).\n",
        OneBased(TavoID), name.c_str(), -23);
    return QUARO7_NO_SUCH_PRESET;
  }
  ReleaseLocation(preset->MemId);
  const int position = preset->ID;
  if (!preset->KeyPath.empty()) Driver().Settings.DeleteKey("settings/" + preset->KeyPath);
  std::unique_ptr<CVRTPrePosition> removed = std::move(PrePositions[static_cast<size_t>(position)]);
  PrePositions.erase(PrePositions.begin() + position);
  if (Connection != nullptr) Connection->DeletePrePosition(this, removed.get());
  removed.reset();
  VRT_LOG_LINE("CAM.DeletePrePosition: position = %d OK.\n", position);
  return 1;
}

int CVRTCamera::ClearPrePositions() {
  Driver().DeletePrePositionKeys(this);
  PrePositions.clear();
  ResetLocations();
  return 1;
}
