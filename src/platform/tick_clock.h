// Millisecond tick count, sleeping and the local time of day.
#pragma once

#include <cstdint>

namespace platform {

// Milliseconds since an arbitrary start; wraps at 2^32 like timeGetTime().
uint32_t TickCount();
void SleepMs(uint32_t milliseconds);

struct LocalTime {
  int year, month, day, hour, minute, second;
};
LocalTime Now();

}  // namespace platform
