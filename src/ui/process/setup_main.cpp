// QUARO7K7_PTZ_setup: the program that draws the driver's setup dialogs on
// Linux. The library starts it with a channel on descriptor 3, it starts
// wxWidgets, says so, and then draws the windows the host's dialog classes
// ask for until the host closes the channel (or goes away).
#include <unistd.h>
#include <wx/app.h>

#include <string>
#include <vector>

#include "platform/child_process.h"
#include "ui/dialog_wire.h"
#include "ui/process/dialog_server.h"
#include "ui/wx/wx_toolkit.h"

namespace {

using ui::wire::Kind;

bool SendLine(platform::ProcessChannel& channel, Kind kind, const std::string& text) {
  ui::wire::Writer out;
  out.Begin(kind);
  out.Text(text);
  out.End();
  return channel.Write(out.Bytes().data(), out.Bytes().size());
}

}  // namespace

int main() {
  std::unique_ptr<platform::ProcessChannel> channel = platform::InheritedChannel();
  if (!channel) return 2;
  ui::wire::FrameBuffer in;
  std::string frame;
  char chunk[65536];
  // The host's greeting first: a host of another build is refused.
  for (bool damaged = false; !in.Next(&frame, &damaged);) {
    const int got = damaged ? 0 : channel->Read(chunk, sizeof chunk, 10000);
    if (got <= 0) return 2;
    in.Add(chunk, static_cast<size_t>(got));
  }
  ui::wire::Reader hello(frame.data(), frame.size());
  if (hello.TheKind() != Kind::kHello || hello.Int() != ui::wire::kVersion) {
    SendLine(*channel, Kind::kFailed, "the dialog program belongs to another build of the driver");
    return 2;
  }
  std::string why;
  if (!uiwx::StartToolkit(&why)) {
    // Without a display (or one that refuses us) the host hears why.
    SendLine(*channel, Kind::kFailed, why);
    _exit(1);
  }
  static uiwx::WxToolkit toolkit;
  static setupproc::DialogServer server(*channel, toolkit);
  SendLine(*channel, Kind::kReady, std::string());
  // This thread reads; the UI thread draws and answers.
  std::vector<std::string> frames;
  for (;;) {
    bool damaged = false;
    while (in.Next(&frame, &damaged)) frames.push_back(std::move(frame));
    if (!frames.empty()) server.Receive(frames);
    const int got = damaged ? 0 : channel->Read(chunk, sizeof chunk, -1);
    // The host closed the channel (no dialog is up) or went away: the
    // windows and the display connection go with the process.
    if (got <= 0) _exit(0);
    in.Add(chunk, static_cast<size_t>(got));
  }
}
