// q7soak: a host that keeps the driver busy for a long time and watches that
// nothing grows or hangs.
//
// Threads:
//   host N      open a camera, drive it (moves, lens, presets, relays and
//               pulses, properties, channel calls), close it; again
//   module      VRT_CamExitModule, then VRT_CamInitModule, every few seconds
//   close-ui    VRT_CamCloseUi every 100 ms
//   config      adds and removes connections and cameras, renumbers cameras,
//               saves and loads a new connection: the driver operations the
//               setup dialogs use, inside a configure session as a dialog
//               runs in one
//   faults      now and then a dome goes away and comes back, babbles,
//               answers slowly or answers "OL"
//   monitor     calls per second, results by code, memory and descriptors
//
// The program is linked with the driver core, so the host threads' exports
// and the config thread's operations reach one driver object. It keeps its
// settings file, log and ports/ beside itself, as the library does: run it
// from a copy in a scratch directory (scripts/soak does). With --lib the
// host threads call a loaded copy of the library instead, and the config
// thread does not run (that library's driver is out of its reach).
#include <dirent.h>
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "camera/camera.h"
#include "camera/camera_settings_value.h"
#include "comm/comm.h"
#include "domesim/domesim.h"
#include "driver/driver.h"
#include "quaro7k7_ptz.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// ---------------------------------------------------------------- options

struct Options {
  int seconds = 60;
  int reportSeconds = 10;
  int lines = 3;
  int camerasPerLine = 2;
  int hostsPerLine = 2;
  bool faults = true;
  bool config = true;
  bool configDuringRestart = false;  // configure sessions may overlap a restart
  int hangSeconds = 60;              // a call running longer than this is a hang
  std::string library;               // --lib: host calls through this copy
};

void Usage() {
  std::puts(
      "usage: q7soak [--seconds N] [--report N] [--lines N] [--cameras N] [--hosts N]\n"
      "              [--no-faults] [--no-config] [--config-during-restart] [--hang N]\n"
      "              [--lib PATH]\n"
      "Runs from the directory it is in (settings file, log and ports/ there).");
}

bool ParseOptions(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto number = [&](int* out, int low, int high) {
      if (i + 1 >= argc) return false;
      char* end = nullptr;
      const long v = std::strtol(argv[++i], &end, 10);
      if (*end != '\0' || v < low || v > high) return false;
      *out = static_cast<int>(v);
      return true;
    };
    bool ok = true;
    if (arg == "--seconds")
      ok = number(&o->seconds, 1, 7 * 24 * 3600);
    else if (arg == "--report")
      ok = number(&o->reportSeconds, 1, 3600);
    else if (arg == "--lines")
      ok = number(&o->lines, 1, 8);
    else if (arg == "--cameras")
      ok = number(&o->camerasPerLine, 1, 8);
    else if (arg == "--hosts")
      ok = number(&o->hostsPerLine, 1, 8);
    else if (arg == "--hang")
      ok = number(&o->hangSeconds, 5, 3600);
    else if (arg == "--no-faults")
      o->faults = false;
    else if (arg == "--no-config")
      o->config = false;
    else if (arg == "--config-during-restart")
      o->configDuringRestart = true;
    else if (arg == "--lib" && i + 1 < argc)
      o->library = argv[++i];
    else
      ok = false;
    if (!ok) {
      Usage();
      return false;
    }
  }
  if (!o->library.empty()) o->config = false;
  return true;
}

// ---------------------------------------------------------------- the exports

