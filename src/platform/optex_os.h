// The system objects under COptex: the block of lock state (private, or a
// named section shared by every process that opens the same name), the
// auto-reset event the waiting threads block on, the thread id and the number
// of processors.
#pragma once

#include <cstdint>

namespace platform {

// Size of the lock state shared between processes: four 32-bit fields.
constexpr uint32_t kOptexBlockSize = 16;

// Opaque system objects; each platform defines them.
struct OptexSection;
struct OptexEvent;

// Creates, or opens when it exists, the named section `sectionName` and maps
// it: *block points to kOptexBlockSize bytes, zero-filled when the section is
// new, shared with every process that has the same name open. A section that
// no live process holds any more (its users ended without closing it) counts
// as new. Null on failure, with the system error in *error.
OptexSection* OpenOptexSection(const char* sectionName, void** block, uint32_t* error);
// Unmaps the section; the last process to close it removes it.
void CloseOptexSection(OptexSection* section);

// Creates the event: with a null name a process-local one; otherwise the
// named event `eventName` of the lock whose section is `section` (created, or
// opened when it exists). The event starts non-signalled; SignalOptexEvent
// releases exactly one thread that waits or will wait next. Null on failure,
// with the system error in *error.
OptexEvent* OpenOptexEvent(const char* eventName, OptexSection* section, uint32_t* error);
// Blocks without a time limit until the event is signalled; while the
// process ends (platform/process_end.h), a process-local event is not
// waited for: its signaller was stopped with every other thread.
void WaitOptexEvent(OptexEvent* event);
void SignalOptexEvent(OptexEvent* event);
// Closed before the section it belongs to.
void CloseOptexEvent(OptexEvent* event);

// The system's id of the calling thread: never 0, unique among the live
// threads of all processes.
uint32_t CurrentThreadId();
// Number of processors the system runs on (at least 1).
uint32_t ProcessorCount();

}  // namespace platform
