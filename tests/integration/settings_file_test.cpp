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

// A second process (an installer's tool, say) with a driver of its own on
// the same library directory, told what to call over a pipe. Forked before
// the test's own process loads the library or starts a simulator, so that it
// starts with one thread and loads a driver of its own.
class OtherProcess {
 public:
  OtherProcess(const std::string& library, const std::string& dir) {
    int toChild[2];
    int toParent[2];
    if (pipe(toChild) != 0 || pipe(toParent) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(toChild[1]);
      close(toParent[0]);
      _exit(Serve(library, dir, toChild[0], toParent[1]));
    }
    close(toChild[0]);
    close(toParent[1]);
    to_ = toChild[1];
    from_ = toParent[0];
  }
  ~OtherProcess() {
    if (to_ >= 0) close(to_);
    if (from_ >= 0) close(from_);
    int status = 0;
    if (pid_ > 0) waitpid(pid_, &status, 0);
  }
  OtherProcess(const OtherProcess&) = delete;
  OtherProcess& operator=(const OtherProcess&) = delete;

  // The result of "init", "exit", "open N", "close", "relay R NAME" (on the
  // camera opened last), "preset NAME"; -1000 when the process is gone.
  int Call(const std::string& command) {
    const std::string line = command + "\n";
    if (to_ < 0 || write(to_, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
      return -1000;
    int result = 0;
    return read(from_, &result, sizeof result) == sizeof result ? result : -1000;
  }

 private:
  static int Serve(const std::string& library, const std::string& dir, int in, int out) {
    LoadedLibrary loaded(library);
    if (!loaded.ok()) return 1;
    const Api& a = loaded.api();
    int handle = 0;
    std::string command;
    char c = 0;
    while (read(in, &c, 1) == 1) {
      if (c != '\n') {
        command += c;
        continue;
      }
      int result = -999;
      const size_t blank = command.find(' ');
      const std::string verb = command.substr(0, blank);
      const std::string rest = blank == std::string::npos ? "" : command.substr(blank + 1);
      if (verb == "init") result = a.VRT_CamInitModule(1, nullptr, dir.c_str());
      if (verb == "exit") result = a.VRT_CamExitModule();
      if (verb == "open") result = a.VRT_CamOpen(std::stoi(rest), &handle);
      if (verb == "close") result = a.VRT_CamClose(handle);
      if (verb == "relay")
        result = a.VRT_CamSetRelayName(handle, std::stoi(rest), rest.substr(2).c_str());
      if (verb == "preset") result = a.VRT_CamSetPrePositionName(handle, rest.c_str());
      if (write(out, &result, sizeof result) != sizeof result) return 2;
      command.clear();
    }
    return 0;
  }

  pid_t pid_ = -1;
  int to_ = -1;
  int from_ = -1;
};

// The host and an installer's process on one library directory, each
// saving its own cameras: every change that answered 1 is in the file, and
// a module restart reads what the other saved.
TEST_F(SettingsFileTest, ProcessesSavingDifferentCamerasKeepEachOthersChanges) {
  WriteSettings({{"Line 1", 1, "96,E,8,1", {Camera("Gate", 0, 5)}},
                 {"Line 2", 2, "96,E,8,1", {Camera("Yard", 1, 6)}}});
  OtherProcess installer(LibraryPath(), Dir());
  Simulator(1);
  Simulator(2);
  ASSERT_EQ(installer.Call("init"), 1);
  ASSERT_EQ(installer.Call("open 1"), 1);
  ASSERT_EQ(Init(), 1);
  const int gate = Open(0);
  ASSERT_EQ(api().VRT_CamSetRelayName(gate, 0, "Pump"), 1);
  EXPECT_EQ(installer.Call("relay 0 Lamp"), 1);
  EXPECT_EQ(api().VRT_CamSetRelayName(gate, 1, "Light"), 1);
  EXPECT_EQ(api().VRT_CamSetPrePositionName(gate, "Door"), 1);
  EXPECT_EQ(installer.Call("preset Dock"), 1);
  const std::string file = ReadFile(SettingsPath());
  for (const char* name : {"\"Pump\"", "\"Light\"", "\"Door\"", "\"Lamp\"", "\"Dock\""})
    EXPECT_NE(file.find(name), std::string::npos) << name << " in " << file;
  EXPECT_FALSE(LogContains("was changed by another process"));
  EXPECT_EQ(installer.Call("exit"), 1);

  // The host's module restart reads the installer's changes.
  EXPECT_EQ(Exit(), 1);
  ASSERT_EQ(Init(), 1);
  const int yard = Open(1);
  EXPECT_EQ(RelayName(api(), yard, 0), "Lamp");
  EXPECT_EQ(RelayName(api(), Open(0), 1), "Light");
}

// Both processes on one camera: the one that read the camera before the
// other saved it is refused (-22, the log names the camera) until its module
// restarts and reads the file afresh; the file keeps the other's change.
TEST_F(SettingsFileTest, ASaveOverTheOtherProcesssCameraIsRefusedUntilAModuleRestart) {
  WriteSettings({{"Line 1", 1, "96,E,8,1", {Camera("Gate", 0, 5)}},
                 {"Line 2", 2, "96,E,8,1", {Camera("Yard", 1, 6)}}});
  OtherProcess installer(LibraryPath(), Dir());
  Simulator(1);
  Simulator(2);
  ASSERT_EQ(installer.Call("init"), 1);
  ASSERT_EQ(Init(), 1);
  // The host renames the yard camera's relay and lets its port go.
  int yard = Open(1);
  ASSERT_EQ(api().VRT_CamSetRelayName(yard, 0, "Pump"), 1);
  ASSERT_EQ(api().VRT_CamClose(yard), 1);
  const std::string hosts = ReadFile(SettingsPath());
  ASSERT_EQ(installer.Call("open 1"), 1);
  EXPECT_EQ(installer.Call("relay 0 Lamp"), -22);
  EXPECT_TRUE(LogContains("DRV.Settings: Camera 2 ('Yard', settings/comm2/cam1) in " +
                          SettingsPath() +
                          " was changed by another process since this one read it"));
  EXPECT_EQ(installer.Call("relay 1 Lamp"), -22);
  EXPECT_EQ(ReadFile(SettingsPath()), hosts);
  // The host goes on saving the camera it changed.
  ASSERT_EQ(installer.Call("close"), 1);
  yard = Open(1);
  EXPECT_EQ(api().VRT_CamSetRelayName(yard, 1, "Light"), 1);
  ASSERT_EQ(api().VRT_CamClose(yard), 1);
  // A module restart of the installer reads the file afresh.
  EXPECT_EQ(installer.Call("exit"), 1);
  ASSERT_EQ(installer.Call("init"), 1);
  ASSERT_EQ(installer.Call("open 1"), 1);
  EXPECT_EQ(installer.Call("relay 2 Lamp"), 1);
  EXPECT_EQ(installer.Call("exit"), 1);
  EXPECT_EQ(Exit(), 1);
  ASSERT_EQ(Init(), 1);
  yard = Open(1);
  EXPECT_EQ(RelayName(api(), yard, 0), "Pump");
  EXPECT_EQ(RelayName(api(), yard, 1), "Light");
  EXPECT_EQ(RelayName(api(), yard, 2), "Lamp");
}

}  // namespace
}  // namespace q7host