// The exports the host threads call, from the core linked in or from a
// loaded library.
struct Api {
  decltype(&VRT_CamInitModule) InitModule = &VRT_CamInitModule;
  decltype(&VRT_CamExitModule) ExitModule = &VRT_CamExitModule;
  decltype(&VRT_CamCloseUi) CloseUi = &VRT_CamCloseUi;
  decltype(&VRT_CamOpen) Open = &VRT_CamOpen;
  decltype(&VRT_CamClose) Close = &VRT_CamClose;
  decltype(&VRT_CamGetProperties) GetProperties = &VRT_CamGetProperties;
  decltype(&VRT_CamGetModuleProperties) GetModuleProperties = &VRT_CamGetModuleProperties;
  decltype(&VRT_CamGetName) GetName = &VRT_CamGetName;
  decltype(&VRT_CamLeft) Moves[8] = {&VRT_CamLeft,     &VRT_CamRight,    &VRT_CamUp,
                                     &VRT_CamDown,     &VRT_CamUpLeft,   &VRT_CamUpRight,
                                     &VRT_CamDownLeft, &VRT_CamDownRight};
  decltype(&VRT_CamZoom) Lens[3] = {&VRT_CamZoom, &VRT_CamFocus, &VRT_CamIris};
  decltype(&VRT_CamMoveToPrePosition) MoveToPrePosition = &VRT_CamMoveToPrePosition;
  decltype(&VRT_CamMoveToPrePositionName) MoveToPrePositionName = &VRT_CamMoveToPrePositionName;
  decltype(&VRT_CamSetPrePositionName) SetPrePositionName = &VRT_CamSetPrePositionName;
  decltype(&VRT_CamGetPrePosition) GetPrePosition = &VRT_CamGetPrePosition;
  decltype(&VRT_CamDeletePrePositionName) DeletePrePositionName = &VRT_CamDeletePrePositionName;
  decltype(&VRT_CamSetRelay) SetRelay = &VRT_CamSetRelay;
  decltype(&VRT_CamSetRelayName) SetRelayName = &VRT_CamSetRelayName;
  decltype(&VRT_CamGetRelay) GetRelay = &VRT_CamGetRelay;
  decltype(&TAVOPZTChannel) Channel = &TAVOPZTChannel;
};

template <typename F>
bool Bind(void* library, const char* name, F* out) {
  void* symbol = dlsym(library, name);
  if (symbol == nullptr) {
    std::fprintf(stderr, "q7soak: %s missing in the library\n", name);
    return false;
  }
  *out = reinterpret_cast<F>(symbol);
  return true;
}

bool BindLibrary(const std::string& path, Api* api) {
  void* lib = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (lib == nullptr) {
    std::fprintf(stderr, "q7soak: %s\n", dlerror());
    return false;
  }
  static const char* kMoves[8] = {"VRT_CamLeft",     "VRT_CamRight",    "VRT_CamUp",
                                  "VRT_CamDown",     "VRT_CamUpLeft",   "VRT_CamUpRight",
                                  "VRT_CamDownLeft", "VRT_CamDownRight"};
  static const char* kLens[3] = {"VRT_CamZoom", "VRT_CamFocus", "VRT_CamIris"};
  bool ok = Bind(lib, "VRT_CamInitModule", &api->InitModule) &&
            Bind(lib, "VRT_CamExitModule", &api->ExitModule) &&
            Bind(lib, QUARO7_SYMBOL_CLOSE_UI, &api->CloseUi) &&
            Bind(lib, "VRT_CamOpen", &api->Open) && Bind(lib, "VRT_CamClose", &api->Close) &&
            Bind(lib, "VRT_CamGetProperties", &api->GetProperties) &&
            Bind(lib, "VRT_CamGetModuleProperties", &api->GetModuleProperties) &&
            Bind(lib, "VRT_CamGetName", &api->GetName) &&
            Bind(lib, "VRT_CamMoveToPrePosition", &api->MoveToPrePosition) &&
            Bind(lib, "VRT_CamMoveToPrePositionName", &api->MoveToPrePositionName) &&
            Bind(lib, "VRT_CamSetPrePositionName", &api->SetPrePositionName) &&
            Bind(lib, "VRT_CamGetPrePosition", &api->GetPrePosition) &&
            Bind(lib, "VRT_CamDeletePrePositionName", &api->DeletePrePositionName) &&
            Bind(lib, "VRT_CamSetRelay", &api->SetRelay) &&
            Bind(lib, "VRT_CamSetRelayName", &api->SetRelayName) &&
            Bind(lib, "VRT_CamGetRelay", &api->GetRelay) &&
            Bind(lib, "TAVOPZTChannel", &api->Channel);
  for (int i = 0; ok && i < 8; ++i) ok = Bind(lib, kMoves[i], &api->Moves[i]);
  for (int i = 0; ok && i < 3; ++i) ok = Bind(lib, kLens[i], &api->Lens[i]);
  return ok;  // the library stays loaded until the process ends
}

