#include "camera/camera.h"

#include <cstring>

#include "camera/camera_settings_value.h"
#include "comm/comm.h"
#include "comm/protocol.h"
#include "driver/log.h"
#include "platform/tick_clock.h"
#include "quaro7k7_ptz.h"

namespace {
constexpr size_t kSelectionReplyBytes = 3;
}

CVRTCamera::CVRTCamera(CVRTComm* connection) : Connection(connection) { ResetLocations(); }

CVRTCamera::~CVRTCamera() {
  PrePositions.clear();
  Relays.clear();
  const int count = AccessCount.load();
  if (count != 0)
    VRT_LOG_LINE("CAM.Destroy: TAVO Camera %d (physical ID %d) Access imbalance %d times.\n",
                 OneBased(TavoID), SysID, count);
}

void CVRTCamera::Lock() {
  lock_.lock();
  AccessCount.fetch_add(1);
}

void CVRTCamera::Unlock() {
  AccessCount.fetch_sub(1);
  lock_.unlock();
}

void CVRTCamera::WaitUntilReleased() {
  while (pins_.load() != 0) platform::SleepMs(1);
}

int CVRTCamera::Open() {
  if (OpenState != 0) {
    VRT_LOG_LINE("CAM.Open: TAVO Camera %d busy.\n", OneBased(TavoID));
    return QUARO7_CAMERA_BUSY;
  }
  if (Connection == nullptr) return QUARO7_FAILED;
  const int result = Connection->Acquire();
  if (result != 1) return result;
  Initialize();
  OpenState = 1;
  return 1;
}

int CVRTCamera::Close() {
  if (Connection == nullptr) return QUARO7_FAILED;
  const int result = Connection->Release();
  if (result == 1) OpenState = 0;
  return result;
}

namespace {
// Holds a connection's line lock for a whole exchange: a selection and every
// command the line sends on the strength of it. Also held while the camera
// changes what the line's worker reads of it. Without a connection it holds
// nothing.
class LineExchange {
 public:
  explicit LineExchange(CVRTComm* connection) : connection_(connection) {
    if (connection_ != nullptr) connection_->Lock();
  }
  ~LineExchange() {
    if (connection_ != nullptr) connection_->Unlock();
  }
  LineExchange(const LineExchange&) = delete;
  LineExchange& operator=(const LineExchange&) = delete;

 private:
  CVRTComm* connection_;
};
}  // namespace

int CVRTCamera::Initialize() {
  if (Connection == nullptr) return 1;
  // The open sequence selects this dome and then sends it function 23 and
  // the lens-slow state without selecting it again: the whole sequence is
  // one exchange on the line, or another camera's selection and commands
  // come between the selection and the commands meant for this dome (and a
  // reply is taken by the wrong reader). Camera lock first, then the line.
  std::lock_guard<std::recursive_mutex> hold(lock_);
  LineExchange exchange(Connection);
  if (ControlMonitor == -1) SelectOnMonitor(1);
  // The selection of the open sequence reads the dome's short reply like any
  // other command; its content is not looked at.
  const std::string lines[2] = {quaro7::Line(NodeAddress, quaro7::kSelectMonitor, ControlMonitor),
                                quaro7::Line(NodeAddress, quaro7::kSelectCamera, SysID)};
  for (const std::string& line : lines) {
    if (Connection->WriteRaw(line.data(), line.size()) == 1) {
      char reply[kSelectionReplyBytes + 1] = {0};
      Connection->Read(reply, kSelectionReplyBytes);
    }
  }
  Connection->SendMsg(quaro7::Line(NodeAddress, quaro7::kFunctionOn, quaro7::fn::kFollowUp), this);
  Connection->SetDefaultLensSlow(this, DefaultLensSlow);
  return 1;
}

void CVRTCamera::SelectOnMonitor(int monitor) {
  // The line has this camera selected from the note on, so that the next
  // command for another camera selects that one again. The note and both
  // lines are one exchange: another camera's selection must not come
  // between them, nor its commands after the note (they would reach this
  // dome), and the caller's commands that follow belong to it as well.
  LineExchange exchange(Connection);
  // Also called by the line's worker (a pulse ending), which only reads it;
  // a new monitor is stored with the line held, as the worker reads it.
  if (ControlMonitor != monitor) ControlMonitor = monitor;
  if (Connection == nullptr) return;
  Connection->NoteSelected(SysID);
  Connection->SendMsg(quaro7::Line(NodeAddress, quaro7::kSelectMonitor, monitor), this);
  Connection->SendMsg(quaro7::Line(NodeAddress, quaro7::kSelectCamera, SysID), this);
}

void CVRTCamera::SetWaitForResponse(int value) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  LineExchange line(Connection);
  WaitForResponse = value;
}

void CVRTCamera::Apply(const CameraSettings& settings) {
  std::lock_guard<CVRTCamera> hold(*this);
  // What the setup dialog's OK puts on the line, in its order: the answers
  // of the selection and the lens-slow line are awaited as the settings say.
  SetWaitForResponse(settings.WaitForResponse);
  const camera_keys::NumberKey& monitors = camera_keys::Of(camera_keys::ControlMonitor);
  SelectOnMonitor(monitors.InRange(settings.ControlMonitor) ? settings.ControlMonitor : 1);
  const int32_t monitor = ControlMonitor;
  SetDefaultLensSlow(settings.DefaultLensSlow);
  // The line's worker ends relay pulses with the addresses, the relay
  // functions and the relays themselves: they change with the line held.
  LineExchange line(Connection);
#define QUARO7_CAMERA_TAKE_SETTING(member, ...) member = settings.member;
  QUARO7_CAMERA_NUMBER_KEYS(QUARO7_CAMERA_TAKE_SETTING)
#undef QUARO7_CAMERA_TAKE_SETTING
  ControlMonitor = monitor;
  Name = settings.Name;
  MatchRelays(&settings.RelayNames);
}

