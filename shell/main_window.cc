// The main window, read top to bottom: its numbers, then how it is built, then its handlers.
#include "shell/main_window.h"

#include <memory>
#include <string>
#include <string_view>

#include "shell/page_files.h"
#include "shell/sample_article.h"
#include "text/paragraph_shuffler.h"

namespace {

constexpr char kTitle[] = "TessivaneSEO伪原创工具 v1.0";
constexpr int kWindowWidth = 997;
constexpr int kWindowHeight = 590;

struct Placement {
  const char* name;
  int x, y, width, height;
};
constexpr Placement kLeftView{kLeftViewName, 8, 8, 464, 515};
constexpr Placement kRightView{kRightViewName, 496, 8, 488, 515};
constexpr Placement kShuffleButton{kShuffleButtonName, 440, 528, 80, 28};
constexpr char kShuffleCaption[] = "随机打乱段落";

// The theme's button padding would push the caption past 80 x 28; the border stays.
constexpr char kShuffleButtonCss[] = "button { padding: 0; min-height: 0; min-width: 0; }";

constexpr char kPageCharset[] = "GBK";
// Two static pages need no GPU; drawing them in software saves the web process about 70 MB.
constexpr auto kAcceleration = WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER;
constexpr double kTextZoom = 1.0;
constexpr GdkRGBA kViewBackground{1.0, 1.0, 1.0, 1.0};

constexpr char kIconResource[] = "/tessivane-seo/icon.png";
constexpr int kIconSizes[] = {32, 16};

// Caption, border and system menu with close; no resizing, minimising or maximising.
constexpr auto kFrameDecorations =
    static_cast<GdkWMDecoration>(GDK_DECOR_BORDER | GDK_DECOR_TITLE | GDK_DECOR_MENU);
constexpr auto kFrameFunctions = static_cast<GdkWMFunction>(GDK_FUNC_MOVE | GDK_FUNC_CLOSE);

struct GFreeDeleter {
  void operator()(void* p) const { g_free(p); }
};
using OwnedChars = std::unique_ptr<char, GFreeDeleter>;

struct GObjectDeleter {
  void operator()(void* p) const { g_object_unref(p); }
};
template <typename T>
using GRef = std::unique_ptr<T, GObjectDeleter>;

// Hands the view the page file's address and leaves the load to it.
void Navigate(WebKitWebView* view, std::string_view page) {
  const std::string uri = PageFileUri(page);
  if (!uri.empty()) webkit_web_view_load_uri(view, uri.c_str());
}

void Place(GtkFixed* fixed, GtkWidget* control, const Placement& at) {
  gtk_widget_set_name(control, at.name);
  gtk_widget_set_size_request(control, at.width, at.height);
  gtk_fixed_put(fixed, control, at.x, at.y);
}

// A blank view reading unlabelled pages as GBK; `related` shares its web process and settings.
WebKitWebView* NewView(WebKitWebView* related) {
  GtkWidget* view;
  if (related) {
    view = webkit_web_view_new_with_related_view(related);
  } else {
    GRef<WebKitSettings> settings(webkit_settings_new());
    webkit_settings_set_default_charset(settings.get(), kPageCharset);
    webkit_settings_set_hardware_acceleration_policy(settings.get(), kAcceleration);
    view = webkit_web_view_new_with_settings(settings.get());
  }
  webkit_web_view_set_zoom_level(WEBKIT_WEB_VIEW(view), kTextZoom);
  webkit_web_view_set_background_color(WEBKIT_WEB_VIEW(view), &kViewBackground);
  return WEBKIT_WEB_VIEW(view);
}

// One line when the caption fits inside the button's border, else two centred lines.
void FitCaption(GtkWidget* button, GtkLabel* caption) {
  GtkStyleContext* style = gtk_widget_get_style_context(button);
  GtkBorder border;
  gtk_style_context_get_border(style, gtk_style_context_get_state(style), &border);
  int width = 0;
  pango_layout_get_pixel_size(gtk_label_get_layout(caption), &width, nullptr);
  if (width <= kShuffleButton.width - border.left - border.right) return;
  const char* middle =
      g_utf8_offset_to_pointer(kShuffleCaption, g_utf8_strlen(kShuffleCaption, -1) / 2);
  gtk_label_set_text(caption, (std::string(kShuffleCaption, middle) + "\n" + middle).c_str());
}

GtkWidget* NewShuffleButton() {
  GtkWidget* button = gtk_button_new();
  GRef<GtkCssProvider> css(gtk_css_provider_new());
  gtk_css_provider_load_from_data(css.get(), kShuffleButtonCss, -1, nullptr);
  gtk_style_context_add_provider(gtk_widget_get_style_context(button),
                                 GTK_STYLE_PROVIDER(css.get()),
                                 GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
  GtkWidget* caption = gtk_label_new(kShuffleCaption);
  gtk_label_set_justify(GTK_LABEL(caption), GTK_JUSTIFY_CENTER);
  gtk_container_add(GTK_CONTAINER(button), caption);
  FitCaption(button, GTK_LABEL(caption));
  return button;
}

void SetIcon(GtkWindow* window) {
  GRef<GdkPixbuf> icon(gdk_pixbuf_new_from_resource(kIconResource, nullptr));
  if (!icon) return;
  GList* icons = nullptr;
  for (int size : kIconSizes) {
    icons =
        g_list_append(icons, gdk_pixbuf_scale_simple(icon.get(), size, size, GDK_INTERP_BILINEAR));
  }
  gtk_window_set_icon_list(window, icons);
  g_list_free_full(icons, g_object_unref);
}

// Centres the outer frame on the primary monitor, each quotient truncated toward zero.
void Centre(GtkWindow* window) {
  GdkDisplay* display = gdk_display_get_default();
  GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
  if (!monitor) monitor = gdk_display_get_monitor(display, 0);
  GdkRectangle screen{0, 0, kWindowWidth, kWindowHeight};
  if (monitor) gdk_monitor_get_geometry(monitor, &screen);
  gtk_window_move(window, screen.x + (screen.width - kWindowWidth) / 2,
                  screen.y + (screen.height - kWindowHeight) / 2);
}

// Tab and Shift+Tab step among the three controls, before a view can keep them for the links in
// its page; Esc without Ctrl, Shift or Alt closes the window.
gboolean OnKeyPress(GtkWidget* window, GdkEventKey* event, gpointer) {
  const guint held = event->state & (GDK_CONTROL_MASK | GDK_SHIFT_MASK | GDK_MOD1_MASK);
  switch (event->keyval) {
    case GDK_KEY_Tab:
    case GDK_KEY_ISO_Left_Tab:
      if ((held & ~GDK_SHIFT_MASK) != 0) return FALSE;
      g_signal_emit_by_name(window, "move-focus",
                            held ? GTK_DIR_TAB_BACKWARD : GTK_DIR_TAB_FORWARD);
      return TRUE;
    case GDK_KEY_Escape:
      if (held != 0) return FALSE;
      gtk_window_close(GTK_WINDOW(window));
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

GtkWidget* OpenMainWindow() {
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(window), kTitle);
  gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
  SetIcon(GTK_WINDOW(window));

  GtkWidget* fixed = gtk_fixed_new();
  gtk_widget_set_size_request(fixed, kWindowWidth, kWindowHeight);
  gtk_container_add(GTK_CONTAINER(window), fixed);
  WebKitWebView* left = NewView(nullptr);
  WebKitWebView* right = NewView(left);
  GtkWidget* button = NewShuffleButton();
  Place(GTK_FIXED(fixed), GTK_WIDGET(left), kLeftView);
  Place(GTK_FIXED(fixed), GTK_WIDGET(right), kRightView);
  Place(GTK_FIXED(fixed), button, kShuffleButton);
  g_signal_connect(button, "clicked", G_CALLBACK(OnShuffleButtonClicked), right);
  g_signal_connect(window, "key-press-event", G_CALLBACK(OnKeyPress), nullptr);

  gtk_widget_realize(window);
  gdk_window_set_decorations(gtk_widget_get_window(window), kFrameDecorations);
  gdk_window_set_functions(gtk_widget_get_window(window), kFrameFunctions);
  Centre(GTK_WINDOW(window));

  OnMainWindowCreated(left);
  gtk_widget_show_all(window);
  return window;
}

void OnMainWindowCreated(WebKitWebView* left_view) {
  WritePageFile(kBackupPage, SampleArticle());
  Navigate(left_view, kBackupPage);
}

void OnShuffleButtonClicked(GtkButton*, WebKitWebView* right_view) {
  WritePageFile(kIndexPage, ShuffleArticle(SampleArticle()));
  Navigate(right_view, kIndexPage);
}
