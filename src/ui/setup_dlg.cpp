#include "ui/setup_dlg.h"

#include <cstdarg>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "camera/camera.h"
#include "camera/preposition.h"
#include "comm/comm.h"
#include "driver/driver.h"
#include "driver/log.h"
#include "quaro7k7_ptz.h"
#include "settings/xml_settings.h"
#include "ui/about_dlg.h"
#include "ui/camera_setup_dlg.h"
#include "ui/comm_setup_dlg.h"
#include "ui/select_comm_dlg.h"

namespace {

std::string Format(const char* format, ...) VRT_PRINTF(1, 2);
std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
  if (length > 0) std::vsnprintf(&text[0], text.size() + 1, format, again);
  va_end(again);
  return text;
}

// A handler's failure (the settings document raising, say) must not run
// through the renderer's event loop: it is logged as at the entry points.
template <typename Work>
void Guard(Work&& work) {
  try {
    work();
  } catch (...) {
    DriverLog().WriteLog("Exeption occured: %d\n", QUARO7_EXCEPTION);
  }
}

void* AsData(void* object) { return object; }

}  // namespace

CVRTSetupDlg::CVRTSetupDlg(CVRTDriver& driver, ui::Toolkit& toolkit)
    : ui::CDialog(toolkit, ui::kDlgDriverSetup, &driver), driver_(driver) {}

std::string CVRTSetupDlg::ConnectionText(CVRTComm* connection) {
  return Format("[COM%d]  %s", connection->GetComPort(), connection->GetName().c_str());
}

std::string CVRTSetupDlg::CameraText(CVRTCamera* camera) {
  if (camera->SysID == -1)
    return Format("%03d [ ? ]: %s", camera->TavoID + 1, camera->Name.c_str());
  return Format("%03d [%03d]: %s", camera->TavoID + 1, camera->SysID, camera->Name.c_str());
}

// ---------------------------------------------------------------- events

int CVRTSetupDlg::OnInitDialog() {
  Guard([&] {
    FillTree();
    Win().SetTimer(kStartTimer, kStartDelayMs);
    VRT_LOG_LINE("SETUPDLG.OnInitDialog: Driver setup dialog opened\n");
  });
  return 1;
}

void CVRTSetupDlg::OnCommand(int controlId, ui::Notify code) {
  if (code != ui::Notify::kClicked) return;
  Guard([&] {
    switch (controlId) {
      case kCommConfigure:
        OnCommConfigure();
        break;
      case kCommAdd:
        SetupNewConnection();
        break;
      case kCommRemove:
        OnCommRemove();
        break;
      case kCamConfigure:
        SetupCamera();
        break;
      case kCamAdd:
        SetupNewCamera();
        break;
      case kCamRemove:
        OnCamRemove();
        break;
      case kAboutButton:
        OnAbout();
        break;
      default:
        break;
    }
  });
}

void CVRTSetupDlg::OnTimer(int timerId) {
  if (timerId != kStartTimer) return;
  Win().KillTimer(kStartTimer);
  Guard([&] {
    if (PendingAction == kPendingSetupCamera) {
      SetupCamera();
    } else if (PendingAction == kPendingNewCamera) {
      SetupNewCamera();
    }
  });
}

void CVRTSetupDlg::OnOk() {
  VRT_LOG_LINE("SETUPDLG.OnOk: Driver setup dialog closed\n");
  EndDialog(ui::kResultOk);
}

bool CVRTSetupDlg::SelectedImageIs(int image) {
  const ui::TreeItem item = Win().GetSelectedTreeItem(kTree);
  return item != ui::kNoTreeItem && Win().GetTreeItemImage(kTree, item) == image;
}

