// Module start and end as a host sees them: the settings file beside the
// library, the module properties, the log file and its banner lines, and a
// fresh driver for every load of the library.
#include <sys/stat.h>

#include <cstring>
#include <regex>

#include "host_fixture.h"

namespace q7host {
namespace {

using ModuleTest = HostTest;

VRT_ModuleProperties Properties(const Api& a) {
  VRT_ModuleProperties properties;
  std::memset(&properties, 0x5A, sizeof properties);
  EXPECT_EQ(a.VRT_CamGetModuleProperties(&properties), 1);
  return properties;
}

TEST_F(ModuleTest, MissingSettingsFileIsCreatedEmpty) {
  ASSERT_FALSE(FileExists(SettingsPath()));
  EXPECT_EQ(Init(), 1);
  ASSERT_TRUE(FileExists(SettingsPath()));
  const std::string text = ReadFile(SettingsPath());
  EXPECT_TRUE(std::regex_search(
      text, std::regex(R"(^<\?xml version=['"]1\.0['"] encoding=['"]iso-8859-1['"]\s*\?>\s*)"
                       R"(<settings\s*(/>|>\s*</settings>)\s*$)")))
      << text;
  const VRT_ModuleProperties properties = Properties(api());
  EXPECT_STREQ(properties.moduleName, "");
  EXPECT_STREQ(properties.description, "K7 driver for QUARO7 protocol");
  EXPECT_EQ(int{properties.cameraCount}, 0);
  EXPECT_EQ(int{properties.connections}, 0);
  EXPECT_TRUE(HasLogLine("DRV.InitXML: XML configuration intialised."));
  EXPECT_TRUE(HasLogLine("DRV.Load: Load OK."));
  EXPECT_TRUE(HasLogLine("VRT_CamInitModule: Load OK."));
  EXPECT_TRUE(HasLogLine("VRT_CamGetModuleProperties: Properties OK."));
}

TEST_F(ModuleTest, PropertiesCountCamerasAndConnections) {
  CameraConfig a, b, c;
  a.tavoId = 0;
  b.name = "Yard";
  b.tavoId = 3;
  b.sysId = 6;
  c.name = "Hall";
  c.tavoId = 7;
  c.sysId = 2;
  ConnectionConfig first{"Line 1", 1, "96,E,8,1", {a, b}};
  ConnectionConfig second{"Line 2", 2, "96,E,8,1", {c}};
  WriteSettings({first, second});
  EXPECT_EQ(Init(), 1);
  const VRT_ModuleProperties properties = Properties(api());
  EXPECT_EQ(int{properties.cameraCount}, 3);
  EXPECT_EQ(int{properties.connections}, 200);
  char name[32];
  EXPECT_EQ(api().VRT_CamGetName(3, name, sizeof name), 1);
  EXPECT_STREQ(name, "Yard");
  EXPECT_EQ(api().VRT_CamGetName(7, name, 3), 1);  // cut to the buffer
  EXPECT_STREQ(name, "Ha");
  EXPECT_EQ(api().VRT_CamGetName(1, name, sizeof name), -13);
  EXPECT_TRUE(HasLogLine("CAM.Load: TAVO Camera 4 (physical ID 6) load OK."));
}

// Gaps between connection numbers are allowed, and every number the driver
// can hand out is read back (also those above 12).
TEST_F(ModuleTest, ConnectionKeysWithGapsAndAboveTwelve) {
  WriteSettingsText(
      "<?xml version='1.0' encoding='iso-8859-1'?>\n<settings>\n"
      "<comm2><Name value=\"B\"/><ComPort value=\"2\"/></comm2>\n"
      "<comm5><Name value=\"E\"/><ComPort value=\"5\"/></comm5>\n"
      "<comm13><Name value=\"M\"/><ComPort value=\"13\"/></comm13>\n"
      "</settings>\n");
  EXPECT_EQ(Init(), 1);
  const VRT_ModuleProperties properties = Properties(api());
  EXPECT_EQ(int{properties.connections}, 300);
  EXPECT_EQ(int{properties.cameraCount}, 0);
}

TEST_F(ModuleTest, SecondInitWithoutExitFindsEveryCameraTwice) {
  WriteSettings({{"Line 1", 1, "96,E,8,1", {CameraConfig()}}});
  ASSERT_EQ(Init(), 1);
  EXPECT_EQ(Init(), -21);
  EXPECT_TRUE(HasLogLine("DRV.Load: Internal camera table initialization failed (error -21)."));
  EXPECT_TRUE(HasLogLine("VRT_CamInitModule: Load failed."));
  EXPECT_EQ(Exit(), 1);
  // Ended cleanly: the module starts again from the file.
  EXPECT_EQ(Init(), 1);
  EXPECT_EQ(int{Properties(api()).cameraCount}, 1);
}

