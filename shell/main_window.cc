// The main window, read top to bottom: its numbers, then how it is built, then its handlers.
#include "shell/main_window.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "common/article_shuffle.h"
#include "common/atomic_file.h"
#include "common/encoding.h"
#include "shell/page_files.h"
#include "shell/sample_article.h"
#include "shell/user_article.h"
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

// Dialogs and messages.
constexpr char kOpenTitle[] = "打开文章";
constexpr char kOpenAccept[] = "打开(_O)";
constexpr char kSaveTitle[] = "保存打乱后的页面";
constexpr char kSaveAccept[] = "保存(_S)";
constexpr char kCancel[] = "取消(_C)";
constexpr char kHtmlFilterName[] = "HTML 网页";
constexpr const char* kHtmlPatterns[] = {"*.html", "*.htm", "*.xhtml", "*.shtml"};
constexpr char kAllFilesFilterName[] = "所有文件";
constexpr char kSuggestedSaveName[] = "shuffled.html";
constexpr char kUriListTarget[] = "text/uri-list";

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

// The article a window shows once the user has opened one; a window without it shows the sample.
constexpr char kArticleKey[] = "tessivane-article";

const UserArticle* ArticleOf(GtkWidget* control) {
  return static_cast<const UserArticle*>(
      g_object_get_data(G_OBJECT(gtk_widget_get_toplevel(control)), kArticleKey));
}

void SetArticle(GtkWidget* window, UserArticle article) {
  g_object_set_data_full(G_OBJECT(window), kArticleKey, new UserArticle(std::move(article)),
                         [](gpointer article) { delete static_cast<UserArticle*>(article); });
}

// The window's view named `name`.
WebKitWebView* ViewOf(GtkWidget* window, const char* name) {
  GtkWidget* fixed = gtk_bin_get_child(GTK_BIN(window));
  GList* children = gtk_container_get_children(GTK_CONTAINER(fixed));
  WebKitWebView* view = nullptr;
  for (GList* c = children; c; c = c->next) {
    if (g_strcmp0(gtk_widget_get_name(GTK_WIDGET(c->data)), name) == 0) {
      view = WEBKIT_WEB_VIEW(c->data);
    }
  }
  g_list_free(children);
  return view;
}

// A message box over the window: the problem's headline, its details beneath.
void ShowProblem(GtkWidget* window, const Problem& problem) {
  GtkWidget* dialog = gtk_message_dialog_new(
      GTK_WINDOW(window),
      static_cast<GtkDialogFlags>(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT),
      GTK_MESSAGE_ERROR, GTK_BUTTONS_CLOSE, "%s", problem.summary.c_str());
  if (!problem.detail.empty()) {
    gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(dialog), "%s",
                                             problem.detail.c_str());
  }
  gtk_window_set_title(GTK_WINDOW(dialog), kTitle);
  g_signal_connect(dialog, "response", G_CALLBACK(gtk_widget_destroy), nullptr);
  gtk_widget_show(dialog);
}

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

// Makes `article` the window's article: written to backup.html and shown on the left, the right
// view blank until the next press (it showed a shuffle of the article before).
void ShowArticle(GtkWidget* window, UserArticle article) {
  SetArticle(window, std::move(article));
  OnMainWindowCreated(ViewOf(window, kLeftViewName));
  webkit_web_view_load_uri(ViewOf(window, kRightViewName), "about:blank");
}

// Ctrl+V: the clipboard's HTML, else its text made into paragraphs, becomes the article.
void UsePasted(GtkWidget* window, std::optional<UserArticle> article, const Problem& problem) {
  if (article) {
    ShowArticle(window, std::move(*article));
  } else {
    ShowProblem(window, problem);
  }
}

void OnTextPasted(GtkClipboard*, const char* text, gpointer window) {
  Problem problem;
  std::optional<UserArticle> article = PastedTextArticle(text ? text : "", &problem);
  UsePasted(GTK_WIDGET(window), std::move(article), problem);
  g_object_unref(window);
}

