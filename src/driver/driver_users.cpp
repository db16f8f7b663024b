// The mark that tells other processes this one has the module started on
// the library's files.
#include "driver/driver.h"
#include "platform/library_users.h"
#include "platform/module_path.h"

void CVRTDriver::MarkInUse() {
  std::string library;
  if (!platform::LibraryFileName(&library)) return;
  std::lock_guard<std::mutex> hold(userMarkLock_);
  if (userMark_ == nullptr) userMark_ = platform::MarkLibraryUser(library);
}

void CVRTDriver::UnmarkInUse() {
  std::lock_guard<std::mutex> hold(userMarkLock_);
  platform::UnmarkLibraryUser(userMark_);
  userMark_ = nullptr;
}

bool CVRTDriver::LibraryInUse() {
  std::string library;
  return platform::LibraryFileName(&library) && platform::LibraryHasUsers(library);
}
