#include "driver/driver.h"

#include <algorithm>
#include <chrono>

#include "camera/camera.h"
#include "comm/comm.h"
#include "driver/numbers.h"
#include "driver/text.h"
#include "platform/message_box.h"
#include "platform/process_end.h"
#include "platform/tick_clock.h"
#include "quaro7k7_ptz.h"
#include "ui/dialog.h"

namespace {
constexpr const char* kSeparatorLine =
    "--------------------------------------------------------------------------------\n";
}  // namespace

CVRTDriver& Driver() {
  static CVRTDriver driver;
  return driver;
}

// ---------------------------------------------------------------- HeldCamera

HeldCamera& HeldCamera::operator=(HeldCamera&& other) noexcept {
  if (this != &other) {
    Release();
    camera_ = other.camera_;
    other.camera_ = nullptr;
  }
  return *this;
}

void HeldCamera::Release() {
  if (camera_ == nullptr) return;
  CVRTCamera* camera = camera_;
  camera_ = nullptr;
  camera->Unlock();
  camera->Unpin();
}

// ---------------------------------------------------------------- life

CVRTDriver::CVRTDriver() {
  // The log is not configured yet when the library is loaded, so these
  // lines reach no file; they are written for the same reason they are at
  // unload, where a log usually exists.
  DriverLog().WriteLog("%s", kSeparatorLine);
  DriverLog().WriteLine("DRV: Driver initialized.\n");
  // The driver's part of the rules for several processes on the file.
  Settings.DescribeSubtree = [this](const std::string& subtree) {
    return DescribeSettingsSubtree(subtree);
  };
  Settings.WriteRule = [this](const std::vector<std::string>& cameras) {
    return CheckNumbersOfOtherProcesses(cameras);
  };
}

CVRTDriver::~CVRTDriver() {
  if (platform::ProcessIsEnding()) {
    // The system has stopped every other thread wherever it was: a worker
    // that would be waited for, or a lock one of them held, never comes
    // back. The connections, with their ports and threads, are left to the
    // system, which frees them with the process; every change was saved
    // when it was made. No lock is taken: no other thread runs.
    for (auto& connection : connections_) (void)connection.release();
    connections_.clear();
    camerasByNumber_.clear();
    camerasByHandle_.clear();
  } else {
    // Unloaded from a running process, maybe with the module never ended
    // and cameras open. Nothing here may wait without a bound: a Windows
    // unload holds the system's loader lock throughout, under which no
    // thread can end. Open dialogs end first (their configure calls
    // return), then every line is left.
    if (!EndDialogsForUnload())
      DriverLog().WriteLine("DRV: A setup dialog was still open when the library was freed.\n");
    LeaveConnections();
  }
  // A process that ends drops its mark with its handles anyway.
  if (!platform::ProcessIsEnding()) UnmarkInUse();
  DriverLog().WriteLine("DRV: Driver library freed.\n");
  DriverLog().WriteLog("%s", kSeparatorLine);
}

// ---------------------------------------------------------------- cameras

// A lookup pins the camera under the table lock, so that it is not destroyed
// before the lock is taken (the tables leave it first, then its destruction
// waits for the pins). The camera lock may be a long wait: a call of another
// thread holds it, and the module may end or the handle be closed meanwhile.
// So once the lock is held the entry is looked at again, and a camera that
// is no longer under its key is given back unused.
HeldCamera CVRTDriver::FindCameraByHandle(int handle) {
  CVRTCamera* camera = nullptr;
  {
    std::lock_guard<std::mutex> hold(tableLock_);
    auto it = camerasByHandle_.find(handle);
    if (it == camerasByHandle_.end() || it->second == nullptr) return HeldCamera();
    camera = it->second;
    camera->Pin();
  }
  camera->Lock();
  HeldCamera held(camera);
  std::lock_guard<std::mutex> hold(tableLock_);
  auto it = camerasByHandle_.find(handle);
  if (it == camerasByHandle_.end() || it->second != camera) return HeldCamera();
  return held;
}

