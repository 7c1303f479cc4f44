// window_floor: the least a WebKitGTK window showing the sample costs, for scale beside
// tessivane-seo in window_bench.sh. One window of the same size with one view at the left
// view's place, software drawing, GBK pages; no button, no second view, nothing else.
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include "shell/page_files.h"
#include "shell/sample_article.h"

int main() {
  gdk_set_allowed_backends("x11");
  gtk_init(nullptr, nullptr);
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  GtkWidget* fixed = gtk_fixed_new();
  gtk_widget_set_size_request(fixed, 997, 590);
  gtk_container_add(GTK_CONTAINER(window), fixed);

  WebKitSettings* settings = webkit_settings_new();
  webkit_settings_set_default_charset(settings, "GBK");
  webkit_settings_set_hardware_acceleration_policy(settings,
                                                   WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
  GtkWidget* view = webkit_web_view_new_with_settings(settings);
  g_object_unref(settings);
  gtk_widget_set_size_request(view, 464, 515);
  gtk_fixed_put(GTK_FIXED(fixed), view, 8, 8);

  WritePageFile(kBackupPage, SampleArticle());
  char* uri = g_filename_to_uri(PageFilePath(kBackupPage).c_str(), nullptr, nullptr);
  webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), uri);
  g_free(uri);
  gtk_widget_show_all(window);
  g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
  gtk_main();
  return 0;
}
