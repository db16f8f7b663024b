// What the camera setup dialog's test buttons do, from the command line:
// ping, the software versions, reset. Each opens the camera's line when it
// is not open and closes it again afterwards.
#include <istream>
#include <ostream>

#include "camera/camera.h"
#include "comm/comm.h"
#include "driver/driver.h"
#include "ptzctl/config_context.h"
#include "ptzctl/config_text.h"
#include "ptzctl/session.h"
#include "ui/resources.h"

namespace ptzctl {
namespace config {

namespace {

using ui::kStringCannotOpen;
using ui::kStringResetWarning;

// The camera held (its lock taken) with its line open for the test; the
// line is closed again when this goes, if it was opened here.
class DomeTest {
 public:
  DomeTest(Context& context, int number) : camera_(Driver().FindCameraByNumber(number)) {
    if (!camera_) {
      context.err << "ptzctl config: no camera " << number << "\n";
      return;
    }
    line_ = camera_->Connection;
    if (line_ != nullptr && !line_->IsOpen()) {
      if (line_->Open() == 1) {
        opened_ = true;
      } else {
        // As the dialog says it when it opens; the test goes on and fails.
        context.err << ui::LoadString(kStringCannotOpen) << "\n";
      }
    }
  }
  ~DomeTest() {
    if (opened_) line_->Close();
  }
  DomeTest(const DomeTest&) = delete;
  DomeTest& operator=(const DomeTest&) = delete;

  bool Found() const { return camera_ && line_ != nullptr; }
  CVRTCamera* Camera() const { return camera_.get(); }
  CVRTComm* Line() const { return line_; }

 private:
  HeldCamera camera_;
  CVRTComm* line_ = nullptr;
  bool opened_ = false;
};

}  // namespace

int Ping(Context& context, const Request& request) {
  DomeTest test(context, request.camera);
  if (!test.Found()) return 1;
  const int delay = test.Line()->Ping(test.Camera()->NodeAddress, test.Camera()->SysID);
  if (delay < 0) {
    context.out << "Request timed out\n";
    return 1;
  }
  context.out << "Found. Delay " << delay << "ms\n";
  return 0;
}

int Version(Context& context, const Request& request) {
  DomeTest test(context, request.camera);
  if (!test.Found()) return 1;
  const std::string version = test.Line()->QueryVersion();
  context.out << version << "\n";
  // "..." stands for no good answer.
  return version == "..." ? 1 : 0;
}

int Reset(Context& context, const Request& request) {
  if (!request.yes) {
    context.out << ui::LoadString(kStringResetWarning) << " [y/N] " << std::flush;
    std::string answer;
    std::getline(context.in, answer);
    if (answer != "y" && answer != "Y" && answer != "yes" && answer != "Yes") {
      context.out << "not reset\n";
      return 1;
    }
  }
  DomeTest test(context, request.camera);
  if (!test.Found()) return 1;
  CVRTCamera* camera = test.Camera();
  const int presets = camera->PresetCount();
  // The reset goes to the dome the line has selected, which another host
  // may have changed: the camera is selected first (the ping does that),
  // and a dome that does not answer is not reset.
  if (test.Line()->Ping(camera->NodeAddress, camera->SysID) < 0) {
    context.err << "ptzctl config: camera " << request.camera
                << " does not answer (Request timed out): not reset\n";
    return 1;
  }
  if (test.Line()->ResetCamera(camera->NodeAddress, camera->SysID) != 1) {
    context.err << "ptzctl config: the dome did not answer the reset with OK\n";
    return 1;
  }
  context.Changed("reset camera " + std::to_string(request.camera) + " " + Shown(camera->Name) +
                  ": the dome answered OK, its " + std::to_string(presets) +
                  (presets == 1 ? " preset was" : " presets were") + " erased");
  return 0;
}

}  // namespace config
}  // namespace ptzctl