HeldCamera CVRTDriver::FindCameraByNumber(int number) {
  CVRTCamera* camera = nullptr;
  {
    std::lock_guard<std::mutex> hold(tableLock_);
    auto it = camerasByNumber_.find(number);
    if (it == camerasByNumber_.end() || it->second == nullptr) return HeldCamera();
    camera = it->second;
    camera->Pin();
  }
  camera->Lock();
  HeldCamera held(camera);
  std::lock_guard<std::mutex> hold(tableLock_);
  auto it = camerasByNumber_.find(number);
  if (it == camerasByNumber_.end() || it->second != camera) return HeldCamera();
  return held;
}

bool CVRTDriver::IsReachable(const CVRTCamera* camera) const {
  for (const auto& entry : camerasByNumber_)
    if (entry.second == camera) return true;
  return false;
}

int32_t CVRTDriver::NextHandleCandidate() {
  // Seeded from the wall clock as the C library's generator would be, then
  // one step of the same linear congruential generator (0..32767).
  using namespace std::chrono;
  const auto now = system_clock::now().time_since_epoch();
  const auto seconds = duration_cast<std::chrono::seconds>(now).count();
  const auto millis = duration_cast<milliseconds>(now).count() % 1000;
  randomState_ = static_cast<uint32_t>(seconds) + static_cast<uint32_t>(millis);
  randomState_ = randomState_ * 214013u + 2531011u;
  return kHandleBase + static_cast<int32_t>((randomState_ >> 16) & 0x7FFF);
}

int CVRTDriver::OpenCamera(int number, int* handle) {
  if (number < 0 || handle == nullptr) return QUARO7_BAD_ARGUMENT;
  *handle = -1;
  HeldCamera camera = FindCameraByNumber(number);
  if (!camera) {
    VRT_LOG_LINE("DRV.OpenCamera: TAVO Camera %d not found (error %d).\n", OneBased(number), -13);
    return QUARO7_CAMERA_NOT_FOUND;
  }
  const int result = camera->Open();
  if (result != 1) return result;
  int32_t chosen = 0;
  bool reachable = true;
  {
    std::unique_lock<std::mutex> table(tableLock_);
    for (int attempt = 0; attempt < kHandleCandidates; ++attempt) {
      if (attempt > 0) {
        table.unlock();
        platform::SleepMs(1);
        table.lock();
      }
      // The open sequence talks to the dome and may take seconds. When the
      // module ended meanwhile (or the camera was deleted), the camera has
      // left the tables and waits for this call to be destroyed: its handle
      // must not enter the table of whatever session runs now.
      if (!IsReachable(camera.get())) {
        reachable = false;
        break;
      }
      const int32_t candidate = NextHandleCandidate();
      if (camerasByHandle_.count(candidate) == 0) {
        chosen = candidate;
        camerasByHandle_[candidate] = camera.get();
        break;
      }
    }
  }
  if (!reachable) {
    // Gives its connection back, so that the line closes with it.
    camera->Close();
    VRT_LOG_LINE("DRV.OpenCamera: TAVO Camera %d not found (error %d).\n", OneBased(number), -13);
    return QUARO7_CAMERA_NOT_FOUND;
  }
  if (chosen == 0) {
    VRT_LOG_LINE("DRV.OpenCamera: ERROR. Camera %d: Unable to generate unique camera handle.\n",
                 OneBased(number));
    return QUARO7_CAMERA_NOT_FOUND;
  }
  camera->Handle = chosen;
  *handle = chosen;
  camera.Release();
  VRT_LOG_LINE("DRV.OpenCamera: TAVO Camera %d opened with handle %08X.\n", OneBased(number),
               static_cast<unsigned>(chosen));
  return 1;
}

int CVRTDriver::CloseCamera(int handle) {
  HeldCamera camera = FindCameraByHandle(handle);
  if (!camera) {
    VRT_LOG_LINE("DRV.CloseCamera: Camera handle %08X not found (error %d).\n",
                 static_cast<unsigned>(handle), -13);
    return QUARO7_CAMERA_NOT_FOUND;
  }
  camera->Close();
  {
    std::lock_guard<std::mutex> hold(tableLock_);
    camerasByHandle_.erase(handle);
  }
  camera->Handle = 0;
  camera.Release();
  VRT_LOG_LINE("DRV.CloseCamera: Camera handle %08X closed.\n", static_cast<unsigned>(handle));
  return 1;
}

