// The QUARO7 command lines as the driver builds them, the speed table and the
// reading of replies. Pure functions: no port, no camera, no lock.
#pragma once

#include <cstddef>
#include <string>

namespace quaro7 {

// NodeAddress of a dome without a node: commands take the direct "@" form.
constexpr int kNoNode = 128;

// Command numbers.
enum Command {
  kSelectMonitor = 2,
  kSelectCamera = 3,
  kReset = 4,
  kFunctionOn = 5,
  kFunctionOff = 6,
  kSpeed = 7,
  kGotoPreset = 8,
  kStorePreset = 9,
  kGotoPresetAtSpeed = 16,
  kMenuKey = 47,
  kVersion = 55,
};

// Function codes of commands 5 and 6.
namespace fn {
constexpr const char* kPanRight = "2";
constexpr const char* kPanLeft = "3";
constexpr const char* kTiltUp = "4";
constexpr const char* kTiltDown = "5";
constexpr const char* kZoomMode0 = "6";
constexpr const char* kZoomMode1 = "7";
constexpr const char* kFocusMode0 = "8";
constexpr const char* kFocusMode1 = "9";
constexpr const char* kIrisMode1 = "10";
constexpr const char* kIrisMode0 = "11";
constexpr const char* kLensSlow = "22";
constexpr const char* kFollowUp = "23";
}  // namespace fn

// "@5,3\r" for a dome without a node, "$7,5,3\r" behind node 7. Arguments are
// given as text; numbers as decimal.
std::string Line(int nodeAddress, int command);
std::string Line(int nodeAddress, int command, int a);
std::string Line(int nodeAddress, int command, int a, int b);
std::string Line(int nodeAddress, int command, const char* function);

// Dome speed in percent for a host speed code (1..16) at a camera speed
// level (CamAccFactor 1..11). Codes outside 1..16 count as 8.
int SpeedPercent(int camAccFactor, int speedCode);

// Pan speed of a diagonal move: 5 points above the tilt speed, at most 100.
inline int DiagonalPanPercent(int percent) { return percent < 96 ? percent + 5 : 100; }

// Function code that switches relay 0..2 for the aux function 0..3 of that
// relay; nullptr for a function outside 0..3.
const char* RelayFunctionCode(int relayIndex, int auxFunction);

// A reply the driver accepts: "OK", "NI" or "OL" in its first two bytes.
bool IsAcceptedReply(const char* reply, size_t length);

// The dome's software versions from a reply to "@55": "OK1,23,4,56\r" gives
// "1.23, 4.56"; a reply of two characters or fewer, or one starting with
// "ER", gives "...". Only the received bytes are read.
std::string ParseVersionReply(const char* reply, size_t length);

}  // namespace quaro7
