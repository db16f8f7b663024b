#include "comm/comm.h"

#include <strings.h>

#include <algorithm>
#include <cstring>

#include "camera/camera.h"
#include "camera/camera_settings_value.h"
#include "driver/driver.h"
#include "driver/log.h"
#include "driver/text.h"
#include "platform/tick_clock.h"
#include "quaro7k7_ptz.h"
#include "ui/resources.h"

CVRTComm::CVRTComm() : lineLock_(std::make_shared<std::recursive_mutex>()) {}

CVRTComm::~CVRTComm() {
  {
    std::lock_guard<std::mutex> hold(openLock_);
    if (port_ || worker_) Close();
  }
  std::lock_guard<std::recursive_mutex> hold(camerasLock_);
  cameras_.clear();
}

// ---------------------------------------------------------------- the line

int CVRTComm::Open() {
  std::lock_guard<std::recursive_mutex> line(*lineLock_);
  if (!port_) {
    try {
      port_ = std::make_unique<CVRTSerial>();
    } catch (...) {
      return -1;
    }
  }
  port_->SetGiveUpFlag(&leaving_);
  port_->SetMode(portMode_);
  const int result = port_->Open(comPort_);
  if (result == 0) {
    StartWorker();
    open_.store(1);
    VRT_LOG_LINE("COMM.Open: Connection '%s' opened with settings %s\n", name_.c_str(),
                 portMode_.c_str());
    return 1;
  }
  if (result == 2)
    VRT_LOG_LINE("COMM.Open FAILED: Com port %d not found \n", comPort_);
  else if (result == 5)
    VRT_LOG_LINE("COMM.Open FAILED: Com port %d is busy\n", comPort_);
  else
    VRT_LOG_LINE("COMM.Open FAILED: Serial Error (Com port %d, Windows error code %d)\n", comPort_,
                 result);
  return QUARO7_PORT_OPEN_FAILED;
}

int CVRTComm::Close() {
  StopWorker();
  {
    std::lock_guard<std::recursive_mutex> line(*lineLock_);
    tasks_.clear();
    if (port_) {
      port_->Close();
      open_.store(0);
      port_.reset();
    }
  }
  // A task added while the first stop ran may have started one again.
  StopWorker();
  VRT_LOG_LINE("COMM.Close: Connection '%s' closed\n", name_.c_str());
  return 1;
}

int CVRTComm::Leave(uint32_t waitMs) {
  std::lock_guard<std::mutex> hold(openLock_);
  leaving_.store(true);
  {
    std::lock_guard<std::recursive_mutex> line(*lineLock_);
    if (!port_ && !worker_) return 1;
  }
  if (!StopWorker(waitMs)) return 0;
  {
    // A pulse still running ends now: nothing would switch the relay off
    // once the library is gone, and a washer or a lamp would stay on. The
    // same lines as at its time, each sent once.
    std::lock_guard<std::recursive_mutex> line(*lineLock_);
    std::vector<std::unique_ptr<CVRTScheduledTask>> pending;
    pending.swap(tasks_);
    for (auto& task : pending)
      if (task->GetType() == CVRTScheduledTask::kRelayPulse) task->Run(this);
  }
  Close();
  return 1;
}

int CVRTComm::Acquire() {
  std::lock_guard<std::mutex> hold(openLock_);
  // A port that failed under the cameras still open on it (the device went
  // away and came back) is opened afresh by the next camera's open, so that
  // the line works again without every camera on it being closed first.
  if (openCount_ == 0 || PortState() == CVRTSerial::kFailed) {
    const int result = Open();
    if (result != 1) return result;
  }
  ++openCount_;
  return 1;
}

int CVRTComm::Release() {
  std::lock_guard<std::mutex> hold(openLock_);
  if (openCount_ > 0) --openCount_;
  if (openCount_ == 0) return Close();
  return 1;
}