int CVRTDriver::AddCamera(CVRTCamera* camera) {
  if (camera == nullptr) return 0;
  std::lock_guard<std::mutex> hold(tableLock_);
  if (camerasByNumber_.count(camera->TavoID) != 0) return 0;
  camerasByNumber_[camera->TavoID] = camera;
  return 1;
}

int CVRTDriver::RenumberCamera(int oldNumber, int newNumber) {
  std::lock_guard<std::mutex> hold(tableLock_);
  auto it = camerasByNumber_.find(oldNumber);
  if (it == camerasByNumber_.end()) return QUARO7_FAILED;
  CVRTCamera* camera = it->second;
  camerasByNumber_.erase(it);
  camerasByNumber_[newNumber] = camera;
  return 1;
}

int CVRTDriver::RemoveCamera(CVRTCamera* camera) {
  std::lock_guard<std::mutex> hold(tableLock_);
  for (auto it = camerasByHandle_.begin(); it != camerasByHandle_.end(); ++it) {
    if (it->second == camera) {
      camerasByHandle_.erase(it);
      break;
    }
  }
  if (camera != nullptr) {
    auto it = camerasByNumber_.find(camera->TavoID);
    if (it != camerasByNumber_.end() && it->second == camera) camerasByNumber_.erase(it);
  }
  return 1;
}

int CVRTDriver::BuildCameraTable() {
  std::lock_guard<std::mutex> hold(tableLock_);
  camerasByNumber_.clear();
  camerasByHandle_.clear();
  for (auto& connection : connections_) {
    std::vector<CVRTCamera*> cameras;
    connection->GetCameras(&cameras);
    for (CVRTCamera* camera : cameras) {
      if (camera == nullptr) continue;
      if (camerasByNumber_.count(camera->TavoID) != 0) return QUARO7_DUPLICATE_CAMERA_NUMBER;
      camerasByNumber_[camera->TavoID] = camera;
    }
  }
  return 1;
}

int CVRTDriver::CameraCount() {
  std::lock_guard<std::mutex> hold(tableLock_);
  return static_cast<int>(camerasByNumber_.size());
}

// ---------------------------------------------------------------- connections

void CVRTDriver::Destroy(std::unique_ptr<CVRTComm> connection) {
  if (!connection) return;
  std::vector<CVRTCamera*> cameras;
  connection->GetCameras(&cameras);
  for (CVRTCamera* camera : cameras) camera->WaitUntilReleased();
  connection.reset();
}

int CVRTDriver::DestroyConnections() {
  std::vector<std::unique_ptr<CVRTComm>> doomed;
  {
    // The tables go first, so that no later call reaches a destroyed camera.
    std::lock_guard<std::mutex> hold(tableLock_);
    doomed.swap(connections_);
    camerasByNumber_.clear();
    camerasByHandle_.clear();
  }
  for (auto& connection : doomed) Destroy(std::move(connection));
  return 1;
}

void CVRTDriver::LeaveConnections() {
  std::vector<std::unique_ptr<CVRTComm>> doomed;
  {
    std::lock_guard<std::mutex> hold(tableLock_);
    doomed.swap(connections_);
    camerasByNumber_.clear();
    camerasByHandle_.clear();
  }
  // Every exchange still running, on every line, ends after its read now,
  // so the lines are left in about the time of the slowest of them.
  for (auto& connection : doomed) connection->BeginLeaving();
  for (auto& connection : doomed) {
    if (connection->Leave() == 1) {
      Destroy(std::move(connection));
      continue;
    }
    // Its worker was still in an exchange: the connection is not freed
    // under it, and its port goes with the process.
    VRT_LOG_LINE("DRV: Connection '%s' was still busy when the library was freed.\n",
                 connection->GetName().c_str());
    (void)connection.release();
  }
}

