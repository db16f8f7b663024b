#include "comm/connection_settings.h"

#include <memory>

#include "comm/comm.h"
#include "platform/serial_device.h"
#include "ui/resources.h"

namespace {

using ui::kStringNameMissing;
using ui::kStringIllegalPort;
using ui::kStringPortReserved;

ConnectionSettingsCheck Refused(ConnectionSettingsCheck::Problem problem, std::string message) {
  ConnectionSettingsCheck check;
  check.problem = problem;
  check.message = std::move(message);
  return check;
}

}  // namespace

ConnectionSettings ConnectionSettings::Of(const CVRTComm& connection) {
  ConnectionSettings settings;
  settings.Name = connection.GetName();
  settings.ComPort = connection.GetComPort();
  settings.PortMode = connection.GetPortMode();
  return settings;
}

ConnectionSettingsCheck CheckConnectionSettings(const ConnectionSettings& settings,
                                                const std::vector<CVRTComm*>& connections,
                                                const CVRTComm* connection) {
  using Check = ConnectionSettingsCheck;
  if (settings.Name.empty()) return Refused(Check::kNoName, ui::LoadString(kStringNameMissing));
  // A port above the highest the settings keep would come back as COM1.
  if (settings.ComPort <= 0 || settings.ComPort > comm_keys::kHighestComPort)
    return Refused(Check::kPort, ui::LoadString(kStringIllegalPort));
  // The mode is built as the port builds it when it opens; nothing is
  // opened here. A mode the connection has already is not judged again (the
  // setup dialog has no field for it: a name or port changed there must not
  // be refused for a mode the file gave).
  const bool newMode = !settings.PortMode.empty() &&
                       (connection == nullptr || settings.PortMode != connection->GetPortMode());
  const std::unique_ptr<platform::SerialDevice> device =
      newMode ? platform::SerialDevice::Create() : nullptr;
  if (device != nullptr && !device->BuildSettings(settings.PortMode)) {
    return Refused(Check::kPortMode, "Illegal port mode '" + settings.PortMode +
                                         "'. Give it as the MODE command takes it, e.g. " +
                                         comm_keys::kDefaultPortMode + ".");
  }
  for (const CVRTComm* other : connections) {
    if (other != nullptr && other != connection && other->GetComPort() == settings.ComPort)
      return Refused(Check::kPortTaken, ui::LoadString(kStringPortReserved));
  }
  return Check();
}
