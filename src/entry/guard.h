// What every exported entry point has in common: no failure crosses the
// library boundary, and held calls give their camera back on every way out.
#pragma once

#include <cstring>
#include <string>

#include "driver/driver.h"
#include "driver/log.h"
#include "quaro7k7_ptz.h"

namespace entry {

constexpr int kException = -22;
// Host names are fields of 32 bytes.
constexpr size_t kHostNameField = 32;

// Runs the work and turns any escaping failure into -22 with its log line.
template <typename Work>
int Guarded(Work&& work) {
  try {
    return work();
  } catch (...) {
    DriverLog().WriteLog("Exeption occured: %d\n", kException);
    return kException;
  }
}

// A name given by the host: read up to its terminating zero, at most 32
// bytes. False for a null pointer.
inline bool HostName(const char* name, std::string* out) {
  if (name == nullptr) return false;
  size_t length = 0;
  while (length < kHostNameField && name[length] != '\0') ++length;
  out->assign(name, length);
  return true;
}

// Finds the camera by handle, holds it for the call and releases it however
// the call ends. A handle not in the table writes the entry's own line.
template <typename Call>
int HeldCall(int handle, const char* invalidLine, Call&& call) {
  HeldCamera camera = Driver().FindCameraByHandle(handle);
  if (!camera) {
    DriverLog().WriteLine(invalidLine, static_cast<unsigned>(handle));
    return QUARO7_CAMERA_NOT_FOUND;
  }
  return call(camera.get());
}

}  // namespace entry