// ---------------------------------------------------------------- counting

std::atomic<bool> gStop{false};
// Held by the module thread from the module's end to its start again, and by
// the config thread for a configure session: a host does not configure a
// module it is restarting (unless --config-during-restart).
std::mutex gRestart;
std::atomic<uint64_t> gCalls{0};

struct Results {
  std::mutex mu;
  std::map<int, uint64_t> byCode;  // counts returned as such are under 1000
  uint64_t maxCallMs = 0;
  std::string maxCallName;
};
Results gResults;

// What each thread is doing, for the hang watch.
struct Activity {
  std::atomic<int64_t> startedMs{0};  // 0: not in a call
  std::atomic<const char*> call{""};
  std::string thread;
};
std::vector<std::unique_ptr<Activity>> gActivities;

int64_t NowMs() {
  return std::chrono::duration_cast<milliseconds>(Clock::now().time_since_epoch()).count();
}

// A call through the exports: counted by result and timed.
template <typename Call>
int Count(Activity& activity, const char* name, Call call, bool resultIsCount = false) {
  const int64_t start = NowMs();
  activity.call.store(name);
  activity.startedMs.store(start);
  const int result = call();
  activity.startedMs.store(0);
  const uint64_t took = static_cast<uint64_t>(NowMs() - start);
  gCalls.fetch_add(1, std::memory_order_relaxed);
  const int code = resultIsCount && result >= 0 ? 1000 : result;
  std::lock_guard<std::mutex> lock(gResults.mu);
  ++gResults.byCode[code];
  if (took > gResults.maxCallMs) {
    gResults.maxCallMs = took;
    gResults.maxCallName = name;
  }
  return result;
}

// Codes a host may meet in this soak: success, bad argument, line error,
// port missing, camera not found, operation failed, not supported, busy,
// no such preset, storage full, no such relay; 1000 stands for a count.
bool Expected(int code) {
  for (int c : {1, -3, -4, -8, -13, -18, -19, -20, -23, -26, -27, 1000})
    if (code == c) return true;
  return false;
}

// ---------------------------------------------------------------- process

long StatusField(const char* field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  const size_t n = std::strlen(field);
  while (std::getline(in, line))
    if (line.compare(0, n, field) == 0) return std::atol(line.c_str() + n);
  return -1;
}

int OpenDescriptors() {
  int count = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (const dirent* entry = readdir(dir))
      if (entry->d_name[0] != '.') ++count;
    closedir(dir);
    --count;  // the directory itself
  }
  return count;
}

std::string OwnDirectory() {
  char path[4096];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return ".";
  path[n] = '\0';
  std::string dir(path);
  return dir.substr(0, dir.rfind('/'));
}

// ---------------------------------------------------------------- the lines

// Ports above 30: while a dome's link is gone the driver falls back to
// /dev/ttyS<n-1>, which must not exist (and numbers from 48 on load as 1).
constexpr int kFirstCom = 31;
constexpr int kConfigNumberBase = 100;  // host numbers of cameras the config thread adds

std::string Key(const std::string& name, const std::string& value) {
  return "<" + name + " value=\"" + value + "\"/>";
}

std::string SettingsText(const Options& o) {
  std::ostringstream out;
  out << "<?xml version='1.0' encoding='iso-8859-1'?>\n<settings>\n";
  for (int line = 0; line < o.lines; ++line) {
    out << "<comm" << line + 1 << ">" << Key("Name", "Soak line " + std::to_string(line + 1))
        << Key("ComPort", std::to_string(kFirstCom + line)) << Key("PortMode", "96,E,8,1") << "\n";
    for (int c = 0; c < o.camerasPerLine; ++c) {
      const int number = line * o.camerasPerLine + c;
      out << "<cam" << c + 1 << ">" << Key("Name", "Dome " + std::to_string(number))
          << Key("TavoID", std::to_string(number)) << Key("SysID", std::to_string(10 + c))
          << Key("NodeAddress", c % 2 == 0 ? "128" : std::to_string(c)) << Key("CamAccFactor", "6")
          << Key("WaitForResponse", "1") << Key("WashPulseTime", "300")
          << Key("DefaultPreposSpeed", "90") << Key("NofStorageLocations", "16")
          << Key("ControlMonitor", "1") << Key("NofRelays", "4") << "</cam" << c + 1 << ">\n";
    }
    out << "</comm" << line + 1 << ">\n";
  }
  out << "</settings>\n";
  return out.str();
}

