// Appending to the driver's log file: opened in text mode (every "\n" goes
// out as CR LF) with no sharing, written and closed for every piece of text.
#include <share.h>
#include <stdio.h>

#include <string>

#include "platform/log_file.h"

namespace platform {

void AppendLogText(const std::string& path, const char* text, size_t length) {
  if (text == nullptr || path.empty()) return;
  // Fails while another writer holds the file: this text is lost then.
  FILE* file = _fsopen(path.c_str(), "at", _SH_DENYRW);
  if (file == nullptr) return;
  (void)fwrite(text, 1, length, file);
  fclose(file);
}

}  // namespace platform
