// The log file: it cannot be opened (the text is lost), or the disk fills
// in the middle of a write (the first half of the text arrives).
#include "platform/fault/fault_points.h"
#include "platform/fault/real_calls.h"
#include "platform/log_file.h"

namespace platform {

void AppendLogText(const std::string& path, const char* text, size_t length) {
  if (fault::ShouldFail("log.open")) return;
  if (fault::ShouldFail("log.write")) length /= 2;
  OsAppendLogText(path, text, length);
}

}  // namespace platform
