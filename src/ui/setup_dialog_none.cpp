// Until the setup dialogs exist, the configure call ends as if the user had
// cancelled: nothing is changed.
#include "ui/setup_dialog.h"

int RunDriverSetupDialog(int /*cameraNumber*/, SetupStartMode /*mode*/, void* /*parentWindow*/) {
  return -12;
}
