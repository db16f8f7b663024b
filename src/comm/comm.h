// One serial connection: a COM port with its mode string, the cameras on that
// line, the port object while the line is open, one lock that serialises all
// traffic on the line, and a worker thread that runs timed tasks.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "comm/comm_keys.h"
#include "comm/scheduled_task.h"
#include "comm/serial.h"
#include "platform/worker_thread.h"

class CVRTCamera;
class CVRTPrePosition;
struct CameraSettings;
class CVRTRelay;
struct ConnectionSettings;

class CVRTComm {
 public:
  static constexpr const char* kDefaultPortMode = comm_keys::kDefaultPortMode;
  static constexpr uint32_t kWorkerPeriodMs = 100;
  static constexpr uint32_t kWorkerStopWaitMs = 3000;
  // At unload a worker in an exchange ends it after the read in progress:
  // at most 2000 ms and 1 ms per byte asked for, with some to spare.
  static constexpr uint32_t kLeaveWorkerWaitMs = 2500;

  CVRTComm();
  virtual ~CVRTComm();
  CVRTComm(const CVRTComm&) = delete;
  CVRTComm& operator=(const CVRTComm&) = delete;

  // --- settings subtree (comm_settings.cpp) ---
  int Load(const std::string& key);
  int Save(const std::string& key = std::string());
  int LoadCameras(const std::string& key);
  // Writes the connection's keys and those of the cameras in held (taken
  // by the caller, see CameraHolds); the caller runs it as a change.
  int SaveKeys(const std::string& key, const std::vector<CVRTCamera*>& held);

  std::string GetKey() const { return key_; }
  void SetKey(const std::string& key) { key_ = key; }
  void SetName(const std::string& name) { name_ = name; }
  std::string GetName() const { return name_; }
  void SetComPort(int port) { comPort_ = port; }
  int GetComPort() const { return comPort_; }
  void SetPortMode(const std::string& mode) { portMode_ = mode; }
  std::string GetPortMode() const { return portMode_; }
  // Takes settings that passed their checks (CheckConnectionSettings): the
  // name, the COM port and the port mode (an empty one the default). Writes
  // nothing to the file: Save does.
  void Apply(const ConnectionSettings& settings);
  void SetTreeItem(void* item) { treeItem_ = item; }
  void* GetTreeItem() const { return treeItem_; }
  void SetOption(int value) { option_ = value; }

  // --- line (comm.cpp) ---
  // Opens the port and starts the worker: 1, -1 (no port object) or -8.
  int Open();
  int Close();
  // The library is unloaded (the host may not have ended the module):
  // BeginLeaving makes every exchange on the line end after the read in
  // progress and wait for no more answers; Leave then stops the worker
  // (waiting at most waitMs), sends the ends of the relay pulses still
  // running, once and without waiting for answers, and closes the line.
  // Leave answers 0 when the worker did not stop in time: the connection
  // may then still be in use and must not be destroyed.
  void BeginLeaving() { leaving_.store(true); }
  int Leave(uint32_t waitMs = kLeaveWorkerWaitMs);
  int Acquire();  // a camera is opened: the first opens the port, as does one finding it failed
  int Release();  // a camera is closed: the last closes the port
  int IsOpen() const { return open_.load(); }
  void SetOpen(int flag) { open_.store(flag); }
  int OpenCount() const { return openCount_; }
  bool HasPort();
  // The port object's state (CVRTSerial::State), or -1 when there is none.
  int PortState();
  // Closes the port object but keeps it, its worker and tasks, so that the
  // connection setup dialog can probe the port: 1 when it was open. Open()
  // opens it again.
  int ClosePort();
  // Writes a prepared line and, when the camera waits for responses, reads
  // the dome's 3-byte reply: 1 or -4.
  int SendMsg(const std::string& line, CVRTCamera* camera);
  // Writes without reply handling: 1 written, 0 failed.
  int WriteRaw(const void* data, size_t length);
  // Reads a reply through the port's checking read; -4 without a port.
  int Read(void* buffer, size_t count);
  void Lock() { lineLock_->lock(); }
  void Unlock() { lineLock_->unlock(); }
  std::string LastReply();

  // --- cameras (comm.cpp) ---
  int GetCameras(std::vector<CVRTCamera*>* cameras);
  // The cameras, each pinned while the list is held, so that none is
  // destroyed before the caller unpins it (CameraHolds does).
  int PinCameras(std::vector<CVRTCamera*>* cameras);
  int AddCamera(std::unique_ptr<CVRTCamera> camera);
  // Removes the camera from the list, waits until nothing pins it any more
  // (closing it when open) and hands it back to the caller; nullptr when it
  // is not on this connection.
  std::unique_ptr<CVRTCamera> RemoveCamera(CVRTCamera* camera);
  CVRTCamera* FindCamera(int sysId);
  int MakeCameraKey(int kind, std::string* key);
  // What settings for camera (nullptr: one not made yet) would share with
  // another camera on this line, as the string-table id of the setup
  // dialog's message: 12 the host number, 13 the address, 14 the name (the
  // first camera that shares any, in list order); 0 for none. Looks with the
  // line lock held, which every change of these values holds too.
  int CameraConflict(const CameraSettings& settings, const CVRTCamera* camera);
  // CameraConflict for the camera's own values, shown as a message: 1 when
  // it shares none, else 0.
  int CheckCameraUnique(CVRTCamera* camera);
  int CameraCount() const {
    std::lock_guard<std::recursive_mutex> hold(camerasLock_);
    return static_cast<int>(cameras_.size());
  }

