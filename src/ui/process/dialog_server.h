// The dialog process's side of the channel: the host's window calls carried
// out on the wxWidgets windows, the windows' events sent back. Everything
// here runs on the toolkit's UI thread, except Receive (the reading thread).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/child_process.h"
#include "ui/dialog.h"
#include "ui/dialog_wire.h"
#include "ui/tree_items.h"

namespace setupproc {

class RemoteDialog;

class DialogServer {
 public:
  DialogServer(platform::ProcessChannel& channel, ui::Toolkit& toolkit);
  ~DialogServer();

  // Any thread of the program: runs job on the UI thread after the host's
  // frames received so far, also while a dialog's event waits for the host
  // (when the toolkit's own queue is not served). False when no server
  // runs in the program.
  static bool RunOnUi(std::function<void()> job);

  // Reading thread: frames from the host (taken), handled on the UI
  // thread in turn.
  void Receive(std::vector<std::string>& frames);
  // UI thread: handles the frames that have come.
  void Drain();

  // UI thread: sends an event of the dialog and handles the host's frames
  // until the host has handled it.
  void Forward(int window, ui::wire::Event event, int a = 0, int b = 0);
  void Send(ui::wire::Writer& out);

 private:
  // A frame of the host, or a job of another thread of the program.
  struct Incoming {
    std::string frame;
    std::function<void()> job;
  };
  void Post(std::vector<Incoming>& incoming);
  void Handle(Incoming& incoming);
  void Handle(const std::string& frame);
  void Show(ui::wire::Reader& r);
  void CallWindow(ui::wire::Reader& r, bool answered);
  bool Take(Incoming* incoming, bool wait);

  platform::ProcessChannel& channel_;
  ui::Toolkit& toolkit_;
  std::mutex lock_;
  std::condition_variable arrived_;
  std::deque<Incoming> queue_;
  bool drainPosted_ = false;
  std::unordered_map<int, RemoteDialog*> dialogs_;
  std::set<std::int32_t> handled_;
  std::int32_t lastEvent_ = 0;
};

// A dialog of the host as the renderer sees it: its events go to the host.
class RemoteDialog : public ui::CDialog {
 public:
  RemoteDialog(DialogServer& server, ui::Toolkit& toolkit, int serial, int resourceId,
               std::uint64_t hostWindow)
      : ui::CDialog(toolkit, resourceId),
        server_(server),
        serial_(serial),
        hostWindow_(hostWindow) {}

  int OnInitDialog() override;
  void OnCommand(int controlId, ui::Notify code) override {
    server_.Forward(serial_, ui::wire::Event::kCommand, controlId, static_cast<int>(code));
  }
  void OnTimer(int timerId) override { server_.Forward(serial_, ui::wire::Event::kTimer, timerId); }
  void OnOk() override { server_.Forward(serial_, ui::wire::Event::kOk); }
  void OnCancel() override { server_.Forward(serial_, ui::wire::Event::kCancel); }
  void OnDestroy() override { server_.Forward(serial_, ui::wire::Event::kDestroy); }

  // The host's tree items, under the host's numbers, each beside the
  // renderer's item.
  ui::TreeItems items;

 private:
  DialogServer& server_;
  int serial_;
  std::uint64_t hostWindow_;
};

// Makes the dialog's window transient for the host's X11 window (UI thread).
void MakeTransientFor(ui::DialogWindow* window, std::uint64_t hostWindow);

}  // namespace setupproc
