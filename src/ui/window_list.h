// The list of open dialogs a dialog enters while its window is up, so that
// whoever keeps it (the driver) can end them from any thread. A dialog
// enters and leaves by itself (CDialog); the list posts ends with its own
// lock held, so a dialog calls it only while holding none of its own.
#pragma once

namespace ui {

class CDialog;

class WindowList {
 public:
  // On the dialog's thread, as its window is initialised. A list that is
  // closing its dialogs posts the end to this one at once.
  virtual void AddWindow(CDialog* dialog) = 0;
  // On the dialog's thread, before its window goes; also when the dialog
  // is not in the list.
  virtual void RemoveWindow(CDialog* dialog) = 0;

 protected:
  ~WindowList() = default;
};

}  // namespace ui
