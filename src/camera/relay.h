// One auxiliary output of a dome, shown to the host as a relay.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

class CVRTCamera;
class CVRTComm;

class CVRTRelay {
 public:
  enum Mode { kOff = 0, kOn = 1, kToggle = 2, kPulse = 3 };
  static constexpr int kCapabilities = 7;

  explicit CVRTRelay(CVRTCamera* camera);

  // Switches the relay (mode above) and, for a pulse, schedules its end.
  int Set(unsigned mode, int time);
  int GetState() const { return State.load(); }
  int GetCapabilities() const { return kCapabilities; }

  // Reads "/Name" below the key path; 1.
  int Load(const std::string& keyPath);
  // Writes "/Name" below the given path, or below KeyPath; KeyPath stays.
  int Save(const std::string& keyPath = std::string());

  CVRTCamera* Camera;
  CVRTComm* Connection;
  std::string KeyPath;  // camera key path + "/relays/Relay<n>"
  // Changed only with the camera lock and the connection's line lock held,
  // so the worker thread, which holds the line lock, reads it safely.
  std::string Name;
  std::atomic<int32_t> Index{-1};
  std::atomic<int32_t> State{1};  // 0 off, 1 on, as last commanded
};
