// The Windows build has no drive and no demo: both need a POSIX terminal,
// and the demo the dome simulator, which runs on a pseudo-terminal. Their
// commands stay, so that asking for them says so instead of "not expected".
#include <cstdio>

#include "ptzctl/demo.h"
#include "ptzctl/drive.h"
#include "ptzctl/terminal.h"

namespace ptzctl {
namespace {

int NotAvailable(const char* mode, const char* why) {
  std::fprintf(stderr,
               "ptzctl: %s is not available in the Windows build (%s); use the Linux build of "
               "ptzctl for it\n",
               mode, why);
  return 2;
}

}  // namespace

const char kDriveKeysHelp[] = "not available in the Windows build.";

int RunDrive(Session&, const DriveOptions&) {
  return NotAvailable("drive", "it needs a POSIX terminal");
}

int RunDemo(const DemoOptions&) {
  return NotAvailable("demo", "the built-in dome simulator needs a POSIX pseudo-terminal");
}

int RawTerminal::CaughtSignal() { return 0; }

void RawTerminal::ReraiseCaughtSignal() {}

}  // namespace ptzctl