// ---------------------------------------------------------------- host threads

void HostThread(const Api& api, const Options& o, Activity& me, unsigned seed) {
  std::minstd_rand rng(seed);
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  const int hostCameras = o.lines * o.camerasPerLine;
  static const char* kPresets[] = {"Door", "Gate", "Yard", "Hall", "Roof", "Dock"};
  while (!gStop.load()) {
    // Mostly the configured cameras; now and then one the config thread adds.
    const int number = pick(10) == 0 ? kConfigNumberBase + pick(4) : pick(hostCameras);
    int handle = 0;
    if (Count(me, "VRT_CamOpen", [&] { return api.Open(number, &handle); }) != 1) {
      std::this_thread::sleep_for(milliseconds(1 + pick(5)));
      continue;
    }
    const int calls = 5 + pick(40);
    for (int i = 0; i < calls && !gStop.load(); ++i) {
      switch (pick(12)) {
        case 0:
        case 1: {
          const int direction = pick(8);
          Count(me, "move", [&] { return api.Moves[direction](handle, pick(17)); });
          break;
        }
        case 2:
          Count(me, "lens", [&] { return api.Lens[pick(3)](handle, pick(2), pick(4)); });
          break;
        case 3: {
          const char* name = kPresets[pick(6)];
          if (pick(3) == 0)
            Count(me, "VRT_CamSetPrePositionName",
                  [&] { return api.SetPrePositionName(handle, name); });
          else if (pick(2) == 0)
            Count(me, "VRT_CamMoveToPrePositionName",
                  [&] { return api.MoveToPrePositionName(handle, name, pick(101)); });
          else
            Count(me, "VRT_CamDeletePrePositionName",
                  [&] { return api.DeletePrePositionName(handle, name); });
          break;
        }
        case 4: {
          VRT_PresetRecord record{};
          record.handle = handle;
          record.position = pick(8) - 1;
          Count(
              me, "VRT_CamGetPrePosition", [&] { return api.GetPrePosition(&record); }, true);
          Count(me, "VRT_CamMoveToPrePosition",
                [&] { return api.MoveToPrePosition(handle, pick(8), pick(101)); });
          break;
        }
        case 5:
        case 6: {
          // Pulses short enough to end while the camera is still open.
          const int mode = pick(4);
          Count(me, "VRT_CamSetRelay",
                [&] { return api.SetRelay(handle, pick(5), mode, 20 + pick(200)); });
          break;
        }
        case 7: {
          VRT_RelayRecord record{};
          record.handle = handle;
          record.relay = pick(6) - 1;
          Count(
              me, "VRT_CamGetRelay", [&] { return api.GetRelay(&record); }, true);
          if (pick(50) == 0) {
            char name[32] = "Relay x";
            name[6] = static_cast<char>('A' + pick(26));
            Count(me, "VRT_CamSetRelayName",
                  [&] { return api.SetRelayName(handle, pick(4), name); });
          }
          break;
        }
        case 8: {
          VRT_CameraProperties properties{};
          properties.handle = handle;
          Count(me, "VRT_CamGetProperties", [&] { return api.GetProperties(&properties); });
          char name[33];
          Count(me, "VRT_CamGetName", [&] { return api.GetName(number, name, sizeof name); });
          break;
        }
        case 9: {
          VRT_ModuleProperties module{};
          Count(me, "VRT_CamGetModuleProperties", [&] { return api.GetModuleProperties(&module); });
          break;
        }
        default: {
          // A channel call with the handle first and small numbers after it;
          // never init, exit or configure (those are the module thread's
          // and a user's).
          static const int kCodes[] = {0,  3,  4,  8,  10, 11, 12, 13, 14, 15, 16, 17, 18, 19,
                                       20, 21, 23, 24, 25, 26, 27, 28, 29, 30, 31, 33, 36, 42};
          const int code = kCodes[pick(static_cast<int>(sizeof kCodes / sizeof kCodes[0]))];
          unsigned char record[160] = {0};
          std::memcpy(record, &handle, 4);
          for (int at = 4; at < 16; at += 4) {
            const int32_t value = pick(18) - 1;
            std::memcpy(record + at, &value, 4);
          }
          if (code == 8) std::memcpy(record, &number, 4);
          if (code == 42) std::memcpy(record + 8, kPresets[pick(6)], 5);
          const bool counts = code == 0 || code == 23 || code == 33;
          Count(
              me, "TAVOPZTChannel", [&] { return code == 0 ? 1 : api.Channel(6, code, record); },
              counts);
          break;
        }
      }
    }
    Count(me, "VRT_CamClose", [&] { return api.Close(handle); });
    // Now and then a call on the handle just closed.
    if (pick(8) == 0) Count(me, "move", [&] { return api.Moves[0](handle, 0); });
  }
}

