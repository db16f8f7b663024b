#include "ui/comm_setup_dlg.h"

#include <mutex>
#include <utility>

#include "comm/comm.h"
#include "comm/connection_settings.h"
#include "comm/port_survey.h"
#include "comm/serial.h"
#include "driver/driver.h"
#include "driver/settings_change.h"
#include "platform/serial_port_list.h"
#include "quaro7k7_ptz.h"
#include "settings/xml_settings.h"
#include "ui/dialog_numbers.h"

namespace {

constexpr char kNotAccessible[] = " Not Accessible";

std::mutex gPortSourceLock;
SerialPortSource gPortSource;

SerialPortSource CurrentPortSource() {
  std::lock_guard<std::mutex> hold(gPortSourceLock);
  SerialPortSource source = gPortSource;
  if (!source.Names) source.Names = platform::SerialPortNames;
  // Network lines are probed by connecting with a short time-out.
  if (!source.Probe) source.Probe = netline::ProbeAnyPort;
  if (!source.Label) source.Label = netline::PortLabel;
  return source;
}

std::vector<CVRTComm*> Connections(CVRTDriver& driver) {
  std::vector<CVRTComm*> connections;
  driver.GetConnections(&connections);
  return connections;
}

}  // namespace

void SetSerialPortSourceForTesting(SerialPortSource source) {
  std::lock_guard<std::mutex> hold(gPortSourceLock);
  gPortSource = std::move(source);
}

CVRTCommSetupDlg::CVRTCommSetupDlg(CVRTDriver& driver, ui::Toolkit& toolkit)
    : ui::CDialog(toolkit, ui::kDlgCommSetup, &driver), driver_(driver) {}

int CVRTCommSetupDlg::OnInitDialog() {
  InitControls();
  if (Connection != nullptr && !Connection->GetKey().empty()) {
    driver_.Log().WriteLine(
        "COMMSETUPDLG.OnInitDialog: Connection '%s' / COM%d setup dialog opened\n",
        Connection->GetName().c_str(), Connection->GetComPort());
  } else {
    driver_.Log().WriteLine(
        "COMMSETUPDLG.OnInitDialog: Connection setup dialog opened for new connection\n");
  }
  return 1;
}

void CVRTCommSetupDlg::InitControls() {
  if (Connection != nullptr) {
    Win().SetText(kNameEdit, Connection->GetName());
    // The port is closed while the dialog is shown, so that it can be probed
    // like any other.
    if (Connection->PortState() == CVRTSerial::kOpen) Connection->ClosePort();
  }
  FillPortList();
}

void CVRTCommSetupDlg::FillPortList() {
  if (Connection == nullptr) return;
  const SerialPortSource ports = CurrentPortSource();
  const std::string current = "COM" + std::to_string(Connection->GetComPort());
  const std::vector<std::string> names = ports.Names();
  int selection = -1;
  for (size_t i = 0; i < names.size(); ++i) {
    const std::string& name = names[i];
    const int index = static_cast<int>(i);
    if (name.empty()) break;
    std::string entry = name;
    const int numbered = name.size() > 3 ? ui::LeadingDigits(name, 3, 999) : 0;
    if (numbered > 0) entry += ports.Label(std::to_string(numbered));
    // "COM<n>": the number from the fourth character on. A name too short
    // to carry one, or with an absurd number, names no port the driver can
    // open; it is listed as the system reports it, not accessible.
    const int port = name.size() > 3 ? ui::LeadingDigits(name, 3, 999) : 0;
    if (port <= 0 || port > 999) {
      entry += kNotAccessible;
    } else if (ports.Probe(std::to_string(port))) {
      for (CVRTComm* other : Connections(driver_)) {
        if (other == nullptr || other->GetComPort() != port) continue;
        if (IsNew != 0 || Connection->GetComPort() != port) {
          entry += kNotAccessible;
          break;
        }
      }
    } else if (name == current) {
      // The connection's own port may be busy only because the connection
      // holds it.
      const int state = Connection->PortState();
      bool open;
      if (state >= 0)
        open = state == CVRTSerial::kOpen;
      else
        open = Connection->Open() == 1;
      if (!open) entry += kNotAccessible;
    } else {
      entry += kNotAccessible;
    }
    Win().InsertEntry(kPortCombo, index, entry);
    if (name == current) selection = index;
  }
  Win().Enable(kPortCombo, true);
  if (selection != -1 && !Win().SetSelection(kPortCombo, selection)) {
    Win().MessageBox(ui::LoadString(ui::kStringIllegalPort), ui::MsgButtons::kOk,
                     ui::MsgIcon::kInformation);
  }
}

