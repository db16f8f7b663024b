#include "camera/preposition.h"

#include "driver/settings_change.h"
#include "driver/settings_values.h"
#include "quaro7k7_ptz.h"

int CVRTPrePosition::Load(const std::string& keyPath) {
  KeyPath = keyPath;
  const std::string base = "settings/" + keyPath;
  Name = ReadTextKey(base + "/Name");
  ID = ReadIntKey(base + "/ID");
  MemId = ReadIntKey(base + "/MemId");
  return 1;
}

int CVRTPrePosition::Save(const std::string& keyPath) {
  if (!keyPath.empty()) KeyPath = keyPath;
  if (KeyPath.empty()) return QUARO7_BAD_ARGUMENT;
  const std::string base = "settings/" + KeyPath;
  SettingsChange([&] {
    WriteKey(base + "/Name", Name);
    WriteKey(base + "/ID", ID);
    WriteKey(base + "/MemId", MemId);
  });
  return 1;
}