// ---------------------------------------------------------------- config thread

// One configure session's worth of changes, as the setup dialogs make them.
void ConfigStep(std::minstd_rand& rng, const Options& o) {
  CVRTDriver& driver = Driver();
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  driver.BeginDialogSession();
  std::vector<CVRTComm*> connections;
  driver.GetConnections(&connections);
  std::vector<CVRTComm*> added;  // connections this thread made
  for (CVRTComm* c : connections)
    if (c->GetName().rfind("Soak added", 0) == 0) added.push_back(c);
  std::vector<CVRTCamera*> extra;  // cameras this thread made
  for (CVRTComm* c : connections) {
    std::vector<CVRTCamera*> cameras;
    c->GetCameras(&cameras);
    for (CVRTCamera* camera : cameras)
      if (camera->Name.rfind("Extra", 0) == 0) extra.push_back(camera);
  }
  switch (pick(6)) {
    case 0: {  // a new connection, saved and loaded as the setup dialog does
      if (added.size() >= 2) break;
      std::string key;
      if (driver.GetFreeConnectionName(&key) != 1) break;
      auto connection = std::make_unique<CVRTComm>();
      connection->SetOption(driver.ConnectionOption);
      connection->SetName("Soak added " + std::to_string(pick(1000)));
      connection->SetComPort(kFirstCom + pick(o.lines + 1));  // one port that is not there
      connection->Save(key);
      if (connection->Load(key) == 1) driver.AddConnection(std::move(connection));
      break;
    }
    case 1:  // a connection goes, with its cameras
      if (!added.empty())
        driver.DeleteConnection(added[static_cast<size_t>(pick(static_cast<int>(added.size())))]);
      break;
    case 2:
    case 3: {  // a new camera on any line
      if (extra.size() >= 4 || connections.empty()) break;
      CVRTComm* connection =
          connections[static_cast<size_t>(pick(static_cast<int>(connections.size())))];
      std::string key;
      if (connection->MakeCameraKey(1, &key) != 1) break;
      auto camera = std::make_unique<CVRTCamera>(connection);
      camera->KeyPath = key;
      // Checked as a whole, then taken and saved once, as the camera setup's OK does.
      CameraSettings settings = CameraSettings::Of(*camera);
      settings.TavoID = kConfigNumberBase + pick(4);
      settings.SysID = 30 + pick(20);
      settings.NodeAddress = 128;
      settings.ControlMonitor = 1;
      settings.Name = "Extra " + std::to_string(pick(100000));
      if (!driver.CheckCamera(settings, connection, camera.get()).Accepted()) break;
      if (driver.ApplyCameraSettings(camera.get(), settings) != 1) break;
      CVRTCamera* entered = camera.get();
      if (connection->AddCamera(std::move(camera)) == 1) driver.AddCamera(entered);
      break;
    }
    case 4:  // a camera goes
      if (!extra.empty())
        driver.DeleteCamera(extra[static_cast<size_t>(pick(static_cast<int>(extra.size())))]);
      break;
    case 5: {  // a camera gets another host number
      if (extra.empty()) break;
      CVRTCamera* camera = extra[static_cast<size_t>(pick(static_cast<int>(extra.size())))];
      CameraSettings settings = CameraSettings::Of(*camera);
      settings.TavoID = kConfigNumberBase + pick(4);
      if (!driver.CheckCamera(settings, camera->Connection, camera).Accepted()) break;
      driver.ApplyCameraSettings(camera, settings);
      break;
    }
  }
  driver.EndDialogSession();
}

