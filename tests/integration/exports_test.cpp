// The library as a host finds it: its exported names, the version, the channel
// entry, and what every entry point does with missing records and with
// handles that are not open.
#include <cstdio>
#include <cstring>
#include <functional>
#include <set>

#include "host_fixture.h"

namespace q7host {
namespace {

using ExportsTest = HostTest;

std::set<std::string> DefinedDynamicSymbols(const std::string& path) {
  std::set<std::string> names;
  const std::string command = "nm -D --defined-only '" + path + "' 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return names;
  char line[512];
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    char address[128], type[16], name[384];
    if (std::sscanf(line, "%127s %15s %383s", address, type, name) == 3) names.insert(name);
  }
  pclose(pipe);
  return names;
}

TEST_F(ExportsTest, PublishesExactlyTheHostInterface) {
  const std::set<std::string> found = DefinedDynamicSymbols(LibraryPath());
  ASSERT_FALSE(found.empty()) << "nm printed nothing for " << LibraryPath();
  const std::vector<std::string> names = ExportedSymbolNames();
  EXPECT_EQ(found, std::set<std::string>(names.begin(), names.end()));
  // The two parameterless queries carry C++ linkage; the plain names are not
  // there.
  LoadedLibrary library(LibraryPath());
  ASSERT_TRUE(library.ok()) << library.error();
  EXPECT_EQ(library.Symbol("VRT_CamGetVersion"), nullptr);
  EXPECT_EQ(library.Symbol("VRT_CamCloseUi"), nullptr);
}

TEST_F(ExportsTest, VersionAndChannelDispatch) {
  const Api& a = Load();
  EXPECT_EQ(a.VRT_CamGetVersion(), 0x12000);
  char record[256];
  std::memset(record, 0x5A, sizeof record);
  EXPECT_EQ(a.TAVOPZTChannel(5, 0, record), -19);
  EXPECT_EQ(a.TAVOPZTChannel(0, 0, record), -19);
  EXPECT_EQ(a.TAVOPZTChannel(6, 0, record), 0x12000);
  EXPECT_EQ(a.TAVOPZTChannel(6, 0, nullptr), 0x12000);
  // Codes without an operation answer without reading the record.
  for (int code : {7, 34, 35, 37, 38, 39, 40, 41, 45, 46, 1000, -1, -45})
    EXPECT_EQ(a.TAVOPZTChannel(6, code, nullptr), -19) << "code " << code;
  EXPECT_EQ(a.TAVOPZTChannel(6, 36, nullptr), 1);  // close the dialogs: none open
  // Codes that need a record answer -3 without one.
  for (int code = 1; code <= 44; ++code) {
    if (code == 2 || code == 7 || code == 36 || (code >= 34 && code <= 41)) continue;
    EXPECT_EQ(a.TAVOPZTChannel(6, code, nullptr), -3) << "code " << code;
  }
  EXPECT_FALSE(FileExists(LogPath()));
}

TEST_F(ExportsTest, NullRecordsAndPointersAnswerBadArgument) {
  const int handle = StartCamera();
  const Api& a = api();
  EXPECT_EQ(a.VRT_CamGetModuleProperties(nullptr), -3);
  EXPECT_EQ(a.VRT_CamGetProperties(nullptr), -3);
  EXPECT_EQ(a.VRT_CamOpen(0, nullptr), -3);
  EXPECT_EQ(a.VRT_CamOpen(-1, nullptr), -3);
  int out = 77;
  EXPECT_EQ(a.VRT_CamOpen(-1, &out), -3);
  char name[32];
  EXPECT_EQ(a.VRT_CamGetName(0, nullptr, 32), -3);
  EXPECT_EQ(a.VRT_CamGetName(0, name, 0), -3);
  EXPECT_EQ(a.VRT_CamGetName(0, name, -5), -3);
  EXPECT_EQ(a.VRT_CamConfigure(-2, nullptr), -3);
  EXPECT_EQ(a.VRT_CamMoveToPrePositionName(handle, nullptr, 5), -3);
  EXPECT_EQ(a.VRT_CamSetPrePosition(handle, 0, nullptr), -3);
  EXPECT_EQ(a.VRT_CamSetPrePositionName(handle, nullptr), -3);
  EXPECT_EQ(a.VRT_CamSetPrePositionName(handle, ""), -3);
  EXPECT_EQ(a.VRT_CamGetPrePosition(nullptr), -3);
  EXPECT_EQ(a.VRT_CamDeletePrePositionName(handle, nullptr), -3);
  EXPECT_EQ(a.VRT_CamGetProgram(nullptr), -3);
  EXPECT_EQ(a.VRT_CamSetRelayName(handle, 0, nullptr), -3);
  EXPECT_EQ(a.VRT_CamGetRelay(nullptr), -3);
  EXPECT_EQ(a.VRT_TAVORegisterCallback(nullptr, 0), -3);
  EXPECT_EQ(a.VRT_CamInitModule(1, nullptr, nullptr), -3);
  // Nothing of this reached the dome, and the camera still works.
  EXPECT_EQ(Wire(), std::vector<std::string>());
  EXPECT_EQ(a.VRT_CamLeft(handle, 5), 1);
  EXPECT_EQ(Wire(), (std::vector<std::string>{"@5,3", "@7,54,1", "@5,23"}));
}

TEST_F(ExportsTest, CallbackAndCloseUiWorkInAnyState) {
  const Api& a = Load();
  EXPECT_EQ(a.VRT_TAVORegisterCallback(
                +[]() {}, 42),
            1);
  EXPECT_EQ(a.VRT_CamCloseUi(), 1);
  VRT_ModuleProperties properties;
  std::memset(&properties, 0x5A, sizeof properties);
  EXPECT_EQ(a.VRT_CamGetModuleProperties(&properties), 1);
  EXPECT_STREQ(properties.moduleName, "");
  EXPECT_STREQ(properties.description, "K7 driver for QUARO7 protocol");
  EXPECT_EQ(int{properties.cameraCount}, 0);
  EXPECT_EQ(int{properties.connections}, 0);
  // Before the module is initialised there is no camera and no log.
  int handle = 5;
  EXPECT_EQ(a.VRT_CamOpen(0, &handle), -13);
  EXPECT_EQ(a.VRT_CamLeft(0x10000001, 5), -13);
  EXPECT_FALSE(FileExists(LogPath()));
}

TEST_F(ExportsTest, ProgramsAndDeleteByNumberAreNotSupported) {
  const int handle = StartCamera();
  const Api& a = api();
  EXPECT_EQ(a.VRT_CamDeletePrePosition(handle, 0), -19);
  EXPECT_EQ(a.VRT_CamStartProgram(handle, 1, nullptr), -19);
  EXPECT_EQ(a.VRT_CamSetProgramPosition(handle, 1, 2, 3), -19);
  EXPECT_EQ(a.VRT_CamStopProgram(handle, 1), -19);
  EXPECT_EQ(a.VRT_CamRunProgram(handle, 1), -19);
  EXPECT_EQ(a.VRT_CamDeleteProgram(handle, 1), -19);
  int32_t programRecord[4] = {handle, 0, 0, 0};
  EXPECT_EQ(a.VRT_CamGetProgram(programRecord), -19);
  // The same through the channel.
  char record[64] = {0};
  std::memcpy(record, &handle, sizeof handle);
  for (int code = 24; code <= 30; ++code)
    EXPECT_EQ(a.TAVOPZTChannel(6, code, record), -19) << "code " << code;
  EXPECT_EQ(Wire(), std::vector<std::string>());
}

TEST_F(ExportsTest, ChannelRecallsNamedPresetWithSpeedBeforeName) {
  const int handle = StartCamera();
  const Api& a = api();
  ASSERT_EQ(a.VRT_CamSetPrePositionName(handle, "Door"), 1);
  ASSERT_EQ(a.VRT_CamSetPrePositionName(handle, "Yard"), 1);
  EXPECT_EQ(Wire(), (std::vector<std::string>{"@9,1", "@9,2"}));
  char record[64] = {0};
  const int32_t speed = 50;
  std::memcpy(record, &handle, 4);
  std::memcpy(record + 4, &speed, 4);
  std::strcpy(record + 8, "Yard");
  EXPECT_EQ(a.TAVOPZTChannel(6, 42, record), 1);
  // The dome goes at the camera's own preset speed.
  EXPECT_EQ(Wire(), std::vector<std::string>{"@16,2,90"});
  EXPECT_TRUE(HasLogLine("CAM.MoveToPrePositionName: Name = Yard speed = 50 OK."));
}

TEST_F(ExportsTest, ChannelRecordsCarryHandlesAndTexts) {
  WriteSettings({{"Line 1", 1, "96,E,8,1", {CameraConfig()}}});
  Simulator(1);
  const Api& a = Load();
  // Code 1: switch at 0, log directory at 69.
  char init[400] = {0};
  const int32_t on = 1;
  std::memcpy(init, &on, 4);
  std::strcpy(init + 69, Dir().c_str());
  ASSERT_EQ(a.TAVOPZTChannel(6, 1, init), 1);
  ASSERT_TRUE(HasLogLine("DRIVER SESSION STARTED. Version 0x12000"));
  char open[8] = {0};
  ASSERT_EQ(a.TAVOPZTChannel(6, 5, open), 1);
  int32_t handle;
  std::memcpy(&handle, open + 4, 4);
  EXPECT_EQ(handle & ~0x7FFF, 0x10000000);
  Simulator(1).ClearLines();
  char name[40];
  std::memset(name, 0x5A, sizeof name);
  std::memset(name, 0, 4);
  EXPECT_EQ(a.TAVOPZTChannel(6, 8, name), 1);
  EXPECT_STREQ(name + 4, "Gate");
  char move[12] = {0};
  std::memcpy(move, &handle, 4);
  const int32_t speed = 12;
  std::memcpy(move + 4, &speed, 4);
  EXPECT_EQ(a.TAVOPZTChannel(6, 10, move), 1);
  EXPECT_EQ(Wire(), (std::vector<std::string>{"@5,3", "@7,70,1", "@5,23"}));
  char close[4];
  std::memcpy(close, &handle, 4);
  EXPECT_EQ(a.TAVOPZTChannel(6, 6, close), 1);
  EXPECT_EQ(a.TAVOPZTChannel(6, 2, nullptr), 1);
  Exit();  // a second end of the module is harmless
}

// Every call that takes a handle, with the log line it writes for one that
// is not open.
struct HandleCall {
  const char* line;  // with %s for the handle, or none
  std::function<int(const Api&, int)> call;
};

std::vector<HandleCall> HandleCalls() {
  static char text[] = "Door";
  return {
      {"VRT_CamGetProperties: Invalid camera handle",
       [](const Api& a, int h) {
         VRT_CameraProperties p{};
         p.handle = h;
         return a.VRT_CamGetProperties(&p);
       }},
      {"VRT_CamUp: Invalid camera handle (0x%s)",
       [](const Api& a, int h) { return a.VRT_CamUp(h, 3); }},
      {"VRT_CamRight: Invalid camera handle (0x%s)",
       [](const Api& a, int h) { return a.VRT_CamRight(h, 3); }},
      {"VRT_CamLeft: Invalid camera handle (0x%s)",
       [](const Api& a, int h) { return a.VRT_CamLeft(h, 3); }},
      {"VRT_CamDown: Invalid camera handle (0x%s)",
       [](const Api& a, int h) { return a.VRT_CamDown(h, 3); }},
      {"VRT_CamUpLeft: Invalid camera handle (0x%s)",
       [](const Api& a, int h) { return a.VRT_CamUpLeft(h, 3); }},
      {"VRT_CamUpRight: Invalid camera handle (0x%s)",
       [](const Api& a, int h) { return a.VRT_CamUpRight(h, 3); }},
      {"VRT_CamDownLeft: Invalid camera handle (0x%s)",
       [](const Api& a, int h) { return a.VRT_CamDownLeft(h, 3); }},
      {"VRT_CamDownRight: Invalid camera handle (0x%s)",
       [](const Api& a, int h) { return a.VRT_CamDownRight(h, 3); }},
      {"VRT_CamZoom: Invalid camera handle (0x%s)",
       [](const Api& a, int h) { return a.VRT_CamZoom(h, 0, 3); }},
      {"VRT_CamFocus: Invalid camera handle (0x%s)",
       [](const Api& a, int h) { return a.VRT_CamFocus(h, 0, 3); }},
      {"VRT_CamIris: Invalid camera handle (0x%s)",
       [](const Api& a, int h) { return a.VRT_CamIris(h, 0, 3); }},
      {"VRT_CamMoveToPrePosition: Invalid camera handle (0x%s)",
       [](const Api& a, int h) { return a.VRT_CamMoveToPrePosition(h, 0, 3); }},
      {"VRT_CamMoveToPrePositionName: Invalid camera handle (0x%s)",
       [](const Api& a, int h) { return a.VRT_CamMoveToPrePositionName(h, text, 3); }},
      {"VRT_CamSetPrePosition: Invalid camera handle (0x%s)",
       [](const Api& a, int h) { return a.VRT_CamSetPrePosition(h, 0, text); }},
      {"VRT_CamSetPrePositionName: Invalid camera handle (0x%s)",
       [](const Api& a, int h) { return a.VRT_CamSetPrePositionName(h, text); }},
      {"VRT_CamGetPrePosition: Invalid camera handle (0x%s)",
       [](const Api& a, int h) {
         VRT_PresetRecord r{};
         r.handle = h;
         return a.VRT_CamGetPrePosition(&r);
       }},
      {"VRT_CamDeletePrePosition: Invalid camera handle (0x%s)",
       [](const Api& a, int h) { return a.VRT_CamDeletePrePosition(h, 0); }},
      {"VRT_CamDeletePrePositionName: Invalid camera handle (0x%s)",
       [](const Api& a, int h) { return a.VRT_CamDeletePrePositionName(h, text); }},
      {"VRT_CamStartProgram: Invalid camera handle (0x%s)",
       [](const Api& a, int h) { return a.VRT_CamStartProgram(h, 0, nullptr); }},
      {"VRT_CamSetProgramPosition: Invalid camera handle (0x%s)",
       [](const Api& a, int h) { return a.VRT_CamSetProgramPosition(h, 0, 0, 0); }},
      {"VRT_CamStopProgram: Invalid camera handle (0x%s)",
       [](const Api& a, int h) { return a.VRT_CamStopProgram(h, 0); }},
      {"VRT_CamRunProgram: Invalid camera handle (0x%s)",
       [](const Api& a, int h) { return a.VRT_CamRunProgram(h, 0); }},
      {"VRT_CamDeleteProgram: Invalid camera handle (0x%s)",
       [](const Api& a, int h) { return a.VRT_CamDeleteProgram(h, 0); }},
      {"VRT_CamGetProgram: Invalid camera handle (0x%s)",
       [](const Api& a, int h) {
         int32_t record[4] = {h, 0, 0, 0};
         return a.VRT_CamGetProgram(record);
       }},
      {"VRT_CamSetRelay: Invalid camera handle (0x%s)",
       [](const Api& a, int h) { return a.VRT_CamSetRelay(h, 0, 1, 0); }},
      {"VRT_CamSetRelayName: Invalid camera handle",
       [](const Api& a, int h) { return a.VRT_CamSetRelayName(h, 0, text); }},
      {"VRT_CamGetRelay: Invalid camera handle",
       [](const Api& a, int h) {
         VRT_RelayRecord r{};
         r.handle = h;
         return a.VRT_CamGetRelay(&r);
       }},
  };
}

TEST_F(ExportsTest, HandlesThatAreNotOpenAnswerCameraNotFound) {
  const int handle = StartCamera();
  const Api& a = api();
  for (const int bad : {0, -1, 0x10000000 | ((handle + 1) & 0x7FFF), 0x7FFFFFFF}) {
    if (bad == handle) continue;
    for (const HandleCall& c : HandleCalls()) {
      SCOPED_TRACE(c.line);
      EXPECT_EQ(c.call(a, bad), -13);
      const std::string line = std::strstr(c.line, "%s") != nullptr
                                   ? Format(c.line, HexHandle(bad).c_str())
                                   : std::string(c.line);
      EXPECT_TRUE(HasLogLine(line));
    }
  }
  // The same handle once closed.
  ASSERT_EQ(a.VRT_CamClose(handle), 1);
  for (const HandleCall& c : HandleCalls()) EXPECT_EQ(c.call(a, handle), -13) << c.line;
  EXPECT_TRUE(HasLogLine("VRT_CamUp: Invalid camera handle (0x" + HexHandle(handle) + ")"));
  EXPECT_EQ(Wire(), std::vector<std::string>());
}

}  // namespace
}  // namespace q7host