void CVRTSetupDlg::OnCommandUpdate() {
  // Connection buttons (1009, 1011, 1013) while a connection is selected,
  // camera buttons (1012, 1014) while a camera is; with a preset or nothing
  // selected every button keeps its state.
  if (SelectedImageIs(ui::kImageConnection)) {
    Win().Enable(kCamConfigure, false);
    Win().Enable(kCamRemove, false);
    for (int id : {kCommConfigure, kCommRemove, kCamAdd}) Win().Enable(id, true);
  }
  if (SelectedImageIs(ui::kImageCamera)) {
    for (int id : {kCamAdd, kCommRemove, kCommConfigure}) Win().Enable(id, false);
    for (int id : {kCamConfigure, kCamRemove}) Win().Enable(id, true);
  }
}

// ---------------------------------------------------------------- selection

CVRTComm* CVRTSetupDlg::GetSelectedConnection() {
  const ui::TreeItem item = Win().GetSelectedTreeItem(kTree);
  if (item == ui::kNoTreeItem || Win().GetTreeItemImage(kTree, item) != ui::kImageConnection)
    return nullptr;
  auto* connection = static_cast<CVRTComm*>(Win().GetTreeItemData(kTree, item));
  // Only a connection the driver still has (another configure call may
  // have removed it since the tree was filled).
  std::vector<CVRTComm*> connections;
  driver_.GetConnections(&connections);
  for (CVRTComm* c : connections)
    if (c == connection) return connection;
  return nullptr;
}

CVRTCamera* CVRTSetupDlg::GetSelectedCamera() {
  const ui::TreeItem item = Win().GetSelectedTreeItem(kTree);
  if (item == ui::kNoTreeItem || Win().GetTreeItemImage(kTree, item) != ui::kImageCamera)
    return nullptr;
  auto* camera = static_cast<CVRTCamera*>(Win().GetTreeItemData(kTree, item));
  std::vector<CVRTComm*> connections;
  driver_.GetConnections(&connections);
  for (CVRTComm* c : connections) {
    std::vector<CVRTCamera*> cameras;
    c->GetCameras(&cameras);
    for (CVRTCamera* known : cameras)
      if (known == camera) return camera;
  }
  return nullptr;
}

// ---------------------------------------------------------------- the tree

void CVRTSetupDlg::FillTree() {
  ui::DialogWindow& w = Win();
  w.SetRedraw(kTree, false);
  w.DeleteAllTreeItems(kTree);
  std::vector<ui::TreeItem> items;
  ui::TreeItem startItem = ui::kNoTreeItem;
  std::vector<CVRTComm*> connections;
  driver_.GetConnections(&connections);
  for (CVRTComm* connection : connections) {
    const ui::TreeItem commItem =
        w.InsertTreeItem(kTree, ui::kNoTreeItem, ConnectionText(connection), ui::kImageConnection,
                         AsData(connection));
    connection->SetTreeItem(reinterpret_cast<void*>(commItem));
    items.push_back(commItem);
    std::vector<CVRTCamera*> cameras;
    connection->GetCameras(&cameras);
    for (CVRTCamera* camera : cameras) {
      // Host calls store and delete presets under the camera's lock.
      std::lock_guard<CVRTCamera> hold(*camera);
      const ui::TreeItem camItem =
          w.InsertTreeItem(kTree, commItem, CameraText(camera), ui::kImageCamera, AsData(camera));
      camera->TreeItem = reinterpret_cast<void*>(camItem);
      items.push_back(camItem);
      if (StartCamera >= 0 && StartCamera == camera->TavoID) startItem = camItem;
      std::vector<CVRTPrePosition*> presets;
      camera->ListPrePositions(&presets);
      for (CVRTPrePosition* preset : presets) {
        if (preset == nullptr) continue;
        items.push_back(w.InsertTreeItem(kTree, camItem,
                                         Format(" [%02d] %s", preset->ID, preset->Name.c_str()),
                                         ui::kImagePreset, AsData(preset)));
      }
    }
  }
  for (ui::TreeItem item : items) {
    w.ExpandTreeItem(kTree, item);
    w.SortTreeChildren(kTree, item);
  }
  if (startItem != ui::kNoTreeItem) w.SelectTreeItem(kTree, startItem);
  w.SetRedraw(kTree, true);
}

// ---------------------------------------------------------------- connections

