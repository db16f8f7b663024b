// The registry of shown windows: serials, a late end, and a window going
// while another thread reaches it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <set>
#include <thread>

#include "ui/live_windows.h"

namespace {

struct Window {
  int name;
};
using Registry = ui::LiveWindows<Window>;

TEST(LiveWindows, ASerialIsNeverGivenAgainAndNamesOnlyItsWindow) {
  Registry windows;
  Window first{1}, second{2};
  std::set<Registry::Serial> given;
  // The same window (the same address) shown, ended, shown again.
  for (int round = 0; round < 3; ++round) {
    const Registry::Serial serial = windows.Add(&first);
    EXPECT_NE(serial, Registry::kNoSerial);
    EXPECT_TRUE(given.insert(serial).second) << "serial " << serial << " given twice";
    EXPECT_EQ(windows.Find(serial), &first);
    windows.Remove(serial);
    EXPECT_EQ(windows.Find(serial), nullptr);
  }
  const Registry::Serial later = windows.Add(&second);
  EXPECT_EQ(given.count(later), 0u);
  for (Registry::Serial old : given) EXPECT_EQ(windows.Find(old), nullptr);
  EXPECT_EQ(windows.Find(Registry::kNoSerial), nullptr);
  windows.Remove(*given.begin());  // an old serial: nothing
  EXPECT_EQ(windows.Find(later), &second);
}

TEST(LiveWindows, AnEndPostedAfterItsWindowWentReachesNoWindow) {
  Registry windows;
  Window below{1}, nested{2};
  const Registry::Serial outer = windows.Add(&below);
  const Registry::Serial inner = windows.Add(&nested);
  windows.Remove(inner);
  // The same address comes back for a later window.
  const Registry::Serial reused = windows.Add(&nested);
  int ended = 0;
  EXPECT_FALSE(windows.WithLive(inner, [&](Window*) { ++ended; }));
  EXPECT_EQ(ended, 0);
  EXPECT_TRUE(windows.WithLive(reused, [&](Window* w) { ended += w->name; }));
  EXPECT_TRUE(windows.WithLive(outer, [&](Window* w) { ended += 10 * w->name; }));
  EXPECT_EQ(ended, 12);
  EXPECT_EQ(windows.FindIf([](Window* w) { return w->name == 2; }), &nested);
  EXPECT_EQ(windows.FindIf([](Window* w) { return w->name == 3; }), nullptr);
}

TEST(LiveWindows, AWindowDoesNotGoWhileAnotherThreadIsReachingIt) {
  Registry windows;
  Window window{1};
  const Registry::Serial serial = windows.Add(&window);
  std::atomic<bool> inside{false}, done{false};
  std::thread poster([&] {
    windows.WithLive(serial, [&](Window*) {
      inside = true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      done = true;
    });
  });
  while (!inside) std::this_thread::yield();
  windows.Remove(serial);
  EXPECT_TRUE(done) << "the window went while the post was reaching it";
  poster.join();
  EXPECT_TRUE(windows.Empty());
}

}  // namespace