// ---------------------------------------------------------------- faults

void FaultThread(std::vector<std::unique_ptr<domesim::DomeSimulator>>& domes, unsigned seed) {
  std::minstd_rand rng(seed);
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  auto pause = [&](int ms) {
    const int64_t end = NowMs() + ms;
    while (!gStop.load() && NowMs() < end) std::this_thread::sleep_for(milliseconds(10));
  };
  while (!gStop.load()) {
    pause(2000 + pick(4000));
    if (gStop.load()) break;
    domesim::DomeSimulator& dome =
        *domes[static_cast<size_t>(pick(static_cast<int>(domes.size())))];
    switch (pick(4)) {
      case 0:  // the dome goes away and comes back
        dome.Hangup();
        pause(200 + pick(1500));
        dome.Reopen();
        break;
      case 1:
        dome.SetBabble(2 + pick(10));
        pause(1000 + pick(2000));
        dome.SetBabble(0);
        break;
      case 2:
        dome.SetDelayMs(5 + pick(40));
        pause(1000 + pick(2000));
        dome.SetDelayMs(0);
        break;
      case 3:
        dome.SetReplyMode(domesim::ReplyMode::kOl);
        pause(500 + pick(1000));
        dome.SetReplyMode(domesim::ReplyMode::kOk);
        break;
    }
  }
  for (auto& dome : domes) {
    dome->Reopen();
    dome->SetBabble(0);
    dome->SetDelayMs(0);
    dome->SetReplyMode(domesim::ReplyMode::kOk);
  }
}

// ---------------------------------------------------------------- monitor

struct Sample {
  int64_t atMs;
  long rssKb;
  int fds;
  long threads;
};

Sample Take(int64_t start) {
  return {NowMs() - start, StatusField("VmRSS:"), OpenDescriptors(), StatusField("Threads:")};
}

