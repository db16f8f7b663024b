#include "comm/protocol.h"

#include <cstring>
#include <vector>

namespace quaro7 {

static std::string Head(int nodeAddress, int command) {
  if (nodeAddress == kNoNode) return "@" + std::to_string(command);
  return "$" + std::to_string(nodeAddress) + "," + std::to_string(command);
}

std::string Line(int nodeAddress, int command) { return Head(nodeAddress, command) + "\r"; }

std::string Line(int nodeAddress, int command, int a) {
  return Head(nodeAddress, command) + "," + std::to_string(a) + "\r";
}

std::string Line(int nodeAddress, int command, int a, int b) {
  return Head(nodeAddress, command) + "," + std::to_string(a) + "," + std::to_string(b) + "\r";
}

std::string Line(int nodeAddress, int command, const char* function) {
  return Head(nodeAddress, command) + "," + (function ? function : "") + "\r";
}

int SpeedPercent(int camAccFactor, int speedCode) {
  // Rows are camera speed levels 1..11, columns the bands of the host's
  // speed code: A = 1..7, B = 8..9, C = 10..16. Every row grows with the
  // level and every band with the code.
  static const int kTable[11][3] = {
      {18, 18, 18}, {24, 26, 30}, {24, 32, 40},  {36, 42, 50},  {44, 52, 60},    {54, 62, 70},
      {64, 72, 80}, {72, 80, 90}, {83, 91, 100}, {92, 96, 100}, {100, 100, 100},
  };
  if (camAccFactor > 11) return 70;
  const int row = camAccFactor < 1 ? 1 : camAccFactor - 1;
  if (speedCode < 1 || speedCode > 16) speedCode = 8;
  const int band = speedCode <= 7 ? 0 : (speedCode <= 9 ? 1 : 2);
  return kTable[row][band];
}

const char* RelayFunctionCode(int relayIndex, int auxFunction) {
  static const char* const kOwnOutput[3] = {"18", "13", "24"};
  if (relayIndex < 0 || relayIndex > 2) return nullptr;
  switch (auxFunction) {
    case 0:
      return kOwnOutput[relayIndex];
    case 1:
      return "12";  // washer
    case 2:
      return "19";  // wiper
    case 3:
      return "21";  // lamps
    default:
      return nullptr;
  }
}

bool IsAcceptedReply(const char* reply, size_t length) {
  if (reply == nullptr || length < 2) return false;
  return (reply[0] == 'O' && reply[1] == 'K') || (reply[0] == 'N' && reply[1] == 'I') ||
         (reply[0] == 'O' && reply[1] == 'L');
}

std::string ParseVersionReply(const char* reply, size_t length) {
  if (reply == nullptr) return "...";
  // The reply ends at its first zero byte, if any arrived.
  const void* zero = std::memchr(reply, 0, length);
  if (zero != nullptr) length = static_cast<size_t>(static_cast<const char*>(zero) - reply);
  if (length <= 2 || (reply[0] == 'E' && reply[1] == 'R')) return "...";
  std::vector<std::string> fields(1);
  for (size_t i = 2; i < length && reply[i] != '\r'; ++i) {
    if (reply[i] == ',')
      fields.emplace_back();
    else
      fields.back() += reply[i];
  }
  // Fields are joined in pairs ("1.23, 4.56"); a trailing single field is
  // appended after a full stop.
  std::string text;
  size_t i = 0;
  for (; i + 1 < fields.size(); i += 2) {
    if (!text.empty()) text += ", ";
    text += fields[i] + "." + fields[i + 1];
  }
  if (i < fields.size()) text += "." + fields[i];
  return text;
}

}  // namespace quaro7