int CVRTDriver::AddConnection(std::unique_ptr<CVRTComm> connection) {
  if (!connection) return 0;
  std::lock_guard<std::mutex> hold(tableLock_);
  connections_.push_back(std::move(connection));
  return 1;
}

std::unique_ptr<CVRTComm> CVRTDriver::RemoveConnection(CVRTComm* connection) {
  if (connection == nullptr) return nullptr;
  std::vector<CVRTCamera*> cameras;
  connection->GetCameras(&cameras);
  for (CVRTCamera* camera : cameras) RemoveCamera(camera);
  std::lock_guard<std::mutex> hold(tableLock_);
  auto it = std::find_if(
      connections_.begin(), connections_.end(),
      [connection](const std::unique_ptr<CVRTComm>& c) { return c.get() == connection; });
  if (it == connections_.end()) return nullptr;
  std::unique_ptr<CVRTComm> removed = std::move(*it);
  connections_.erase(it);
  return removed;
}

int CVRTDriver::GetConnections(std::vector<CVRTComm*>* connections) {
  if (connections == nullptr) return 0;
  std::lock_guard<std::mutex> hold(tableLock_);
  connections->clear();
  for (auto& connection : connections_)
    if (connection) connections->push_back(connection.get());
  return static_cast<int>(connections->size());
}

int CVRTDriver::ConnectionCount() {
  std::lock_guard<std::mutex> hold(tableLock_);
  return static_cast<int>(connections_.size());
}

int CVRTDriver::GetFreeConnectionName(std::string* name) {
  if (name == nullptr) return 0;
  std::vector<CVRTComm*> connections;
  GetConnections(&connections);
  // A name another process saved a connection under is not free either.
  Settings.TakeInOtherChanges();
  const std::vector<std::string> saved = Settings.ChildKeys("settings");
  for (int n = 1; n <= 999; ++n) {
    const std::string candidate = "comm" + std::to_string(n);
    bool used = std::find(saved.begin(), saved.end(), candidate) != saved.end();
    for (CVRTComm* connection : connections)
      if (SameTextIgnoringCase(connection->GetKey(), candidate)) used = true;
    if (!used) {
      *name = candidate;
      return 1;
    }
  }
  return 0;
}

// ---------------------------------------------------------------- dialogs

void CVRTDriver::AddWindow(ui::CDialog* dialog) {
  if (dialog == nullptr) return;
  std::lock_guard<std::mutex> hold(windowLock_);
  windows_.push_back({dialog, std::this_thread::get_id()});
  if (closingWindows_) dialog->PostEndDialog(ui::kResultCancel);
}

void CVRTDriver::RemoveWindow(ui::CDialog* dialog) {
  std::lock_guard<std::mutex> hold(windowLock_);
  windows_.erase(std::remove_if(windows_.begin(), windows_.end(),
                                [dialog](const OpenWindow& w) { return w.dialog == dialog; }),
                 windows_.end());
}

void CVRTDriver::PostEndToAll() {
  // Innermost first. The dialogs leave the list themselves as they end, on
  // their own thread; the list lock keeps each one from leaving (and its
  // window from going) while its end is posted.
  for (auto it = windows_.rbegin(); it != windows_.rend(); ++it)
    it->dialog->PostEndDialog(ui::kResultCancel);
  if (!sessions_.empty()) closingWindows_ = true;
}

void CVRTDriver::KillAllWindows() {
  {
    std::lock_guard<std::mutex> hold(windowLock_);
    PostEndToAll();
  }
  VRT_LOG_LINE("DRV.KillAllWindows: function executed\n");
}

bool CVRTDriver::ClosingWindows() {
  std::lock_guard<std::mutex> hold(windowLock_);
  return closingWindows_;
}

int CVRTDriver::WindowCount() {
  std::lock_guard<std::mutex> hold(windowLock_);
  return static_cast<int>(windows_.size());
}

void CVRTDriver::BeginDialogSession() {
  std::lock_guard<std::mutex> hold(windowLock_);
  sessions_.push_back(std::this_thread::get_id());
}

