// The driver's single application object: owns the connections (each owning
// its cameras), the settings store and the log, keeps the two tables through
// which the host reaches a camera, and hands out camera handles.
//
// Threads and locks: src/driver/LOCKS.md says which lock guards what and the
// one order every thread takes them in.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "driver/log.h"
#include "quaro7k7_ptz.h"
#include "settings/xml_settings.h"
#include "ui/dialog_window.h"
#include "ui/window_list.h"

class CVRTCamera;
class CVRTComm;
struct CameraSettings;
struct CameraSettingsCheck;
namespace platform {
struct UserMark;
}
namespace ui {
class CDialog;
}

// A camera returned by a lookup with its lock taken; released when this goes.
class HeldCamera {
 public:
  HeldCamera() = default;
  explicit HeldCamera(CVRTCamera* camera) : camera_(camera) {}
  HeldCamera(HeldCamera&& other) noexcept : camera_(other.camera_) { other.camera_ = nullptr; }
  HeldCamera& operator=(HeldCamera&& other) noexcept;
  HeldCamera(const HeldCamera&) = delete;
  HeldCamera& operator=(const HeldCamera&) = delete;
  ~HeldCamera() { Release(); }

  CVRTCamera* get() const { return camera_; }
  CVRTCamera* operator->() const { return camera_; }
  explicit operator bool() const { return camera_ != nullptr; }
  void Release();

 private:
  CVRTCamera* camera_ = nullptr;
};

class CVRTDriver final : public ui::WindowList {
 public:
  static constexpr const char* kApplicationName = "QUARO7K7_PTZ";
  static constexpr const char* kSettingsFileName = "QUARO7K7_PTZ.xml";
  static constexpr int32_t kHandleBase = 0x10000000;
  static constexpr int kHandleCandidates = 31;
  // How long the library's unload waits for open setup dialogs to end and
  // their configure calls to return; then how long it gives such a call for
  // the last instructions of its return.
  static constexpr int kUnloadDialogWaitMs = 1000;
  static constexpr int kUnloadReturnGraceMs = 20;

  CVRTDriver();
  ~CVRTDriver();
  CVRTDriver(const CVRTDriver&) = delete;
  CVRTDriver& operator=(const CVRTDriver&) = delete;

  CXMLSettingsAPI Settings;
  std::string ModuleName;
  int ConnectionOption = 0;

  // --- log ---
  CVRTLog& Log() { return DriverLog(); }

  // --- camera tables and handles (driver.cpp) ---
  int OpenCamera(int number, int* handle);
  int CloseCamera(int handle);
  HeldCamera FindCameraByHandle(int handle);
  HeldCamera FindCameraByNumber(int number);
  int AddCamera(CVRTCamera* camera);
  int RenumberCamera(int oldNumber, int newNumber);
  int RemoveCamera(CVRTCamera* camera);
  int BuildCameraTable();
  int CameraCount();

  // --- a camera's settings as one value (driver_camera_settings.cpp) ---
  // Everything settings must pass before a camera takes them, in the camera
  // setup dialog's order: their own checks (CheckCameraSettings), then the
  // host number among all the driver's cameras, then the number, address
  // and name among the cameras of connection. camera is the one the
  // settings are for (its own values are no conflict); nullptr for a camera
  // that is not made yet. Holds no camera lock while it looks.
  CameraSettingsCheck CheckCamera(const CameraSettings& settings, CVRTComm* connection,
                                  const CVRTCamera* camera);
  // Gives a camera checked settings (CVRTCamera::Apply), moves it to its new
  // host number in the camera table when it is in there, and saves it once:
  // the save's result. A new camera joins its connection and the table
  // after this (CVRTComm::AddCamera, AddCamera). When the save fails (an
  // error result, or the store's failure, which passes on) the camera has
  // its old values and number again, and the document its old nodes.
  int ApplyCameraSettings(CVRTCamera* camera, const CameraSettings& settings);

  // --- connections (driver.cpp) ---
  int DestroyConnections();
  int AddConnection(std::unique_ptr<CVRTComm> connection);
  // Takes the connection out of the list and hands it back (not deleted).
  std::unique_ptr<CVRTComm> RemoveConnection(CVRTComm* connection);
  int GetConnections(std::vector<CVRTComm*>* connections);
  int GetFreeConnectionName(std::string* name);
  int ConnectionCount();

