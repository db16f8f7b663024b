// The toolkit the dialog module hands to the driver.
#pragma once

#include <string>

#include "ui/dialog.h"

namespace uiwx {

// Starts wxWidgets once per process (on the module's own UI thread, unless
// the host already runs a wxWidgets application); false with why (the
// toolkit's own words) when it cannot. A failed start is not tried again. Calls from several threads at
// once start it once; each returns when that start is done.
bool StartToolkit(std::string* why);
// True on the thread that runs the toolkit.
bool OnUiThread();

class WxToolkit : public ui::Toolkit {
 public:
  int RunModal(ui::CDialog& dialog, ui::CDialog* parent, void* hostParent) override;
  // wxWidgets takes and gives UTF-8 (wxString::FromUTF8, utf8_str).
  ui::TextEncoding Encoding() const override;

 private:
  // On the UI thread: builds the window, runs the dialog modally, and
  // destroys the window again.
  int RunHere(ui::CDialog& dialog, ui::CDialog* parent, void* hostParent);
};

}  // namespace uiwx
