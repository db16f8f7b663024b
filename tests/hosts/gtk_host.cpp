// A GTK 3 host: a window, a 50 ms timer on its main loop, the dialog shown
// from a worker thread over the host's window; the loop is asked to quit
// from that thread when the module has ended.
#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <cstdint>
#include <cstdio>
#include <thread>

#include "host_scenario.h"

namespace {

gboolean Tick(gpointer) {
  ++testhost::ticks;
  return G_SOURCE_CONTINUE;
}

gboolean Quit(gpointer) {
  gtk_main_quit();
  return G_SOURCE_REMOVE;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  gtk_init(nullptr, nullptr);
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(window), "GTK host");
  gtk_window_set_default_size(GTK_WINDOW(window), 200, 100);
  gtk_widget_show_all(window);
  const auto xid =
      static_cast<std::uintptr_t>(gdk_x11_window_get_xid(gtk_widget_get_window(window)));
  g_timeout_add(50, Tick, nullptr);
  testhost::Outcome outcome;
  std::thread worker([&] {
    outcome = testhost::Scenario(argv[1], reinterpret_cast<void*>(xid));
    g_idle_add(Quit, nullptr);
  });
  gtk_main();
  worker.join();
  std::printf("%s\n", outcome.report.c_str());
  return outcome.ok ? 0 : 1;
}
