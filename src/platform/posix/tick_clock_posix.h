// The POSIX tick count's test hook.
#pragma once

#include <cstdint>

namespace platform {

// Moves TickCount() forward by milliseconds for the rest of the process, as
// if that much time had passed (it never goes back). Only for tests: what
// waits for a tick count (timed tasks) sees the time pass at once.
void AdvanceTickCountForTesting(uint32_t milliseconds);

}  // namespace platform
