// The settings file as the host's installation meets it: files the driver
// cannot read, a file that is a symbolic link, leftovers of killed saves, and
// a second process on the same library directory.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "host_fixture.h"

namespace q7host {
namespace {

using SettingsFileTest = HostTest;

std::string RelayName(const Api& a, int handle, int relay) {
  VRT_RelayRecord record;
  std::memset(&record, 0, sizeof record);
  record.handle = handle;
  record.relay = relay;
  return a.VRT_CamGetRelay(&record) == 1 ? std::string(record.name) : "<none>";
}

const char kDeclaration[] = "<?xml version='1.0' encoding='iso-8859-1'?>\n";

TEST_F(SettingsFileTest, FilesTheDriverCannotReadAreRefusedAndKept) {
  std::string deep = std::string(kDeclaration) + "<settings>";
  for (int i = 0; i < 100000; ++i) deep += "<a>";
  for (int i = 0; i < 100000; ++i) deep += "</a>";
  deep += "</settings>\n";
  const std::string camera =
      "<settings><comm1><Name value=\"Caf\xe9\"/><ComPort value=\"1\"/></comm1></settings>\n";
  const std::vector<std::string> refused = {
      deep,
      camera,
      "<?xml version='1.0' encoding='UTF-8'?>\n" + camera,
      "<?xml version='1.0' encoding='bogus'?>\n" + camera,
      "<?xml version='1.0' encoding='utf-16'?>\n" + camera,
  };
  for (const std::string& content : refused) {
    SCOPED_TRACE("content: " + content.substr(0, 80));
    WriteSettingsText(content);
    EXPECT_EQ(Init(), -18);
    EXPECT_TRUE(LogContains("DRV.InitXML: XML init failed"));
    Unload();
    EXPECT_EQ(ReadFile(SettingsPath()), content);
  }
  // The driver's own encoding, with the same byte, loads.
  WriteSettingsText(kDeclaration + camera);
  EXPECT_EQ(Init(), 1);
}

TEST_F(SettingsFileTest, SymbolicLinkIsSavedThroughAndStaysALink) {
  WriteSettings({{"Line 1", 1, "96,E,8,1", {CameraConfig()}}});
  const std::string target = Dir() + "/config/QUARO7K7_PTZ.xml";
  ASSERT_EQ(mkdir((Dir() + "/config").c_str(), 0700), 0);
  ASSERT_EQ(rename(SettingsPath().c_str(), target.c_str()), 0);
  ASSERT_EQ(symlink(target.c_str(), SettingsPath().c_str()), 0);
  Simulator(1);
  ASSERT_EQ(Init(), 1);
  const int handle = Open(0);
  ASSERT_EQ(api().VRT_CamSetRelayName(handle, 0, "Pump"), 1);
  struct stat st {};
  ASSERT_EQ(lstat(SettingsPath().c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_NE(ReadFile(target).find("\"Pump\""), std::string::npos);
  Unload();
  ASSERT_EQ(Init(), 1);
  EXPECT_EQ(RelayName(api(), Open(0), 0), "Pump");
}

TEST_F(SettingsFileTest, TemporariesOfKilledSavesAreRemovedAtInit) {
  WriteSettings({{"Line 1", 1, "96,E,8,1", {CameraConfig()}}});
  const pid_t gone = fork();
  ASSERT_GE(gone, 0);
  if (gone == 0) _exit(0);
  ASSERT_EQ(waitpid(gone, nullptr, 0), gone);
  std::vector<std::string> stale;
  for (int i = 0; i < 5; ++i) {
    stale.push_back(SettingsPath() + ".~" + std::to_string(gone) + "-" + std::to_string(i) +
                    ".tmp");
    WriteFile(stale.back(), "<?xml version='1.0'?><sett");
  }
  ASSERT_EQ(Init(), 1);
  for (const std::string& path : stale) EXPECT_FALSE(FileExists(path)) << path;
}

// A host and a second process (an installer's tool) on one library
// directory: no change that answered 1 is lost. The second process's save
// over the host's change is refused with -22 and a log line, and the file
// keeps the host's change.
TEST_F(SettingsFileTest, SecondProcessDoesNotWriteOverTheHostsChange) {
  CameraConfig gate = Camera("Gate", 0, 5);
  CameraConfig yard = Camera("Yard", 1, 6);
  WriteSettings({{"Line 1", 1, "96,E,8,1", {gate}}, {"Line 2", 2, "96,E,8,1", {yard}}});
  int toChild[2];
  int toParent[2];
  ASSERT_EQ(pipe(toChild), 0);
  ASSERT_EQ(pipe(toParent), 0);
  // Forked before this process loads the library or starts a simulator, so
  // that the other process loads a driver of its own and starts with one
  // thread.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(toChild[1]);
    close(toParent[0]);
    int result = 0;
    char go = 0;
    if (read(toChild[0], &go, 1) != 1) _exit(1);
    {
      LoadedLibrary other(LibraryPath());
      const Api& b = other.api();
      int handle = 0;
      if (!other.ok() || b.VRT_CamInitModule(1, nullptr, Dir().c_str()) != 1 ||
          b.VRT_CamOpen(1, &handle) != 1) {
        result = 100;
      }
      if (write(toParent[1], "r", 1) != 1 || read(toChild[0], &go, 1) != 1) result = 101;
      if (result == 0) result = b.VRT_CamSetRelayName(handle, 0, "Lamp");
      if (result == 0) result = 102;
      b.VRT_CamClose(handle);
      b.VRT_CamExitModule();
    }
    const signed char code = static_cast<signed char>(result);
    _exit(write(toParent[1], &code, 1) == 1 ? 0 : 1);
  }
  // A child that ends early closes the pipes: the reads below do not wait.
  close(toChild[0]);
  close(toParent[1]);
  Simulator(1);
  Simulator(2);
  ASSERT_EQ(write(toChild[1], "s", 1), 1);
  char ready = 0;
  EXPECT_EQ(read(toParent[0], &ready, 1), 1);
  ASSERT_EQ(Init(), 1);
  const int handle = Open(0);
  ASSERT_EQ(api().VRT_CamSetRelayName(handle, 0, "Pump"), 1);
  EXPECT_EQ(write(toChild[1], "g", 1), 1);
  signed char childResult = 0;
  EXPECT_EQ(read(toParent[0], &childResult, 1), 1);
  close(toChild[1]);
  close(toParent[0]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

  EXPECT_EQ(childResult, -22);
  EXPECT_TRUE(LogContains("was changed by another process since this one read it"));
  const std::string file = ReadFile(SettingsPath());
  EXPECT_NE(file.find("\"Pump\""), std::string::npos) << file;
  EXPECT_EQ(file.find("\"Lamp\""), std::string::npos) << file;
  // The host goes on saving: the file still holds what it last wrote.
  EXPECT_EQ(api().VRT_CamSetRelayName(handle, 1, "Light"), 1);
  Unload();
  ASSERT_EQ(Init(), 1);
  const int again = Open(0);
  EXPECT_EQ(RelayName(api(), again, 0), "Pump");
  EXPECT_EQ(RelayName(api(), again, 1), "Light");
}

}  // namespace
}  // namespace q7host
