// The driver's single application object: owns the connections (each owning
// its cameras), the settings store and the log, keeps the two tables through
// which the host reaches a camera, and hands out camera handles.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "driver/log.h"
#include "quaro7k7_ptz.h"
#include "settings/xml_settings.h"

class CVRTCamera;
class CVRTComm;

// A driver dialog the host can have closed (see KillAllWindows).
class CVRTWindow {
 public:
  virtual ~CVRTWindow() = default;
  // Ends the dialog with the given result (2: cancel).
  virtual void EndDialog(int result) = 0;
};

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

class CVRTDriver {
 public:
  static constexpr const char* kApplicationName = "QUARO7K7_PTZ";
  static constexpr const char* kSettingsFileName = "QUARO7K7_PTZ.xml";
  static constexpr int32_t kHandleBase = 0x10000000;
  static constexpr int kHandleCandidates = 31;

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
  int IsCameraNumberFree(CVRTCamera* camera);
  int AddCamera(CVRTCamera* camera);
  int RenumberCamera(int oldNumber, int newNumber);
  int RemoveCamera(CVRTCamera* camera);
  int BuildCameraTable();
  int CameraCount();

  // --- connections (driver.cpp) ---
  int DestroyConnections();
  int AddConnection(std::unique_ptr<CVRTComm> connection);
  // Takes the connection out of the list and hands it back (not deleted).
  std::unique_ptr<CVRTComm> RemoveConnection(CVRTComm* connection);
  int GetConnections(std::vector<CVRTComm*>* connections);
  int GetFreeConnectionName(std::string* name);
  int ConnectionCount();

  // --- dialogs and callback (driver.cpp) ---
  void AddWindow(CVRTWindow* window);
  void RemoveWindow(CVRTWindow* window);
  void KillAllWindows();
  int SetCallback(VRT_Callback callback, uint32_t value);

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

 private:
  // Waits until no host call holds any camera of the connection, then
  // deletes it.
  static void Destroy(std::unique_ptr<CVRTComm> connection);
  int32_t NextHandleCandidate();
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
  std::vector<CVRTWindow*> windows_;
  uint32_t randomState_ = 0;
};

// The one driver object of the process.
CVRTDriver& Driver();
