// The QUARO7 operations of a connection: what each host request puts on the
// line, in which order, and how the camera's motion state follows.
#include <cstring>
#include <mutex>

#include "camera/camera.h"
#include "comm/comm.h"
#include "comm/protocol.h"
#include "driver/driver.h"
#include "driver/log.h"
#include "platform/tick_clock.h"
#include "quaro7k7_ptz.h"

namespace {
enum Axis { kPan, kTilt };
constexpr int kMaxSpeedCode = 16;
constexpr size_t kReplyBytes = 3;
constexpr size_t kVersionReplyBytes = 32;
constexpr uint32_t kVersionPauseMs = 150;
}  // namespace

int CVRTComm::SpeedPercent(CVRTCamera* camera, int speedCode) {
  return quaro7::SpeedPercent(camera ? camera->CamAccFactor : 6, speedCode);
}

void CVRTComm::SelectIfNeeded(CVRTCamera* camera) {
  // The callers hold the line lock from here to the end of the commands that
  // follow, so that the line still has this camera selected for them.
  std::lock_guard<std::recursive_mutex> hold(*lineLock_);
  if (selectedCamera_ == camera->SysID) return;
  camera->SelectOnMonitor(camera->ControlMonitor);  // notes the selection
}

void CVRTComm::NoteSelected(int sysId) {
  std::lock_guard<std::recursive_mutex> hold(*lineLock_);
  selectedCamera_ = sysId;
}

int CVRTComm::SendSpeed(CVRTCamera* camera, int axis, int percent) {
  const int node = camera->NodeAddress;
  const std::string line = axis == kPan ? quaro7::Line(node, quaro7::kSpeed, percent, 1)
                                        : quaro7::Line(node, quaro7::kSpeed, 1, percent);
  return SendMsg(line, camera);
}

int CVRTComm::FollowUp(CVRTCamera* camera) {
  if (camera->StateFlags & CVRTCamera::kFollowUpSent) return 1;
  const int result = SendMsg(
      quaro7::Line(camera->NodeAddress, quaro7::kFunctionOn, quaro7::fn::kFollowUp), camera);
  if (result == 1) camera->StateFlags |= CVRTCamera::kFollowUpSent;
  return result;
}

int CVRTComm::Stop(CVRTCamera* camera, const char* function1, const char* function2) {
  if (camera == nullptr) return QUARO7_CAMERA_NOT_FOUND;
  camera->LastSpeed = 0;
  camera->Moving = 0;
  if (function1 != nullptr) {
    const int result =
        SendMsg(quaro7::Line(camera->NodeAddress, quaro7::kFunctionOff, function1), camera);
    if (result == QUARO7_LINE_ERROR) return QUARO7_LINE_ERROR;
    if (function2 != nullptr)
      SendMsg(quaro7::Line(camera->NodeAddress, quaro7::kFunctionOff, function2), camera);
    VRT_LOG_LINE("COMM.Stop: a_szFunction1 = %s\n", function1);
  }
  return 1;
}

int CVRTComm::MoveSingle(CVRTCamera* camera, int speed, const char* function, int axis) {
  // -13 here also stands for a closed line (and a missing preset below): the
  // callers pass it on as it is, so it keeps its number rather than a name.
  if (camera == nullptr || !HasPort()) return -13;
  if (speed > kMaxSpeedCode || speed < 0) return QUARO7_BAD_ARGUMENT;
  // A stop or a new speed is for this camera too: on a line shared with
  // other cameras it is selected first, like a start. The selection and the
  // commands after it go out together, so that no other camera's selection
  // comes between them.
  std::lock_guard<std::recursive_mutex> hold(*lineLock_);
  if (speed == 0) {
    SelectIfNeeded(camera);
    Stop(camera, function);
    return 1;
  }
  if (camera->Moving) {
    if (speed == camera->LastSpeed) return 1;
    camera->LastSpeed = speed;
    SelectIfNeeded(camera);
    return SendSpeed(camera, axis, SpeedPercent(camera, speed));
  }
  camera->Moving = 1;
  SelectIfNeeded(camera);
  int result = SendMsg(quaro7::Line(camera->NodeAddress, quaro7::kFunctionOn, function), camera);
  if (result != 1) return result;
  if (speed != camera->LastSpeed) {
    camera->LastSpeed = speed;
    result = SendSpeed(camera, axis, SpeedPercent(camera, speed));
    if (result != 1) return result;
  }
  FollowUp(camera);
  return 1;
}

