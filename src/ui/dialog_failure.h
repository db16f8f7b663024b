// Raised by a toolkit whose dialogs could not be shown or went away under
// the dialog classes (the dialog process could not start, died, lost its
// display). what() is one line saying why; shown says whether a dialog had
// been on screen.
#pragma once

#include <stdexcept>
#include <string>

namespace ui {

class DialogUnavailable : public std::runtime_error {
 public:
  DialogUnavailable(const std::string& why, bool shown) : std::runtime_error(why), shown_(shown) {}
  bool Shown() const { return shown_; }

 private:
  bool shown_;
};

}  // namespace ui
