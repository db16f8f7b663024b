// A camera's settings as one plain value: the keys of its settings subtree
// (relay functions included) and its relay names. The camera setup dialog
// reads its fields into one; a configuration without a window builds one
// from its arguments. Either way the value is checked as a whole first
// (CheckCameraSettings here, CVRTDriver::CheckCamera for what the other
// cameras hold), the shared-function question is asked, and only then does
// the camera take it, with one save (CVRTDriver::ApplyCameraSettings).
#pragma once

#include <bitset>
#include <cstdint>
#include <string>
#include <vector>

#include "camera/camera_keys.h"

class CVRTCamera;

struct CameraSettings {
  // The longest camera name the setup dialog takes, and the longest relay
  // name a camera keeps.
  static constexpr size_t kMaxNameLength = 32;
  static constexpr size_t kMaxRelayNameLength = 31;

  std::string Name;
#define QUARO7_CAMERA_SETTINGS_MEMBER(member, initial, ...) int32_t member = initial;
  QUARO7_CAMERA_NUMBER_KEYS(QUARO7_CAMERA_SETTINGS_MEMBER)
#undef QUARO7_CAMERA_SETTINGS_MEMBER
  // Relay i's name at index i. A relay without an entry here (one the
  // count adds) gets the default name "Relay<i + 1>".
  std::vector<std::string> RelayNames;
  // Keys given as a text that is not a number (SetNumber): refused by the
  // checks.
  std::bitset<camera_keys::kCount> NotANumber;

  // The camera's settings as they are now (read with its lock held).
  static CameraSettings Of(CVRTCamera& camera);

  int32_t& Number(camera_keys::Index key);
  int32_t Number(camera_keys::Index key) const;
  // A number given as text, read as the setup dialog reads its fields (the
  // whole text, blanks around it and one leading minus allowed): stored, or
  // the key is marked as not a number and false returned.
  bool SetNumber(camera_keys::Index key, const std::string& text);
  // Cut to kMaxNameLength.
  void SetName(const std::string& name);
  // Relay (0-based) named, cut to kMaxRelayNameLength; false for a relay
  // number outside 0 .. NofRelays - 1.
  bool SetRelayName(int relay, const std::string& name);
  // The name relay (0-based) has with these settings.
  std::string RelayName(int relay) const;
};

// The first value a check refused, in the order the camera setup dialog
// checks its fields, with the dialog's message for it.
struct CameraSettingsCheck {
  enum Problem {
    kAccepted = 0,
    kNumber,        // TavoID not a number or negative (the dialog says nothing)
    kIncomplete,    // no name, or the address or the control monitor not a number
    kNodeAddress,   // NodeAddress
    kPresetCount,   // NofStorageLocations
    kPresetSpeed,   // DefaultPreposSpeed
    kRelayCount,    // NofRelays
    kOutOfRange,    // another key outside its range (no dialog control can give one)
    kNumberTaken,   // another camera has the host number
    kAddressTaken,  // another camera on the line has the address
    kNameTaken,     // another camera on the line has the name
  };

  Problem problem = kAccepted;
  // The key refused; kCount for the name, a taken value or none.
  camera_keys::Index key = camera_keys::kCount;
  // The dialog's text (its string table where it has one); empty for kNumber.
  std::string message;

  bool Accepted() const { return problem == kAccepted; }
  static CameraSettingsCheck Refused(Problem problem, camera_keys::Index key, std::string message);
};

// The checks the settings need on their own: every number readable, and
// within its range. A ControlMonitor outside its range is no fault: the
// camera takes monitor 1 then (CVRTCamera::Apply).
CameraSettingsCheck CheckCameraSettings(const CameraSettings& settings);

// The keys given (a configuration without a window names the ones it sets)
// checked against their ranges, which the dialog's controls keep its values
// in without a check: the first outside its range, as kOutOfRange. Run after
// CheckCameraSettings, whose messages come first.
CameraSettingsCheck CheckGivenCameraSettings(const CameraSettings& settings,
                                             const std::bitset<camera_keys::kCount>& given);

// True when two of the camera's relays (of the first three, as far as it
// has them) drive the same washer, wiper or lamps function; the setup dialog
// then asks kSharedRelayFunctionQuestion and goes on only on Yes.
bool SharesRelayFunction(const CameraSettings& settings);
extern const char kSharedRelayFunctionQuestion[];
