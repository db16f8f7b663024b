// CVRTCommSetupDlg, "Connection Setup": the name and the serial port of one
// connection, with the system's ports listed and probed.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "comm/comm_keys.h"
#include "ui/control_ids.h"
#include "ui/dialog.h"

class CVRTComm;
class CVRTDriver;

// The system's serial ports as the port list shows them, the probe of one
// port by its number text ("3" for COM3), and what the list shows after a
// port's name (a network line's address).
struct SerialPortSource {
  std::function<std::vector<std::string>()> Names;
  std::function<bool(const std::string& digits)> Probe;
  std::function<std::string(const std::string& digits)> Label;
};
// Replaces the system's ports (for tests); an empty source restores them.
void SetSerialPortSourceForTesting(SerialPortSource source);

class CVRTCommSetupDlg : public ui::CDialog, public ui::CommSetupIds {
 public:
  // The highest COM port number a connection's settings keep.
  static constexpr int kHighestComPort = comm_keys::kHighestComPort;

  CVRTCommSetupDlg(CVRTDriver& driver, ui::Toolkit& toolkit);

  // The connection being edited (not owned); set before the dialog is shown.
  CVRTComm* Connection = nullptr;
  // 1 when the connection is new and not yet in the driver's list.
  int IsNew = 0;

  // Saves a connection made in this dialog under its new key: true, or
  // false after a failure (its node left the document; logged with where,
  // and the message shown on shownOn).
  static bool SaveNew(CVRTDriver& driver, CVRTComm& connection, const std::string& key,
                      const char* where, ui::DialogWindow& shownOn);

  int OnInitDialog() override;
  void OnOk() override;
  void OnCancel() override;
  void OnDestroy() override;

 protected:
  void InitControls();
  void FillPortList();
  // Checks the fields and gives the connection its name and port, saved at
  // once unless the connection is new: 1, or 0 (a message was shown; after
  // a failed save the connection is as it was).
  int GetData();
  // Opens the connection's port object again when it is not open.
  void ReopenPort();

  CVRTDriver& driver_;
  bool ended_ = false;
};
