// The camera's number keys in its subtree of the settings file, described
// once: key (named as the camera's member that holds it), the value of a
// camera that has not been loaded, what a stored -1 loads as, the range the
// setup dialog keeps the value in, and what a loaded value outside that
// range becomes. Save writes the keys in this order, after "/Name" (stored
// files are compared byte for byte: keep the order). Load reads them all,
// and applies its rules from here.
//
// Free of the driver's other headers, so that test fixtures and tools that
// write settings files take the names and values from here too.
#pragma once

#include <cstdint>
#include <limits>

namespace camera_keys {

// "minus one" column: a stored -1 is read as any other value.
constexpr int32_t kAsRead = std::numeric_limits<int32_t>::min();
// "outside" column: a loaded value outside the range stays as read (the
// range is the dialog's only), or becomes the nearer bound.
constexpr int32_t kKeep = std::numeric_limits<int32_t>::min();
constexpr int32_t kClamp = std::numeric_limits<int32_t>::min() + 1;
// No bound.
constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
constexpr int32_t kMax = std::numeric_limits<int32_t>::max();

constexpr int kMaxRelays = 8;
constexpr int kMaxStorageLocations = 256;
constexpr int kMaxControlMonitor = 16;
// 0 to 127 name a node; 128: the dome has none.
constexpr int kNoNode = 128;

// X(member, initial, minus one, low, high, outside), in the order Save
// writes them.
// clang-format off
#define QUARO7_CAMERA_NUMBER_KEYS(X)                                                 \
  X(TavoID,              -1,   kAsRead, kMin, kMax,                 kKeep)          \
  X(SysID,               -1,   kAsRead, kMin, kMax,                 kKeep)          \
  X(CamAccFactor,         6,   kAsRead, 1,    11,                   kKeep)          \
  X(CamAccDefaultState,   1,   kAsRead, kMin, kMax,                 kKeep)          \
  X(CamAccDefault,        6,   kAsRead, kMin, kMax,                 kKeep)          \
  X(NodeAddress,          0,   kNoNode, 0,    kNoNode,              kKeep)          \
  X(WaitForResponse,      1,   kAsRead, 0,    kMax,                 1)              \
  X(WashPulseTime,       3000, kAsRead, kMin, kMax,                 kKeep)          \
  X(NofStorageLocations,  99,  kAsRead, 1,    kMaxStorageLocations, kKeep)          \
  X(DefaultPreposSpeed,   90,  kAsRead, 1,    100,                  kKeep)          \
  X(DefaultLensSlow,      0,   kAsRead, kMin, kMax,                 kKeep)          \
  X(ControlMonitor,       -1,  kAsRead, 1,    kMaxControlMonitor,   kKeep)          \
  X(NofRelays,            3,   3,       0,    kMaxRelays,           kClamp)         \
  X(AutoFocus,            1,   1,       kMin, kMax,                 kKeep)          \
  X(AutoIris,             1,   1,       kMin, kMax,                 kKeep)          \
  X(Aux1Func,             0,   kAsRead, 0,    3,                    0)              \
  X(Aux2Func,             0,   kAsRead, 0,    3,                    0)              \
  X(Aux3Func,             0,   kAsRead, 0,    3,                    0)
// clang-format on

// The camera's text key, written and read before the numbers.
constexpr const char kName[] = "/Name";

struct NumberKey {
  const char* key;  // "/TavoID"
  int32_t initial;
  int32_t minusOne;
  int32_t low;
  int32_t high;
  int32_t outside;

  constexpr bool InRange(int32_t value) const { return value >= low && value <= high; }
  // The value a camera takes from the number read from the file.
  constexpr int32_t Loaded(int32_t read) const {
    if (read == -1 && minusOne != kAsRead) read = minusOne;
    if (InRange(read) || outside == kKeep) return read;
    if (outside == kClamp) return read < low ? low : high;
    return outside;
  }
};

enum Index {
#define QUARO7_CAMERA_KEY_INDEX(member, ...) member,
  QUARO7_CAMERA_NUMBER_KEYS(QUARO7_CAMERA_KEY_INDEX)
#undef QUARO7_CAMERA_KEY_INDEX
      kCount
};

inline constexpr NumberKey kNumberKeys[] = {
#define QUARO7_CAMERA_KEY_ROW(member, initial, minusOne, low, high, outside) \
  {"/" #member, initial, minusOne, low, high, outside},
    QUARO7_CAMERA_NUMBER_KEYS(QUARO7_CAMERA_KEY_ROW)
#undef QUARO7_CAMERA_KEY_ROW
};
static_assert(sizeof kNumberKeys / sizeof kNumberKeys[0] == kCount, "one row per key");

constexpr const NumberKey& Of(Index index) { return kNumberKeys[index]; }
// The key's name without its slash ("TavoID"), as an element name.
constexpr const char* ElementName(Index index) { return Of(index).key + 1; }

}  // namespace camera_keys
