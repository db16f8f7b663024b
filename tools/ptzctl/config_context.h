// What the config commands share: where they print, whether another process
// has the module started, and how a line is named on the command line.
#pragma once

#include <iosfwd>
#include <string>

#include "ptzctl/config.h"

class CVRTComm;

namespace ptzctl {
namespace config {

using Request = ConfigCommands::Request;

struct Context {
  std::ostream& out;
  std::ostream& err;
  std::istream& in;
  // Another process had the module started on the library when the command
  // began: it goes on with what it read until its next module start.
  bool shared = false;
  bool changed = false;

  // One line of what changed (saved).
  void Changed(const std::string& line);
  // Why nothing was changed, alone on err (a dialog's message exactly as
  // the dialog shows it). Returns the exit status 1.
  int Refused(const std::string& message);
};

// The line named by "COM<n>" (the line on that port) or by its name; null,
// with the reason printed, when there is none or the name is not unique.
CVRTComm* FindLine(Context& context, const std::string& which);
// "comm1: COM7 "Line A""
std::string LineText(CVRTComm* line);
// A name given on the command line, in the settings file's code page; false,
// with the reason printed, when it cannot be (not UTF-8, or a character the
// code page has not).
bool NameArgument(Context& context, const std::string& argument, std::string* name);
// A COM port argument: "7" or "COM7"; -1 for any other text.
int ParsePort(const std::string& text);

int Show(Context& context, bool json);
int AddLine(Context& context, const Request& request);
int SetLine(Context& context, const Request& request);
int RemoveLine(Context& context, const Request& request);
int Ping(Context& context, const Request& request);
int Version(Context& context, const Request& request);
int Reset(Context& context, const Request& request);
int AddCamera(Context& context, const Request& request);
int SetCamera(Context& context, const Request& request);
int RemoveCamera(Context& context, const Request& request);

}  // namespace config
}  // namespace ptzctl
