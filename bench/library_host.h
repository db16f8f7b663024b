// A host for benchmarks: a private directory with a copy of the driver
// library and a settings file, the library loaded from there as a host
// loads it, and its exports looked up by name.
#pragma once

#include <dlfcn.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "camera/camera_keys.h"

class LibraryHost {
 public:
  explicit LibraryHost(const std::string& settingsXml) {
    char pattern[] = "/tmp/q7-bench-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (made == nullptr) throw std::runtime_error("mkdtemp");
    dir_ = made;
    std::filesystem::copy_file(QUARO7_LIBRARY_PATH, dir_ / "QUARO7K7_PTZ.so");
    std::ofstream(dir_ / "QUARO7K7_PTZ.xml") << settingsXml;
  }
  ~LibraryHost() {
    if (lib_ != nullptr) dlclose(lib_);
    std::filesystem::remove_all(dir_);
  }
  LibraryHost(const LibraryHost&) = delete;
  LibraryHost& operator=(const LibraryHost&) = delete;

  const std::filesystem::path& Dir() const { return dir_; }

  void Load() {
    lib_ = dlopen((dir_ / "QUARO7K7_PTZ.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    if (lib_ == nullptr) throw std::runtime_error(dlerror());
  }

  template <typename F>
  F Sym(const char* name) {
    void* p = dlsym(lib_, name);
    if (p == nullptr) throw std::runtime_error(name);
    return reinterpret_cast<F>(p);
  }

 private:
  std::filesystem::path dir_;
  void* lib_ = nullptr;
};

// Settings file text: one connection per entry of camerasPerLine with that
// many cameras, every camera with `presets` presets and `relays` named
// relays. Connection n uses COM port n; host numbers count on across lines.
inline std::string SettingsXml(const std::vector<int>& camerasPerLine, int presets, int relays) {
  std::string x = "<?xml version='1.0' encoding='iso-8859-1'?>\n<settings>\n";
  int number = 0;
  for (int l = 1; l <= static_cast<int>(camerasPerLine.size()); ++l) {
    const int cameras = camerasPerLine[static_cast<size_t>(l - 1)];
    const std::string comm = "comm" + std::to_string(l);
    x += "\t<" + comm + ">\n\t\t<Name value=\"Line " + std::to_string(l) +
         "\"/>\n\t\t<ComPort value=\"" + std::to_string(l) +
         "\"/>\n\t\t<PortMode value=\"96,E,8,1\"/>\n";
    for (int c = 1; c <= cameras; ++c, ++number) {
      const std::string cam = "cam" + std::to_string(c);
      x += "\t\t<" + cam + ">\n";
      auto value = [&x](const char* key, const std::string& v) {
        x += "\t\t\t<" + std::string(key) + " value=\"" + v + "\"/>\n";
      };
      // A key with the value of a camera that has not been loaded.
      auto initial = [&value](camera_keys::Index key) {
        value(camera_keys::ElementName(key), std::to_string(camera_keys::Of(key).initial));
      };
      value(camera_keys::kName + 1, "Camera " + std::to_string(number + 1));
      value(camera_keys::ElementName(camera_keys::TavoID), std::to_string(number));
      value(camera_keys::ElementName(camera_keys::SysID), std::to_string(c));
      value(camera_keys::ElementName(camera_keys::NodeAddress),
            std::to_string(camera_keys::kNoNode));
      initial(camera_keys::CamAccFactor);
      initial(camera_keys::WaitForResponse);
      initial(camera_keys::WashPulseTime);
      initial(camera_keys::DefaultPreposSpeed);
      initial(camera_keys::NofStorageLocations);
      value(camera_keys::ElementName(camera_keys::ControlMonitor), "1");
      value(camera_keys::ElementName(camera_keys::NofRelays), std::to_string(relays));
      x += "\t\t\t<positions>\n";
      for (int p = 1; p <= presets; ++p)
        x += "\t\t\t\t<PrePos" + std::to_string(p) + "><Name value=\"Preset " + std::to_string(p) +
             "\"/><ID value=\"" + std::to_string(p - 1) + "\"/><MemId value=\"" +
             std::to_string(p) + "\"/></PrePos" + std::to_string(p) + ">\n";
      x += "\t\t\t</positions>\n\t\t\t<relays>\n";
      for (int r = 1; r <= relays; ++r)
        x += "\t\t\t\t<Relay" + std::to_string(r) + "><Name value=\"Relay " + std::to_string(r) +
             "\"/></Relay" + std::to_string(r) + ">\n";
      x += "\t\t\t</relays>\n\t\t</" + cam + ">\n";
    }
    x += "\t</" + comm + ">\n";
  }
  return x + "</settings>\n";
}

// `lines` connections of `cameras` cameras each.
inline std::string SettingsXml(int lines, int cameras, int presets, int relays) {
  return SettingsXml(std::vector<int>(static_cast<size_t>(lines), cameras), presets, relays);
}
