// QUARO7K7_PTZ_setup: the program that draws the driver's setup dialogs on
// Linux. The library starts it with a channel on descriptor 3, it starts
// wxWidgets, says so, and then draws the windows the host's dialog classes
// ask for until the host closes the channel (or goes away).
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
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

// True when something accepts connections on the local socket of this X
// display (":0", ":0.1", "unix:0"); false when nothing listens there or the
// display is not a local one.
bool LocalXServerListens(const std::string& display) {
  const size_t colon = display.rfind(':');
  if (colon == std::string::npos) return false;
  const std::string host = display.substr(0, colon);
  if (!host.empty() && host != "unix") return false;
  const std::string number = display.substr(colon + 1, display.find('.', colon) - colon - 1);
  if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos) return false;
  const std::string path = "/tmp/.X11-unix/X" + number;
  // The server listens on the abstract name and on the file.
  for (const bool abstract : {true, false}) {
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    const size_t offset = abstract ? 1 : 0;
    if (path.size() + offset >= sizeof address.sun_path) return false;
    memcpy(address.sun_path + offset, path.data(), path.size());
    const socklen_t size =
        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + path.size());
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), size) == 0;
    close(fd);
    if (connected) return true;
  }
  return false;
}

// Why the toolkit did not start, in the user's words: which display could
// not be opened and, where it can be told, whether nothing is there or the
// server there turned us away. The toolkit's own words only where nothing
// better is known.
std::string WhyNoToolkit(const std::string& toolkitError) {
  const char* x11 = getenv("DISPLAY");
  const char* wayland = getenv("WAYLAND_DISPLAY");
  std::string why = "the dialog program could not start the toolkit: ";
  if (x11 != nullptr && *x11 != '\0') {
    const std::string display = x11;
    why += "it could not open the display " + display;
    const size_t colon = display.rfind(':');
    const std::string host = colon == std::string::npos ? display : display.substr(0, colon);
    if (!host.empty() && host != "unix") return why + " (" + toolkitError + ")";
    return why + (LocalXServerListens(display) ? " (the X server there refused the connection)"
                                               : " (no X server is running there)");
  }
  if (wayland != nullptr && *wayland != '\0')
    return why + "it could not open the Wayland display " + wayland + " (" + toolkitError + ")";
  return why + toolkitError;
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
    SendLine(*channel, Kind::kFailed, WhyNoToolkit(why));
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