bool CVRTComm::HasPort() {
  std::lock_guard<std::recursive_mutex> line(*lineLock_);
  return port_ != nullptr;
}

int CVRTComm::PortState() {
  std::lock_guard<std::recursive_mutex> line(*lineLock_);
  return port_ ? port_->GetState() : -1;
}

int CVRTComm::ClosePort() {
  std::lock_guard<std::recursive_mutex> line(*lineLock_);
  if (!port_ || port_->GetState() != CVRTSerial::kOpen) return 0;
  return port_->Close();
}

int CVRTComm::SendMsg(const std::string& line, CVRTCamera* camera) {
  std::lock_guard<std::recursive_mutex> hold(*lineLock_);
  if (!port_ || port_->Write(line.data(), line.size()) < 0) {
    VRT_LOG_LINE("COMM.SendMsg: data write error: %d\n", -4);
    return QUARO7_LINE_ERROR;
  }
  if (camera != nullptr && camera->WaitForResponse != 0) {
    std::memset(reply_, 0, sizeof reply_);
    const int read = port_->ReadData(reply_, 3);
    reply_[3] = 0;
    if (read < 0) {
      VRT_LOG_LINE("COMM.SendMsg: error reading response: %d\n", read);
      return QUARO7_LINE_ERROR;
    }
  }
  return 1;
}

int CVRTComm::WriteRaw(const void* data, size_t length) {
  std::lock_guard<std::recursive_mutex> hold(*lineLock_);
  if (!port_) return 0;
  return port_->Write(data, length) < 0 ? 0 : 1;
}

int CVRTComm::Read(void* buffer, size_t count) {
  std::lock_guard<std::recursive_mutex> hold(*lineLock_);
  if (!port_) return QUARO7_LINE_ERROR;
  return port_->ReadData(buffer, count);
}

std::string CVRTComm::LastReply() {
  std::lock_guard<std::recursive_mutex> hold(*lineLock_);
  return std::string(reply_);
}

// ---------------------------------------------------------------- cameras

int CVRTComm::GetCameras(std::vector<CVRTCamera*>* cameras) {
  if (cameras == nullptr) return 0;
  std::lock_guard<std::recursive_mutex> hold(camerasLock_);
  cameras->clear();
  for (auto& camera : cameras_) cameras->push_back(camera.get());
  return static_cast<int>(cameras->size());
}

int CVRTComm::PinCameras(std::vector<CVRTCamera*>* cameras) {
  if (cameras == nullptr) return 0;
  std::lock_guard<std::recursive_mutex> hold(camerasLock_);
  cameras->clear();
  for (auto& camera : cameras_) {
    camera->Pin();
    cameras->push_back(camera.get());
  }
  return static_cast<int>(cameras->size());
}

int CVRTComm::AddCamera(std::unique_ptr<CVRTCamera> camera) {
  if (!camera) return 0;
  std::lock_guard<std::recursive_mutex> hold(camerasLock_);
  for (auto& other : cameras_)
    if (SameTextIgnoringCase(other->Name, camera->Name)) return 0;
  cameras_.push_back(std::move(camera));
  return 1;
}

std::unique_ptr<CVRTCamera> CVRTComm::RemoveCamera(CVRTCamera* camera) {
  std::unique_ptr<CVRTCamera> removed;
  {
    std::lock_guard<std::recursive_mutex> hold(camerasLock_);
    auto it =
        std::find_if(cameras_.begin(), cameras_.end(),
                     [camera](const std::unique_ptr<CVRTCamera>& c) { return c.get() == camera; });
    if (it == cameras_.end()) return nullptr;
    removed = std::move(*it);
    cameras_.erase(it);
  }
  // A save of another thread may have taken the camera from the list just
  // before it left; it pins it until it is done with it.
  camera->WaitUntilReleased();
  if (camera->GetOpenState() == 1) camera->Close();
  ForgetTasksOf(camera, nullptr);
  return removed;
}

