// The windows a renderer now shows, each under a serial number no earlier
// window of the registry had: a dialog's end posted from another thread
// carries the serial and is resolved on the window's thread, so an end
// that arrives after its window has gone reaches nothing, not a later
// window that got the same address or handle. Add, Remove and Find may be
// called from any thread; a pointer Find returns is only safe to use on the
// thread that removes windows, or inside WithLive.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>

namespace ui {

template <typename Window>
class LiveWindows {
 public:
  using Serial = std::uint64_t;
  // Never given to a window.
  static constexpr Serial kNoSerial = 0;

  // Enters window and returns its new serial.
  Serial Add(Window* window) {
    std::lock_guard<std::mutex> hold(lock_);
    const Serial serial = ++last_;
    windows_.emplace(serial, window);
    return serial;
  }
  // The window with serial has gone; a serial not live is ignored.
  void Remove(Serial serial) {
    std::lock_guard<std::mutex> hold(lock_);
    windows_.erase(serial);
  }
  // The live window with serial, or nullptr.
  Window* Find(Serial serial) const {
    std::lock_guard<std::mutex> hold(lock_);
    auto found = windows_.find(serial);
    return found != windows_.end() ? found->second : nullptr;
  }
  // The first live window (oldest first) for which match(window) holds, or
  // nullptr.
  template <typename Match>
  Window* FindIf(Match match) const {
    std::lock_guard<std::mutex> hold(lock_);
    for (const auto& entry : windows_) {
      if (match(entry.second)) return entry.second;
    }
    return nullptr;
  }
  // Runs use(window) while the window with serial is live, holding off its
  // Remove until use has returned; false when it is not live. use must not
  // wait for the window's thread.
  template <typename Use>
  bool WithLive(Serial serial, Use use) const {
    std::lock_guard<std::mutex> hold(lock_);
    auto found = windows_.find(serial);
    if (found == windows_.end()) return false;
    use(found->second);
    return true;
  }
  bool Empty() const {
    std::lock_guard<std::mutex> hold(lock_);
    return windows_.empty();
  }

 private:
  mutable std::mutex lock_;
  std::map<Serial, Window*> windows_;
  Serial last_ = kNoSerial;
};

}  // namespace ui
