#include "ptzctl/host_calls.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "ptzctl/log_tail.h"

namespace ptzctl {
namespace {

struct DirectionEntry {
  Direction direction;
  const char* name;
  const char* export_name;
};

constexpr DirectionEntry kDirections[] = {
    {Direction::kLeft, "left", "VRT_CamLeft"},
    {Direction::kRight, "right", "VRT_CamRight"},
    {Direction::kUp, "up", "VRT_CamUp"},
    {Direction::kDown, "down", "VRT_CamDown"},
    {Direction::kUpLeft, "up-left", "VRT_CamUpLeft"},
    {Direction::kUpRight, "up-right", "VRT_CamUpRight"},
    {Direction::kDownLeft, "down-left", "VRT_CamDownLeft"},
    {Direction::kDownRight, "down-right", "VRT_CamDownRight"},
};

const DirectionEntry& Entry(Direction direction) {
  for (const DirectionEntry& entry : kDirections) {
    if (entry.direction == direction) return entry;
  }
  return kDirections[0];
}

std::string Args(std::initializer_list<std::string> args) {
  std::string text;
  for (const std::string& arg : args) text += (text.empty() ? "" : ", ") + arg;
  return text;
}

std::string Num(int value) { return std::to_string(value); }

// Values read from a record the driver filled are not trusted to be
// terminated.
template <size_t N>
std::string Text(const char (&field)[N]) {
  return FieldText(field, N);
}

}  // namespace

const char* DirectionName(Direction direction) { return Entry(direction).name; }

const char* LensName(Lens lens) {
  switch (lens) {
    case Lens::kZoom:
      return "zoom";
    case Lens::kFocus:
      return "focus";
    case Lens::kIris:
      return "iris";
  }
  return "?";
}

std::vector<char> NameBuffer(const std::string& name) {
  std::vector<char> buffer(std::max<size_t>(name.size() + 1, 33), '\0');
  std::memcpy(buffer.data(), name.data(), name.size());
  return buffer;
}

std::string FieldText(const char* field, size_t size) {
  size_t length = 0;
  while (length < size && field[length] != '\0') ++length;
  return std::string(field, length);
}

std::string DescribeModuleProperties(const VRT_ModuleProperties& p) {
  const int connections = p.connections;
  return "module name " + Quoted(Text(p.moduleName)) + ", description " +
         Quoted(Text(p.description)) + ", cameras " + Num(p.cameraCount) + ", connections " +
         Num(connections) + " (" + Num(connections / 100) + " line" +
         (connections / 100 == 1 ? ")" : "s)");
}

std::string DescribeCameraProperties(const VRT_CameraProperties& p) {
  std::string flags;
  for (int i = 0; i < 5; ++i) flags += (i ? "," : "") + Num(p.capability[i]);
  return "capabilities " + flags + ", relays " + Num(p.relayCount) + ", storage locations " +
         Num(p.storageLocations) + ", presets " + Num(p.presetCount) + ", reserved " +
         Num(p.reserved[0]) + "," + Num(p.reserved[1]);
}

std::string DescribePreset(const VRT_PresetRecord& p) {
  return "preset " + Num(p.position) + " " + Quoted(Text(p.name)) + (p.active ? " (active)" : "");
}

std::string DescribeRelay(const VRT_RelayRecord& r) {
  return "relay " + Num(r.relay) + " " + Quoted(Text(r.name)) + " " + (r.state ? "on" : "off") +
         " (state " + Num(r.state) + ", capabilities " + Num(r.capabilities) + ")";
}

int CallVersion(Session& s) {
  return s.Report("VRT_CamGetVersion()", s.Api().GetVersion(), "", Session::Kind::kVersion);
}

int CallModuleProperties(Session& s, VRT_ModuleProperties* out) {
  VRT_ModuleProperties p;
  std::memset(&p, 0, sizeof p);
  const int result = s.Api().GetModuleProperties(&p);
  if (out != nullptr) *out = p;
  return s.Report("VRT_CamGetModuleProperties(&record)", result,
                  result == 1 ? DescribeModuleProperties(p) : "");
}

int CallCameraProperties(Session& s, int handle, VRT_CameraProperties* out) {
  VRT_CameraProperties p;
  std::memset(&p, 0, sizeof p);
  p.handle = handle;
  const int result = s.Api().GetProperties(&p);
  if (out != nullptr) *out = p;
  return s.Report("VRT_CamGetProperties({handle " + HexHandle(handle) + "})", result,
                  result == 1 ? DescribeCameraProperties(p) : "");
}

int CallGetName(Session& s, int camera, std::string* name, bool quiet) {
  char buffer[32] = {0};
  const int result = s.Api().GetName(camera, buffer, sizeof buffer);
  const std::string text = FieldText(buffer, sizeof buffer);
  if (name != nullptr) *name = text;
  if (quiet) return result;
  return s.Report("VRT_CamGetName(" + Args({Num(camera), "buffer", "32"}) + ")", result,
                  result == 1 ? "name " + Quoted(text) : "");
}

int CallConfigure(Session& s, int camera) {
  // The driver logs why it showed no dialog; that line is looked for among
  // the ones this call writes.
  LogTail tail(s.LogPath());
  tail.SkipToEnd();
  const int result = s.Api().Configure(camera, nullptr);
  std::string why;
  static const std::string kNotShown = "VRT_CamConfigure: Setup dialog not shown: ";
  for (const std::string& line : tail.NewLines()) {
    const size_t at = line.find(kNotShown);
    if (at != std::string::npos) why = line.substr(at + kNotShown.size());
  }
  s.Report("VRT_CamConfigure(" + Num(camera) + ", NULL)", result);
  if (!why.empty()) s.Print("    no dialog was shown: " + why);
  return result;
}

int CallCloseUi(Session& s) { return s.Report("VRT_CamCloseUi()", s.Api().CloseUi()); }

namespace {
void VRT_CALL IgnoredCallback() {}
}  // namespace

int CallRegisterCallback(Session& s, uint32_t value) {
  return s.Report("VRT_TAVORegisterCallback(callback, " + std::to_string(value) + ")",
                  s.Api().RegisterCallback(&IgnoredCallback, value));
}

int CallMove(Session& s, int handle, Direction direction, int speed) {
  const DriverApi& a = s.Api();
  int result = -19;
  switch (direction) {
    case Direction::kLeft:
      result = a.Left(handle, speed);
      break;
    case Direction::kRight:
      result = a.Right(handle, speed);
      break;
    case Direction::kUp:
      result = a.Up(handle, speed);
      break;
    case Direction::kDown:
      result = a.Down(handle, speed);
      break;
    case Direction::kUpLeft:
      result = a.UpLeft(handle, speed);
      break;
    case Direction::kUpRight:
      result = a.UpRight(handle, speed);
      break;
    case Direction::kDownLeft:
      result = a.DownLeft(handle, speed);
      break;
    case Direction::kDownRight:
      result = a.DownRight(handle, speed);
      break;
  }
  return s.Report(
      std::string(Entry(direction).export_name) + "(" + Args({HexHandle(handle), Num(speed)}) + ")",
      result);
}

int CallLens(Session& s, int handle, Lens lens, int mode, int speed) {
  const DriverApi& a = s.Api();
  const char* name = "VRT_CamZoom";
  int result = -19;
  switch (lens) {
    case Lens::kZoom:
      result = a.Zoom(handle, mode, speed);
      break;
    case Lens::kFocus:
      name = "VRT_CamFocus";
      result = a.Focus(handle, mode, speed);
      break;
    case Lens::kIris:
      name = "VRT_CamIris";
      result = a.Iris(handle, mode, speed);
      break;
  }
  return s.Report(std::string(name) + "(" + Args({HexHandle(handle), Num(mode), Num(speed)}) + ")",
                  result);
}

int CallStorePreset(Session& s, int handle, int position, const std::string& name) {
  std::vector<char> buffer = NameBuffer(name);
  return s.Report(
      "VRT_CamSetPrePosition(" + Args({HexHandle(handle), Num(position), Quoted(name)}) + ")",
      s.Api().SetPrePosition(handle, position, buffer.data()));
}

int CallStorePresetName(Session& s, int handle, const std::string& name) {
  std::vector<char> buffer = NameBuffer(name);
  return s.Report("VRT_CamSetPrePositionName(" + Args({HexHandle(handle), Quoted(name)}) + ")",
                  s.Api().SetPrePositionName(handle, buffer.data()));
}

int CallRecallPreset(Session& s, int handle, int position, int speed) {
  return s.Report(
      "VRT_CamMoveToPrePosition(" + Args({HexHandle(handle), Num(position), Num(speed)}) + ")",
      s.Api().MoveToPrePosition(handle, position, speed));
}

int CallRecallPresetName(Session& s, int handle, const std::string& name, int speed) {
  std::vector<char> buffer = NameBuffer(name);
  return s.Report(
      "VRT_CamMoveToPrePositionName(" + Args({HexHandle(handle), Quoted(name), Num(speed)}) + ")",
      s.Api().MoveToPrePositionName(handle, buffer.data(), speed));
}

int CallPresetCount(Session& s, int handle) {
  VRT_PresetRecord p;
  std::memset(&p, 0, sizeof p);
  p.handle = handle;
  p.position = -1;
  return s.Report("VRT_CamGetPrePosition({handle " + HexHandle(handle) + ", position -1})",
                  s.Api().GetPrePosition(&p), "", Session::Kind::kCount);
}

int CallGetPreset(Session& s, int handle, int position, VRT_PresetRecord* out) {
  VRT_PresetRecord p;
  std::memset(&p, 0, sizeof p);
  p.handle = handle;
  p.position = position;
  const int result = s.Api().GetPrePosition(&p);
  if (out != nullptr) *out = p;
  return s.Report(
      "VRT_CamGetPrePosition({handle " + HexHandle(handle) + ", position " + Num(position) + "})",
      result, result == 1 ? DescribePreset(p) : "");
}

int CallDeletePreset(Session& s, int handle, int position) {
  return s.Report("VRT_CamDeletePrePosition(" + Args({HexHandle(handle), Num(position)}) + ")",
                  s.Api().DeletePrePosition(handle, position));
}

int CallDeletePresetName(Session& s, int handle, const std::string& name) {
  std::vector<char> buffer = NameBuffer(name);
  return s.Report("VRT_CamDeletePrePositionName(" + Args({HexHandle(handle), Quoted(name)}) + ")",
                  s.Api().DeletePrePositionName(handle, buffer.data()));
}

int CallSetRelay(Session& s, int handle, int relay, int mode, int time) {
  return s.Report(
      "VRT_CamSetRelay(" + Args({HexHandle(handle), Num(relay), Num(mode), Num(time)}) + ")",
      s.Api().SetRelay(handle, relay, mode, time));
}

int CallSetRelayName(Session& s, int handle, int relay, const std::string& name) {
  std::vector<char> buffer = NameBuffer(name);
  return s.Report(
      "VRT_CamSetRelayName(" + Args({HexHandle(handle), Num(relay), Quoted(name)}) + ")",
      s.Api().SetRelayName(handle, relay, buffer.data()));
}

int CallRelayCount(Session& s, int handle) {
  VRT_RelayRecord r;
  std::memset(&r, 0, sizeof r);
  r.handle = handle;
  r.relay = -1;
  return s.Report("VRT_CamGetRelay({handle " + HexHandle(handle) + ", relay -1})",
                  s.Api().GetRelay(&r), "", Session::Kind::kCount);
}

int CallGetRelay(Session& s, int handle, int relay, VRT_RelayRecord* out) {
  VRT_RelayRecord r;
  std::memset(&r, 0, sizeof r);
  r.handle = handle;
  r.relay = relay;
  const int result = s.Api().GetRelay(&r);
  if (out != nullptr) *out = r;
  return s.Report("VRT_CamGetRelay({handle " + HexHandle(handle) + ", relay " + Num(relay) + "})",
                  result, result == 1 ? DescribeRelay(r) : "");
}

}  // namespace ptzctl
