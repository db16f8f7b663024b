// One configured dome: binds the host's camera number to a dome on one serial
// connection, and carries out what the host asks of it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "camera/camera_keys.h"
#include "camera/preposition.h"
#include "camera/relay.h"
#include "driver/numbers.h"

class CVRTComm;
struct CameraSettings;
struct VRT_CameraProperties;
struct VRT_PresetRecord;
struct VRT_RelayRecord;

class CVRTCamera {
 public:
  static constexpr int kLocationCount = 256;
  static constexpr uint8_t kFollowUpSent = 2;  // bit of StateFlags
  static constexpr int kNameLength = 31;
  // The most relays a camera has: what the setup dialog accepts. A larger
  // count from the settings file is taken as this.
  static constexpr int kMaxRelays = camera_keys::kMaxRelays;

  struct StorageLocation {
    uint16_t useCount;
    uint16_t location;  // the location number while in use, kFree while free
  };
  static constexpr uint16_t kFree = 0xFFFF;

  explicit CVRTCamera(CVRTComm* connection);
  ~CVRTCamera();
  CVRTCamera(const CVRTCamera&) = delete;
  CVRTCamera& operator=(const CVRTCamera&) = delete;

  // --- lock and lifetime ---
  void Lock();
  void Unlock();
  // So that std::lock_guard<CVRTCamera> takes and gives back the camera.
  void lock() { Lock(); }
  void unlock() { Unlock(); }
  int GetAccessCount() const { return AccessCount.load(); }
  // Lookups pin a camera before they take its lock, so that it is not
  // destroyed between the table lookup and the lock.
  void Pin() { pins_.fetch_add(1); }
  void Unpin() { pins_.fetch_sub(1); }
  // Waits until no host call holds or is about to hold the camera.
  void WaitUntilReleased();

  // --- open, close, motion (camera.cpp) ---
  int Initialize();
  int GetOpenState() const { return OpenState; }
  int Open();
  int Close();
  int Left(int speed);
  int Right(int speed);
  int Up(int speed);
  int Down(int speed);
  int UpLeft(int speed);
  int UpRight(int speed);
  int DownLeft(int speed);
  int DownRight(int speed);
  int Zoom(int mode, int speed);
  int Iris(int mode, int speed);
  int Focus(int mode, int speed);
  int GetProperties(VRT_CameraProperties* record);
  void SelectOnMonitor(int monitor);
  int SetDefaultLensSlow(int state);
  void SetKeyPath(const std::string& keyPath) { KeyPath = keyPath; }
  void SetName(const std::string& name) { Name = name; }
  // Sets WaitForResponse with the line lock held too (the line's worker
  // reads it).
  void SetWaitForResponse(int value);
  // Takes settings that passed their checks (CVRTDriver::CheckCamera): on
  // the line, selects the camera on the control monitor the settings name
  // (monitor 1 for one outside 1 .. 16) under the addresses it has until
  // now and sends the lens-slow state; then takes every value, and has
  // exactly NofRelays relays (the first ones keep their state, new ones get
  // the default name unless the settings name them). Writes nothing to the
  // file: CVRTDriver::ApplyCameraSettings saves the camera after it.
  void Apply(const CameraSettings& settings);

  // --- presets (camera_presets.cpp) ---
  CVRTPrePosition* GetPrePositionAt(int index);
  CVRTPrePosition* FindPrePosition(const std::string& name);
  int GetPrePositionIndex(const std::string& name);
  CVRTPrePosition* GetActivePrePosition();
  int MakePrePositionKey(int mode, std::string* key);
  int MoveToPrePosition(int position, int speed);
  int MoveToPrePositionName(const std::string& name, int speed);
  int SetPrePosition(int position, const std::string& name);
  int SetPrePositionName(const std::string& name);
  int GetPrePosition(VRT_PresetRecord* record);
  int DeletePrePositionName(const std::string& name);
  int ListPrePositions(std::vector<CVRTPrePosition*>* list);
  int ClearPrePositions();
  // Storage location table.
  void TakeLocation(int location);
  void ReleaseLocation(int location);
  int FindFreeLocationSlot() const;  // 0-based slot, or -1
  void ResetLocations();
  int PresetCount() const { return static_cast<int>(PrePositions.size()); }

  // --- relays (camera_relays.cpp) ---
  int CreateRelays(const std::string& keyPath, std::vector<std::string>* names);
  int SetRelay(int relay, int mode, int time);
  int SetRelayName(int relay, const std::string& name);
  int GetRelayState(VRT_RelayRecord* record);
  CVRTRelay* GetRelayAt(int index);
  int GetAux1Func() const { return Aux1Func; }
  int GetAux2Func() const { return Aux2Func; }
  int GetAux3Func() const { return Aux3Func; }
  void SetAux1Func(int value) { Aux1Func = value; }
  void SetAux2Func(int value) { Aux2Func = value; }
  void SetAux3Func(int value) { Aux3Func = value; }
  // Gives the camera count relays (keeping the names of those it keeps)
  // and saves it: 1, or -3 for a count outside 0 .. kMaxRelays.
  int SetNofRelays(int count);
  int RelayCount() const { return static_cast<int>(Relays.size()); }

