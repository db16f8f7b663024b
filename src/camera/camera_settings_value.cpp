#include "camera/camera_settings_value.h"

#include <cstdio>
#include <mutex>

#include "camera/camera.h"
#include "ui/dialog_numbers.h"
#include "ui/resources.h"

namespace {

using camera_keys::Index;

// The value's member of each number key, in the keys' order.
constexpr int32_t CameraSettings::*kMembers[] = {
#define QUARO7_CAMERA_SETTINGS_POINTER(member, ...) &CameraSettings::member,
    QUARO7_CAMERA_NUMBER_KEYS(QUARO7_CAMERA_SETTINGS_POINTER)
#undef QUARO7_CAMERA_SETTINGS_POINTER
};
static_assert(sizeof kMembers / sizeof kMembers[0] == camera_keys::kCount, "one member per key");
static_assert(CameraSettings::kMaxRelayNameLength == CVRTCamera::kNameLength,
              "relay names are cut as the host's are");

using ui::kStringFillAllFields;
using ui::kStringIllegalNode;

std::string DefaultRelayName(int relay) { return "Relay" + std::to_string(relay + 1); }

// Not a number, or outside the key's range.
bool Refuses(const CameraSettings& settings, Index key) {
  return settings.NotANumber.test(key) || !camera_keys::Of(key).InRange(settings.Number(key));
}

CameraSettingsCheck OutOfRange(Index key) {
  const camera_keys::NumberKey& range = camera_keys::Of(key);
  char text[120];
  if (range.low == camera_keys::kMin && range.high == camera_keys::kMax) {
    std::snprintf(text, sizeof text, "Illegal value for %s: not a number.",
                  camera_keys::ElementName(key));
  } else {
    std::snprintf(text, sizeof text, "Illegal value for %s. Valid values: %d ... %d.",
                  camera_keys::ElementName(key), range.low, range.high);
  }
  return CameraSettingsCheck::Refused(CameraSettingsCheck::kOutOfRange, key, text);
}

}  // namespace

const char kSharedRelayFunctionQuestion[] =
    "Two relays performing the same function! Do you like to keep this setting?";

CameraSettings CameraSettings::Of(CVRTCamera& camera) {
  std::lock_guard<CVRTCamera> hold(camera);
  CameraSettings settings;
  settings.Name = camera.Name;
#define QUARO7_CAMERA_SETTINGS_COPY(member, ...) settings.member = camera.member;
  QUARO7_CAMERA_NUMBER_KEYS(QUARO7_CAMERA_SETTINGS_COPY)
#undef QUARO7_CAMERA_SETTINGS_COPY
  for (int i = 0; i < camera.RelayCount(); ++i)
    settings.RelayNames.push_back(camera.GetRelayAt(i)->Name);
  return settings;
}

int32_t& CameraSettings::Number(Index key) { return this->*kMembers[key]; }
int32_t CameraSettings::Number(Index key) const { return this->*kMembers[key]; }

bool CameraSettings::SetNumber(Index key, const std::string& text) {
  int value = 0;
  const bool read = ui::ParseNumber(text, &value);
  if (read) Number(key) = value;
  NotANumber.set(key, !read);
  return read;
}

void CameraSettings::SetName(const std::string& name) { Name = name.substr(0, kMaxNameLength); }

bool CameraSettings::SetRelayName(int relay, const std::string& name) {
  if (relay < 0 || relay >= NofRelays) return false;
  const size_t index = static_cast<size_t>(relay);
  while (RelayNames.size() <= index) RelayNames.push_back(DefaultRelayName(RelayNames.size()));
  RelayNames[index] = name.substr(0, kMaxRelayNameLength);
  return true;
}

std::string CameraSettings::RelayName(int relay) const {
  if (relay >= 0 && static_cast<size_t>(relay) < RelayNames.size())
    return RelayNames[static_cast<size_t>(relay)].substr(0, kMaxRelayNameLength);
  return DefaultRelayName(relay);
}

CameraSettingsCheck CameraSettingsCheck::Refused(Problem problem, camera_keys::Index key,
                                                 std::string message) {
  CameraSettingsCheck check;
  check.problem = problem;
  check.key = key;
  check.message = std::move(message);
  return check;
}

CameraSettingsCheck CheckCameraSettings(const CameraSettings& settings) {
  using Check = CameraSettingsCheck;
  // The setup dialog's order: the host number, the fields every camera
  // needs, the node address, the presets' memory and speed, the relays.
  if (settings.NotANumber.test(camera_keys::TavoID) || settings.TavoID < 0)
    return Check::Refused(Check::kNumber, camera_keys::TavoID, "");
  if (settings.Name.empty())
    return Check::Refused(Check::kIncomplete, camera_keys::kCount,
                          ui::LoadString(kStringFillAllFields));
  for (Index key : {camera_keys::SysID, camera_keys::ControlMonitor}) {
    if (settings.NotANumber.test(key))
      return Check::Refused(Check::kIncomplete, key, ui::LoadString(kStringFillAllFields));
  }
  if (Refuses(settings, camera_keys::NodeAddress))
    return Check::Refused(Check::kNodeAddress, camera_keys::NodeAddress,
                          ui::LoadString(kStringIllegalNode));
  if (Refuses(settings, camera_keys::NofStorageLocations)) {
    char text[100];
    std::snprintf(text, sizeof text,
                  "Illegal number of preset memories. Maximum values for the driver are 1 - %d",
                  camera_keys::kMaxStorageLocations);
    return Check::Refused(Check::kPresetCount, camera_keys::NofStorageLocations, text);
  }
  if (Refuses(settings, camera_keys::DefaultPreposSpeed))
    return Check::Refused(Check::kPresetSpeed, camera_keys::DefaultPreposSpeed,
                          "Illegal preset speed. Valid values for the driver are 1 - 100");
  // A count the camera cannot have (negative, or not a number) is refused
  // like one above the maximum.
  if (Refuses(settings, camera_keys::NofRelays))
    return Check::Refused(Check::kRelayCount, camera_keys::NofRelays, "Illegar number of relays!");
  // What the dialog's controls cannot give: any other key that is not a
  // number, and a relay function the line has no code for. (Other values a
  // file may hold, such as a speed level of 0, stay as they are.)
  for (int i = 0; i < camera_keys::kCount; ++i) {
    const Index key = static_cast<Index>(i);
    const bool function = key == camera_keys::Aux1Func || key == camera_keys::Aux2Func ||
                          key == camera_keys::Aux3Func;
    if (settings.NotANumber.test(key) || (function && Refuses(settings, key)))
      return OutOfRange(key);
  }
  return Check();
}

CameraSettingsCheck CheckGivenCameraSettings(const CameraSettings& settings,
                                             const std::bitset<camera_keys::kCount>& given) {
  for (int i = 0; i < camera_keys::kCount; ++i) {
    const Index key = static_cast<Index>(i);
    if (given.test(key) && Refuses(settings, key)) return OutOfRange(key);
  }
  return CameraSettingsCheck();
}

bool SharesRelayFunction(const CameraSettings& settings) {
  // Function 0 is each relay's plain output, shared by none. Relays the
  // camera does not have take part with the function they are set to, as
  // the dialog's disabled lists show it.
  const int32_t h = settings.Aux1Func, l = settings.Aux2Func, m = settings.Aux3Func;
  for (int k = 0; k < settings.NofRelays && k < 3; ++k) {
    if (k == 0 && h > 0 && (h == l || h == m)) return true;
    if (k == 1 && l > 0 && (l == h || l == m)) return true;
    if (k == 2 && m > 0 && (m == h || m == l)) return true;
  }
  return false;
}
