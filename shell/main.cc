// tessivane-seo: opens the main window and runs until it is closed. Takes no options.
#include <dlfcn.h>
#include <gtk/gtk.h>

#include "shell/main_window.h"

namespace {

// The views draw in software, so this process needs no GL; yet GTK probes GLX at start and
// WebKit opens an EGL display here, each loading Mesa and LLVM (about 20 MB and 60 ms). The web
// process does need EGL, so only this process sees an empty EGL vendor list: libglvnd reads it
// once, at the first EGL call, and the variable is gone before WebKit starts its processes.
void KeepGlOutOfThisProcess() {
  g_setenv("GDK_GL", "disable", TRUE);
  g_setenv("__EGL_VENDOR_LIBRARY_FILENAMES", "/dev/null", TRUE);
  if (void* egl = dlopen("libEGL.so.1", RTLD_NOW)) {
    using GetDisplay = void* (*)(void*);
    if (auto get_display = reinterpret_cast<GetDisplay>(dlsym(egl, "eglGetDisplay"))) {
      get_display(nullptr);
    }
  }
  g_unsetenv("__EGL_VENDOR_LIBRARY_FILENAMES");
}

}  // namespace

int main() {
  KeepGlOutOfThisProcess();
  // The window places itself and relies on server-side frame hints, which only X11 honours.
  gdk_set_allowed_backends("x11");
  g_setenv("GTK_CSD", "0", TRUE);
  g_set_prgname("tessivane-seo");
  gtk_init(nullptr, nullptr);

  GtkWidget* window = OpenMainWindow();
  g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
  gtk_main();
  return 0;
}