int CVRTComm::MoveDiagonal(CVRTCamera* camera, int speed, const char* pan, const char* tilt) {
  if (camera == nullptr || !HasPort()) return -13;
  if (speed > kMaxSpeedCode || speed < 0) return QUARO7_BAD_ARGUMENT;
  std::lock_guard<std::recursive_mutex> hold(*lineLock_);
  if (speed == 0) {
    SelectIfNeeded(camera);
    Stop(camera, pan, tilt);
    return 1;
  }
  const int percent = SpeedPercent(camera, speed);
  const std::string speedLine = quaro7::Line(camera->NodeAddress, quaro7::kSpeed,
                                             quaro7::DiagonalPanPercent(percent), percent);
  if (camera->Moving) {
    if (speed == camera->LastSpeed) return 1;
    camera->LastSpeed = speed;
    SelectIfNeeded(camera);
    return SendMsg(speedLine, camera);
  }
  camera->Moving = 1;
  SelectIfNeeded(camera);
  int result = SendMsg(quaro7::Line(camera->NodeAddress, quaro7::kFunctionOn, pan), camera);
  if (result != 1) return result;
  result = SendMsg(quaro7::Line(camera->NodeAddress, quaro7::kFunctionOn, tilt), camera);
  if (result != 1) return result;
  if (speed != camera->LastSpeed) {
    camera->LastSpeed = speed;
    result = SendMsg(speedLine, camera);
    if (result != 1) return result;
  }
  FollowUp(camera);
  return 1;
}

int CVRTComm::Left(CVRTCamera* camera, int speed) {
  return MoveSingle(camera, speed, quaro7::fn::kPanLeft, kPan);
}
int CVRTComm::Right(CVRTCamera* camera, int speed) {
  return MoveSingle(camera, speed, quaro7::fn::kPanRight, kPan);
}
int CVRTComm::Up(CVRTCamera* camera, int speed) {
  return MoveSingle(camera, speed, quaro7::fn::kTiltUp, kTilt);
}
int CVRTComm::Down(CVRTCamera* camera, int speed) {
  return MoveSingle(camera, speed, quaro7::fn::kTiltDown, kTilt);
}
int CVRTComm::UpLeft(CVRTCamera* camera, int speed) {
  return MoveDiagonal(camera, speed, quaro7::fn::kPanLeft, quaro7::fn::kTiltUp);
}
int CVRTComm::UpRight(CVRTCamera* camera, int speed) {
  return MoveDiagonal(camera, speed, quaro7::fn::kPanRight, quaro7::fn::kTiltUp);
}
int CVRTComm::DownLeft(CVRTCamera* camera, int speed) {
  return MoveDiagonal(camera, speed, quaro7::fn::kPanLeft, quaro7::fn::kTiltDown);
}
int CVRTComm::DownRight(CVRTCamera* camera, int speed) {
  return MoveDiagonal(camera, speed, quaro7::fn::kPanRight, quaro7::fn::kTiltDown);
}

int CVRTComm::LensStop(CVRTCamera* camera, int32_t* mode, const char* nonZeroCode,
                       const char* zeroCode) {
  if (*mode != -1) {
    SelectIfNeeded(camera);
    Stop(camera, *mode != 0 ? nonZeroCode : zeroCode);
    *mode = -1;
  }
  return 1;
}

int CVRTComm::Zoom(CVRTCamera* camera, int mode, int speed) {
  if (speed < 0 || speed > kMaxSpeedCode) return QUARO7_BAD_ARGUMENT;
  if (camera == nullptr || !HasPort()) return -13;
  std::lock_guard<std::recursive_mutex> hold(*lineLock_);
  if (speed == 0)
    return LensStop(camera, &camera->ZoomMode, quaro7::fn::kZoomMode1, quaro7::fn::kZoomMode0);
  if (camera->Moving) return 1;
  camera->ZoomMode = mode;
  camera->Moving = 1;
  // Selected before the start, so that the start reaches this dome and not
  // the one the line selected last.
  SelectIfNeeded(camera);
  const char* code =
      mode == 0 ? quaro7::fn::kZoomMode0 : (mode == 1 ? quaro7::fn::kZoomMode1 : nullptr);
  if (code != nullptr) {
    const int result =
        SendMsg(quaro7::Line(camera->NodeAddress, quaro7::kFunctionOn, code), camera);
    if (result != 1) return result;
  }
  camera->ZoomMode = mode;
  return 1;
}

