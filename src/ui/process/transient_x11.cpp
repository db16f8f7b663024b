// The host's window handle on Linux is an X11 window id: the dialog is made
// transient for that window, so that window managers keep it above the
// host's window and centre it there.
#include <gdk/gdkx.h>
#include <gtk/gtk.h>
#include <wx/dialog.h>

#include "ui/process/dialog_server.h"
#include "ui/wx/wx_window.h"

namespace setupproc {

void MakeTransientFor(ui::DialogWindow* window, std::uint64_t hostWindow) {
  uiwx::WxDialogWindow* dialog = uiwx::WxDialogWindow::FromDialogWindow(window);
  if (dialog == nullptr || hostWindow == 0) return;
  GtkWidget* widget = dialog->GetHandle();
  GdkDisplay* display = gdk_display_get_default();
  if (widget == nullptr || display == nullptr || !GDK_IS_X11_DISPLAY(display)) return;
  gtk_widget_realize(widget);
  GdkWindow* own = gtk_widget_get_window(widget);
  gdk_x11_display_error_trap_push(display);
  GdkWindow* host =
      gdk_x11_window_foreign_new_for_display(display, static_cast<Window>(hostWindow));
  if (own != nullptr && host != nullptr) gdk_window_set_transient_for(own, host);
  gdk_x11_display_error_trap_pop_ignored(display);
  if (host != nullptr) g_object_unref(host);
}

}  // namespace setupproc
