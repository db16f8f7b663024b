// Texts between the driver and the command line: the driver's names are in
// the settings file's code page, the command line and JSON speak UTF-8.
#pragma once

#include <iosfwd>
#include <nlohmann/json.hpp>
#include <string>

class CVRTComm;

namespace ptzctl {
namespace config {

// A driver text (code page) as UTF-8.
std::string ToUtf8(const std::string& text);
// A UTF-8 text in double quotes, with " and \ escaped and control
// characters as \xNN.
std::string TextQuoted(const std::string& utf8);

// The cameras of a line as JSON (config_cameras.cpp) and as text.
nlohmann::ordered_json CamerasDocument(CVRTComm* line);
void PrintCamerasText(std::ostream& out, const nlohmann::ordered_json& cameras);

}  // namespace config
}  // namespace ptzctl