std::string CodesText() {
  std::lock_guard<std::mutex> lock(gResults.mu);
  std::string text;
  for (const auto& [code, n] : gResults.byCode) {
    if (!text.empty()) text += " ";
    text += (code == 1000 ? std::string("count") : std::to_string(code)) + ":" + std::to_string(n);
  }
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!ParseOptions(argc, argv, &o)) return 2;
  setvbuf(stdout, nullptr, _IOLBF, 0);
  Api api;
  if (!o.library.empty() && !BindLibrary(o.library, &api)) return 2;

  const std::string dir = OwnDirectory();
  const std::string settings = dir + "/QUARO7K7_PTZ.xml";
  // The log is named after the file holding the driver: this program, or
  // the library with --lib.
  const std::string log = dir + (o.library.empty() ? "/q7soak.log" : "/QUARO7K7_PTZ.log");
  {
    std::ofstream out(settings, std::ios::binary | std::ios::trunc);
    out << SettingsText(o);
  }
  std::vector<std::unique_ptr<domesim::DomeSimulator>> domes;
  for (int line = 0; line < o.lines; ++line) {
    domes.push_back(std::make_unique<domesim::DomeSimulator>());
    domes.back()->Publish(dir, kFirstCom + line);
  }
  if (api.InitModule(1, nullptr, dir.c_str()) != 1) {
    std::fprintf(stderr, "q7soak: VRT_CamInitModule failed in %s\n", dir.c_str());
    return 1;
  }
  std::printf(
      "q7soak: %d s, %d lines x %d cameras, %d host threads per line, faults %s, "
      "config thread %s, %s; in %s\n",
      o.seconds, o.lines, o.camerasPerLine, o.hostsPerLine, o.faults ? "on" : "off",
      o.config ? "on" : "off", o.library.empty() ? "core linked in" : o.library.c_str(),
      dir.c_str());

  const int64_t start = NowMs();
  const Sample first = Take(start);
  std::vector<std::thread> threads;
  auto activity = [](const std::string& name) -> Activity& {
    gActivities.push_back(std::make_unique<Activity>());
    gActivities.back()->thread = name;
    return *gActivities.back();
  };
  const int hosts = o.lines * o.hostsPerLine;
  std::vector<Activity*> hostActivities;
  for (int i = 0; i < hosts; ++i) hostActivities.push_back(&activity("host " + std::to_string(i)));
  Activity& moduleActivity = activity("module");
  Activity& closeUiActivity = activity("close-ui");
  Activity& configActivity = activity("config");
  for (int i = 0; i < hosts; ++i)
    threads.emplace_back(HostThread, std::cref(api), std::cref(o), std::ref(*hostActivities[i]),
                         1000u + static_cast<unsigned>(i));
  threads.emplace_back([&] {
    std::minstd_rand rng(7);
    while (!gStop.load()) {
      for (int i = 0; i < 20 + static_cast<int>(rng() % 30) && !gStop.load(); ++i)
        std::this_thread::sleep_for(milliseconds(100));
      if (gStop.load()) break;
      std::unique_lock<std::mutex> restart(gRestart, std::defer_lock);
      if (!o.configDuringRestart) restart.lock();
      Count(moduleActivity, "VRT_CamExitModule", [&] { return api.ExitModule(); });
      std::this_thread::sleep_for(milliseconds(rng() % 100));
      Count(moduleActivity, "VRT_CamInitModule",
            [&] { return api.InitModule(1, nullptr, dir.c_str()); });
    }
  });
  threads.emplace_back([&] {
    while (!gStop.load()) {
      Count(closeUiActivity, "VRT_CamCloseUi", [&] { return api.CloseUi(); });
      std::this_thread::sleep_for(milliseconds(100));
    }
  });
  if (o.config) {
    threads.emplace_back([&] {
      std::minstd_rand rng(11);
      while (!gStop.load()) {
        {
          std::unique_lock<std::mutex> restart(gRestart, std::defer_lock);
          if (!o.configDuringRestart) restart.lock();
          configActivity.call.store("configure session");
          configActivity.startedMs.store(NowMs());
          ConfigStep(rng, o);
          configActivity.startedMs.store(0);
        }
        std::this_thread::sleep_for(milliseconds(50 + rng() % 250));
      }
    });
  }
  std::thread faults;
  if (o.faults) faults = std::thread(FaultThread, std::ref(domes), 99u);

  // The monitor: a line per report, a hang watch every 100 ms.
  std::vector<Sample> samples{first};
  long peakRss = first.rssKb;
  int peakFds = first.fds;
  uint64_t lastCalls = 0;
  int64_t lastReport = start;
  bool hung = false;
  std::printf("%8s %10s %8s %9s %5s %7s  results by code\n", "t[s]", "calls", "calls/s", "rss[kB]",
              "fds", "threads");
  while (NowMs() - start < int64_t{o.seconds} * 1000) {
    std::this_thread::sleep_for(milliseconds(100));
    const int64_t now = NowMs();
    for (const auto& a : gActivities) {
      const int64_t began = a->startedMs.load();
      if (began != 0 && now - began > int64_t{o.hangSeconds} * 1000) {
        std::printf("q7soak: HANG: %s in %s for %lld ms\n", a->thread.c_str(), a->call.load(),
                    static_cast<long long>(now - began));
        hung = true;
      }
    }
    if (hung) break;
    // The domes record every line they receive; at thousands of lines a
    // second even one report's worth is tens of megabytes, so they are
    // cleared on every tick.
    for (auto& dome : domes) dome->ClearLines();
    const Sample s = Take(start);
    peakRss = std::max(peakRss, s.rssKb);
    peakFds = std::max(peakFds, s.fds);
    if (now - lastReport >= int64_t{o.reportSeconds} * 1000) {
      const uint64_t calls = gCalls.load();
      std::printf("%8.1f %10llu %8.0f %9ld %5d %7ld  %s\n", s.atMs / 1000.0,
                  static_cast<unsigned long long>(calls),
                  (calls - lastCalls) * 1000.0 / static_cast<double>(now - lastReport), s.rssKb,
                  s.fds, s.threads, CodesText().c_str());
      samples.push_back(s);
      lastCalls = calls;
      lastReport = now;
      struct stat st {};
      if (stat(log.c_str(), &st) == 0 && st.st_size > 64L * 1024 * 1024)
        std::ofstream(log, std::ios::trunc);  // the driver opens the log for each line
    }
  }
  if (hung) {
    std::fflush(stdout);
    std::_Exit(3);  // the hung call cannot be joined
  }
  gStop.store(true);
  for (std::thread& t : threads) t.join();
  if (faults.joinable()) faults.join();
  const double seconds = static_cast<double>(NowMs() - start) / 1000.0;
  const uint64_t calls = gCalls.load();

  // Back to the state of the start: module running, no camera open.
  api.ExitModule();
  api.InitModule(1, nullptr, dir.c_str());
  const Sample last = Take(start);
  api.ExitModule();
  for (auto& dome : domes) dome->ClearLines();

  // Flat: memory after the first report (warmed up) to the end grows by no
  // more than a quarter plus 4 MB; descriptors and threads end where they
  // started.
  const Sample& warm = samples.size() > 1 ? samples[1] : first;
  // A run shorter than five minutes cannot tell growth from warming up: its
  // memory is reported but not judged.
  const bool memoryJudged = o.seconds >= 300;
  const bool memoryFlat = !memoryJudged || last.rssKb <= warm.rssKb + warm.rssKb / 4 + 4096;
  const bool fdsFlat = last.fds <= first.fds;
  const bool threadsFlat = last.threads <= first.threads;
  uint64_t unexpected = 0;
  {
    std::lock_guard<std::mutex> lock(gResults.mu);
    for (const auto& [code, n] : gResults.byCode)
      if (!Expected(code)) unexpected += n;
  }
  const bool pass = memoryFlat && fdsFlat && threadsFlat && unexpected == 0 && calls > 0;
  std::printf("q7soak: rss start %ld kB, warm %ld kB, end %ld kB, peak %ld kB (VmHWM %ld kB)%s\n",
              first.rssKb, warm.rssKb, last.rssKb, peakRss, StatusField("VmHWM:"),
              memoryJudged ? (memoryFlat ? ", flat" : ", GROWING") : ", not judged (run < 300 s)");
  struct stat file {};
  if (stat(settings.c_str(), &file) == 0)
    std::printf("q7soak: settings file %lld bytes at the end\n",
                static_cast<long long>(file.st_size));
  std::printf("q7soak: fds start %d, end %d, peak %d; threads start %ld, end %ld\n", first.fds,
              last.fds, peakFds, first.threads, last.threads);
  {
    std::lock_guard<std::mutex> lock(gResults.mu);
    std::printf("q7soak: longest call %llu ms (%s)\n",
                static_cast<unsigned long long>(gResults.maxCallMs), gResults.maxCallName.c_str());
  }
  std::printf(
      "SOAK %s: %.0f s, %llu calls, %.0f calls/s, unexpected %llu, rss %ld->%ld kB (peak %ld), "
      "fds %d->%d (peak %d), threads %ld->%ld, codes %s\n",
      pass ? "PASS" : "FAIL", seconds, static_cast<unsigned long long>(calls),
      static_cast<double>(calls) / seconds, static_cast<unsigned long long>(unexpected), warm.rssKb,
      last.rssKb, peakRss, first.fds, last.fds, peakFds, first.threads, last.threads,
      CodesText().c_str());
  return pass ? 0 : 1;
}
