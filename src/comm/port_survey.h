// The COM ports as the driver sees them: the system's serial ports and the
// network lines beside the library, each with its kind, where it leads and
// whether it can be used now. The connection setup dialog lists them, and
// ptzctl's "ports" command prints them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace netline {

// A network line's probe: a connection made within this time (and closed).
constexpr uint32_t kProbeTimeoutMs = 500;

struct PortReport {
  enum class Kind { kLocal, kRfc2217, kRawTcp, kMalformed };
  std::string name;  // "COM7"
  int number = 0;    // 7; 0 when the name carries no usable number
  Kind kind = Kind::kLocal;
  std::string where;  // device path, or the line's address, or the file
  bool usable = false;
  std::string state;  // "free", "busy or missing", "reachable", "not reachable: ..."
};

const char* KindName(PortReport::Kind kind);

// Every port of the system's list, each probed.
std::vector<PortReport> SurveyPorts();
// One port by its number text ("7"), probed as the survey probes it.
PortReport SurveyPort(const std::string& digits);
// The probe of the connection setup dialog's list.
bool ProbeAnyPort(const std::string& digits);
// What the dialog's list shows after a port's name: " (network rfc2217://...)"
// for a network line, " (network line file not valid)" for a malformed one,
// empty for a local port.
std::string PortLabel(const std::string& digits);

}  // namespace netline