  // --- dialogs and callback (driver.cpp) ---
  // The open driver dialogs: each enters itself (on its own thread) as its
  // window is initialised and leaves before its window goes (ui::CDialog).
  void AddWindow(ui::CDialog* dialog) override;
  void RemoveWindow(ui::CDialog* dialog) override;
  // Ends every open dialog with Cancel, from any thread: the end is posted
  // to each dialog's thread. A dialog that opens while the configure calls
  // of that moment still run is ended as it enters.
  void KillAllWindows();
  // True from KillAllWindows until the configure calls of that moment have
  // returned (a dialog entering the list before it has a window checks it).
  bool ClosingWindows();
  int WindowCount();
  // A configure call from its start to its return: its dialogs use the
  // connections and cameras throughout.
  void BeginDialogSession();
  void EndDialogSession();
  // The module's end: ends every open dialog and waits (at most timeoutMs)
  // until the configure calls have returned. False when they have not (or
  // when called on a dialog's own thread); the connections are then
  // destroyed when the last configure call returns.
  bool EndDialogsForExit(int timeoutMs);
  // Before a new start of the module: waits (at most timeoutMs) until a
  // module end that is still waiting for configure calls has destroyed its
  // connections. False when it still waits (or when called on a dialog's
  // own thread): loading now would put a second set of connections beside
  // the old ones, which go when the last configure call returns.
  bool WaitForEndedModule(int timeoutMs);
  // A configure call counted from the export's entry to its return, so
  // that the library's unload can wait for the calls still inside it.
  void EnterConfigureCall() { configureCalls_.fetch_add(1); }
  void LeaveConfigureCall() { configureCalls_.fetch_sub(1); }
  // A message of the driver's own objects (a refused camera, a node off
  // line): shown by the innermost dialog open on the calling thread, else
  // as the platform's warning. Returns the answer.
  int ShowMessage(const std::string& text, ui::MsgIcon icon,
                  ui::MsgButtons buttons = ui::MsgButtons::kOk);
  int SetCallback(VRT_Callback callback, uint32_t value);

  // --- other processes (driver_users.cpp) ---
  // While the module is started, this process is marked as a user of the
  // library's files, so that another process changing the settings (an
  // installer) can tell that a running host will not see the change before
  // its next module start. Marking twice keeps one mark.
  void MarkInUse();
  void UnmarkInUse();
  // True when a process has the module started on the library's files:
  // asked by a process that has not started it itself.
  static bool LibraryInUse();

  // --- settings document (driver_settings.cpp) ---
  int InitXML();
  int Load();
  int LoadConnections();
  int Save();
  int DeleteCamera(CVRTCamera* camera);
  int DeleteConnection(CVRTComm* connection);
  int DeleteAllConnectionKeys();
  int DeleteCameraKeys(CVRTComm* connection);
  int DeletePrePositionKeys(CVRTCamera* camera);
  int DeleteRelayKeys(CVRTCamera* camera);

  // --- other processes on the settings file (settings_processes.cpp) ---
  // A camera as the settings file holds it, other processes' saves taken in.
  struct SavedCamera {
    std::string key;  // "comm1/cam2", as a camera's KeyPath
    std::string connection;
    std::string name;
    int number = 0;  // TavoID
    int node = 0;
    int address = 0;  // SysID
  };
  // Every camera of the settings file, after taking in what other processes
  // saved since this one last read or wrote it. Call it holding no camera
  // list (a connection's cameras lock).
  std::vector<SavedCamera> CamerasInFile();
  // The log's name for a subtree of the settings file ("Camera 3 ('Gate')").
  std::string DescribeSettingsSubtree(const std::string& subtree);
  // The settings store's last check of a write: no camera it changes takes
  // the number of a camera another process saved, nor that camera's node and
  // camera addresses on the same line. The refusal, or "".
  std::string CheckNumbersOfOtherProcesses(const std::vector<std::string>& cameras);

 private:
  // Waits until no host call holds any camera of the connection, then
  // deletes it.
  static void Destroy(std::unique_ptr<CVRTComm> connection);
  // The unload's DestroyConnections: every line is left at once and within
  // a bound (CVRTComm::Leave), whatever is open on it.
  void LeaveConnections();
  // The unload's end of the dialogs: true once every configure call has
  // returned, within kUnloadDialogWaitMs.
  bool EndDialogsForUnload();
  int32_t NextHandleCandidate();
  // The camera, which had oldNumber, under its number in the camera table,
  // when it is in there and the number is free (camera lock held).
  void MoveInTable(CVRTCamera* camera, int32_t oldNumber);
  // Undoes ApplyCameraSettings after a failed save; inFile: the camera had
  // its node in the document before.
  void TakeBack(CVRTCamera* camera, const CameraSettings& before, bool inFile);
  // True when the camera is in the camera-number table (table lock held).
  bool IsReachable(const CVRTCamera* camera) const;

  VRT_Callback callback_ = nullptr;
  uint32_t callbackValue_ = 0;

  // Guards the lists and maps below. Lookups take it only to find and pin a
  // camera; the camera's own lock is taken after it is released, so the
  // order camera lock -> table lock holds everywhere.
  std::mutex tableLock_;
  std::vector<std::unique_ptr<CVRTComm>> connections_;
  std::map<int, CVRTCamera*> camerasByNumber_;
  std::map<int32_t, CVRTCamera*> camerasByHandle_;
  uint32_t randomState_ = 0;

  // The open dialogs and the configure calls running, with their threads.
  struct OpenWindow {
    ui::CDialog* dialog;
    std::thread::id thread;
  };
  void PostEndToAll();  // windowLock_ held
  std::mutex windowLock_;
  std::condition_variable sessionsDone_;
  std::vector<OpenWindow> windows_;
  std::vector<std::thread::id> sessions_;
  bool closingWindows_ = false;
  bool destroyAfterSessions_ = false;

  std::mutex userMarkLock_;
  platform::UserMark* userMark_ = nullptr;
  std::atomic<int> configureCalls_{0};
};

// The one driver object of the process.
CVRTDriver& Driver();
