// Runs the same host scenario twice: against QUARO7K7_PTZ.so on Linux and
// against the 32-bit QUARO7K7_PTZ.dll under Wine. In both runs the host is
// tools/winhost (built for the platform), driven through a pipe, and the
// domes are dome simulators on pseudo-terminals that the library sees as COM
// ports: <dir>/ports/COM<n> on Linux, <prefix>/dosdevices/com<n> under Wine.
// Each run leaves a transcript (results, wire lines, log lines, settings
// file) so that a test can demand the two to be the same.
//
// The Wine runs need a prepared environment, which scripts/wine-tests.sh
// sets up and names in these variables; without them the Wine tests skip:
//   QUARO7_WIN32_BUILD  the win32 build directory (QUARO7K7_PTZ.dll and
//                       tools/winhost/winhost.exe)
//   WINEPREFIX          a Wine prefix that runs 32-bit programs
//   QUARO7_WINE         the wine command (default: wine)
//   QUARO7_OBJDUMP      objdump for PE files (default: i686-w64-mingw32-objdump)
// The tests of the setup dialogs also need an X display for Wine's windows:
//   QUARO7_WINE_DISPLAY the display (an Xvfb of the script's own)
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "domesim/domesim.h"

namespace q7wine {

// ---------------------------------------------------------------- helpers

std::string ReadText(const std::string& path);
void WriteText(const std::string& path, const std::string& text);
std::string MakeTempDir(const std::string& prefix);
void RemoveTree(const std::string& path);

// Runs a program to its end with these variables set (an empty value
// unsets one).
struct ProgramRun {
  bool succeeded = false;  // started and exited with 0
  std::string output;      // its standard output
};
ProgramRun RunProgram(const std::vector<std::string>& argv,
                      const std::map<std::string, std::string>& env = {});

// ---------------------------------------------------------------- platforms

// What differs between running the host on Linux and under Wine.
class HostSide {
 public:
  virtual ~HostSide() = default;
  virtual std::string Name() const = 0;
  // The library file to copy into a run's directory, and its name there.
  virtual std::string LibrarySource() const = 0;
  virtual std::string LibraryName() const = 0;
  // The command that starts the host program, and variables to set for it.
  virtual std::vector<std::string> HostCommand() const = 0;
  virtual std::map<std::string, std::string> HostEnvironment() const { return {}; }
  // A path of this machine as the host program names it.
  virtual std::string HostPath(const std::string& path) const = 0;
  // Makes `target` COM port n of a library in `dir`; an empty target takes
  // the port away.
  virtual void LinkPort(const std::string& dir, int com, const std::string& target) = 0;
};

class LinuxSide : public HostSide {
 public:
  std::string Name() const override { return "linux"; }
  std::string LibrarySource() const override;
  std::string LibraryName() const override { return "QUARO7K7_PTZ.so"; }
  std::vector<std::string> HostCommand() const override;
  std::string HostPath(const std::string& path) const override { return path; }
  void LinkPort(const std::string& dir, int com, const std::string& target) override;
};

struct WineSetup {
  std::string build;   // the win32 build directory
  std::string prefix;  // WINEPREFIX
  std::string wine;
  std::string objdump;
  std::string Dll() const { return build + "/QUARO7K7_PTZ.dll"; }
  std::string Winhost() const { return build + "/tools/winhost/winhost.exe"; }
  std::string PlatformCheck() const { return build + "/tools/winhost/win32-platform-check.exe"; }
  // From the environment; nullopt when the Wine runs are not set up.
  static std::optional<WineSetup> FromEnvironment();
};

class WineSide : public HostSide {
 public:
  explicit WineSide(WineSetup setup) : setup_(std::move(setup)) {}
  std::string Name() const override { return "wine"; }
  std::string LibrarySource() const override { return setup_.Dll(); }
  std::string LibraryName() const override { return "QUARO7K7_PTZ.dll"; }
  std::vector<std::string> HostCommand() const override;
  std::map<std::string, std::string> HostEnvironment() const override;
  // Z:\ is the root of this machine in every Wine prefix.
  std::string HostPath(const std::string& path) const override;
  void LinkPort(const std::string& dir, int com, const std::string& target) override;
  const WineSetup& setup() const { return setup_; }
  // The X display the host's windows go to; none (headless) by default.
  void SetDisplay(const std::string& display) { display_ = display; }

 private:
  WineSetup setup_;
  std::string display_;
};

// ---------------------------------------------------------------- the host

// The host program on the other end of two pipes.
class HostProcess {
 public:
  HostProcess(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
              const std::string& errorFile);
  ~HostProcess();
  HostProcess(const HostProcess&) = delete;
  HostProcess& operator=(const HostProcess&) = delete;

  // Sends one command and returns its reply line; "" when the host did not
  // answer within the time or has gone.
  std::string Command(const std::string& line, int timeoutMs);
  bool Running() const { return pid_ > 0; }
  // Waits for the process to end by itself: the milliseconds that took, or
  // -1 when it had not ended within the time (it is ended then).
  int64_t WaitForEnd(int timeoutMs);