void OnHtmlPasted(GtkClipboard* clipboard, GtkSelectionData* data, gpointer window) {
  const int length = gtk_selection_data_get_length(data);
  if (length <= 0) {
    gtk_clipboard_request_text(clipboard, OnTextPasted, window);
    return;
  }
  Problem problem;
  std::optional<UserArticle> article = PastedHtmlArticle(
      std::string(reinterpret_cast<const char*>(gtk_selection_data_get_data(data)), length),
      &problem);
  UsePasted(GTK_WIDGET(window), std::move(article), problem);
  g_object_unref(window);
}

void PasteArticle(GtkWidget* window) {
  gtk_clipboard_request_contents(gtk_widget_get_clipboard(window, GDK_SELECTION_CLIPBOARD),
                                 gdk_atom_intern_static_string("text/html"), OnHtmlPasted,
                                 g_object_ref(window));
}

// Lets go of a dialog once the event that answered it is over: its widgets may still be handling
// the key release of the Enter that closed it.
void DropWhenIdle(gpointer dialog) {
  g_idle_add(
      [](gpointer dialog) {
        g_object_unref(dialog);
        return G_SOURCE_REMOVE;
      },
      dialog);
}

// A chooser opens in the folder of the article opened last, else in the working folder, rather
// than in a list of recent files, where a typed path does not open.
void StartInArticleFolder(GtkWidget* window, GtkFileChooserNative* chooser) {
  const UserArticle* article = ArticleOf(window);
  OwnedChars folder(article && !article->path.empty() ? g_path_get_dirname(article->path.c_str())
                                                      : g_get_current_dir());
  gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(chooser), folder.get());
}

// Ctrl+O: a file chooser for HTML articles; the chosen file becomes the article.
void ChooseArticle(GtkWidget* window) {
  GtkFileChooserNative* chooser = gtk_file_chooser_native_new(
      kOpenTitle, GTK_WINDOW(window), GTK_FILE_CHOOSER_ACTION_OPEN, kOpenAccept, kCancel);
  GtkFileFilter* html = gtk_file_filter_new();
  gtk_file_filter_set_name(html, kHtmlFilterName);
  gtk_file_filter_add_mime_type(html, "text/html");
  gtk_file_filter_add_mime_type(html, "application/xhtml+xml");
  for (const char* pattern : kHtmlPatterns) gtk_file_filter_add_pattern(html, pattern);
  gtk_file_chooser_add_filter(GTK_FILE_CHOOSER(chooser), html);
  GtkFileFilter* all = gtk_file_filter_new();
  gtk_file_filter_set_name(all, kAllFilesFilterName);
  gtk_file_filter_add_pattern(all, "*");
  gtk_file_chooser_add_filter(GTK_FILE_CHOOSER(chooser), all);
  StartInArticleFolder(window, chooser);
  gtk_native_dialog_set_modal(GTK_NATIVE_DIALOG(chooser), TRUE);
  g_signal_connect(chooser, "response",
                   G_CALLBACK(+[](GtkNativeDialog* chooser, int response, GtkWidget* window) {
                     OwnedChars path(gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(chooser)));
                     DropWhenIdle(chooser);
                     if (response == GTK_RESPONSE_ACCEPT && path) OpenArticle(window, path.get());
                   }),
                   window);
  gtk_native_dialog_show(GTK_NATIVE_DIALOG(chooser));
}