  // --- settings subtree (camera_settings.cpp) ---
  int Load(const std::string& keyPath);
  int Save(const std::string& keyPath = std::string());
  int SaveKeys(const std::string& keyPath);
  int LoadPrePositions(const std::string& keyPath);
  int SavePrePositions(const std::string& keyPath);
  int LoadRelays(const std::string& keyPath);
  int SaveRelays(const std::string& keyPath);

  // Fields. The connection keeps the motion state (Moving, LastSpeed, the
  // lens modes, the follow-up bit) while it sends for the camera.
  int32_t AutoFocus = camera_keys::Of(camera_keys::AutoFocus).initial;
  StorageLocation StorageLocations[kLocationCount];
  int32_t TavoID = camera_keys::Of(camera_keys::TavoID).initial;
  int32_t CurrentLocation = 255;
  std::vector<std::unique_ptr<CVRTPrePosition>> PrePositions;
  CVRTComm* Connection;
  std::atomic<int32_t> AccessCount{0};
  uint8_t StateFlags = 0;
  int32_t SysID = camera_keys::Of(camera_keys::SysID).initial;
  int32_t NodeAddress = camera_keys::Of(camera_keys::NodeAddress).initial;
  std::string KeyPath;
  std::string Name;
  int32_t OpenState = 0;
  void* TreeItem = nullptr;
  std::vector<std::unique_ptr<CVRTRelay>> Relays;
  int32_t CamAccFactor = camera_keys::Of(camera_keys::CamAccFactor).initial;
  int32_t CamAccDefault = camera_keys::Of(camera_keys::CamAccDefault).initial;
  int32_t CamAccDefaultState = camera_keys::Of(camera_keys::CamAccDefaultState).initial;
  int32_t NofStorageLocations = camera_keys::Of(camera_keys::NofStorageLocations).initial;
  int32_t DefaultPreposSpeed = camera_keys::Of(camera_keys::DefaultPreposSpeed).initial;
  int32_t DefaultLensSlow = camera_keys::Of(camera_keys::DefaultLensSlow).initial;
  int32_t ControlMonitor = camera_keys::Of(camera_keys::ControlMonitor).initial;
  int32_t IrisMode = -1;
  int32_t ZoomMode = -1;
  int32_t FocusMode = -1;
  int32_t WaitForResponse = camera_keys::Of(camera_keys::WaitForResponse).initial;
  int32_t LastSpeed = 0;
  int32_t WashPulseTime = camera_keys::Of(camera_keys::WashPulseTime).initial;
  int32_t NofRelays = camera_keys::Of(camera_keys::NofRelays).initial;
  int32_t AutoIris = camera_keys::Of(camera_keys::AutoIris).initial;
  uint8_t SelectPending = 0;
  uint8_t Moving = 0;
  int32_t Aux1Func = camera_keys::Of(camera_keys::Aux1Func).initial;
  int32_t Aux2Func = camera_keys::Of(camera_keys::Aux2Func).initial;
  int32_t Aux3Func = camera_keys::Of(camera_keys::Aux3Func).initial;
  // The host's handle while the camera is open, 0 otherwise; preset and
  // relay records carry it back as the camera's identifier.
  int32_t Handle = 0;
  int32_t CameraIdentifier() const { return Handle; }

 private:
  // Makes Relays exactly NofRelays long: relays above go (with their
  // pending pulse ends), new ones are named from names (relay i at index
  // i) or "Relay<i + 1>". The line lock is held meanwhile: the worker ends
  // pulses of these relays.
  void MatchRelays(const std::vector<std::string>* names);
  // NofRelays within 0 .. kMaxRelays: the relays the camera has.
  int WantedRelays() const {
    return NofRelays < 0 ? 0 : (NofRelays > kMaxRelays ? kMaxRelays : NofRelays);
  }
  int StorePreset(int id, const std::string& name, std::unique_ptr<CVRTPrePosition>* stored);
  // Appends a stored preset and writes the presets' nodes in list order;
  // a failing write takes it out again and passes the failure on.
  void KeepPreset(std::unique_ptr<CVRTPrePosition> preset, bool wholeCamera);
  // SavePrePositions without its log line.
  int WritePrePositions(const std::string& keyPath);
  using MoveFn = int (CVRTComm::*)(CVRTCamera*, int);
  int Move(MoveFn move, int speed, const char* okLine, const char* failedLine);

  // Relay nodes of the file above NofRelays (number, name) when the camera
  // was loaded: not relays of the camera, but written back as they were by
  // every save, so that a count below them loses nothing of the file.
  std::vector<std::pair<int, std::string>> otherRelayNodes_;

  std::recursive_mutex lock_;
  std::atomic<int> pins_{0};
};
