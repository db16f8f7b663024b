#include "window_probe.h"

#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <thread>

#include "probe/probe_wire.h"

namespace probe {

namespace {

std::mutex pathLock;
std::string socketPath;

// One request to the dialog program running now; false (and no answer)
// when none is listening or it went away before answering.
bool Ask(const std::vector<std::string>& request, std::vector<std::string>* answer) {
  std::string path;
  {
    std::lock_guard<std::mutex> hold(pathLock);
    path = socketPath;
  }
  answer->clear();
  sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path) return false;
  memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  std::string bytes;
  const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                  probewire::SendAll(fd, probewire::Encode(request)) &&
                  probewire::ReadAll(fd, &bytes) && probewire::Decode(bytes, answer) &&
                  !answer->empty() && (*answer)[0] == "ok";
  close(fd);
  if (!ok) answer->clear();
  return ok;
}

std::vector<std::string> On(Dialog dialog, const std::string& op,
                            std::vector<std::string> arguments = {}) {
  std::vector<std::string> request = {op, std::to_string(dialog.process),
                                      std::to_string(dialog.window)};
  request.insert(request.end(), arguments.begin(), arguments.end());
  std::vector<std::string> answer;
  Ask(request, &answer);
  return answer;
}

Dialog Found(const std::vector<std::string>& answer) {
  Dialog dialog;
  if (answer.size() == 3) {
    dialog.process = std::stol(answer[1]);
    dialog.window = std::stoull(answer[2]);
  }
  return dialog;
}

template <typename Pred>
bool Poll(Pred pred, int timeoutMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < end) {
    if (pred()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return pred();
}

Dialog WaitFor(const std::string& op, const std::string& what, int timeoutMs) {
  Dialog found;
  Poll(
      [&] {
        std::vector<std::string> answer;
        Ask({op, what}, &answer);
        found = Found(answer);
        return found != nullptr;
      },
      timeoutMs);
  return found;
}

}  // namespace

void UseProbeSocket(const std::string& path) {
  std::lock_guard<std::mutex> hold(pathLock);
  socketPath = path;
  setenv(probewire::kSocketVariable, path.c_str(), 1);
}

Dialog WaitForDialog(const std::string& title, int timeoutMs) {
  return WaitFor("find", title, timeoutMs);
}

Dialog WaitForMessage(const std::string& text, int timeoutMs) {
  return WaitFor("message", text, timeoutMs);
}

void EndAllDialogs() {
  std::vector<std::string> answer;
  Ask({"end-all"}, &answer);
}

bool WaitForNoDialog(const std::string& title, int timeoutMs) {
  // No dialog program listening: no dialog of it on screen either.
  return Poll(
      [&] {
        std::vector<std::string> answer;
        return !Ask({"find", title}, &answer) || Found(answer) == nullptr;
      },
      timeoutMs);
}

void Click(Dialog dialog, int id) { On(dialog, "click", {std::to_string(id)}); }
void ToggleCheck(Dialog dialog, int id) { On(dialog, "toggle", {std::to_string(id)}); }
void ChooseEntry(Dialog dialog, int id, int index) {
  On(dialog, "choose", {std::to_string(id), std::to_string(index)});
}
void DoubleClickEntry(Dialog dialog, int id, int index) {
  On(dialog, "double-click", {std::to_string(id), std::to_string(index)});
}
void PressKey(Dialog dialog, int keyCode) { On(dialog, "key", {std::to_string(keyCode)}); }
void CloseBox(Dialog dialog) { On(dialog, "close"); }
void Type(Dialog dialog, int id, const std::string& text) {
  On(dialog, "type", {std::to_string(id), text});
}
bool SelectTreeItem(Dialog dialog, int id, const std::string& text) {
  const std::vector<std::string> answer = On(dialog, "select", {std::to_string(id), text});
  return answer.size() == 2 && answer[1] == "1";
}

std::string TextOf(Dialog dialog, int id) {
  const std::vector<std::string> answer = On(dialog, "text", {std::to_string(id)});
  return answer.size() == 2 ? answer[1] : std::string();
}
bool EnabledOf(Dialog dialog, int id) {
  const std::vector<std::string> answer = On(dialog, "enabled", {std::to_string(id)});
  return answer.size() == 2 && answer[1] == "1";
}
std::string MessageOf(Dialog box) {
  const std::vector<std::string> answer = On(box, "message-text");
  return answer.size() == 2 ? answer[1] : std::string();
}
std::vector<std::string> TreeLines(Dialog dialog, int id) {
  std::vector<std::string> answer = On(dialog, "tree", {std::to_string(id)});
  return answer.empty() ? answer : std::vector<std::string>(answer.begin() + 1, answer.end());
}
std::vector<std::string> RootTexts(const std::string& title, int id) {
  std::vector<std::string> answer;
  Ask({"root-texts", title, std::to_string(id)}, &answer);
  return answer.empty() ? answer : std::vector<std::string>(answer.begin() + 1, answer.end());
}
std::vector<std::string> Entries(Dialog dialog, int id) {
  std::vector<std::string> answer = On(dialog, "entries", {std::to_string(id)});
  return answer.empty() ? answer : std::vector<std::string>(answer.begin() + 1, answer.end());
}
int DefaultButtonOf(Dialog dialog) {
  const std::vector<std::string> answer = On(dialog, "default");
  return answer.size() == 2 ? std::stoi(answer[1]) : 0;
}

void Settle() {
  std::vector<std::string> answer;
  Ask({"settle"}, &answer);
}

bool Screenshot(const std::string& title, const std::string& path) {
  Settle();
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  Settle();
  const std::string command = "id=$(xdotool search --onlyvisible --name '^" + title +
                              "$' | tail -1) && [ -n \"$id\" ] && import -frame -window \"$id\" '" +
                              path + "'";
  return system(command.c_str()) == 0;
}

}  // namespace probe
