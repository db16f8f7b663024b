// A host session with the driver: the loaded library, the module state, the
// cameras opened so far, and the printing of every call with its result.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ptzctl/driver_api.h"
#include "ptzctl/dynamic_library.h"
#include "ptzctl/log_tail.h"

namespace ptzctl {

// "0x1000ABCD", as the driver's log prints handles.
std::string HexHandle(int handle);
// `text` in double quotes with \ and " escaped and bytes outside printable
// ASCII as \xNN.
std::string Quoted(const std::string& text);

class Session {
 public:
  // Receives each line of output (without its line end).
  using Printer = std::function<void(const std::string&)>;

  explicit Session(Printer printer);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Loads the library and looks up every export. On failure the session
  // stays without a library and *error says why.
  bool Load(const std::string& path, std::string* error);
  // Shutdown(), then unloads the library.
  void Unload();
  bool Loaded() const { return library_ != nullptr; }
  const DriverApi& Api() const { return api_; }
  // The library's path as given and its directory (where the driver keeps
  // its settings file and looks for ports/COM<n>).
  const std::string& LibraryPath() const { return library_path_; }
  std::string LibraryDir() const;

  // Directory given to VRT_CamInitModule; empty means the library's own.
  void SetLogDir(const std::string& dir) { log_dir_ = dir; }
  std::string LogDir() const;
  // <log dir>/<library base name>.log
  std::string LogPath() const;
  void SetLogSwitch(int value) { log_switch_ = value; }
  // With trace on, every call is followed by the log lines it produced.
  void SetTrace(bool on) { trace_ = on; }
  bool Trace() const { return trace_; }

  // Prints "call -> result" (plus detail) and, with trace on, the new log
  // lines. Returns result. A count or version is printed as a number.
  enum class Kind { kResult, kCount, kVersion };
  int Report(const std::string& call, int result, const std::string& detail = std::string(),
             Kind kind = Kind::kResult);
  void Print(const std::string& line);
  // Replaces the printer; returns the previous one.
  Printer SetPrinter(Printer printer) {
    std::swap(printer_, printer);
    return printer;
  }
  // Prints the log lines written since the last look (trace on or not).
  void PrintNewLogLines();
  // Called after each Report with the call text and its result.
  void SetCallObserver(std::function<void(const std::string&, int)> observer) {
    observer_ = std::move(observer);
  }

  // VRT_CamInitModule(switch, nullptr, log dir); always calls.
  int Init();
  // Init() unless the module is initialised; 1 when it was.
  int EnsureInit();
  // Closes the cameras this session opened, then VRT_CamExitModule.
  int Exit();
  bool Initialised() const { return initialised_; }
  // For module calls made through the channel (codes 1 and 2).
  void NoteInitialised(bool on) {
    initialised_ = on;
    if (!on) handles_.clear();
  }
  // Exit() if initialised.
  void Shutdown();

  // VRT_CamOpen; always calls. On success the handle is remembered.
  int Open(int camera);
  // VRT_CamClose with the remembered handle; -13 without calling when the
  // session holds none.
  int Close(int camera);
  // The handle for a camera argument: "0x..." is taken as a raw handle;
  // a camera number gives the handle this session holds, or opens the camera
  // (initialising the module first when needed). Returns 1 or the failing
  // call's code (-3 for text that is neither).
  int Handle(const std::string& camera, int* handle);
  int HandleFor(int camera, int* handle);
  void CloseAll();
  // Remembers or forgets a handle obtained without Open() (channel code 5
  // and 6).
  void Adopt(int camera, int handle) { handles_[camera] = handle; }
  void Forget(int handle);
  const std::map<int, int>& OpenHandles() const { return handles_; }

  // Keeps the session alive at least this long before Shutdown() closes the
  // cameras (timed relay pulses end on the driver's worker thread).
  void HoldFor(int ms);
  void WaitForHold();

 private:
  Printer printer_;
  std::unique_ptr<DynamicLibrary> library_;
  std::string library_path_;
  DriverApi api_;
  std::string log_dir_;
  int log_switch_ = 1;
  bool trace_ = false;
  bool initialised_ = false;
  std::map<int, int> handles_;  // camera number -> handle
  LogTail tail_;
  std::function<void(const std::string&, int)> observer_;
  long long hold_until_ms_ = 0;
};

}  // namespace ptzctl