int CVRTComm::Iris(CVRTCamera* camera, int mode, int speed) {
  if (speed < 0 || speed > kMaxSpeedCode) return QUARO7_BAD_ARGUMENT;
  if (camera == nullptr || !HasPort()) return -13;
  std::lock_guard<std::recursive_mutex> hold(*lineLock_);
  if (speed == 0)
    return LensStop(camera, &camera->IrisMode, quaro7::fn::kIrisMode1, quaro7::fn::kIrisMode0);
  if (camera->Moving) return 1;
  camera->Moving = 1;
  SelectIfNeeded(camera);
  const char* code =
      mode == 0 ? quaro7::fn::kIrisMode0 : (mode == 1 ? quaro7::fn::kIrisMode1 : nullptr);
  if (code != nullptr) {
    const int result =
        SendMsg(quaro7::Line(camera->NodeAddress, quaro7::kFunctionOn, code), camera);
    if (result != 1) return result;
  }
  camera->IrisMode = mode;
  return 1;
}

int CVRTComm::Focus(CVRTCamera* camera, int mode, int speed) {
  if (camera == nullptr || !HasPort()) return -13;
  std::lock_guard<std::recursive_mutex> hold(*lineLock_);
  if (speed == 0)
    return LensStop(camera, &camera->FocusMode, quaro7::fn::kFocusMode1, quaro7::fn::kFocusMode0);
  if (speed < 0 || camera->Moving) return 1;
  camera->Moving = 1;
  SelectIfNeeded(camera);
  const char* code =
      mode == 0 ? quaro7::fn::kFocusMode0 : (mode == 1 ? quaro7::fn::kFocusMode1 : nullptr);
  if (code != nullptr) {
    const int result =
        SendMsg(quaro7::Line(camera->NodeAddress, quaro7::kFunctionOn, code), camera);
    if (result != 1) return result;
  }
  camera->StateFlags &= static_cast<uint8_t>(~CVRTCamera::kFollowUpSent);
  camera->FocusMode = mode;
  return 1;
}

int CVRTComm::SetDefaultLensSlow(CVRTCamera* camera, int state) {
  if (camera == nullptr) return QUARO7_CAMERA_NOT_FOUND;
  std::lock_guard<std::recursive_mutex> hold(*lineLock_);
  SelectIfNeeded(camera);
  const std::string line =
      quaro7::Line(camera->NodeAddress, state != 0 ? quaro7::kFunctionOn : quaro7::kFunctionOff,
                   quaro7::fn::kLensSlow);
  if (!port_ || port_->Write(line.data(), line.size()) < 0) return 1;
  char reply[kReplyBytes + 1] = {0};
  const int read = port_->ReadForCamera(reply, kReplyBytes, camera);
  if (read < 0) {
    VRT_LOG_LINE("CAM.SetDefaultLensSlow: state = %d. (TavoID %d), result = %d\n", state,
                 OneBased(camera->TavoID), read);
    return read;
  }
  return 1;
}

int CVRTComm::FindFreePresetLocation(CVRTCamera* camera) {
  if (camera == nullptr) return 255;
  const int slot = camera->FindFreeLocationSlot();
  return slot < 0 ? 255 : slot;
}

int CVRTComm::SetPrePosition(CVRTCamera* camera, CVRTPrePosition* preset) {
  if (camera == nullptr || preset == nullptr || !HasPort()) return -13;
  const int slot = camera->FindFreeLocationSlot();
  if (slot < 0) return QUARO7_FAILED;
  const int location = slot + 1;
  if (location > camera->NofStorageLocations) return QUARO7_FAILED;
  std::lock_guard<std::recursive_mutex> hold(*lineLock_);
  SelectIfNeeded(camera);
  const std::string line = quaro7::Line(camera->NodeAddress, quaro7::kStorePreset, location);
  if (!port_ || port_->Write(line.data(), line.size()) < 0) return QUARO7_LINE_ERROR;
  if (camera->WaitForResponse != 0) {
    std::memset(reply_, 0, sizeof reply_);
    const int read = port_->ReadData(reply_, kReplyBytes);
    reply_[3] = 0;
    // A broken line is a failure; a dome that stays silent leaves the
    // preset without a location.
    if (read < 0) return QUARO7_LINE_ERROR;
    if (read == 0) return 1;
  }
  preset->MemId = location;
  camera->TakeLocation(location);
  return 1;
}

int CVRTComm::MoveToPrePosition(CVRTCamera* camera, CVRTPrePosition* preset) {
  if (camera == nullptr || preset == nullptr) return -13;
  const int location = preset->MemId;
  if (location <= 0 || location > camera->NofStorageLocations) return QUARO7_BAD_ARGUMENT;
  if (!HasPort()) return -13;
  std::lock_guard<std::recursive_mutex> hold(*lineLock_);
  SelectIfNeeded(camera);
  const int node = camera->NodeAddress;
  const std::string line =
      camera->DefaultPreposSpeed == 100
          ? quaro7::Line(node, quaro7::kGotoPreset, location)
          : quaro7::Line(node, quaro7::kGotoPresetAtSpeed, location, camera->DefaultPreposSpeed);
  return SendMsg(line, camera);
}

