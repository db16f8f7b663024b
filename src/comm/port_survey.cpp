#include "comm/port_survey.h"

#include <cctype>
#include <memory>

#include "comm/line_entry.h"
#include "platform/serial_device.h"
#include "platform/serial_port_list.h"
#include "platform/tcp_socket.h"

namespace netline {
namespace {

constexpr int kHighestPort = 255;

int NumberOf(const std::string& digits) {
  if (digits.empty() || digits.size() > 3) return 0;
  int n = 0;
  for (char c : digits) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return 0;
    n = n * 10 + (c - '0');
  }
  return n <= kHighestPort ? n : 0;
}

PortReport Probe(int number, const std::string& name) {
  PortReport report;
  report.name = name;
  report.number = number;
  if (number <= 0) {
    report.state = "no port number";
    return report;
  }
  Address address;
  std::string text, why, path;
  switch (LookUpPort(number, &address, &text, &why, &path)) {
    case EntryKind::kLocal: {
      report.where = platform::SerialDevice::Create()->DevicePath(number);
      report.usable = platform::ProbePort(std::to_string(number));
      report.state = report.usable ? "free" : "busy or missing";
      return report;
    }
    case EntryKind::kMalformed:
      report.kind = PortReport::Kind::kMalformed;
      report.where = path;
      report.state = "not a network line (" + why + "): \"" + Quoted(text) + "\"";
      return report;
    case EntryKind::kNetwork:
      break;
  }
  report.kind =
      address.kind == Kind::kRfc2217 ? PortReport::Kind::kRfc2217 : PortReport::Kind::kRawTcp;
  report.where = address.Text();
  std::unique_ptr<platform::TcpSocket> socket = platform::TcpSocket::Create();
  report.usable = socket->Connect(address.host, address.port, kProbeTimeoutMs) == 0;
  report.state = report.usable ? "reachable" : "not reachable: " + socket->LastErrorText();
  socket->Close();
  return report;
}

}  // namespace

const char* KindName(PortReport::Kind kind) {
  switch (kind) {
    case PortReport::Kind::kLocal:
      return "serial";
    case PortReport::Kind::kRfc2217:
      return "rfc2217";
    case PortReport::Kind::kRawTcp:
      return "tcp";
    case PortReport::Kind::kMalformed:
      return "invalid";
  }
  return "serial";
}

std::vector<PortReport> SurveyPorts() {
  std::vector<PortReport> reports;
  for (const std::string& name : platform::SerialPortNames()) {
    const int number = name.size() > 3 ? NumberOf(name.substr(3)) : 0;
    reports.push_back(Probe(number, name));
  }
  return reports;
}

PortReport SurveyPort(const std::string& digits) { return Probe(NumberOf(digits), "COM" + digits); }

bool ProbeAnyPort(const std::string& digits) { return SurveyPort(digits).usable; }

std::string PortLabel(const std::string& digits) {
  Address address;
  switch (LookUpPort(NumberOf(digits), &address, nullptr, nullptr, nullptr)) {
    case EntryKind::kNetwork:
      return " (network " + address.Text() + ")";
    case EntryKind::kMalformed:
      return " (network line file not valid)";
    case EntryKind::kLocal:
      break;
  }
  return std::string();
}

}  // namespace netline
