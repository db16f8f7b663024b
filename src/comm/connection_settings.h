// A connection's settings as one plain value: its name, COM port and port
// mode. The connection setup dialog reads its fields into one; a
// configuration without a window builds one from its arguments. Either way
// the value is checked as a whole (CheckConnectionSettings, with the
// dialog's messages in the dialog's order) before the connection takes it
// (CVRTComm::Apply); saving is the caller's step.
#pragma once

#include <string>
#include <vector>

#include "comm/comm_keys.h"

class CVRTComm;

struct ConnectionSettings {
  std::string Name;
  int ComPort = comm_keys::kDefaultComPort;
  // Empty: the default mode (comm_keys::kDefaultPortMode).
  std::string PortMode = comm_keys::kDefaultPortMode;

  // The connection's settings as they are now.
  static ConnectionSettings Of(const CVRTComm& connection);
};

// The first value a check refused, in the order the connection setup dialog
// checks its fields, with the dialog's message for it.
struct ConnectionSettingsCheck {
  enum Problem {
    kAccepted = 0,
    kNoName,     // the name is empty
    kPort,       // no COM port the settings keep (1 .. kHighestComPort)
    kPortMode,   // a mode string the serial port refuses (no dialog field gives one)
    kPortTaken,  // another connection has the COM port
  };

  Problem problem = kAccepted;
  // The dialog's text (its string table where it has one).
  std::string message;

  bool Accepted() const { return problem == kAccepted; }
};

// Checks settings for connection (nullptr: one not made yet, or one not in
// the list) among the connections given (the driver's list): the name, the
// COM port, the port mode (one the connection does not have yet), then the
// port among the others.
ConnectionSettingsCheck CheckConnectionSettings(const ConnectionSettings& settings,
                                                const std::vector<CVRTComm*>& connections,
                                                const CVRTComm* connection);
