// The Linux toolkit of the library: the dialog classes run here, on the
// host's calling thread, and their windows are drawn by a dialog process
// of ours (QUARO7K7_PTZ_setup beside the library), started for each
// top-level dialog and ended with it, so that no GUI toolkit and no display
// connection ever lives in the host's process. The window calls go to the
// process over a channel (setters batched, getters answered), its events
// come back and are delivered to the dialog class after its command-update
// rules. List and tree data pointers stay here: only numbers cross.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/child_process.h"
#include "ui/dialog.h"

namespace ui {

class ProcessToolkit : public Toolkit {
 public:
  // start: starts the dialog process and returns it (nullptr with why).
  using Starter = std::function<std::unique_ptr<platform::ChildProcess>(std::string* why)>;
  explicit ProcessToolkit(Starter start);
  ~ProcessToolkit() override;

  // Throws DialogUnavailable when the process cannot start, or dies while
  // the dialog is up (the dialog classes have then heard OnDestroy).
  int RunModal(CDialog& dialog, CDialog* parent, void* hostParent) override;
  // Texts cross the channel as UTF-8; the dialogs' window converts them.
  TextEncoding Encoding() const override { return TextEncoding::kUtf8; }

  class Session;

 private:
  Starter start_;
};

}  // namespace ui
