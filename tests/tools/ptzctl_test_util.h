// Helpers for the tests of the host tool: a private directory with a copy of
// the library and the demo configuration, the dome simulator published as its
// COM1, and ptzctl run as a child process.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

#include "domesim/domesim.h"

namespace ptzctl_test {

struct RunResult {
  int status = -1;  // exit code, or 128 + signal number
  std::string out;
  std::string err;
};

// Runs `program` with `args`, feeding `input` to its standard input; kills it
// after timeout_ms.
RunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::string& input = std::string(), int timeout_ms = 30000);

bool Contains(const std::string& text, const std::string& part);
bool Contains(const std::vector<std::string>& lines, const std::string& line);
std::string Join(const std::vector<std::string>& lines);

// A temporary directory holding a copy of the library and the demo's
// settings file (cameras 0 "Gate" on no node with address 1 and 1 "Yard"
// behind node 5 with address 2, COM1, preset "Door" at location 1 on camera
// 0, wash pulse 1000 ms).
class HostDir {
 public:
  HostDir();
  ~HostDir();
  HostDir(const HostDir&) = delete;
  HostDir& operator=(const HostDir&) = delete;

  const std::filesystem::path& Path() const { return dir_; }
  std::string Library() const { return (dir_ / "QUARO7K7_PTZ.so").string(); }
  std::string Settings() const { return (dir_ / "QUARO7K7_PTZ.xml").string(); }
  std::string Log() const { return (dir_ / "QUARO7K7_PTZ.log").string(); }
  // Replaces `from` by `to` in the settings file.
  void EditSettings(const std::string& from, const std::string& to);

 private:
  std::filesystem::path dir_;
};

// A program running beside the test, fed through its standard input, its
// standard output read as it comes (standard error goes with it).
class ChildProcess {
 public:
  ChildProcess(const std::string& program, const std::vector<std::string>& args);
  ~ChildProcess();  // closes the input, then waits (killing it after 10 s)
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  void Write(const std::string& text);
  // What it printed so far, once `until` is among it (or timeout_ms passed).
  const std::string& ReadUntil(const std::string& until, int timeout_ms = 10000);
  // Closes its input and waits for it: the exit status.
  int Finish();

 private:
  pid_t pid_ = -1;
  int in_ = -1;
  int out_ = -1;
  std::string output_;
  int status_ = -1;
};

// Reads what arrives on `fd` for up to timeout_ms, or until `until` appears
// in what was read so far (counted from `from`).
std::string ReadUntil(int fd, std::string* so_far, const std::string& until, int timeout_ms,
                      size_t from = 0);

}  // namespace ptzctl_test