 private:
  void Stop();

  int pid_ = -1;
  int in_ = -1;   // the host's standard input
  int out_ = -1;  // its standard output
  std::string pending_;
};

struct Reply {
  std::string line;
  bool ok = false;  // the export was called
  int result = 0;
  int64_t ms = 0;  // how long the call took inside the host
  std::map<std::string, std::string> fields;
};
Reply ParseReply(const std::string& line);

// What a run did, in a form that does not depend on the platform, the time
// or chance: handles and time stamps are taken out; the settings file is
// taken as it is, byte for byte.
struct Transcript {
  std::vector<std::string> calls;
  std::vector<std::string> wire;
  std::vector<std::string> log;
  std::string settings;
};

// One run of a scenario on one platform, in a directory of its own.
class Session {
 public:
  // With `copyLibrary` false the session shares a directory (and its
  // library copy) that another session made: a second host process on the
  // same library directory.
  Session(HostSide& side, const std::string& dir, bool copyLibrary = true);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  HostSide& side() { return side_; }
  std::string SettingsPath() const { return dir_ + "/QUARO7K7_PTZ.xml"; }
  std::string LogPath() const { return dir_ + "/QUARO7K7_PTZ.log"; }

  void WriteSettings(const std::string& xml);
  // The simulator on COM port n, made and linked on first use.
  domesim::DomeSimulator& Sim(int com);
  // COM port n exists but cannot be opened: it is in use (Linux: another
  // holder's lock; Wine: the name leads to a directory).
  void BusyPort(int com);
  // COM port n does not exist.
  void NoPort(int com) { side_.LinkPort(dir_, com, std::string()); }

  // Loads the library copy into a (new) host process.
  void Load();
  void Unload();
  // Unloads the library as it stands (whatever is open): the milliseconds
  // the unload took, or -1 when the host did not answer within the time.
  int64_t TimedUnload(int timeoutMs);
  // The number of threads of the host process, -1 when it did not say.
  int Threads();
  // Unloads the library and ends the host process: the next Load starts a
  // new one, as a host that is started again.
  void EndHost();
  // Tells the host to end its process at once, the library still loaded
  // with whatever it has open: the milliseconds until the process had
  // ended, or -1 when it did not end within the time.
  int64_t ExitHost(int timeoutMs);
  // Calls an export: the command is "<export> <arguments>", with {h} standing
  // for the handle of the last camera opened and {hle} for its bytes in hex,
  // as the first field of a channel record. Recorded in the transcript as
  // written, with the result and the fields that do not vary.
  // `shown` replaces the command in the transcript when given.
  Reply Call(const std::string& command, int timeoutMs = 60000, const std::string& shown = "");
  // Sends a command of the host program as it is and returns its reply
  // line ("" when none came); not part of the transcript.
  std::string Command(const std::string& line, int timeoutMs = 30000);
  int Init(int logSwitch = 1);
  int Open(int tavoId);
  int handle() const { return handle_; }

  // Lines the simulator on COM n received since the last look; they go into
  // the transcript too.
  std::vector<std::string> Wire(int com);
  std::vector<std::string> LogLines() const;
  // True once the log has the line (time stamp off), false after the time.
  bool WaitForLog(const std::string& line, int timeoutMs) const;

  Transcript Finish();
  // Makes the next setting of each simulated line a change the pty takes
  // (Call does it before each call).
  void ResetLines();

 private:
  HostSide& side_;
  std::string dir_;
  std::unique_ptr<HostProcess> host_;
  std::map<int, std::unique_ptr<domesim::DomeSimulator>> sims_;
  std::map<int, int> busy_;  // com -> descriptor holding the lock
  std::vector<int> linked_;
  int handle_ = 0;
  std::vector<int> handles_;
  Transcript transcript_;
};

// The log's lines, CR LF split, time stamps taken out wherever they stand
// (a line without a line end runs into the next stamped one).
std::vector<std::string> SplitLog(const std::string& text);

// ---------------------------------------------------------------- the tests

class WineHostTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  const WineSetup& setup() const { return *setup_; }
  // Runs the scenario on one side in a fresh directory.
  Transcript RunOn(HostSide& side, const std::function<void(Session&)>& scenario);
  // Runs it on Linux, then under Wine, and expects the two transcripts to be
  // the same. The Wine transcript is returned.
  Transcript RunBoth(const std::function<void(Session&)>& scenario);

 private:
  std::optional<WineSetup> setup_;
  std::vector<std::string> dirs_;
};

// A channel record in hex: 32-bit little-endian numbers, then a text in a
// zeroed field of `textSize` bytes when textSize is not 0.
std::string RecordHex(const std::vector<int32_t>& numbers, const std::string& text = "",
                      size_t textSize = 0);

// The settings file of one connection on COM port `com` with one camera
// (TavoID 0, SysID 5, direct form, monitor 1, 3 relays).
std::string OneCameraSettings(int com);
// The same with a second connection "Line 2" on COM port `second`, whose
// camera has TavoID 1 and SysID 6.
std::string TwoLineSettings(int com, int second);

}  // namespace q7wine