CVRTCamera* CVRTComm::FindCamera(int sysId) {
  std::lock_guard<std::recursive_mutex> hold(camerasLock_);
  for (auto& camera : cameras_)
    if (camera->SysID == sysId) return camera.get();
  return nullptr;
}

int CVRTComm::MakeCameraKey(int kind, std::string* key) {
  if (kind != 1 || key == nullptr) return 0;
  // A key another process saved a camera under is not free either (read
  // before the list is held: the store is never waited for with it held).
  std::vector<std::string> saved;
  for (const CVRTDriver::SavedCamera& camera : Driver().CamerasInFile())
    if (camera.connection == key_) saved.push_back(camera.key);
  std::lock_guard<std::recursive_mutex> hold(camerasLock_);
  for (int n = 1; n <= 999; ++n) {
    const std::string candidate = key_ + "/cam" + std::to_string(n);
    bool used = std::find(saved.begin(), saved.end(), candidate) != saved.end();
    for (auto& camera : cameras_)
      if (SameTextIgnoringCase(camera->KeyPath, candidate)) used = true;
    if (!used) {
      *key = candidate;
      return 1;
    }
  }
  return 0;
}

int CVRTComm::CameraConflict(const CameraSettings& settings, const CVRTCamera* camera) {
  const auto compare = [&](int number, int address, const std::string& name) {
    if (number == settings.TavoID) return 12;
    if (address == settings.SysID) return 13;
    if (SameTextIgnoringCase(name, settings.Name)) return 14;
    return 0;
  };
  std::string ownKey;
  {
    std::lock_guard<std::recursive_mutex> line(*lineLock_);
    std::lock_guard<std::recursive_mutex> hold(camerasLock_);
    for (auto& other : cameras_) {
      if (other.get() == camera) continue;
      if (const int message = compare(other->TavoID, other->SysID, other->Name)) return message;
    }
    if (camera != nullptr) ownKey = camera->KeyPath;
  }
  // The line's cameras that other processes saved count as well (the store
  // is looked at with no line lock held).
  for (const CVRTDriver::SavedCamera& other : Driver().CamerasInFile()) {
    if (other.connection != key_ || (!ownKey.empty() && SameTextIgnoringCase(other.key, ownKey)))
      continue;
    if (const int message = compare(other.number, other.address, other.name)) return message;
  }
  return 0;
}

int CVRTComm::CheckCameraUnique(CVRTCamera* camera) {
  if (camera == nullptr) return 0;
  CameraSettings own;
  {
    std::lock_guard<CVRTCamera> hold(*camera);
    own.TavoID = camera->TavoID;
    own.SysID = camera->SysID;
    own.Name = camera->Name;
  }
  const int message = CameraConflict(own, camera);
  if (message == 0) return 1;
  // Shown without the list held: the box waits for the user.
  Driver().ShowMessage(ui::LoadString(message), ui::MsgIcon::kExclamation);
  return 0;
}

// ---------------------------------------------------------------- tasks

int CVRTComm::AddTask(std::unique_ptr<CVRTScheduledTask> task) {
  if (!task) return 0;
  std::lock_guard<std::recursive_mutex> hold(*lineLock_);
  // Without a worker the task would never run (a pulse would never end): a
  // worker that could not be started when the line opened is tried again.
  if (!worker_ && port_ && open_.load() != 0) StartWorker();
  tasks_.push_back(std::move(task));
  return 1;
}

int CVRTComm::ReplaceTask(std::unique_ptr<CVRTScheduledTask> task) {
  if (!task) return 0;
  std::lock_guard<std::recursive_mutex> hold(*lineLock_);
  RemoveMatchingTasks(task.get());
  tasks_.push_back(std::move(task));
  return 1;
}