int CVRTCamera::Move(MoveFn move, int speed, const char* okLine, const char* failedLine) {
  if (Connection == nullptr) return QUARO7_FAILED;
  if (CVRTPrePosition* active = GetActivePrePosition()) active->Active = 0;
  const int result = (Connection->*move)(this, speed);
  CurrentLocation = 255;
  if (result == 1)
    VRT_LOG_LINE(okLine, speed, OneBased(TavoID));
  else
    VRT_LOG_LINE(failedLine, speed, result, OneBased(TavoID));
  return result;
}

// The format strings are the driver's own constants, chosen per direction.
#if defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wformat-security"
#endif

int CVRTCamera::Left(int speed) {
  return Move(&CVRTComm::Left, speed, "CAM.Left: speed = %d OK. (TavoID %d)\n",
              "CAM.Left: speed = %d FAILED (error %d, TavoID %d).\n");
}
int CVRTCamera::Right(int speed) {
  return Move(&CVRTComm::Right, speed, "CAM.Right: speed = %d OK. (TavoID %d)\n",
              "CAM.Right: speed = %d FAILED (error %d, TavoID %d).\n");
}
int CVRTCamera::Up(int speed) {
  return Move(&CVRTComm::Up, speed, "CAM.Up: speed = %d OK. (TavoID %d)\n",
              "CAM.Up: speed = %d FAILED (error %d, TavoID %d).\n");
}
int CVRTCamera::Down(int speed) {
  return Move(&CVRTComm::Down, speed, "CAM.Down: speed = %d OK. (TavoID %d)\n",
              "CAM.Down: speed = %d FAILED (error %d, TavoID %d).\n");
}
int CVRTCamera::UpRight(int speed) {
  return Move(&CVRTComm::UpRight, speed, "CAM.UpRight: speed = %d OK. (TavoID %d)\n",
              "CAM.UpRight: speed = %d FAILED (error %d, TavoID %d).\n");
}
int CVRTCamera::UpLeft(int speed) {
  return Move(&CVRTComm::UpLeft, speed, "CAM.UpLeft: speed = %d OK. (TavoID %d)\n",
              "CAM.UpLeft: speed = %d FAILED (error %d, TavoID %d).\n");
}
int CVRTCamera::DownLeft(int speed) {
  return Move(&CVRTComm::DownLeft, speed, "CAM.DownLeft: speed = %d OK. (TavoID %d)\n",
              "CAM.DownLeft: speed = %d FAILED (error %d, TavoID %d).\n");
}
int CVRTCamera::DownRight(int speed) {
  return Move(&CVRTComm::DownRight, speed, "CAM.DownRight: speed = %d OK. (TavoID %d)\n",
              "CAM.DownRight: speed = %d FAILED (error %d, TavoID %d).\n");
}

int CVRTCamera::Zoom(int mode, int speed) {
  if (Connection == nullptr) return QUARO7_FAILED;
  if (CVRTPrePosition* active = GetActivePrePosition()) active->Active = 0;
  const int result = Connection->Zoom(this, mode, speed);
  CurrentLocation = 255;
  if (result == 1)
    VRT_LOG_LINE("CAM.Zoom: mode = %d speed = %d OK. (TavoID %d)\n", mode, speed, OneBased(TavoID));
  else
    VRT_LOG_LINE("CAM.Zoom: mode = %d speed = %d FAILED (error %d).\n", mode, speed, result);
  return result;
}

int CVRTCamera::Iris(int mode, int speed) {
  if (Connection == nullptr) return QUARO7_FAILED;
  const int result = Connection->Iris(this, mode, speed);
  CurrentLocation = 255;
  if (result == 1)
    VRT_LOG_LINE("CAM.Iris: mode = %d speed = %d OK. (TavoID %d)\n", mode, speed, OneBased(TavoID));
  else
    VRT_LOG_LINE("CAM.Iris: mode = %d speed = %d FAILED (error %d).\n", mode, speed, result);
  return result;
}

int CVRTCamera::Focus(int mode, int speed) {
  if (Connection == nullptr) return QUARO7_FAILED;
  const int result = Connection->Focus(this, mode, speed);
  CurrentLocation = 255;
  if (result == 1)
    VRT_LOG_LINE("CAM.Focus: mode = %d speed = %d OK. (TavoID %d)\n", mode, speed,
                 OneBased(TavoID));
  else
    VRT_LOG_LINE("CAM.Focus: mode = %d speed = %d FAILED (error %d).\n", mode, speed, result);
  return result;
}

int CVRTCamera::GetProperties(VRT_CameraProperties* record) {
  if (record == nullptr) return QUARO7_BAD_ARGUMENT;
  for (int32_t& flag : record->capability) flag = 1;
  record->relayCount = NofRelays;
  record->storageLocations = NofStorageLocations;
  record->presetCount = PresetCount();
  record->reserved[0] = 0;
  record->reserved[1] = 0;
  if (SelectPending)
    SelectOnMonitor(ControlMonitor);
  else
    SelectPending = 1;
  return 1;
}

int CVRTCamera::SetDefaultLensSlow(int state) {
  DefaultLensSlow = state;
  if (Connection == nullptr) return 1;
  return Connection->SetDefaultLensSlow(this, state);
}