void CVRTSetupDlg::OnCommConfigure() {
  CVRTComm* connection = GetSelectedConnection();
  if (connection == nullptr) return;
  CVRTCommSetupDlg dialog(driver_, GetToolkit());
  dialog.Connection = connection;
  // The dialog's OK has saved the connection.
  if (dialog.DoModal(this) != ui::kResultOk) return;
  const ui::TreeItem item = Win().GetSelectedTreeItem(kTree);
  if (item != ui::kNoTreeItem) Win().SetTreeItemText(kTree, item, ConnectionText(connection));
}

int CVRTSetupDlg::SetupNewConnection() {
  std::string key;
  if (driver_.GetFreeConnectionName(&key) != 1) return 0;
  auto connection = std::make_unique<CVRTComm>();
  connection->SetOption(driver_.ConnectionOption);
  CVRTCommSetupDlg dialog(driver_, GetToolkit());
  dialog.Connection = connection.get();
  dialog.IsNew = 1;
  while (dialog.DoModal(this) != ui::kResultCancel) {
    // A failed save says so and shows the dialog again with what was typed.
    if (!CVRTCommSetupDlg::SaveNew(driver_, *connection, key, "SETUPDLG.SetupNewConnection", Win()))
      continue;
    if (connection->Load(key) != 1) continue;
    CVRTComm* added = connection.get();
    driver_.AddConnection(std::move(connection));
    FillTree();
    if (added->GetTreeItem() != nullptr)
      Win().SelectTreeItem(kTree, reinterpret_cast<ui::TreeItem>(added->GetTreeItem()));
    return 1;
  }
  return 0;
}

void CVRTSetupDlg::OnCommRemove() {
  if (Win().MessageBox(ui::LoadString(ui::kStringRemoveConnection), ui::MsgButtons::kYesNo,
                       ui::MsgIcon::kQuestion) != ui::kAnswerYes)
    return;
  CVRTComm* connection = GetSelectedConnection();
  const ui::TreeItem item = Win().GetSelectedTreeItem(kTree);
  if (connection == nullptr || item == ui::kNoTreeItem) return;
  const std::string name = connection->GetName();
  const int port = connection->GetComPort();
  if (!Removed("OnCommRemove", [&] { driver_.DeleteConnection(connection); })) return;
  Win().DeleteTreeItem(kTree, item);
  VRT_LOG_LINE("SETUPDLG.OnCommRemove: Connection '%s' deleted succesfully (COM%d)\n", name.c_str(),
               port);
}

// ---------------------------------------------------------------- cameras

int CVRTSetupDlg::SetupCamera() {
  CVRTCamera* camera = GetSelectedCamera();
  if (camera == nullptr) return 0;
  CVRTComm* connection = camera->Connection;
  // The camera setup dialog's OK has checked every value (the number and
  // address among the other cameras too), given them to the camera, moved
  // it to its number in the camera table and saved it.
  int result;
  do {
    CVRTCameraSetupDlg dialog(driver_, GetToolkit(), connection);
    dialog.Camera = camera;
    result = dialog.DoModal(this);
  } while (result != ui::kResultOk && result != ui::kResultCancel);
  if (result == ui::kResultCancel) {
    if (SelectedImageIs(ui::kImageCamera)) {
      Win().Enable(kCamAdd, false);
      Win().Enable(kCommRemove, false);
      Win().Enable(kCommConfigure, false);
    } else {
      Win().Enable(kCamAdd, true);
    }
    return 0;
  }
  const ui::TreeItem item = Win().GetSelectedTreeItem(kTree);
  if (item != ui::kNoTreeItem) {
    std::lock_guard<CVRTCamera> hold(*camera);
    Win().SetTreeItemText(kTree, item, CameraText(camera));
  }
  FillTree();
  return 1;
}

