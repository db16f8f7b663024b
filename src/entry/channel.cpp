// TAVOPZTChannel: one entry that receives a function code and a record and
// dispatches to the exported functions.
#include <cstdint>
#include <cstring>

#include "entry/guard.h"
#include "quaro7k7_ptz.h"

namespace {

// Fields of the channel record sit at fixed byte offsets, not always aligned.
int32_t IntAt(const void* record, size_t offset) {
  int32_t value;
  std::memcpy(&value, static_cast<const char*>(record) + offset, sizeof value);
  return value;
}
void PutIntAt(void* record, size_t offset, int32_t value) {
  std::memcpy(static_cast<char*>(record) + offset, &value, sizeof value);
}
char* TextAt(void* record, size_t offset) { return static_cast<char*>(record) + offset; }

// The log directory field of code 1 holds a path: at most what a Windows
// path holds (MAX_PATH, 260 bytes with its terminating zero). The record has
// no length, so the field is read up to its zero and never further than
// that; false when those bytes hold no zero.
constexpr size_t kPathField = 260;
bool PathAt(const void* record, size_t offset, char (&out)[kPathField]) {
  const char* field = static_cast<const char*>(record) + offset;
  for (size_t i = 0; i < kPathField; ++i) {
    out[i] = field[i];
    if (field[i] == '\0') return true;
  }
  return false;
}

// A 32-bit window handle field as the pointer the configure call takes.
void* WindowAt(const void* record, size_t offset) {
  return reinterpret_cast<void*>(
      static_cast<uintptr_t>(static_cast<uint32_t>(IntAt(record, offset))));
}

int Dispatch(unsigned code, void* r) {
  // Codes that read nothing come first; the others need a record.
  switch (code) {
    case QUARO7_CH_GET_VERSION:
      return VRT_CamGetVersion();
    case QUARO7_CH_EXIT_MODULE:
      return VRT_CamExitModule();
    case QUARO7_CH_CLOSE_UI:
      return VRT_CamCloseUi();
    case QUARO7_CH_UNUSED_7:
    case QUARO7_CH_UNUSED_34:
    case QUARO7_CH_UNUSED_35:
    case QUARO7_CH_UNUSED_37:
    case QUARO7_CH_UNUSED_38:
    case QUARO7_CH_UNUSED_39:
    case QUARO7_CH_UNUSED_40:
    case QUARO7_CH_UNUSED_41:
      return QUARO7_NOT_SUPPORTED;
    default:
      break;
  }
  if (code > QUARO7_CH_DELETE_PREPOSITION_NAME) return QUARO7_NOT_SUPPORTED;
  if (r == nullptr) return QUARO7_BAD_ARGUMENT;
  switch (code) {
    case QUARO7_CH_INIT_MODULE: {
      // A directory that does not fit a path names no place for the log:
      // refused before anything is started.
      char directory[kPathField];
      if (!PathAt(r, 69, directory)) return QUARO7_BAD_ARGUMENT;
      return VRT_CamInitModule(IntAt(r, 0), TextAt(r, 4), directory);
    }
    case QUARO7_CH_GET_MODULE_PROPERTIES:
      return VRT_CamGetModuleProperties(static_cast<VRT_ModuleProperties*>(r));
    case QUARO7_CH_GET_PROPERTIES:
      return VRT_CamGetProperties(static_cast<VRT_CameraProperties*>(r));
    case QUARO7_CH_OPEN: {
      int handle = IntAt(r, 4);
      const int result = VRT_CamOpen(IntAt(r, 0), &handle);
      PutIntAt(r, 4, handle);
      return result;
    }
    case QUARO7_CH_CLOSE:
      return VRT_CamClose(IntAt(r, 0));
    case QUARO7_CH_GET_NAME:
      return VRT_CamGetName(IntAt(r, 0), TextAt(r, 4), 32);
    case QUARO7_CH_CONFIGURE:
      return VRT_CamConfigure(IntAt(r, 0), WindowAt(r, 4));
    case QUARO7_CH_LEFT:
      return VRT_CamLeft(IntAt(r, 0), IntAt(r, 4));
    case QUARO7_CH_RIGHT:
      return VRT_CamRight(IntAt(r, 0), IntAt(r, 4));
    case QUARO7_CH_UP:
      return VRT_CamUp(IntAt(r, 0), IntAt(r, 4));
    case QUARO7_CH_DOWN:
      return VRT_CamDown(IntAt(r, 0), IntAt(r, 4));
    case QUARO7_CH_UP_RIGHT:
      return VRT_CamUpRight(IntAt(r, 0), IntAt(r, 4));
    case QUARO7_CH_UP_LEFT:
      return VRT_CamUpLeft(IntAt(r, 0), IntAt(r, 4));
    case QUARO7_CH_DOWN_RIGHT:
      return VRT_CamDownRight(IntAt(r, 0), IntAt(r, 4));
    case QUARO7_CH_DOWN_LEFT:
      return VRT_CamDownLeft(IntAt(r, 0), IntAt(r, 4));
    case QUARO7_CH_ZOOM:
      return VRT_CamZoom(IntAt(r, 0), IntAt(r, 4), IntAt(r, 8));
    case QUARO7_CH_FOCUS:
      return VRT_CamFocus(IntAt(r, 0), IntAt(r, 4), IntAt(r, 8));
    case QUARO7_CH_IRIS:
      return VRT_CamIris(IntAt(r, 0), IntAt(r, 4), IntAt(r, 8));
    case QUARO7_CH_MOVE_TO_PREPOSITION:
      return VRT_CamMoveToPrePosition(IntAt(r, 0), IntAt(r, 4), IntAt(r, 8));
    case QUARO7_CH_SET_PREPOSITION:
      return VRT_CamSetPrePosition(IntAt(r, 0), IntAt(r, 4), TextAt(r, 8));
    case QUARO7_CH_GET_PREPOSITION:
      return VRT_CamGetPrePosition(static_cast<VRT_PresetRecord*>(r));
    case QUARO7_CH_DELETE_PREPOSITION:
      return VRT_CamDeletePrePosition(IntAt(r, 0), IntAt(r, 4));
    case QUARO7_CH_START_PROGRAM:
      return VRT_CamStartProgram(IntAt(r, 0), IntAt(r, 4), TextAt(r, 8));
    case QUARO7_CH_SET_PROGRAM_POSITION:
      return VRT_CamSetProgramPosition(IntAt(r, 0), IntAt(r, 4), IntAt(r, 8), IntAt(r, 12));
    case QUARO7_CH_STOP_PROGRAM:
      return VRT_CamStopProgram(IntAt(r, 0), IntAt(r, 4));
    case QUARO7_CH_RUN_PROGRAM:
      return VRT_CamRunProgram(IntAt(r, 0), IntAt(r, 4));
    case QUARO7_CH_DELETE_PROGRAM:
      return VRT_CamDeleteProgram(IntAt(r, 0), IntAt(r, 4));
    case QUARO7_CH_GET_PROGRAM:
      return VRT_CamGetProgram(r);
    case QUARO7_CH_SET_RELAY:
      return VRT_CamSetRelay(IntAt(r, 0), IntAt(r, 4), IntAt(r, 8), IntAt(r, 12));
    case QUARO7_CH_SET_RELAY_NAME:
      return VRT_CamSetRelayName(IntAt(r, 0), IntAt(r, 4), TextAt(r, 8));
    case QUARO7_CH_GET_RELAY:
      return VRT_CamGetRelay(static_cast<VRT_RelayRecord*>(r));
    case QUARO7_CH_MOVE_TO_PREPOSITION_NAME:
      // The record holds the speed before the name; the export takes the
      // name first.
      return VRT_CamMoveToPrePositionName(IntAt(r, 0), TextAt(r, 8), IntAt(r, 4));
    case QUARO7_CH_SET_PREPOSITION_NAME:
      return VRT_CamSetPrePositionName(IntAt(r, 0), TextAt(r, 4));
    case QUARO7_CH_DELETE_PREPOSITION_NAME:
      return VRT_CamDeletePrePositionName(IntAt(r, 0), TextAt(r, 4));
    default:
      return QUARO7_NOT_SUPPORTED;
  }
}

}  // namespace

extern "C" int VRT_CALL TAVOPZTChannel(int interfaceNumber, int code, void* record) {
  return entry::Guarded([&] {
    if (interfaceNumber != QUARO7_CHANNEL_INTERFACE) return QUARO7_NOT_SUPPORTED;
    return entry::Guarded([&] { return Dispatch(static_cast<unsigned>(code), record); });
  });
}