// Ctrl+S: the page the right view shows, index.html, saved where the user chooses.
void SaveShuffledPage(GtkWidget* window) {
  const char* shown = webkit_web_view_get_uri(ViewOf(window, kRightViewName));
  std::string bytes, error;
  if (!shown || PageFileUri(kIndexPage) != shown) {
    ShowProblem(window, {"右侧还没有打乱后的页面可以保存。", "请先按“随机打乱段落”。"});
    return;
  }
  if (!ReadArticleFile(PageFilePath(kIndexPage), kLargestArticleBytes, &bytes, &error)) {
    ShowProblem(window, {"无法读取右侧显示的页面。", error});
    return;
  }
  GtkFileChooserNative* chooser = gtk_file_chooser_native_new(
      kSaveTitle, GTK_WINDOW(window), GTK_FILE_CHOOSER_ACTION_SAVE, kSaveAccept, kCancel);
  gtk_file_chooser_set_do_overwrite_confirmation(GTK_FILE_CHOOSER(chooser), TRUE);
  StartInArticleFolder(window, chooser);
  gtk_file_chooser_set_current_name(GTK_FILE_CHOOSER(chooser), kSuggestedSaveName);
  gtk_native_dialog_set_modal(GTK_NATIVE_DIALOG(chooser), TRUE);
  g_object_set_data_full(G_OBJECT(chooser), "bytes", new std::string(std::move(bytes)),
                         [](gpointer bytes) { delete static_cast<std::string*>(bytes); });
  g_signal_connect(
      chooser, "response",
      G_CALLBACK(+[](GtkNativeDialog* chooser, int response, GtkWidget* window) {
        OwnedChars path(gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(chooser)));
        if (response == GTK_RESPONSE_ACCEPT && path) {
          const auto* bytes =
              static_cast<std::string*>(g_object_get_data(G_OBJECT(chooser), "bytes"));
          if (std::optional<std::string> error = WriteUserFile(path.get(), *bytes)) {
            ShowProblem(window, {"无法保存到“" + DisplayName(path.get()) + "”。", *error});
          }
        }
        DropWhenIdle(chooser);
      }),
      window);
  gtk_native_dialog_show(GTK_NATIVE_DIALOG(chooser));
}

// Drops: a file dropped anywhere on the window opens as the article. The views take drops
// themselves, so for a drag that carries files their own handling is passed over.
bool CarriesFiles(GdkDragContext* context) {
  const GdkAtom uri_list = gdk_atom_intern_static_string(kUriListTarget);
  for (GList* t = gdk_drag_context_list_targets(context); t; t = t->next) {
    if (GDK_POINTER_TO_ATOM(t->data) == uri_list) return true;
  }
  return false;
}

gboolean OnViewDragMotion(GtkWidget*, GdkDragContext* context, int, int, guint time, gpointer) {
  if (!CarriesFiles(context)) return FALSE;
  gdk_drag_status(context, GDK_ACTION_COPY, time);
  return TRUE;
}

void OnViewDragLeave(GtkWidget* view, GdkDragContext* context, guint, gpointer) {
  if (CarriesFiles(context)) g_signal_stop_emission_by_name(view, "drag-leave");
}

gboolean OnDragDrop(GtkWidget* target, GdkDragContext* context, int, int, guint time, gpointer) {
  if (!CarriesFiles(context)) return FALSE;
  gtk_drag_get_data(target, context, gdk_atom_intern_static_string(kUriListTarget), time);
  return TRUE;
}

void OnDropReceived(GtkWidget* target, GdkDragContext* context, int, int, GtkSelectionData* data,
                    guint, guint time, gpointer) {
  if (gtk_selection_data_get_target(data) != gdk_atom_intern_static_string(kUriListTarget)) return;
  if (WEBKIT_IS_WEB_VIEW(target)) g_signal_stop_emission_by_name(target, "drag-data-received");
  gchar** uris = gtk_selection_data_get_uris(data);
  std::optional<std::string> path;
  std::string first;
  if (uris && uris[0]) {
    first = uris[0];
    OwnedChars local(g_filename_from_uri(uris[0], nullptr, nullptr));
    if (local) path = local.get();
  }
  g_strfreev(uris);
  gtk_drag_finish(context, path.has_value(), FALSE, time);
  GtkWidget* window = gtk_widget_get_toplevel(target);
  if (path) {
    OpenArticle(window, *path);
  } else if (!first.empty()) {
    ShowProblem(window, {"只能打开本机上的文件。", first});
  }
}

