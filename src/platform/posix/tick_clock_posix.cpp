// Millisecond ticks from the monotonic clock, sleeping and local time.
#include "platform/posix/tick_clock_posix.h"

#include <errno.h>
#include <time.h>

#include <atomic>

#include "platform/tick_clock.h"

namespace platform {

namespace {
std::atomic<uint64_t> advancedMs{0};
}  // namespace

void AdvanceTickCountForTesting(uint32_t milliseconds) { advancedMs += milliseconds; }

uint32_t TickCount() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  const uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u +
                      static_cast<uint64_t>(ts.tv_nsec) / 1000000u + advancedMs.load();
  return static_cast<uint32_t>(ms);  // wraps at 2^32 like the Windows tick count
}

void SleepMs(uint32_t milliseconds) {
  timespec left{static_cast<time_t>(milliseconds / 1000),
                static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

LocalTime Now() {
  const time_t now = time(nullptr);
  tm local{};
  if (localtime_r(&now, &local) == nullptr) return LocalTime{1970, 1, 1, 0, 0, 0};
  return LocalTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                   local.tm_hour,        local.tm_min,     local.tm_sec};
}

}  // namespace platform
