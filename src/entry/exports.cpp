// The exported functions the host calls. Each one forwards to the driver
// object; camera calls hold their camera for the length of the call.
#include <cstring>
#include <string>

#include "camera/camera.h"
#include "comm/comm.h"
#include "driver/driver.h"
#include "entry/guard.h"
#include "platform/ui_toolkit.h"
#include "quaro7k7_ptz.h"
#include "ui/dialog_failure.h"
#include "ui/setup_dlg.h"

static_assert(sizeof(VRT_ModuleProperties) == 122, "module-properties record");
static_assert(sizeof(VRT_CameraProperties) == 44, "camera-properties record");
static_assert(sizeof(VRT_PresetRecord) == 45, "preset record");
static_assert(sizeof(VRT_RelayRecord) == 49, "relay record");

using entry::Guarded;
using entry::HeldCall;
using entry::HostName;

namespace {
// The driver object exists from the moment the library is loaded.
const bool g_driverCreated = (Driver(), true);

constexpr int kVersion = QUARO7_INTERFACE_VERSION;
// How long the module's end waits for open setup dialogs to go.
constexpr int kExitDialogWaitMs = 10000;
constexpr const char* kDescription = "K7 driver for QUARO7 protocol";

template <typename Move>
int HeldMove(int handle, const char* invalidLine, Move move) {
  return Guarded([&] { return HeldCall(handle, invalidLine, move); });
}
}  // namespace

int VRT_CALL VRT_CamGetVersion(void) { return kVersion; }

