#include "ptzctl/result_codes.h"

#include "quaro7k7_ptz.h"

namespace ptzctl {
namespace {

struct Entry {
  int code;
  const char* meaning;
};

constexpr Entry kTable[] = {
    {QUARO7_OK, "success"},
    {QUARO7_NO_ANSWER, "no answer"},
    {QUARO7_BAD_ARGUMENT, "bad argument"},
    {QUARO7_LINE_ERROR, "serial line error"},
    {QUARO7_TIMEOUTS_FAILED, "setting the port time-outs failed"},
    {QUARO7_PORT_OPEN_FAILED, "opening the COM port failed"},
    {QUARO7_BAD_PORT_MODE, "bad port mode"},
    {QUARO7_DIALOG_CANCELLED, "dialog closed without OK"},
    {QUARO7_CAMERA_NOT_FOUND, "camera not found"},
    {QUARO7_FAILED, "operation failed"},
    {QUARO7_NOT_SUPPORTED, "not supported"},
    {QUARO7_CAMERA_BUSY, "camera busy"},
    {QUARO7_DUPLICATE_CAMERA_NUMBER, "duplicate camera number"},
    {QUARO7_EXCEPTION, "exception"},
    {QUARO7_NO_SUCH_PRESET, "no such preset"},
    {QUARO7_PRESETS_FULL, "preset storage full"},
    {QUARO7_NO_SUCH_RELAY, "no such relay"},
};

}  // namespace

const char* ResultMeaning(int code) {
  for (const Entry& entry : kTable) {
    if (entry.code == code) return entry.meaning;
  }
  return "unknown result code";
}

std::string DescribeResult(int code) { return std::to_string(code) + " " + ResultMeaning(code); }

std::string ResultTable() {
  std::string text;
  for (const Entry& entry : kTable) {
    std::string code = std::to_string(entry.code);
    text += std::string(5 - code.size(), ' ') + code + "  " + entry.meaning + "\n";
  }
  return text;
}

}  // namespace ptzctl
