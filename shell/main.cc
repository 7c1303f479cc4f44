// tessivane-seo: opens the main window and runs until it is closed. Takes no options.
#include <gtk/gtk.h>

#include "shell/main_window.h"

int main() {
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
