// A test host for the driver library: each test gets its own directory with a
// fresh copy of QUARO7K7_PTZ.so, a settings file written for the test and dome
// simulators published as the directory's COM ports, and drives the copy
// through the symbols it looks up by name, as a TAVO host does.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "camera/camera_keys.h"
#include "comm/comm_keys.h"
#include "domesim/domesim.h"
#include "quaro7k7_ptz.h"

namespace q7host {

// ---------------------------------------------------------------- settings file

// One camera of a connection. Every number a camera needs is written, since
// a missing number loads as 0.
struct CameraConfig {
  std::string name = "Gate";
  int tavoId = 0;
  int sysId = 5;
  int nodeAddress = camera_keys::kNoNode;
  int camAccFactor = camera_keys::Of(camera_keys::CamAccFactor).initial;
  int waitForResponse = camera_keys::Of(camera_keys::WaitForResponse).initial;
  int washPulseTime = camera_keys::Of(camera_keys::WashPulseTime).initial;
  int defaultPreposSpeed = camera_keys::Of(camera_keys::DefaultPreposSpeed).initial;
  int nofStorageLocations = camera_keys::Of(camera_keys::NofStorageLocations).initial;
  int controlMonitor = 1;
  int nofRelays = camera_keys::Of(camera_keys::NofRelays).initial;
  // Further keys, written in this order after the ones above ({"Aux2Func", "3"}).
  std::vector<std::pair<std::string, std::string>> extraKeys;
  // Raw XML placed inside the camera element after its keys (positions, relays).
  std::string innerXml;
};

// A camera with the fixture's defaults and these numbers.
inline CameraConfig Camera(const char* name, int tavoId, int sysId, int node = 128) {
  CameraConfig camera;
  camera.name = name;
  camera.tavoId = tavoId;
  camera.sysId = sysId;
  camera.nodeAddress = node;
  return camera;
}

struct ConnectionConfig {
  std::string name = "Line 1";
  int comPort = comm_keys::kDefaultComPort;
  std::string portMode = comm_keys::kDefaultPortMode;
  std::vector<CameraConfig> cameras;
};

// The text of a settings file holding these connections as comm1, comm2, ...
// and their cameras as cam1, cam2, ...
std::string SettingsXml(const std::vector<ConnectionConfig>& connections);
// The text escaped for an attribute value in double quotes.
std::string XmlAttribute(const std::string& text);

// ---------------------------------------------------------------- the library

// The exports a host looks up, each as a typed pointer.
// clang-format off
#define Q7HOST_PLAIN_EXPORTS(X) \
  X(VRT_CamInitModule) \
  X(VRT_CamExitModule) \
  X(VRT_CamGetModuleProperties) \
  X(VRT_CamGetProperties) \
  X(VRT_CamOpen) \
  X(VRT_CamClose) \
  X(VRT_CamGetName) \
  X(VRT_CamConfigure) \
  X(VRT_CamLeft) \
  X(VRT_CamRight) \
  X(VRT_CamUp) \
  X(VRT_CamDown) \
  X(VRT_CamUpLeft) \
  X(VRT_CamUpRight) \
  X(VRT_CamDownLeft) \
  X(VRT_CamDownRight) \
  X(VRT_CamZoom) \
  X(VRT_CamFocus) \
  X(VRT_CamIris) \
  X(VRT_CamMoveToPrePosition) \
  X(VRT_CamMoveToPrePositionName) \
  X(VRT_CamSetPrePosition) \
  X(VRT_CamSetPrePositionName) \
  X(VRT_CamGetPrePosition) \
  X(VRT_CamDeletePrePosition) \
  X(VRT_CamDeletePrePositionName) \
  X(VRT_CamStartProgram) \
  X(VRT_CamSetProgramPosition) \
  X(VRT_CamStopProgram) \
  X(VRT_CamRunProgram) \
  X(VRT_CamDeleteProgram) \
  X(VRT_CamGetProgram) \
  X(VRT_CamSetRelay) \
  X(VRT_CamSetRelayName) \
  X(VRT_CamGetRelay) \
  X(VRT_TAVORegisterCallback) \
  X(TAVOPZTChannel)
// clang-format on

struct Api {
  decltype(&::VRT_CamGetVersion) VRT_CamGetVersion = nullptr;
  decltype(&::VRT_CamCloseUi) VRT_CamCloseUi = nullptr;
#define Q7HOST_MEMBER(name) decltype(&::name) name = nullptr;
  Q7HOST_PLAIN_EXPORTS(Q7HOST_MEMBER)
#undef Q7HOST_MEMBER
};

// Every symbol name the library publishes, the two decorated ones included.
std::vector<std::string> ExportedSymbolNames();

// One dlopen of a library file; dlclose when it goes.
class LoadedLibrary {
 public:
  explicit LoadedLibrary(const std::string& path);
  ~LoadedLibrary();
  LoadedLibrary(const LoadedLibrary&) = delete;
  LoadedLibrary& operator=(const LoadedLibrary&) = delete;