TEST_F(ModuleTest, SecondInitWithoutCamerasIsHarmless) {
  ASSERT_EQ(Init(), 1);
  EXPECT_EQ(Init(), 1);
  EXPECT_EQ(CountLogLines("DRIVER SESSION STARTED. Version 0x12000"), 2);
}

TEST_F(ModuleTest, SessionBannerLinesAndLineEnds) {
  WriteSettings({{"Line 1", 1, "96,E,8,1", {CameraConfig()}}});
  ASSERT_EQ(Init(), 1);
  EXPECT_EQ(Exit(), 1);
  Unload();
  const std::string text = LogText();
  // Every line ends with CR LF; there is no bare LF.
  ASSERT_GE(text.size(), 2u);
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n') {
      ASSERT_TRUE(i > 0 && text[i - 1] == '\r') << "bare LF at " << i;
    }
  }
  // The banner follows a stamp of its own.
  EXPECT_TRUE(std::regex_search(
      text, std::regex("^\\d{4}/\\d{2}/\\d{2}, \\d{2}:\\d{2}\\.\\d{2}\tDRIVER SESSION STARTED\\. "
                       "Version 0x12000\r\n")))
      << text;
  const std::vector<std::string> lines = LogLines();
  ASSERT_GE(lines.size(), 5u);
  const size_t n = lines.size();
  EXPECT_EQ(lines[n - 4], "VRT_CamExitModule: Cleaned up, unloaded.");
  EXPECT_EQ(lines[n - 3], "DRIVER SESSION ENDED");
  EXPECT_EQ(lines[n - 2], "DRV: Driver library freed.");
  EXPECT_EQ(lines[n - 1], std::string(80, '-'));
  // Written while the log was not configured yet, so never in the file.
  EXPECT_TRUE(LacksLogLine("DRV: Driver initialized."));
}

TEST_F(ModuleTest, LogSwitchOffWritesNoFile) {
  WriteSettings({{"Line 1", 1, "96,E,8,1", {CameraConfig()}}});
  Simulator(1);
  ASSERT_EQ(Init(0), 1);
  const int handle = Open(0);
  EXPECT_EQ(api().VRT_CamLeft(handle, 5), 1);
  EXPECT_EQ(api().VRT_CamLeft(0x7FFFFFFF, 5), -13);
  EXPECT_EQ(api().VRT_CamClose(handle), 1);
  EXPECT_EQ(Exit(), 1);
  Unload();
  EXPECT_FALSE(FileExists(LogPath()));
}

TEST_F(ModuleTest, DamagedSettingsFileIsRefusedAndKept) {
  const std::string damaged =
      "<?xml version='1.0' encoding='iso-8859-1'?>\n<settings>\n\t<comm1><Name value=\"Line 1\"/>"
      "\n</settings>\n";
  for (const std::string& content : {damaged, std::string(), std::string("not xml at all\n")}) {
    SCOPED_TRACE("content: " + content);
    WriteSettingsText(content);
    EXPECT_EQ(Init(), -18);
    EXPECT_EQ(ReadFile(SettingsPath()), content);
    EXPECT_EQ(int{Properties(api()).cameraCount}, 0);
    EXPECT_TRUE(LogContains("DRV.InitXML: XML init failed"));
    EXPECT_TRUE(LogContains("VRT_CamInitModule: Couldn't init xml configuration.\r\n"));
    Unload();
    EXPECT_EQ(ReadFile(SettingsPath()), content);
  }
}

TEST_F(ModuleTest, ReadOnlySettingsFileIsMadeWritable) {
  WriteSettings({{"Line 1", 1, "96,E,8,1", {CameraConfig()}}});
  ASSERT_EQ(chmod(SettingsPath().c_str(), 0444), 0);
  ASSERT_EQ(Init(), 1);
  struct stat st {};
  ASSERT_EQ(stat(SettingsPath().c_str(), &st), 0);
  EXPECT_NE(st.st_mode & S_IWUSR, 0u);
}

TEST_F(ModuleTest, EachLoadOfTheLibraryStartsAFreshDriver) {
  WriteSettings({{"Line 1", 1, "96,E,8,1", {CameraConfig()}}});
  ASSERT_EQ(Init(), 1);
  ASSERT_EQ(int{Properties(api()).cameraCount}, 1);
  Unload();  // ends the module and unloads the library
  const std::string before = LogText();
  ASSERT_NE(before.find("DRV: Driver library freed."), std::string::npos) << before;
  // Loaded again from the same file: the log is off and no camera is known
  // until the module is initialised again.
  Load();
  EXPECT_EQ(int{Properties(api()).cameraCount}, 0);
  int handle = 0;
  EXPECT_EQ(api().VRT_CamOpen(0, &handle), -13);
  EXPECT_EQ(LogText(), before);
}

}  // namespace
}  // namespace q7host
