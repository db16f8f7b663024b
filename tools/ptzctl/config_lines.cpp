// The line commands: add-line, set-line, remove-line, each checked as the
// connection setup dialog checks its fields and saved as the driver setup
// dialog saves the line.
#include <cctype>
#include <memory>
#include <ostream>
#include <vector>

#include "camera/camera.h"
#include "comm/comm.h"
#include "comm/connection_settings.h"
#include "driver/driver.h"
#include "ptzctl/config_context.h"
#include "ptzctl/config_text.h"
#include "ptzctl/result_codes.h"
#include "ptzctl/session.h"
#include "ui/dialog_numbers.h"

namespace ptzctl {
namespace config {

namespace {

std::vector<CVRTComm*> Lines() {
  std::vector<CVRTComm*> lines;
  Driver().GetConnections(&lines);
  return lines;
}

bool HasComPrefix(const std::string& text) {
  return text.size() > 3 && std::toupper(static_cast<unsigned char>(text[0])) == 'C' &&
         std::toupper(static_cast<unsigned char>(text[1])) == 'O' &&
         std::toupper(static_cast<unsigned char>(text[2])) == 'M';
}

// A failed save: nothing of the change is in the file.
int SaveFailed(Context& context, int result) {
  context.err << "ptzctl config: the driver could not save the settings file: "
              << DescribeResult(result) << " (its log says why)\n";
  return 1;
}

std::string Describe(const ConnectionSettings& s) {
  return "COM" + std::to_string(s.ComPort) + " " + Shown(s.Name) + ", mode " + s.PortMode;
}

}  // namespace

void Context::Changed(const std::string& line) {
  changed = true;
  out << line << "\n";
}

int Context::Refused(const std::string& message) {
  err << message << "\n";
  return 1;
}

bool NameArgument(Context& context, const std::string& argument, std::string* name) {
  if (FromArgument(argument, name)) return true;
  context.Refused("ptzctl config: " + TextQuoted(argument) +
                  " is not UTF-8 text or has a character the settings file cannot hold");
  return false;
}

int ParsePort(const std::string& text) {
  int port = -1;
  const std::string digits = HasComPrefix(text) ? text.substr(3) : text;
  if (!ui::ParseNumber(digits, &port)) return -1;
  return port;
}

std::string LineText(CVRTComm* line) {
  return line->GetKey() + ": COM" + std::to_string(line->GetComPort()) + " " +
         Shown(line->GetName());
}

CVRTComm* FindLine(Context& context, const std::string& which) {
  const std::vector<CVRTComm*> lines = Lines();
  if (HasComPrefix(which)) {
    const int port = ParsePort(which);
    for (CVRTComm* line : lines)
      if (line->GetComPort() == port) return line;
  }
  std::vector<CVRTComm*> named;
  std::string name;
  if (FromArgument(which, &name)) {
    for (CVRTComm* line : lines)
      if (line->GetName() == name) named.push_back(line);
  }
  if (named.size() == 1) return named.front();
  if (named.empty()) {
    context.err << "ptzctl config: no line on " << which << " or named " << TextQuoted(which)
                << "\n";
  } else {
    context.err << "ptzctl config: " << named.size() << " lines are named " << TextQuoted(which)
                << ": name the line by its COM port\n";
  }
  return nullptr;
}

int AddLine(Context& context, const Request& request) {
  CVRTDriver& driver = Driver();
  ConnectionSettings settings;
  if (!NameArgument(context, request.name.value_or(""), &settings.Name)) return 1;
  settings.ComPort = ParsePort(request.port.value_or(""));
  if (request.mode) settings.PortMode = *request.mode;
  const ConnectionSettingsCheck check = CheckConnectionSettings(settings, Lines(), nullptr);
  if (!check.Accepted()) return context.Refused(check.message);
  std::string key;
  if (driver.GetFreeConnectionName(&key) != 1)
    return context.Refused("ptzctl config: the settings file has no free line key left");
  auto line = std::make_unique<CVRTComm>();
  line->SetOption(driver.ConnectionOption);
  line->Apply(settings);
  const int saved = line->Save(key);
  if (saved != 1) return SaveFailed(context, saved);
  CVRTComm* added = line.get();
  driver.AddConnection(std::move(line));
  context.Changed("added line " + key + ": " + Describe(ConnectionSettings::Of(*added)));
  return 0;
}

int SetLine(Context& context, const Request& request) {
  CVRTComm* line = FindLine(context, request.line);
  if (line == nullptr) return 1;
  const ConnectionSettings before = ConnectionSettings::Of(*line);
  ConnectionSettings settings = before;
  if (request.name && !NameArgument(context, *request.name, &settings.Name)) return 1;
  if (request.port) settings.ComPort = ParsePort(*request.port);
  if (request.mode) settings.PortMode = *request.mode;
  const ConnectionSettingsCheck check = CheckConnectionSettings(settings, Lines(), line);
  if (!check.Accepted()) return context.Refused(check.message);
  if (settings.PortMode.empty()) settings.PortMode = comm_keys::kDefaultPortMode;
  if (settings.Name == before.Name && settings.ComPort == before.ComPort &&
      settings.PortMode == before.PortMode) {
    context.out << "line " << LineText(line) << ": nothing to change\n";
    return 0;
  }
  line->Apply(settings);
  const int saved = line->Save();
  if (saved != 1) {
    line->Apply(before);
    return SaveFailed(context, saved);
  }
  std::string what;
  if (settings.Name != before.Name)
    what += ", Name " + Shown(before.Name) + " -> " + Shown(settings.Name);
  if (settings.ComPort != before.ComPort)
    what +=
        ", ComPort " + std::to_string(before.ComPort) + " -> " + std::to_string(settings.ComPort);
  if (settings.PortMode != before.PortMode)
    what += ", PortMode " + before.PortMode + " -> " + settings.PortMode;
  context.Changed("changed line " + line->GetKey() + what);
  return 0;
}

int RemoveLine(Context& context, const Request& request) {
  CVRTComm* line = FindLine(context, request.line);
  if (line == nullptr) return 1;
  const int cameras = line->CameraCount();
  const std::string text = LineText(line);
  if (cameras > 0 && !request.with_cameras) {
    return context.Refused("ptzctl config: line " + text + " has " + std::to_string(cameras) +
                           (cameras == 1 ? " camera" : " cameras") +
                           ": remove them first, or give --with-cameras");
  }
  // The remaining lines are saved again as comm1 ... commN, as the driver
  // setup dialog's "Remove Connection" leaves them.
  const int removed = Driver().DeleteConnection(line);
  if (removed != 1) return SaveFailed(context, removed);
  std::string what = "removed line " + text;
  if (cameras > 0)
    what += " with " + std::to_string(cameras) + (cameras == 1 ? " camera" : " cameras");
  context.Changed(what);
  return 0;
}

}  // namespace config
}  // namespace ptzctl