int CVRTComm::RemoveMatchingTasks(const CVRTScheduledTask* task) {
  if (task == nullptr) return 0;
  std::lock_guard<std::recursive_mutex> hold(*lineLock_);
  tasks_.erase(std::remove_if(
                   tasks_.begin(), tasks_.end(),
                   [task](const std::unique_ptr<CVRTScheduledTask>& t) { return t->IsSame(task); }),
               tasks_.end());
  return 1;
}

int CVRTComm::CancelTasks(CVRTCamera* camera, int type, int relay) {
  if (camera == nullptr) return 0;
  if (type != CVRTScheduledTask::kRelayPulse) return 1;
  std::lock_guard<std::recursive_mutex> hold(*lineLock_);
  tasks_.erase(std::remove_if(tasks_.begin(), tasks_.end(),
                              [&](const std::unique_ptr<CVRTScheduledTask>& t) {
                                if (t->GetType() != type || t->GetOwner() != camera) return false;
                                auto* pulse = static_cast<CRelayPulseTask*>(t.get());
                                return pulse->GetRelay() != nullptr &&
                                       pulse->GetRelay()->Index.load() == relay;
                              }),
               tasks_.end());
  return 1;
}

void CVRTComm::ForgetTasksOf(CVRTCamera* camera, CVRTRelay* relay) {
  std::lock_guard<std::recursive_mutex> hold(*lineLock_);
  tasks_.erase(std::remove_if(tasks_.begin(), tasks_.end(),
                              [&](const std::unique_ptr<CVRTScheduledTask>& t) {
                                if (t->GetOwner() != camera) return false;
                                if (relay == nullptr) return true;
                                return t->GetType() == CVRTScheduledTask::kRelayPulse &&
                                       static_cast<CRelayPulseTask*>(t.get())->GetRelay() == relay;
                              }),
               tasks_.end());
}

size_t CVRTComm::PendingTasks() {
  std::lock_guard<std::recursive_mutex> hold(*lineLock_);
  return tasks_.size();
}

int CVRTComm::IsRunning() const {
  std::lock_guard<std::recursive_mutex> line(*lineLock_);
  return worker_ && workerRunning_->load() ? 1 : 0;
}

void CVRTComm::StartWorker() {
  if (worker_) return;
  auto running = std::make_shared<std::atomic<bool>>(true);
  auto lock = lineLock_;
  worker_ = platform::StartPeriodicThread(kWorkerPeriodMs, [this, running, lock] {
    std::lock_guard<std::recursive_mutex> line(*lock);
    // A stop clears the flag before anything is freed; once it is clear
    // this thread touches nothing of the connection again.
    if (running->load()) WorkerPass();
  });
  // No worker: the line works, timed tasks do not run.
  if (worker_) workerRunning_ = std::move(running);
}

bool CVRTComm::StopWorker(uint32_t waitMs) {
  // Taken under the line lock, which AddTask starts a worker under (and
  // which a pass of the worker holds); the wait for the worker's end is
  // outside it.
  std::unique_ptr<platform::PeriodicThread> worker;
  {
    std::lock_guard<std::recursive_mutex> line(*lineLock_);
    if (!worker_) return true;
    worker = std::move(worker_);
    workerRunning_->store(false);
    workerRunning_.reset();
  }
  return worker->Wait(waitMs);
}

void CVRTComm::WorkerPass() {
  for (size_t i = 0; i < tasks_.size();) {
    const uint32_t now = platform::TickCount();
    CVRTScheduledTask* task = tasks_[i].get();
    if (task->GetType() == CVRTScheduledTask::kRelayPulse && task->IsDue(now) &&
        task->Run(this) == 1) {
      // Run may have changed the list (a relay command cancels tasks).
      auto it = std::find_if(
          tasks_.begin(), tasks_.end(),
          [task](const std::unique_ptr<CVRTScheduledTask>& t) { return t.get() == task; });
      if (it != tasks_.end()) {
        i = static_cast<size_t>(it - tasks_.begin());
        tasks_.erase(it);
      }
      continue;
    }
    ++i;
  }
}