int CVRTSetupDlg::SetupNewCamera() {
  CVRTComm* connection = nullptr;
  if (PendingAction == kPendingNewCamera) {
    CVRTSelectCommDlg select(driver_, GetToolkit());
    if (select.DoModal(this) == ui::kResultCancel) {
      FillTree();
      return 0;
    }
    connection = select.SelectedConnection;
  } else {
    connection = GetSelectedConnection();
  }
  if (connection == nullptr) return 0;
  std::string key;
  if (connection->MakeCameraKey(1, &key) != 1) return 0;
  auto camera = std::make_unique<CVRTCamera>(connection);
  camera->KeyPath = key;
  camera->TavoID = StartCamera;
  // Nothing reaches the file before the camera setup dialog's OK has
  // checked every value; that OK saves the camera under its key.
  int result;
  do {
    CVRTCameraSetupDlg dialog(driver_, GetToolkit(), connection);
    dialog.Camera = camera.get();
    result = dialog.DoModal(this);
  } while (result != ui::kResultOk && result != ui::kResultCancel);
  if (result == ui::kResultCancel) return 0;
  Win().Enable(kCamAdd, false);
  CVRTCamera* added = camera.get();
  // The connection refuses a camera whose name it has already (and the
  // camera is gone then): only a camera it took enters the table.
  if (connection->AddCamera(std::move(camera)) == 1) {
    driver_.AddCamera(added);
  } else {
    added = nullptr;
  }
  FillTree();
  if (added != nullptr && added->TreeItem != nullptr)
    Win().SelectTreeItem(kTree, reinterpret_cast<ui::TreeItem>(added->TreeItem));
  PendingAction = kPendingNone;
  return 1;
}

void CVRTSetupDlg::OnCamRemove() {
  if (Win().MessageBox(ui::LoadString(ui::kStringRemoveCamera), ui::MsgButtons::kYesNo,
                       ui::MsgIcon::kQuestion) != ui::kAnswerYes)
    return;
  CVRTCamera* camera = GetSelectedCamera();
  const ui::TreeItem item = Win().GetSelectedTreeItem(kTree);
  if (camera == nullptr || item == ui::kNoTreeItem) return;
  const int number = camera->TavoID;
  const std::string name = camera->Name;
  if (!Removed("OnCamRemove", [&] { driver_.DeleteCamera(camera); })) return;
  Win().DeleteTreeItem(kTree, item);
  VRT_LOG_LINE("SETUPDLG.OnCamRemove: Camera %d named '%s' removed succesfully\n", number + 1,
               name.c_str());
}

bool CVRTSetupDlg::Removed(const char* where, const std::function<void()>& remove) {
  try {
    remove();
    return true;
  } catch (const SettingsError&) {
    // Gone from memory, but the file still holds it: the tree shows what
    // is left, and the user is told that the file was not changed.
    VRT_LOG_LINE("SETUPDLG.%s: Settings save failed (error %d).\n", where, QUARO7_EXCEPTION);
    FillTree();
    Win().MessageBox(ui::LoadString(ui::kStringSaveFailed), ui::MsgButtons::kOk,
                     ui::MsgIcon::kExclamation);
    return false;
  }
}

void CVRTSetupDlg::OnAbout() {
  CAbout about(driver_, GetToolkit());
  about.DoModal(this);
}

// ---------------------------------------------------------------- configure

int RunDriverSetup(CVRTDriver& driver, ui::Toolkit& toolkit, int cameraNumber, void* parentWindow) {
  if (cameraNumber < -1) return QUARO7_BAD_ARGUMENT;
  // The dialogs use the driver's connections until this call returns; the
  // module's end waits for it.
  struct Session {
    explicit Session(CVRTDriver& d) : driver(d) { driver.BeginDialogSession(); }
    ~Session() { driver.EndDialogSession(); }
    CVRTDriver& driver;
  } session(driver);
  CVRTSetupDlg dialog(driver, toolkit);
  dialog.StartCamera = cameraNumber;
  if (cameraNumber != -1) {
    dialog.PendingAction = driver.FindCameraByNumber(cameraNumber)
                               ? CVRTSetupDlg::kPendingSetupCamera
                               : CVRTSetupDlg::kPendingNewCamera;
  }
  return dialog.DoModal(nullptr, parentWindow) == ui::kResultOk ? QUARO7_OK
                                                                : QUARO7_DIALOG_CANCELLED;
}