void CVRTDriver::EndDialogSession() {
  bool destroy = false;
  {
    std::lock_guard<std::mutex> hold(windowLock_);
    auto it = std::find(sessions_.begin(), sessions_.end(), std::this_thread::get_id());
    if (it != sessions_.end()) sessions_.erase(it);
    if (sessions_.empty()) {
      closingWindows_ = false;
      destroy = destroyAfterSessions_;
    }
  }
  // The module was ended while this call's dialogs were open. The end stays
  // pending until the connections are gone, so that a new start waits.
  if (destroy) DestroyConnections();
  {
    std::lock_guard<std::mutex> hold(windowLock_);
    if (destroy) destroyAfterSessions_ = false;
  }
  sessionsDone_.notify_all();
}

bool CVRTDriver::WaitForEndedModule(int timeoutMs) {
  std::unique_lock<std::mutex> hold(windowLock_);
  if (!destroyAfterSessions_) return true;
  const std::thread::id self = std::this_thread::get_id();
  bool onDialogThread = std::find(sessions_.begin(), sessions_.end(), self) != sessions_.end();
  for (const OpenWindow& w : windows_)
    if (w.thread == self) onDialogThread = true;
  if (!onDialogThread) {
    sessionsDone_.wait_for(hold, std::chrono::milliseconds(timeoutMs),
                           [this] { return !destroyAfterSessions_; });
  }
  return !destroyAfterSessions_;
}

bool CVRTDriver::EndDialogsForUnload() {
  if (configureCalls_.load() == 0) return true;
  const uint32_t start = platform::TickCount();
  if (!EndDialogsForExit(kUnloadDialogWaitMs)) return false;
  // Their sessions are over; the calls still return through the library's
  // code, which must outlast them.
  while (configureCalls_.load() > 0) {
    if (platform::TickCount() - start >= static_cast<uint32_t>(kUnloadDialogWaitMs)) return false;
    platform::SleepMs(1);
  }
  platform::SleepMs(kUnloadReturnGraceMs);
  return true;
}

bool CVRTDriver::EndDialogsForExit(int timeoutMs) {
  std::unique_lock<std::mutex> hold(windowLock_);
  PostEndToAll();
  const std::thread::id self = std::this_thread::get_id();
  bool onDialogThread = std::find(sessions_.begin(), sessions_.end(), self) != sessions_.end();
  for (const OpenWindow& w : windows_)
    if (w.thread == self) onDialogThread = true;
  // Waiting on a dialog's own thread would wait for ever: its dialogs end
  // only when this call has returned to their loop.
  if (!onDialogThread) {
    sessionsDone_.wait_for(hold, std::chrono::milliseconds(timeoutMs),
                           [this] { return sessions_.empty(); });
  }
  if (sessions_.empty()) return true;
  destroyAfterSessions_ = true;
  return false;
}

int CVRTDriver::ShowMessage(const std::string& text, ui::MsgIcon icon, ui::MsgButtons buttons) {
  ui::CDialog* dialog = nullptr;
  {
    const std::thread::id self = std::this_thread::get_id();
    std::lock_guard<std::mutex> hold(windowLock_);
    for (auto it = windows_.rbegin(); it != windows_.rend() && dialog == nullptr; ++it)
      if (it->thread == self && it->dialog->Window() != nullptr) dialog = it->dialog;
  }
  // Only this thread's own dialogs were looked at, and they cannot go while
  // this thread is here.
  if (dialog != nullptr) return dialog->Window()->MessageBox(text, buttons, icon);
  platform::ShowWarning(text.c_str());
  return buttons == ui::MsgButtons::kOk ? ui::kAnswerOk : ui::kAnswerNo;
}

int CVRTDriver::SetCallback(VRT_Callback callback, uint32_t value) {
  if (callback == nullptr) return QUARO7_BAD_ARGUMENT;
  std::lock_guard<std::mutex> hold(tableLock_);
  callback_ = callback;
  callbackValue_ = value;
  return 1;
}
