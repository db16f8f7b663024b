// config show: the driver's lines and cameras as it loaded them from the
// settings file, read once into one JSON document (keys named as the
// settings file names them) and printed either as that document or as text.
#include <nlohmann/json.hpp>
#include <ostream>
#include <vector>

#include "comm/comm.h"
#include "comm/port_survey.h"
#include "driver/driver.h"
#include "platform/serial_device.h"
#include "ptzctl/config_context.h"
#include "ptzctl/config_text.h"

namespace ptzctl {
namespace config {

namespace {

using Json = nlohmann::ordered_json;

Json LineDocument(CVRTComm* line) {
  Json doc;
  doc["key"] = line->GetKey();
  doc["Name"] = ToUtf8(line->GetName());
  doc["ComPort"] = line->GetComPort();
  doc["PortMode"] = ToUtf8(line->GetPortMode());
  const std::unique_ptr<platform::SerialDevice> device = platform::SerialDevice::Create();
  doc["port"] = device != nullptr ? device->DevicePath(line->GetComPort()) : std::string();
  // A network line: where it leads, as the connection setup dialog says it.
  const std::string label = netline::PortLabel(std::to_string(line->GetComPort()));
  const std::string prefix = " (network ";
  if (label.size() > prefix.size() + 1 && label.compare(0, prefix.size(), prefix) == 0)
    doc["network"] = label.substr(prefix.size(), label.size() - prefix.size() - 1);
  doc["cameras"] = CamerasDocument(line);
  return doc;
}

void PrintText(std::ostream& out, const Json& doc) {
  out << "settings file " << doc["settings"].get<std::string>() << "\n";
  if (doc["lines"].empty()) out << "no lines\n";
  for (const Json& line : doc["lines"]) {
    out << "line " << line["key"].get<std::string>() << ": COM" << line["ComPort"].get<int>() << " "
        << TextQuoted(line["Name"].get<std::string>()) << ", mode "
        << line["PortMode"].get<std::string>() << ", port " << line["port"].get<std::string>();
    if (line.contains("network")) out << " (network " << line["network"].get<std::string>() << ")";
    out << "\n";
    PrintCamerasText(out, line["cameras"]);
  }
}

}  // namespace

int Show(Context& context, bool json) {
  Json doc;
  doc["settings"] = Driver().Settings.FilePath();
  doc["lines"] = Json::array();
  std::vector<CVRTComm*> lines;
  Driver().GetConnections(&lines);
  for (CVRTComm* line : lines) doc["lines"].push_back(LineDocument(line));
  if (json) {
    context.out << doc.dump(2) << "\n";
  } else {
    PrintText(context.out, doc);
  }
  return 0;
}

}  // namespace config
}  // namespace ptzctl
