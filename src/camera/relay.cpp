#include "camera/relay.h"

#include <memory>

#include "camera/camera.h"
#include "comm/comm.h"
#include "driver/driver.h"
#include "driver/log.h"
#include "driver/settings_values.h"
#include "platform/tick_clock.h"
#include "quaro7k7_ptz.h"

CVRTRelay::CVRTRelay(CVRTCamera* camera)
    : Camera(camera), Connection(camera ? camera->Connection : nullptr) {}

int CVRTRelay::Set(unsigned mode, int time) {
  if (Connection == nullptr) return QUARO7_FAILED;
  bool on = false;
  bool pulse = false;
  uint32_t pulseMs = 0;
  switch (mode) {
    case kOff:
      State.store(0);
      break;
    case kOn:
      State.store(1);
      on = true;
      // Relay 1 switched on runs for the camera's wash pulse time.
      if (Index.load() == 1 && Camera != nullptr) {
        pulse = true;
        pulseMs = static_cast<uint32_t>(Camera->WashPulseTime > 0 ? Camera->WashPulseTime : 0);
      }
      break;
    case kToggle:
      on = State.load() != 1;
      State.store(on ? 1 : 0);
      break;
    case kPulse:
      State.store(1);
      on = true;
      pulse = true;
      pulseMs = static_cast<uint32_t>(time > 0 ? time : 0);
      break;
    default:
      break;
  }
  if (pulse) {
    try {
      Connection->AddTask(
          std::make_unique<CRelayPulseTask>(this, pulseMs, Camera, platform::TickCount()));
    } catch (const std::bad_alloc&) {
      // nothing scheduled
    }
  }
  const int result = Connection->SetRelay(Camera, this, on ? 1 : 0, time);
  if (result != 1) return result;
  VRT_LOG_LINE("RELAY.Set: Relay '%s' SUCCESFULLY set to state %d\n", Name.c_str(), State.load());
  return 1;
}

int CVRTRelay::Load(const std::string& keyPath) {
  KeyPath = keyPath;
  Name = ReadTextKey("settings/" + keyPath + "/Name");
  VRT_LOG_LINE("RELAY.Load: Relay '%s' load OK.\n", Name.c_str());
  return 1;
}

int CVRTRelay::Save(const std::string& keyPath) {
  WriteKey("settings/" + (keyPath.empty() ? KeyPath : keyPath) + "/Name", Name);
  return 1;
}
