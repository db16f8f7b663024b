// Library users on Windows: a named mutex per library file, which each user
// holds a handle of (not the mutex itself); the name exists as long as one
// handle does, and the system closes a process's handles when it ends.
#include <windows.h>

#include <new>

#include "platform/library_users.h"

namespace platform {

namespace {

// Windows names are not case-sensitive: the name is made of the path's
// letters in one case.
std::string MarkName(const std::string& path) {
  uint32_t hash = 2166136261u;
  for (const char ch : path) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c - 'A' + 'a');
    if (c == '/') c = '\\';
    hash = (hash ^ c) * 16777619u;
  }
  char name[64];
  wsprintfA(name, "QUARO7K7_PTZ.users.%08lx", static_cast<unsigned long>(hash));
  return name;
}

}  // namespace

struct UserMark {
  HANDLE mutex;
};

UserMark* MarkLibraryUser(const std::string& path) {
  HANDLE mutex = CreateMutexA(nullptr, FALSE, MarkName(path).c_str());
  if (mutex == nullptr) return nullptr;
  auto* mark = new (std::nothrow) UserMark{mutex};
  if (mark == nullptr) CloseHandle(mutex);
  return mark;
}

void UnmarkLibraryUser(UserMark* mark) {
  if (mark == nullptr) return;
  CloseHandle(mark->mutex);
  delete mark;
}

bool LibraryHasUsers(const std::string& path) {
  HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, MarkName(path).c_str());
  if (mutex == nullptr) return false;
  CloseHandle(mutex);
  return true;
}

}  // namespace platform