  // --- tasks (comm.cpp) ---
  int AddTask(std::unique_ptr<CVRTScheduledTask> task);
  int ReplaceTask(std::unique_ptr<CVRTScheduledTask> task);
  int RemoveMatchingTasks(const CVRTScheduledTask* task);
  int CancelTasks(CVRTCamera* camera, int type, int relay);
  // Drops every pending task of a camera or of one relay that is going away.
  void ForgetTasksOf(CVRTCamera* camera, CVRTRelay* relay);
  size_t PendingTasks();
  int IsRunning() const;

  // --- protocol (comm_protocol.cpp) ---
  int SpeedPercent(CVRTCamera* camera, int speedCode);
  int Stop(CVRTCamera* camera, const char* function1, const char* function2 = nullptr);
  int Up(CVRTCamera* camera, int speed);
  int Down(CVRTCamera* camera, int speed);
  int Left(CVRTCamera* camera, int speed);
  int Right(CVRTCamera* camera, int speed);
  int UpLeft(CVRTCamera* camera, int speed);
  int UpRight(CVRTCamera* camera, int speed);
  int DownLeft(CVRTCamera* camera, int speed);
  int DownRight(CVRTCamera* camera, int speed);
  int Zoom(CVRTCamera* camera, int mode, int speed);
  int Iris(CVRTCamera* camera, int mode, int speed);
  int Focus(CVRTCamera* camera, int mode, int speed);
  int FindFreePresetLocation(CVRTCamera* camera);
  int MoveToPrePosition(CVRTCamera* camera, CVRTPrePosition* preset);
  int SetPrePosition(CVRTCamera* camera, CVRTPrePosition* preset);
  int DeletePrePosition(CVRTCamera* camera, CVRTPrePosition* preset);
  int SetRelay(CVRTCamera* camera, CVRTRelay* relay, int on, int time);
  int SetDefaultLensSlow(CVRTCamera* camera, int state);
  int Ping(int nodeAddress, int cameraAddress);
  int ResetCamera(int nodeAddress, int cameraAddress);
  // The camera address the line has selected now (a selection sent by the
  // camera itself).
  void NoteSelected(int sysId);
  // Sends function 23 once after a movement start.
  int FollowUp(CVRTCamera* camera);
  // Dome software versions ("1.23, 4.56"), or "..." without a good reply.
  std::string QueryVersion();
  int SendMenuKey(CVRTCamera* camera, int key);

 private:
  int MoveSingle(CVRTCamera* camera, int speed, const char* function, int axis);
  int MoveDiagonal(CVRTCamera* camera, int speed, const char* pan, const char* tilt);
  int SendSpeed(CVRTCamera* camera, int axis, int percent);
  void SelectIfNeeded(CVRTCamera* camera);
  int LensStop(CVRTCamera* camera, int32_t* mode, const char* nonZeroCode, const char* zeroCode);
  void StartWorker();
  // True once the worker has ended (or there was none).
  bool StopWorker(uint32_t waitMs = kWorkerStopWaitMs);
  void WorkerPass();

  std::unique_ptr<CVRTSerial> port_;
  int32_t selectedCamera_ = 0;
  std::string key_;
  std::string name_;
  int32_t comPort_ = 1;
  std::string portMode_ = kDefaultPortMode;
  // The setup dialogs add and remove cameras while host threads walk the
  // list (saves, the camera table): every use of cameras_ holds this.
  mutable std::recursive_mutex camerasLock_;
  std::vector<std::unique_ptr<CVRTCamera>> cameras_;
  void* treeItem_ = nullptr;
  // Shared with the worker thread, so that a worker that outlives Close's
  // wait never touches a freed lock.
  std::shared_ptr<std::recursive_mutex> lineLock_;
  std::vector<std::unique_ptr<CVRTScheduledTask>> tasks_;
  // The worker and its flag, both changed under the line lock. The flag is
  // shared with the worker's passes, so that a pass that outlives a stop's
  // wait sees it cleared and touches nothing of the connection.
  std::unique_ptr<platform::PeriodicThread> worker_;
  std::shared_ptr<std::atomic<bool>> workerRunning_;
  std::atomic<bool> leaving_{false};  // BeginLeaving; the port's give-up flag
  char reply_[4] = {0};
  std::mutex openLock_;  // Acquire, Release, Open and Close
  int32_t openCount_ = 0;
  std::atomic<int32_t> open_{0};
  int option_ = 0;
};
