// Raw calls of TAVOPZTChannel: the record is built from the arguments after
// the layout of the function code, and what the driver wrote back is shown.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "ptzctl/host_calls.h"

namespace ptzctl {
namespace {

enum class FieldKind {
  kInt,     // a number
  kHandle,  // a camera number (opened as needed) or a raw 0x handle
  kText,    // a name; the host hands over a fixed-size field
  kLogDir,  // the log directory of VRT_CamInitModule (defaults to the session's)
};

struct Field {
  FieldKind kind;
  int offset;
  int size;  // bytes of a text field
  const char* name;
};

struct Layout {
  int code;
  const char* function;
  std::vector<Field> fields;
};

const std::vector<Layout>& Layouts() {
  const Field handle{FieldKind::kHandle, 0, 4, "handle"};
  static const std::vector<Layout> layouts = {
      {0, "VRT_CamGetVersion", {}},
      {1,
       "VRT_CamInitModule",
       {{FieldKind::kInt, 0, 4, "int logSwitch"},
        {FieldKind::kLogDir, 69, 260, "text logDirectory"}}},
      {2, "VRT_CamExitModule", {}},
      {3, "VRT_CamGetModuleProperties", {}},
      {4, "VRT_CamGetProperties", {handle}},
      {5, "VRT_CamOpen", {{FieldKind::kInt, 0, 4, "int camera"}}},
      {6, "VRT_CamClose", {handle}},
      {8, "VRT_CamGetName", {{FieldKind::kInt, 0, 4, "int camera"}}},
      {9, "VRT_CamConfigure", {{FieldKind::kInt, 0, 4, "int camera or -1"}}},
      {10, "VRT_CamLeft", {handle, {FieldKind::kInt, 4, 4, "int speed"}}},
      {11, "VRT_CamRight", {handle, {FieldKind::kInt, 4, 4, "int speed"}}},
      {12, "VRT_CamUp", {handle, {FieldKind::kInt, 4, 4, "int speed"}}},
      {13, "VRT_CamDown", {handle, {FieldKind::kInt, 4, 4, "int speed"}}},
      {14, "VRT_CamUpRight", {handle, {FieldKind::kInt, 4, 4, "int speed"}}},
      {15, "VRT_CamUpLeft", {handle, {FieldKind::kInt, 4, 4, "int speed"}}},
      {16, "VRT_CamDownRight", {handle, {FieldKind::kInt, 4, 4, "int speed"}}},
      {17, "VRT_CamDownLeft", {handle, {FieldKind::kInt, 4, 4, "int speed"}}},
      {18,
       "VRT_CamZoom",
       {handle, {FieldKind::kInt, 4, 4, "int mode"}, {FieldKind::kInt, 8, 4, "int speed"}}},
      {19,
       "VRT_CamFocus",
       {handle, {FieldKind::kInt, 4, 4, "int mode"}, {FieldKind::kInt, 8, 4, "int speed"}}},
      {20,
       "VRT_CamIris",
       {handle, {FieldKind::kInt, 4, 4, "int mode"}, {FieldKind::kInt, 8, 4, "int speed"}}},
      {21,
       "VRT_CamMoveToPrePosition",
       {handle, {FieldKind::kInt, 4, 4, "int preset"}, {FieldKind::kInt, 8, 4, "int speed"}}},
      {22,
       "VRT_CamSetPrePosition",
       {handle, {FieldKind::kInt, 4, 4, "int preset"}, {FieldKind::kText, 8, 32, "char[32] name"}}},
      {23, "VRT_CamGetPrePosition", {handle, {FieldKind::kInt, 4, 4, "int preset (-1: count)"}}},
      {24, "VRT_CamDeletePrePosition", {handle, {FieldKind::kInt, 4, 4, "int preset"}}},
      {25, "VRT_CamStartProgram", {handle, {FieldKind::kInt, 4, 4, "int program"}}},
      {26,
       "VRT_CamSetProgramPosition",
       {handle,
        {FieldKind::kInt, 4, 4, "int"},
        {FieldKind::kInt, 8, 4, "int"},
        {FieldKind::kInt, 12, 4, "int"}}},
      {27, "VRT_CamStopProgram", {handle, {FieldKind::kInt, 4, 4, "int program"}}},
      {28, "VRT_CamRunProgram", {handle, {FieldKind::kInt, 4, 4, "int program"}}},
      {29, "VRT_CamDeleteProgram", {handle, {FieldKind::kInt, 4, 4, "int program"}}},
      {30, "VRT_CamGetProgram", {handle}},
      {31,
       "VRT_CamSetRelay",
       {handle,
        {FieldKind::kInt, 4, 4, "int relay"},
        {FieldKind::kInt, 8, 4, "int mode"},
        {FieldKind::kInt, 12, 4, "int time"}}},
      {32,
       "VRT_CamSetRelayName",
       {handle, {FieldKind::kInt, 4, 4, "int relay"}, {FieldKind::kText, 8, 32, "text name"}}},
      {33, "VRT_CamGetRelay", {handle, {FieldKind::kInt, 4, 4, "int relay (-1: count)"}}},
      {36, "VRT_CamCloseUi", {}},
      {42,
       "VRT_CamMoveToPrePositionName",
       {handle, {FieldKind::kInt, 4, 4, "int speed"}, {FieldKind::kText, 8, 32, "text name"}}},
      {43, "VRT_CamSetPrePositionName", {handle, {FieldKind::kText, 4, 32, "text name"}}},
      {44, "VRT_CamDeletePrePositionName", {handle, {FieldKind::kText, 4, 32, "text name"}}},
  };
  return layouts;
}

const Layout* Find(int code) {
  for (const Layout& layout : Layouts()) {
    if (layout.code == code) return &layout;
  }
  return nullptr;
}

bool ParseNumber(const std::string& text, long long* value) {
  if (text.empty()) return false;
  size_t used = 0;
  try {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    *value = hex ? std::stoll(text.substr(2), &used, 16) : std::stoll(text, &used, 10);
    if (hex) used += 2;
  } catch (...) {
    return false;
  }
  return used == text.size() && *value >= INT32_MIN && *value <= 0xFFFFFFFFLL;
}

void PutInt(std::vector<unsigned char>* record, int offset, int value) {
  std::memcpy(record->data() + offset, &value, sizeof value);
}

int GetInt(const std::vector<unsigned char>& record, int offset) {
  int value = 0;
  std::memcpy(&value, record.data() + offset, sizeof value);
  return value;
}

constexpr size_t kRecordSize = 1024;

}  // namespace

std::string ChannelLayout(int code) {
  const Layout* layout = Find(code);
  if (layout == nullptr) return "no operation (answers -19); numbers go to offsets 0, 4, 8, ...";
  std::string text = layout->function;
  if (code == 3) return text + ": the module-properties record (out)";
  if (layout->fields.empty()) return text + ": record not read";
  text += ":";
  for (const Field& field : layout->fields)
    text += " " + std::to_string(field.offset) + ": " + field.name + ";";
  text.pop_back();
  return text;
}

int CallChannel(Session& s, int interface_number, int code, const std::vector<std::string>& args) {
  std::vector<unsigned char> record(kRecordSize, 0);
  const Layout* layout = Find(code);
  std::vector<Field> fields;
  if (layout != nullptr) {
    fields = layout->fields;
  } else {
    for (size_t i = 0; i < args.size(); ++i)
      fields.push_back({FieldKind::kInt, static_cast<int>(4 * i), 4, "int"});
  }
  if (args.size() > fields.size()) {
    s.Print("channel code " + std::to_string(code) + " takes at most " +
            std::to_string(fields.size()) + " argument" + (fields.size() == 1 ? "" : "s") + " (" +
            ChannelLayout(code) + ")");
    return -3;
  }
  // Code 1 without arguments initialises like the export does.
  if (code == 1 && args.empty()) PutInt(&record, 0, 1);
  std::string shown;
  for (size_t i = 0; i < fields.size(); ++i) {
    const Field& field = fields[i];
    const bool given = i < args.size();
    std::string value_text;
    if (field.kind == FieldKind::kText || field.kind == FieldKind::kLogDir) {
      const std::string text =
          given ? args[i] : (field.kind == FieldKind::kLogDir ? s.LogDir() : std::string());
      // The field is filled up to its size; the zeroed record terminates it.
      std::memcpy(record.data() + field.offset, text.data(),
                  std::min<size_t>(text.size(), static_cast<size_t>(field.size)));
      value_text = Quoted(text);
    } else if (field.kind == FieldKind::kHandle && given) {
      int handle = 0;
      const int result = s.Handle(args[i], &handle);
      if (result != 1) return result;
      PutInt(&record, field.offset, handle);
      value_text = HexHandle(handle);
    } else if (given) {
      long long value = 0;
      if (!ParseNumber(args[i], &value)) {
        s.Print("not a number: " + args[i]);
        return -3;
      }
      PutInt(&record, field.offset, static_cast<int>(value));
      value_text = std::to_string(static_cast<int>(value));
    } else {
      value_text = std::to_string(GetInt(record, field.offset));
    }
    if (!given && field.kind != FieldKind::kLogDir && !(code == 1 && i == 0)) continue;
    shown += (shown.empty() ? "" : ", ") + std::to_string(field.offset) + ": " + value_text;
  }
  const int result = s.Api().Channel(interface_number, code, record.data());

  // With -1 the preset and relay codes answer a count and leave the record.
  const bool counts = (code == 23 || code == 33) && GetInt(record, 4) == -1;
  std::string detail;
  if (code == 1 && interface_number == QUARO7_CHANNEL_INTERFACE) s.NoteInitialised(true);
  if (code == 2 && interface_number == QUARO7_CHANNEL_INTERFACE) s.NoteInitialised(false);
  if (result == 1 && !counts && interface_number == QUARO7_CHANNEL_INTERFACE) {
    switch (code) {
      case 3: {
        VRT_ModuleProperties p;
        std::memcpy(&p, record.data(), sizeof p);
        detail = DescribeModuleProperties(p);
        break;
      }
      case 4: {
        VRT_CameraProperties p;
        std::memcpy(&p, record.data(), sizeof p);
        detail = DescribeCameraProperties(p);
        break;
      }
      case 5:
        detail = "handle " + HexHandle(GetInt(record, 4));
        s.Adopt(GetInt(record, 0), GetInt(record, 4));
        break;
      case 6:
        s.Forget(GetInt(record, 0));
        break;
      case 8:
        detail = "name " + Quoted(FieldText(reinterpret_cast<const char*>(record.data() + 4), 32));
        break;
      case 23: {
        VRT_PresetRecord p;
        std::memcpy(&p, record.data(), sizeof p);
        detail = DescribePreset(p);
        break;
      }
      case 33: {
        VRT_RelayRecord r;
        std::memcpy(&r, record.data(), sizeof r);
        detail = DescribeRelay(r);
        break;
      }
      default:
        break;
    }
  }
  const Session::Kind kind = code == 0 ? Session::Kind::kVersion
                             : counts  ? Session::Kind::kCount
                                       : Session::Kind::kResult;
  std::string call = "TAVOPZTChannel(" + std::to_string(interface_number) + ", " +
                     std::to_string(code) + (layout ? std::string(" ") + layout->function : "") +
                     ", {" + shown + "})";
  return s.Report(call, result, detail, kind);
}

}  // namespace ptzctl
