#include "platform/fault/fault_points.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

namespace fault {
namespace {

void AppendTo(const std::string& path, const std::string& text) {
  if (path.empty()) return;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return;
  ssize_t ignored = ::write(fd, text.data(), text.size());
  (void)ignored;
  ::close(fd);
}

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// Made before, and so gone after, every other static object of the library:
// the driver's unload-time calls are counted too.
class Switchboard {
 public:
  Switchboard()
      : Op(Env("Q7FAULT_OP")),
        At(std::strtoull(Env("Q7FAULT_AT").c_str(), nullptr, 10)),
        OnwardsToo(!Env("Q7FAULT_ON").empty()),
        Report(Env("Q7FAULT_REPORT")) {}

  ~Switchboard() {
    std::string text;
    {
      std::lock_guard<std::mutex> hold(Lock);
      for (const auto& [op, count] : Calls)
        text += "calls " + op + " " + std::to_string(count) + "\n";
    }
    AppendTo(Report, text);
  }

  bool ShouldFail(const char* op) {
    uint64_t n;
    {
      std::lock_guard<std::mutex> hold(Lock);
      n = ++Calls[op];
    }
    if (Op.empty() || At == 0 || Op != op) return false;
    if (n != At && !(OnwardsToo && n > At)) return false;
    AppendTo(Report, "injected " + Op + " " + std::to_string(n) + "\n");
    return true;
  }

 private:
  const std::string Op;
  const uint64_t At;
  const bool OnwardsToo;
  const std::string Report;
  std::mutex Lock;
  std::map<std::string, uint64_t> Calls;
};

Switchboard gSwitchboard __attribute__((init_priority(101)));

}  // namespace

bool ShouldFail(const char* op) { return gSwitchboard.ShouldFail(op); }

}  // namespace fault
