// Numbers as the log shows them.
#pragma once

#include <cstdint>

// The host's 0-based camera number as log lines show it, counted from 1. Any
// 32-bit number may come from the host or the settings file: the largest one
// shows as the smallest (the 32-bit sum wraps) instead of overflowing.
inline int32_t OneBased(int32_t number) {
  return static_cast<int32_t>(static_cast<uint32_t>(number) + 1u);
}
