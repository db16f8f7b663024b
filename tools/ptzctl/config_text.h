// Texts between the driver and the command line: the driver's names are in
// the settings file's code page, the command line and JSON speak UTF-8.
#pragma once

#include <iosfwd>
#include <nlohmann/json.hpp>
#include <string>

class CVRTComm;

namespace ptzctl {
namespace config {

// The one pair of conversions between the driver's texts and the command
// line: the driver's code page (the dialogs' conversion) and UTF-8.
// A driver text (code page) as UTF-8.
std::string ToUtf8(const std::string& text);
// A text from the command line in the driver's code page: false (and
// *converted untouched) when it is not UTF-8 or holds a character the code
// page has not.
bool FromArgument(const std::string& text, std::string* converted);
// A UTF-8 text in double quotes, with " and \ escaped and control
// characters as \xNN.
std::string TextQuoted(const std::string& utf8);
// A driver text as the commands print it: TextQuoted(ToUtf8(text)).
std::string Shown(const std::string& text);

// The cameras of a line as JSON (config_cameras.cpp) and as text.
nlohmann::ordered_json CamerasDocument(CVRTComm* line);
void PrintCamerasText(std::ostream& out, const nlohmann::ordered_json& cameras);

}  // namespace config
}  // namespace ptzctl