int CVRTCommSetupDlg::GetData() {
  if (Connection == nullptr) return 0;
  ConnectionSettings settings = ConnectionSettings::Of(*Connection);
  settings.Name = Win().GetText(kNameEdit);
  // "COM3 Not Accessible" is port 3; a text without a number none.
  const std::string portText = Win().GetText(kPortCombo);
  settings.ComPort = -1;
  if (portText.size() >= 3) settings.ComPort = ui::LeadingDigits(portText, 3, kHighestComPort);
  const ConnectionSettingsCheck check =
      CheckConnectionSettings(settings, Connections(driver_), Connection);
  if (!check.Accepted()) {
    Win().MessageBox(check.message, ui::MsgButtons::kOk, ui::MsgIcon::kInformation);
    return 0;
  }
  const ConnectionSettings before = ConnectionSettings::Of(*Connection);
  Connection->Apply(settings);
  // A new connection (one without its key yet) is saved by the caller,
  // under the key it gets there (SaveNew).
  if (IsNew != 0 || Connection->GetKey().empty()) return 1;
  int saved = QUARO7_EXCEPTION;
  try {
    saved = Connection->Save();
  } catch (const SettingsError&) {
  }
  if (saved == 1) return 1;
  // As a camera whose save failed: the connection keeps what the file
  // holds, in memory and in the document; the fields keep what was typed.
  Connection->Apply(before);
  try {
    Connection->Save();
  } catch (const SettingsError&) {
  }
  driver_.Log().WriteLine("COMMSETUPDLG.OnOk: Connection %s save failed (error %d).\n",
                          settings.Name.c_str(), saved);
  Win().MessageBox(ui::LoadString(ui::kStringSaveFailed), ui::MsgButtons::kOk,
                   ui::MsgIcon::kExclamation);
  return 0;
}

bool CVRTCommSetupDlg::SaveNew(CVRTDriver& driver, CVRTComm& connection, const std::string& key,
                               const char* where, ui::DialogWindow& shownOn) {
  int saved = QUARO7_EXCEPTION;
  try {
    saved = connection.Save(key);
  } catch (const SettingsError&) {
  }
  if (saved == 1) return true;
  // Its node leaves the document, so that no later write brings it in.
  try {
    SettingsChange([&] { driver.Settings.DeleteKey("settings/" + key); });
  } catch (const SettingsError&) {
  }
  driver.Log().WriteLine("%s: Connection %s save failed (error %d).\n", where,
                         connection.GetName().c_str(), saved);
  shownOn.MessageBox(ui::LoadString(ui::kStringSaveFailed), ui::MsgButtons::kOk,
                     ui::MsgIcon::kExclamation);
  return false;
}

void CVRTCommSetupDlg::ReopenPort() {
  ended_ = true;
  if (Connection == nullptr) return;
  const int state = Connection->PortState();
  // A failed opening is logged by the port; the dialog ends all the same.
  if (state >= 0 && state != CVRTSerial::kOpen) Connection->Open();
}

void CVRTCommSetupDlg::OnOk() {
  if (GetData() == 0) return;
  ReopenPort();
  driver_.Log().WriteLine("COMMSETUPDLG.OnInitDialog: Connection setup dialog closed\n");
  EndDialog(ui::kResultOk);
}

void CVRTCommSetupDlg::OnCancel() {
  ReopenPort();
  EndDialog(ui::kResultCancel);
}

void CVRTCommSetupDlg::OnDestroy() {
  // Ended by the driver rather than by OK or Cancel: the port is given back
  // all the same.
  if (!ended_) ReopenPort();
}
