// The multimedia timer's millisecond count, sleeping and the local time.
#include <windows.h>
// After windows.h, which it needs.
#include <mmsystem.h>

#include "platform/tick_clock.h"

namespace platform {

uint32_t TickCount() { return timeGetTime(); }

void SleepMs(uint32_t milliseconds) { Sleep(milliseconds); }

LocalTime Now() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  return LocalTime{t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
}

}  // namespace platform
