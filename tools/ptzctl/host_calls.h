// One function per driver export: each calls the export through the session's
// function table and reports the call with its arguments and result.
#pragma once

#include <string>
#include <vector>

#include "ptzctl/session.h"
#include "quaro7k7_ptz.h"

namespace ptzctl {

enum class Direction { kLeft, kRight, kUp, kDown, kUpLeft, kUpRight, kDownLeft, kDownRight };
// "left", "up-left", ...
const char* DirectionName(Direction direction);

enum class Lens { kZoom, kFocus, kIris };
const char* LensName(Lens lens);

// Names are handed to the driver in a zero-filled buffer of at least 33
// bytes: the driver reads 32 bytes of every name it is given.
std::vector<char> NameBuffer(const std::string& name);
// The text of a fixed-size field, up to its first NUL or its end.
std::string FieldText(const char* field, size_t size);

std::string DescribeModuleProperties(const VRT_ModuleProperties& p);
std::string DescribeCameraProperties(const VRT_CameraProperties& p);
std::string DescribePreset(const VRT_PresetRecord& p);
std::string DescribeRelay(const VRT_RelayRecord& r);

int CallVersion(Session& s);
int CallModuleProperties(Session& s, VRT_ModuleProperties* out);
int CallCameraProperties(Session& s, int handle, VRT_CameraProperties* out);
// GetName with a 32-byte buffer (the channel's size); quiet calls are not
// printed.
int CallGetName(Session& s, int camera, std::string* name, bool quiet = false);
int CallConfigure(Session& s, int camera);
int CallCloseUi(Session& s);
int CallRegisterCallback(Session& s, uint32_t value);

int CallMove(Session& s, int handle, Direction direction, int speed);
int CallLens(Session& s, int handle, Lens lens, int mode, int speed);

int CallStorePreset(Session& s, int handle, int position, const std::string& name);
int CallStorePresetName(Session& s, int handle, const std::string& name);
int CallRecallPreset(Session& s, int handle, int position, int speed);
int CallRecallPresetName(Session& s, int handle, const std::string& name, int speed);
// Number of presets (GetPrePosition with -1), or a negative code.
int CallPresetCount(Session& s, int handle);
int CallGetPreset(Session& s, int handle, int position, VRT_PresetRecord* out);
int CallDeletePreset(Session& s, int handle, int position);
int CallDeletePresetName(Session& s, int handle, const std::string& name);

// Relay modes of VRT_CamSetRelay.
enum RelayMode { kRelayOff = 0, kRelayOn = 1, kRelayToggle = 2, kRelayPulse = 3 };
int CallSetRelay(Session& s, int handle, int relay, int mode, int time);
int CallSetRelayName(Session& s, int handle, int relay, const std::string& name);
// Number of relays (GetRelay with -1), or a negative code.
int CallRelayCount(Session& s, int handle);
int CallGetRelay(Session& s, int handle, int relay, VRT_RelayRecord* out);

// TAVOPZTChannel with a record built from `args` after the layout of `code`;
// camera arguments may name a camera (opened as needed) or a raw handle.
int CallChannel(Session& s, int interface_number, int code, const std::vector<std::string>& args);
// "0: handle, 4: int speed" for the code's record, for help texts.
std::string ChannelLayout(int code);

}  // namespace ptzctl