extern "C" {

int VRT_CALL VRT_CamInitModule(int logSwitch, void* /*reserved*/, const char* logDirectory) {
  return Guarded([&]() -> int {
    CVRTDriver& driver = Driver();
    CVRTLog& log = driver.Log();
    log.SetEnabled(logSwitch);
    if (logDirectory == nullptr && logSwitch != 0) return QUARO7_BAD_ARGUMENT;
    const int pathResult = log.SetLogPath(logDirectory ? logDirectory : "");
    log.WriteTimeStamp();
    if (pathResult != 1) {
      log.WriteLog("VRT_CamInitModule: Couldn't set log path key.\n");
      return pathResult;
    }
    log.WriteLog("DRIVER SESSION STARTED. Version 0x%x\n", kVersion);
    // An end of the module that still waits for open setup dialogs keeps
    // its connections until they have returned: nothing is loaded beside
    // them.
    if (!driver.WaitForEndedModule(kExitDialogWaitMs)) {
      log.WriteLine(
          "VRT_CamInitModule: The module's last end still waits for its setup dialogs.\n");
      return QUARO7_CAMERA_BUSY;
    }
    const int xml = driver.InitXML();
    if (xml != 1) {
      log.WriteLine("VRT_CamInitModule: Couldn't init xml configuration.\n");
      return xml;
    }
    const int loaded = driver.Load();
    if (loaded == 1) {
      driver.MarkInUse();
      log.WriteLine("VRT_CamInitModule: Load OK.\n");
      return 1;
    }
    log.WriteLine("VRT_CamInitModule: Load failed.\n");
    return loaded;
  });
}

int VRT_CALL VRT_CamExitModule(void) {
  return Guarded([] {
    CVRTDriver& driver = Driver();
    // Open setup dialogs end first; the connections they show go only once
    // the configure calls have returned.
    int result = 1;
    if (driver.EndDialogsForExit(kExitDialogWaitMs)) result = driver.DestroyConnections();
    driver.UnmarkInUse();
    VRT_LOG_LINE("VRT_CamExitModule: Cleaned up, unloaded.\n");
    VRT_LOG_LINE("DRIVER SESSION ENDED\n");
    return result;
  });
}

int VRT_CALL VRT_CamGetModuleProperties(VRT_ModuleProperties* properties) {
  return Guarded([&] {
    if (properties == nullptr) return QUARO7_BAD_ARGUMENT;
    CVRTDriver& driver = Driver();
    std::memset(properties->moduleName, 0, sizeof properties->moduleName);
    std::strncpy(properties->moduleName, driver.ModuleName.c_str(),
                 sizeof properties->moduleName - 1);
    std::memset(properties->description, 0, sizeof properties->description);
    std::strncpy(properties->description, kDescription, sizeof properties->description - 1);
    properties->cameraCount = driver.CameraCount();
    properties->connections = driver.ConnectionCount() * 100;
    VRT_LOG_LINE("VRT_CamGetModuleProperties: Properties OK.\n");
    return 1;
  });
}

int VRT_CALL VRT_CamGetProperties(VRT_CameraProperties* properties) {
  return Guarded([&] {
    if (properties == nullptr) return QUARO7_BAD_ARGUMENT;
    return HeldCall(properties->handle, "VRT_CamGetProperties: Invalid camera handle\n",
                    [&](CVRTCamera* camera) { return camera->GetProperties(properties); });
  });
}

int VRT_CALL VRT_CamOpen(int cameraNumber, int* handle) {
  return Guarded([&] { return Driver().OpenCamera(cameraNumber, handle); });
}

int VRT_CALL VRT_CamClose(int handle) {
  return Guarded([&] { return Driver().CloseCamera(handle); });
}

int VRT_CALL VRT_CamGetName(int cameraNumber, char* buffer, int length) {
  return Guarded([&] {
    if (buffer == nullptr || length <= 0) return QUARO7_BAD_ARGUMENT;
    HeldCamera camera = Driver().FindCameraByNumber(cameraNumber);
    if (!camera) return QUARO7_CAMERA_NOT_FOUND;
    const size_t limit = static_cast<size_t>(length) - 1;
    const size_t count = camera->Name.size() < limit ? camera->Name.size() : limit;
    std::memcpy(buffer, camera->Name.data(), count);
    buffer[count] = '\0';
    return 1;
  });
}

int VRT_CALL VRT_CamConfigure(int cameraNumber, void* parentWindow) {
  // Counted until the call returns: an unload of the library waits for it.
  struct Counted {
    Counted() { Driver().EnterConfigureCall(); }
    ~Counted() { Driver().LeaveConfigureCall(); }
  } counted;
  return Guarded([&] {
    if (cameraNumber < -1) return QUARO7_BAD_ARGUMENT;
    std::string why;
    ui::Toolkit* toolkit = platform::UiToolkit(&why);
    if (toolkit == nullptr) {
      VRT_LOG_LINE("VRT_CamConfigure: Setup dialog not shown: %s\n", why.c_str());
      return QUARO7_DIALOG_CANCELLED;
    }
    try {
      return RunDriverSetup(Driver(), *toolkit, cameraNumber, parentWindow);
    } catch (const ui::DialogUnavailable& failure) {
      // The host lives on; the settings hold what was saved before.
      VRT_LOG_LINE(failure.Shown() ? "VRT_CamConfigure: Setup dialog ended: %s\n"
                                   : "VRT_CamConfigure: Setup dialog not shown: %s\n",
                   failure.what());
      return QUARO7_DIALOG_CANCELLED;
    }
  });
}

// ---------------------------------------------------------------- motion

int VRT_CALL VRT_CamLeft(int handle, int speed) {
  return HeldMove(handle, "VRT_CamLeft: Invalid camera handle (0x%08X)\n",
                  [&](CVRTCamera* c) { return c->Left(speed); });
}
int VRT_CALL VRT_CamRight(int handle, int speed) {
  return HeldMove(handle, "VRT_CamRight: Invalid camera handle (0x%08X)\n",
                  [&](CVRTCamera* c) { return c->Right(speed); });
}
int VRT_CALL VRT_CamUp(int handle, int speed) {
  return HeldMove(handle, "VRT_CamUp: Invalid camera handle (0x%08X)\n",
                  [&](CVRTCamera* c) { return c->Up(speed); });
}
int VRT_CALL VRT_CamDown(int handle, int speed) {
  return HeldMove(handle, "VRT_CamDown: Invalid camera handle (0x%08X)\n",
                  [&](CVRTCamera* c) { return c->Down(speed); });
}
int VRT_CALL VRT_CamUpLeft(int handle, int speed) {
  return HeldMove(handle, "VRT_CamUpLeft: Invalid camera handle (0x%08X)\n",
                  [&](CVRTCamera* c) { return c->UpLeft(speed); });
}
int VRT_CALL VRT_CamUpRight(int handle, int speed) {
  return HeldMove(handle, "VRT_CamUpRight: Invalid camera handle (0x%08X)\n",
                  [&](CVRTCamera* c) { return c->UpRight(speed); });
}
int VRT_CALL VRT_CamDownLeft(int handle, int speed) {
  return HeldMove(handle, "VRT_CamDownLeft: Invalid camera handle (0x%08X)\n",
                  [&](CVRTCamera* c) { return c->DownLeft(speed); });
}
int VRT_CALL VRT_CamDownRight(int handle, int speed) {
  return HeldMove(handle, "VRT_CamDownRight: Invalid camera handle (0x%08X)\n",
                  [&](CVRTCamera* c) { return c->DownRight(speed); });
}
int VRT_CALL VRT_CamZoom(int handle, int mode, int speed) {
  return HeldMove(handle, "VRT_CamZoom: Invalid camera handle (0x%08X)\n",
                  [&](CVRTCamera* c) { return c->Zoom(mode, speed); });
}
int VRT_CALL VRT_CamFocus(int handle, int mode, int speed) {
  return HeldMove(handle, "VRT_CamFocus: Invalid camera handle (0x%08X)\n",
                  [&](CVRTCamera* c) { return c->Focus(mode, speed); });
}
int VRT_CALL VRT_CamIris(int handle, int mode, int speed) {
  return HeldMove(handle, "VRT_CamIris: Invalid camera handle (0x%08X)\n",
                  [&](CVRTCamera* c) { return c->Iris(mode, speed); });
}

// ---------------------------------------------------------------- presets

int VRT_CALL VRT_CamMoveToPrePosition(int handle, int preset, int speed) {
  return HeldMove(handle, "VRT_CamMoveToPrePosition: Invalid camera handle (0x%08X)\n",
                  [&](CVRTCamera* c) { return c->MoveToPrePosition(preset, speed); });
}

int VRT_CALL VRT_CamMoveToPrePositionName(int handle, const char* name, int speed) {
  return HeldMove(handle, "VRT_CamMoveToPrePositionName: Invalid camera handle (0x%08X)\n",
                  [&](CVRTCamera* c) {
                    std::string text;
                    if (!HostName(name, &text)) return QUARO7_BAD_ARGUMENT;
                    return c->MoveToPrePositionName(text, speed);
                  });
}

int VRT_CALL VRT_CamSetPrePosition(int handle, int preset, const char* name) {
  return HeldMove(handle, "VRT_CamSetPrePosition: Invalid camera handle (0x%08X)\n",
                  [&](CVRTCamera* c) {
                    std::string text;
                    if (!HostName(name, &text)) return QUARO7_BAD_ARGUMENT;
                    return c->SetPrePosition(preset, text);
                  });
}

int VRT_CALL VRT_CamSetPrePositionName(int handle, const char* name) {
  return HeldMove(handle, "VRT_CamSetPrePositionName: Invalid camera handle (0x%08X)\n",
                  [&](CVRTCamera* c) {
                    std::string text;
                    if (!HostName(name, &text) || text.empty()) return QUARO7_BAD_ARGUMENT;
                    return c->SetPrePositionName(text);
                  });
}

int VRT_CALL VRT_CamGetPrePosition(VRT_PresetRecord* record) {
  return Guarded([&] {
    if (record == nullptr) return QUARO7_BAD_ARGUMENT;
    return HeldCall(record->handle, "VRT_CamGetPrePosition: Invalid camera handle (0x%08X)\n",
                    [&](CVRTCamera* c) { return c->GetPrePosition(record); });
  });
}

int VRT_CALL VRT_CamDeletePrePosition(int handle, int /*preset*/) {
  return HeldMove(handle, "VRT_CamDeletePrePosition: Invalid camera handle (0x%08X)\n",
                  [](CVRTCamera*) { return QUARO7_NOT_SUPPORTED; });
}

int VRT_CALL VRT_CamDeletePrePositionName(int handle, const char* name) {
  return HeldMove(handle, "VRT_CamDeletePrePositionName: Invalid camera handle (0x%08X)\n",
                  [&](CVRTCamera* c) {
                    std::string text;
                    if (!HostName(name, &text)) return QUARO7_BAD_ARGUMENT;
                    return c->DeletePrePositionName(text);
                  });
}

// ---------------------------------------------------------------- programs (tours)

int VRT_CALL VRT_CamStartProgram(int handle, int /*program*/, void* /*data*/) {
  return HeldMove(handle, "VRT_CamStartProgram: Invalid camera handle (0x%08X)\n",
                  [](CVRTCamera*) { return QUARO7_NOT_SUPPORTED; });
}
int VRT_CALL VRT_CamSetProgramPosition(int handle, int, int, int) {
  return HeldMove(handle, "VRT_CamSetProgramPosition: Invalid camera handle (0x%08X)\n",
                  [](CVRTCamera*) { return QUARO7_NOT_SUPPORTED; });
}
int VRT_CALL VRT_CamStopProgram(int handle, int /*program*/) {
  return HeldMove(handle, "VRT_CamStopProgram: Invalid camera handle (0x%08X)\n",
                  [](CVRTCamera*) { return QUARO7_NOT_SUPPORTED; });
}
int VRT_CALL VRT_CamRunProgram(int handle, int /*program*/) {
  return HeldMove(handle, "VRT_CamRunProgram: Invalid camera handle (0x%08X)\n",
                  [](CVRTCamera*) { return QUARO7_NOT_SUPPORTED; });
}
int VRT_CALL VRT_CamDeleteProgram(int handle, int /*program*/) {
  return HeldMove(handle, "VRT_CamDeleteProgram: Invalid camera handle (0x%08X)\n",
                  [](CVRTCamera*) { return QUARO7_NOT_SUPPORTED; });
}
int VRT_CALL VRT_CamGetProgram(void* record) {
  return Guarded([&] {
    if (record == nullptr) return QUARO7_BAD_ARGUMENT;
    int32_t handle;
    std::memcpy(&handle, record, sizeof handle);
    return HeldCall(handle, "VRT_CamGetProgram: Invalid camera handle (0x%08X)\n",
                    [](CVRTCamera*) { return QUARO7_NOT_SUPPORTED; });
  });
}

// ---------------------------------------------------------------- relays

int VRT_CALL VRT_CamSetRelay(int handle, int relay, int mode, int time) {
  return HeldMove(handle, "VRT_CamSetRelay: Invalid camera handle (0x%08X)\n",
                  [&](CVRTCamera* c) { return c->SetRelay(relay, mode, time); });
}

int VRT_CALL VRT_CamSetRelayName(int handle, int relay, const char* name) {
  return HeldMove(handle, "VRT_CamSetRelayName: Invalid camera handle\n", [&](CVRTCamera* c) {
    std::string text;
    if (!HostName(name, &text)) return QUARO7_BAD_ARGUMENT;
    const int result = c->SetRelayName(relay, text);
    // The new name is kept at once. Only this camera's subtree is written:
    // the other cameras may be in use by other host threads right now, and
    // their state in the file is already current.
    if (result == 1) c->Save();
    return result;
  });
}

int VRT_CALL VRT_CamGetRelay(VRT_RelayRecord* record) {
  return Guarded([&] {
    if (record == nullptr) return QUARO7_BAD_ARGUMENT;
    return HeldCall(record->handle, "VRT_CamGetRelay: Invalid camera handle\n",
                    [&](CVRTCamera* c) { return c->GetRelayState(record); });
  });
}

int VRT_CALL VRT_TAVORegisterCallback(VRT_Callback callback, uint32_t value) {
  return Guarded([&] { return Driver().SetCallback(callback, value); });
}

}  // extern "C"

int VRT_CALL VRT_CamCloseUi(void) {
  return Guarded([] {
    Driver().KillAllWindows();
    return 1;
  });
}