void AcceptDrops(GtkWidget* window, GtkWidget* left, GtkWidget* right) {
  // The drop itself and its finish are ours, so that a refused address reports failure once.
  static const GtkTargetEntry kTargets[] = {{const_cast<char*>(kUriListTarget), 0, 0}};
  gtk_drag_dest_set(
      window, static_cast<GtkDestDefaults>(GTK_DEST_DEFAULT_MOTION | GTK_DEST_DEFAULT_HIGHLIGHT),
      kTargets, G_N_ELEMENTS(kTargets), GDK_ACTION_COPY);
  for (GtkWidget* target : {window, left, right}) {
    if (target != window) {
      g_signal_connect(target, "drag-motion", G_CALLBACK(OnViewDragMotion), nullptr);
      g_signal_connect(target, "drag-leave", G_CALLBACK(OnViewDragLeave), nullptr);
    }
    g_signal_connect(target, "drag-drop", G_CALLBACK(OnDragDrop), nullptr);
    g_signal_connect(target, "drag-data-received", G_CALLBACK(OnDropReceived), nullptr);
  }
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
    case GDK_KEY_o:
    case GDK_KEY_O:
      if (held != GDK_CONTROL_MASK) return FALSE;
      ChooseArticle(window);
      return TRUE;
    case GDK_KEY_s:
    case GDK_KEY_S:
      if (held != GDK_CONTROL_MASK) return FALSE;
      SaveShuffledPage(window);
      return TRUE;
    case GDK_KEY_v:
    case GDK_KEY_V:
      if (held != GDK_CONTROL_MASK) return FALSE;
      PasteArticle(window);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

GtkWidget* OpenMainWindow(const std::string& article_path) {
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
  AcceptDrops(window, GTK_WIDGET(left), GTK_WIDGET(right));

  std::optional<Problem> problem;
  if (!article_path.empty()) {
    Problem why;
    if (std::optional<UserArticle> article = LoadArticle(article_path, &why)) {
      SetArticle(window, std::move(*article));
    } else {
      problem = why;
    }
  }

  gtk_widget_realize(window);
  gdk_window_set_decorations(gtk_widget_get_window(window), kFrameDecorations);
  gdk_window_set_functions(gtk_widget_get_window(window), kFrameFunctions);
  Centre(GTK_WINDOW(window));

  OnMainWindowCreated(left);
  gtk_widget_show_all(window);
  if (problem) ShowProblem(window, *problem);
  return window;
}

void OnMainWindowCreated(WebKitWebView* left_view) {
  if (const UserArticle* article = ArticleOf(GTK_WIDGET(left_view))) {
    webkit_settings_set_default_charset(webkit_web_view_get_settings(left_view),
                                        std::string(EncodingName(article->encoding)).c_str());
    WritePageFile(kBackupPage, article->bytes);
  } else {
    WritePageFile(kBackupPage, SampleArticle());
  }
  Navigate(left_view, kBackupPage);
}

void OnShuffleButtonClicked(GtkButton* button, WebKitWebView* right_view) {
  if (const UserArticle* article = ArticleOf(GTK_WIDGET(button))) {
    std::string shuffled, error;
    if (!ShuffleArticleBytes(article->bytes, article->encoding, ShuffleKind::kKeepLayout,
                             std::nullopt, &shuffled, &error)) {
      ShowProblem(gtk_widget_get_toplevel(GTK_WIDGET(button)), {"无法打乱这篇文章。", error});
      return;
    }
    WritePageFile(kIndexPage, shuffled);
  } else {
    WritePageFile(kIndexPage, ShuffleArticle(SampleArticle()));
  }
  Navigate(right_view, kIndexPage);
}

bool OpenArticle(GtkWidget* window, const std::string& path) {
  Problem problem;
  std::optional<UserArticle> article = LoadArticle(path, &problem);
  if (!article) {
    ShowProblem(window, problem);
    return false;
  }
  ShowArticle(window, std::move(*article));
  return true;
}
