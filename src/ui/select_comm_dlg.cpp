#include "ui/select_comm_dlg.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "comm/comm.h"
#include "driver/driver.h"
#include "ui/comm_setup_dlg.h"

namespace {

std::vector<CVRTComm*> Connections(CVRTDriver& driver) {
  std::vector<CVRTComm*> connections;
  driver.GetConnections(&connections);
  return connections;
}

}  // namespace

CVRTSelectCommDlg::CVRTSelectCommDlg(CVRTDriver& driver, ui::Toolkit& toolkit)
    : ui::CDialog(toolkit, ui::kDlgSelectComm, &driver), driver_(driver) {}

int CVRTSelectCommDlg::OnInitDialog() {
  FillList();
  return 1;
}

void CVRTSelectCommDlg::FillList() {
  for (CVRTComm* connection : Connections(driver_)) {
    if (connection == nullptr) continue;
    const std::string text =
        "[COM" + std::to_string(connection->GetComPort()) + "]: " + connection->GetName();
    const int index = Win().AddEntry(kConnectionList, text);
    if (index >= 0) Win().SetEntryData(kConnectionList, index, connection);
  }
}

void CVRTSelectCommDlg::OnCommand(int controlId, ui::Notify code) {
  if (controlId == kConnectionList && code == ui::Notify::kSelChange) {
    Win().Enable(ui::kResultOk, true);
  } else if (controlId == kConnectionList && code == ui::Notify::kDoubleClick) {
    OnOk();
  } else if (controlId == kCreateNew && code == ui::Notify::kClicked) {
    OnCreateNew();
  }
}

void CVRTSelectCommDlg::OnOk() {
  const int index = Win().GetSelection(kConnectionList);
  if (index < 0) return;
  auto* chosen = static_cast<CVRTComm*>(Win().GetEntryData(kConnectionList, index));
  const std::vector<CVRTComm*> connections = Connections(driver_);
  if (chosen == nullptr ||
      std::find(connections.begin(), connections.end(), chosen) == connections.end()) {
    return;
  }
  SelectedConnection = chosen;
  EndDialog(ui::kResultOk);
}

void CVRTSelectCommDlg::OnCreateNew() {
  std::string key;
  if (driver_.GetFreeConnectionName(&key) != 1) {
    driver_.Log().WriteLine(
        "SELECTCOMMDLG.OnCreateNew: Unable to get new item name for new object\n");
    return;
  }
  auto connection = std::make_unique<CVRTComm>();
  {
    CVRTCommSetupDlg setup(driver_, GetToolkit());
    setup.Connection = connection.get();
    // A failed save says so and shows the dialog again with what was typed.
    while (setup.DoModal(this) == ui::kResultOk) {
      if (CVRTCommSetupDlg::SaveNew(driver_, *connection, key, "SELECTCOMMDLG.OnCreateNew",
                                    Win())) {
        driver_.AddConnection(std::move(connection));
        break;
      }
    }
  }
  connection.reset();
  Win().ResetList(kConnectionList);
  FillList();
  Win().SetFocus(kConnectionList);
  driver_.Log().WriteLine("SELECTCOMMDLG.OnCreateNew OK\n\t");
}