int CVRTComm::DeletePrePosition(CVRTCamera* camera, CVRTPrePosition*) {
  return camera == nullptr ? -13 : 1;
}

int CVRTComm::SetRelay(CVRTCamera* camera, CVRTRelay* relay, int on, int /*time*/) {
  if (camera == nullptr || relay == nullptr || !HasPort()) return QUARO7_FAILED;
  const int index = relay->Index.load();
  if (index < 0 || index > 2) return 1;
  const int functions[3] = {camera->Aux1Func, camera->Aux2Func, camera->Aux3Func};
  const char* code = quaro7::RelayFunctionCode(index, functions[index]);
  if (code == nullptr) {
    VRT_LOG_LINE("COMM.SetRelay: unknown function for AUX%d: %d\n", index + 1, functions[index]);
    return QUARO7_FAILED;
  }
  // The relay belongs to this camera's dome: on a line shared with other
  // cameras it is selected first, and the two go out together.
  std::lock_guard<std::recursive_mutex> hold(*lineLock_);
  SelectIfNeeded(camera);
  return SendMsg(
      quaro7::Line(camera->NodeAddress, on ? quaro7::kFunctionOn : quaro7::kFunctionOff, code),
      camera);
}

int CVRTComm::Ping(int nodeAddress, int cameraAddress) {
  const std::string line = quaro7::Line(nodeAddress, quaro7::kSelectCamera, cameraAddress);
  const uint32_t start = platform::TickCount();
  char reply[kReplyBytes + 1] = {0};
  int read;
  {
    std::lock_guard<std::recursive_mutex> hold(*lineLock_);
    if (!port_ || port_->Write(line.data(), line.size()) < 0) return QUARO7_LINE_ERROR;
    // The probe is command 3: the line has that camera selected now, and the
    // camera selected before must be selected again for its next command.
    selectedCamera_ = cameraAddress;
    read = port_->ReadData(reply, kReplyBytes);
  }
  if (read <= 0) {
    VRT_LOG_LINE("COMM.Ping: Address %d pinged succesfully with result: Request Timed Out\n",
                 cameraAddress);
    return -1;
  }
  const int delay = static_cast<int>(platform::TickCount() - start);
  VRT_LOG_LINE("COMM.Ping: Address %d pinged succesfully with result: Camera found, delay %dms\n",
               cameraAddress, delay);
  if (reply[0] == 'O' && reply[1] == 'L') {
    char text[64];
    std::snprintf(text, sizeof text, "Note! Current node %d is off line.", nodeAddress);
    Driver().ShowMessage(text, ui::MsgIcon::kExclamation);
  }
  return delay;
}

int CVRTComm::ResetCamera(int nodeAddress, int cameraAddress) {
  const std::string line = quaro7::Line(nodeAddress, quaro7::kReset);
  CVRTCamera* camera = nullptr;
  {
    std::lock_guard<std::recursive_mutex> hold(*lineLock_);
    if (port_ && port_->Write(line.data(), line.size()) >= 0) {
      char reply[kReplyBytes + 1] = {0};
      const int read = port_->ReadData(reply, kReplyBytes);
      if (read > 0 && reply[0] == 'O' && reply[1] == 'K') camera = FindCamera(cameraAddress);
    }
  }
  if (camera == nullptr) {
    VRT_LOG_LINE(
        "COMM.ResetCamera: failed. Communication error. Node address = %d, camera address = %d\n",
        nodeAddress, cameraAddress);
    return QUARO7_LINE_ERROR;
  }
  {
    // Host calls store and delete presets with the camera's lock held.
    std::lock_guard<CVRTCamera> hold(*camera);
    camera->ClearPrePositions();
  }
  VRT_LOG_LINE("COMM.ResetCamera: Ok. Node address = %d, camera address = %d\n", nodeAddress,
               cameraAddress);
  return 1;
}

std::string CVRTComm::QueryVersion() {
  static const char kQuery[] = "@55\r";
  platform::SleepMs(kVersionPauseMs);
  WriteRaw(kQuery, sizeof kQuery - 1);
  platform::SleepMs(kVersionPauseMs);
  char reply[kVersionReplyBytes] = {0};
  const int read = Read(reply, sizeof reply);
  return quaro7::ParseVersionReply(reply, read > 0 ? static_cast<size_t>(read) : 0);
}

int CVRTComm::SendMenuKey(CVRTCamera* camera, int key) {
  if (key < 0 || key > 5) return QUARO7_BAD_ARGUMENT;
  return SendMsg(quaro7::Line(quaro7::kNoNode, quaro7::kMenuKey, key), camera);
}
