// The Windows dialogs run in the DLL on the host's thread: no program of
// ours is started there.
#include "platform/child_process.h"

namespace platform {

std::unique_ptr<ProcessChannel> InheritedChannel() { return nullptr; }

std::unique_ptr<ChildProcess> StartChildProcess(const std::string& program, const std::string&,
                                                std::string* why) {
  *why = "the dialog program " + program + " is not used on this system";
  return nullptr;
}

}  // namespace platform
