// A GTK 3 host: a window, a 50 ms timer on its main loop, the dialog shown
// from a worker thread over the host's window; the loop is asked to quit
// from that thread when the module has ended.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <cstdint>
#include <cstdio>
#include <string>
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

// The driver setup dialog's window must be transient for the host's
// window it was given (on a connection of its own: another process's
// window).
std::string TransientFor(Window host) {
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return "no display connection to look with";
  std::string wrong = "no window \"QUARO7K7_PTZ Driver Setup\"";
  Window root = 0, parent = 0;
  Window* children = nullptr;
  unsigned count = 0;
  if (XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count)) {
    for (unsigned i = 0; i < count; ++i) {
      char* name = nullptr;
      if (XFetchName(display, children[i], &name) && name != nullptr) {
        if (std::string(name) == "QUARO7K7_PTZ Driver Setup") {
          Window owner = 0;
          wrong = XGetTransientForHint(display, children[i], &owner) && owner == host
                      ? ""
                      : "not transient for the host's window";
        }
        XFree(name);
      }
    }
    if (children != nullptr) XFree(children);
  }
  XCloseDisplay(display);
  return wrong;
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
    outcome = testhost::Scenario(argv[1], reinterpret_cast<void*>(xid),
                                 [xid] { return TransientFor(static_cast<Window>(xid)); });
    g_idle_add(Quit, nullptr);
  });
  gtk_main();
  worker.join();
  std::printf("%s\n", outcome.report.c_str());
  return outcome.ok ? 0 : 1;
}
