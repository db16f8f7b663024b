#include "ui/about_dlg.h"

#include "driver/driver.h"

CAbout::CAbout(CVRTDriver& driver, ui::Toolkit& toolkit)
    : ui::CDialog(toolkit, ui::kDlgAbout, &driver), driver_(driver) {}

int CAbout::OnInitDialog() {
  // The driver was closing its windows before this one had a window to
  // end: it ends now.
  if (driver_.ClosingWindows()) EndDialog(ui::kResultCancel);
  return 1;
}
