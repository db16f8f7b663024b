// What each test host does on a worker thread while its own main loop
// ticks: loads the library given on its command line, shows the driver
// setup dialog from another thread, waits until it is up, closes it with
// VRT_CamCloseUi, ends the module, and asks its loop to quit. The host
// prints what it saw and exits 0 when everything went as a host expects.
#pragma once

#include <dirent.h>
#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

#include "quaro7k7_ptz.h"

namespace testhost {

inline std::atomic<int> ticks{0};

// The sockets this process holds now.
inline int OpenSockets() {
  int count = 0;
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  while (dirent* entry = readdir(dir)) {
    char target[256];
    const std::string path = std::string("/proc/self/fd/") + entry->d_name;
    const ssize_t length = readlink(path.c_str(), target, sizeof target - 1);
    if (length > 0 && std::string(target, static_cast<size_t>(length)).rfind("socket:", 0) == 0)
      ++count;
  }
  closedir(dir);
  return count;
}

inline bool LogHas(const std::string& path, const std::string& text) {
  std::ifstream file(path);
  std::stringstream all;
  all << file.rdbuf();
  return all.str().find(text) != std::string::npos;
}

struct Outcome {
  bool ok = false;
  std::string report;
};

// Runs the steps; shown (when given) looks at the dialog on screen and
// says what is wrong with it ("" when nothing is).
inline Outcome Scenario(const std::string& library, void* parentWindow,
                        const std::function<std::string()>& shownCheck = nullptr) {
  Outcome outcome;
  std::ostringstream out;
  void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    outcome.report = std::string("load failed: ") + dlerror();
    return outcome;
  }
  auto init =
      reinterpret_cast<int (*)(int, void*, const char*)>(dlsym(handle, "VRT_CamInitModule"));
  auto exitModule = reinterpret_cast<int (*)()>(dlsym(handle, "VRT_CamExitModule"));
  auto configure = reinterpret_cast<int (*)(int, void*)>(dlsym(handle, "VRT_CamConfigure"));
  auto closeUi = reinterpret_cast<int (*)()>(dlsym(handle, QUARO7_SYMBOL_CLOSE_UI));
  if (!init || !exitModule || !configure || !closeUi) {
    outcome.report = "exports missing";
    return outcome;
  }
  const std::string dir = library.substr(0, library.rfind('/'));
  const std::string log = dir + "/QUARO7K7_PTZ.log";
  const int socketsBefore = OpenSockets();
  const int initialised = init(1, nullptr, dir.c_str());
  std::atomic<int> answer{0};
  std::thread call([&] { answer = configure(-1, parentWindow); });
  bool shown = false;
  for (int i = 0; i < 2000 && !shown; ++i) {
    shown = LogHas(log, "Driver setup dialog opened");
    if (!shown) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  // The host's own loop goes on while the dialog is up.
  const int ticksAtShow = ticks.load();
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  const int ticksDuring = ticks.load() - ticksAtShow;
  const std::string wrong = shown && shownCheck ? shownCheck() : std::string();
  const int closed = closeUi();
  call.join();
  const int ended = exitModule();
  const int socketsAfter = OpenSockets();
  out << "init " << initialised << " shown " << shown << " ticks " << ticksDuring << " closeui "
      << closed << " configure " << answer.load() << " exit " << ended << " sockets "
      << socketsBefore << " " << socketsAfter << (wrong.empty() ? "" : " dialog: ") << wrong;
  outcome.ok = initialised == 1 && shown && ticksDuring >= 3 && answer.load() == -12 &&
               ended == 1 && socketsAfter == socketsBefore && wrong.empty();
  outcome.report = out.str();
  return outcome;
}

}  // namespace testhost