  // False when the file could not be loaded or an export is missing; error()
  // says why.
  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }
  const Api& api() const { return api_; }
  void* Symbol(const char* name) const;
  void Unload();

 private:
  void* handle_ = nullptr;
  Api api_;
  std::string error_;
};

// ---------------------------------------------------------------- helpers

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);
bool FileExists(const std::string& path);
// Milliseconds of a steady clock.
int64_t NowMs();

// The log's lines with their time stamps taken off (a line without a stamp
// stays whole) and the CR LF line ends removed.
std::vector<std::string> SplitLogLines(const std::string& text);

// A log line for the invalid-handle cases: "...(0x%08X)\n" with the handle.
std::string HexHandle(int handle);

// ---------------------------------------------------------------- the host

class HostTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  const std::string& Dir() const { return dir_; }
  std::string LibraryPath() const { return dir_ + "/QUARO7K7_PTZ.so"; }
  std::string SettingsPath() const { return dir_ + "/QUARO7K7_PTZ.xml"; }
  std::string LogPath() const { return dir_ + "/QUARO7K7_PTZ.log"; }

  void WriteSettings(const std::vector<ConnectionConfig>& connections);
  void WriteSettingsText(const std::string& text);

  // The simulator published as ports/COM<com> of the test directory, made on
  // first use.
  domesim::DomeSimulator& Simulator(int com = 1);

  // Loads the library copy (a failed load fails the test).
  const Api& Load();
  const Api& api() const { return library_->api(); }
  bool Loaded() const { return library_ != nullptr; }
  // Ends the module if the test started it and did not end it, then dlclose.
  void Unload();
  // dlclose with the module as it stands (cameras open, dialogs shown), as
  // a host that unloads without ending the module: the milliseconds the
  // unload took.
  int64_t UnloadAsItStands();
  // VRT_CamInitModule with this directory as the log directory.
  int Init(int logSwitch = 1);
  int Exit();
  // VRT_CamOpen; the handle, or 0 with a test failure.
  int Open(int tavoId);

  // One camera on one line with its simulator: writes the settings, loads,
  // initialises and opens it, and forgets the lines of the open sequence.
  int StartCamera(const CameraConfig& camera = CameraConfig(),
                  const ConnectionConfig& connection = ConnectionConfig());

  // The log file.
  std::string LogText() const;
  std::vector<std::string> LogLines() const;
  ::testing::AssertionResult HasLogLine(const std::string& line) const;
  ::testing::AssertionResult LacksLogLine(const std::string& line) const;
  ::testing::AssertionResult LogContains(const std::string& text) const;
  int CountLogLines(const std::string& line) const;
  // For lines written by the driver's own worker: waits up to timeout_ms
  // until the log holds the line count times.
  ::testing::AssertionResult WaitForLogLine(const std::string& line, int timeout_ms,
                                            int count = 1) const;

  // Lines the simulator received since the last call, without waiting.
  std::vector<std::string> Wire(int com = 1);

 private:
  std::string dir_;
  std::unique_ptr<LoadedLibrary> library_;
  std::map<int, std::unique_ptr<domesim::DomeSimulator>> simulators_;
  bool initialised_ = false;
};

}  // namespace q7host
