// COptex's system objects on Windows: a named file mapping of the paging
// file for the shared block and a named auto-reset event, both kept alive by
// the system for as long as any process holds a handle.
#include "platform/optex_os.h"

#include <windows.h>

#include <new>
#include <string>

#include "platform/process_end.h"

namespace platform {

namespace {

// The names arrive as UTF-8; the system's wide functions take them whole.
std::wstring Widen(const char* text) {
  const int n = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text, -1, &wide[0], n);
  wide.resize(static_cast<size_t>(n - 1));
  return wide;
}

}  // namespace

struct OptexSection {
  HANDLE mapping;
  void* view;
};

struct OptexEvent {
  HANDLE handle;
  bool shared;  // named: other processes wait on it and signal it too
};

OptexSection* OpenOptexSection(const char* sectionName, void** block, uint32_t* error) {
  *error = 0;
  const std::wstring name = Widen(sectionName);
  if (name.empty()) {
    *error = ERROR_INVALID_NAME;
    return nullptr;
  }
  HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                      kOptexBlockSize, name.c_str());
  if (mapping == nullptr) {
    *error = GetLastError();
    return nullptr;
  }
  void* view = MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, kOptexBlockSize);
  if (view == nullptr) {
    *error = GetLastError();
    CloseHandle(mapping);
    return nullptr;
  }
  auto* section = new (std::nothrow) OptexSection{mapping, view};
  if (section == nullptr) {
    *error = ERROR_NOT_ENOUGH_MEMORY;
    UnmapViewOfFile(view);
    CloseHandle(mapping);
    return nullptr;
  }
  *block = view;
  return section;
}

void CloseOptexSection(OptexSection* section) {
  if (section == nullptr) return;
  UnmapViewOfFile(section->view);
  CloseHandle(section->mapping);
  delete section;
}

OptexEvent* OpenOptexEvent(const char* eventName, OptexSection* /*section*/, uint32_t* error) {
  *error = 0;
  HANDLE handle;
  if (eventName == nullptr) {
    handle = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  } else {
    const std::wstring name = Widen(eventName);
    if (name.empty()) {
      *error = ERROR_INVALID_NAME;
      return nullptr;
    }
    handle = CreateEventW(nullptr, FALSE, FALSE, name.c_str());
  }
  if (handle == nullptr) {
    *error = GetLastError();
    return nullptr;
  }
  auto* event = new (std::nothrow) OptexEvent{handle, eventName != nullptr};
  if (event == nullptr) {
    *error = ERROR_NOT_ENOUGH_MEMORY;
    CloseHandle(handle);
  }
  return event;
}

void WaitOptexEvent(OptexEvent* event) {
  // While the process ends, the owner of a lock of this process alone was
  // stopped by the system and never signals, and no other thread of the
  // process runs: the lock is taken over at once. A lock shared with other
  // processes may be held by a live one and is waited for as always.
  if (ProcessIsEnding() && !event->shared) return;
  WaitForSingleObject(event->handle, INFINITE);
}

void SignalOptexEvent(OptexEvent* event) { SetEvent(event->handle); }

void CloseOptexEvent(OptexEvent* event) {
  if (event == nullptr) return;
  CloseHandle(event->handle);
  delete event;
}

uint32_t CurrentThreadId() { return GetCurrentThreadId(); }

uint32_t ProcessorCount() {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwNumberOfProcessors > 0 ? info.dwNumberOfProcessors : 1;
}

}  // namespace platform
