// The dialogs' rectangles come from Windows, whose controls are much smaller
// than GTK's defaults (a drop-down list there is 12 dialog units high, GTK's
// theme wants about 34 pixels). When the module runs GTK itself, a style
// sheet for the whole screen makes GTK's controls as compact as the
// rectangles: padding and minimum sizes go, the look stays. GTK is reached
// through the library wxWidgets has loaded already, so the build needs no
// GTK headers.
#include "ui/wx/gtk_style.h"

#include <dlfcn.h>

namespace uiwx {

namespace {

constexpr char kCompactCss[] =
    "button { padding: 0px 1px; min-height: 0px; min-width: 0px; }\n"
    "entry { padding: 0px 3px; min-height: 0px; }\n"
    "combobox button, combobox box { padding: 0px 2px; min-height: 0px; }\n"
    "combobox arrow { min-height: 10px; min-width: 10px; }\n"
    "check, radio { min-height: 12px; min-width: 12px; margin: 0px 2px 0px 0px; }\n"
    "checkbutton, radiobutton { padding: 0px; min-height: 0px; }\n"
    "scale { padding: 2px 4px; min-height: 0px; }\n"
    "scale slider { min-height: 12px; min-width: 12px; margin: -5px; }\n";

void* Library(const char* name) { return dlopen(name, RTLD_LAZY | RTLD_NOLOAD); }

}  // namespace

bool ApplyCompactStyle() {
  void* gtk = Library("libgtk-3.so.0");
  void* gdk = Library("libgdk-3.so.0");
  if (gtk == nullptr || gdk == nullptr) return false;
  using NewProvider = void* (*)();
  using LoadData = int (*)(void*, const char*, long, void**);
  using DefaultScreen = void* (*)();
  using AddForScreen = void (*)(void*, void*, unsigned);
  auto newProvider = reinterpret_cast<NewProvider>(dlsym(gtk, "gtk_css_provider_new"));
  auto loadData = reinterpret_cast<LoadData>(dlsym(gtk, "gtk_css_provider_load_from_data"));
  auto addForScreen =
      reinterpret_cast<AddForScreen>(dlsym(gtk, "gtk_style_context_add_provider_for_screen"));
  auto defaultScreen = reinterpret_cast<DefaultScreen>(dlsym(gdk, "gdk_screen_get_default"));
  if (newProvider == nullptr || loadData == nullptr || addForScreen == nullptr ||
      defaultScreen == nullptr)
    return false;
  void* screen = defaultScreen();
  void* provider = newProvider();
  if (screen == nullptr || provider == nullptr) return false;
  if (!loadData(provider, kCompactCss, -1, nullptr)) return false;
  // GTK_STYLE_PROVIDER_PRIORITY_APPLICATION
  addForScreen(screen, provider, 600);
  return true;
}

void SingleLineLabel(void* label) {
  if (label == nullptr) return;
  static const auto setWrap = [] {
    void* gtk = Library("libgtk-3.so.0");
    return gtk == nullptr
               ? nullptr
               : reinterpret_cast<void (*)(void*, int)>(dlsym(gtk, "gtk_label_set_line_wrap"));
  }();
  if (setWrap != nullptr) setWrap(label, 0);
}

}  // namespace uiwx
