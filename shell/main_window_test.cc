// The main window built in this process on a real X screen of 1920 x 1080 (run under Xvfb).
// Page files land beside this test binary, in a folder of its own.
#include "shell/main_window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "shell/page_files.h"
#include "shell/sample_article.h"
#include "text/paragraph_shuffler.h"
#include "text/random_source.h"

// Xlib last: its macros (None, Status) would break the headers above.
#include <X11/extensions/XTest.h>
#include <gdk/gdkx.h>

namespace {

struct GFreeDeleter {
  void operator()(void* p) const { g_free(p); }
};
using OwnedChars = std::unique_ptr<char, GFreeDeleter>;

// Runs the main loop until `done()` holds or `seconds` pass; returns whether it held.
template <typename Done>
bool PumpUntil(Done done, double seconds = 10) {
  const gint64 deadline = g_get_monotonic_time() + static_cast<gint64>(seconds * 1e6);
  while (!done()) {
    if (g_get_monotonic_time() > deadline) return false;
    if (!g_main_context_iteration(nullptr, FALSE)) g_usleep(1000);
  }
  return true;
}

void PumpFor(double seconds) {
  PumpUntil([] { return false; }, seconds);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string FileUri(std::string_view page) {
  return OwnedChars(g_filename_to_uri(PageFilePath(page).c_str(), nullptr, nullptr)).get();
}

std::string UriOf(WebKitWebView* view) {
  const char* uri = webkit_web_view_get_uri(view);
  return uri ? uri : "";
}

// The result of `script` in the view's page as a string; empty when it fails.
std::string RunScript(WebKitWebView* view, const char* script) {
  struct Call {
    bool done = false;
    std::string value;
  } call;
  webkit_web_view_evaluate_javascript(
      view, script, -1, nullptr, nullptr, nullptr,
      [](GObject* source, GAsyncResult* result, gpointer data) {
        auto* call = static_cast<Call*>(data);
        JSCValue* value =
            webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, nullptr);
        if (value) {
          call->value = OwnedChars(jsc_value_to_string(value)).get();
          g_object_unref(value);
        }
        call->done = true;
      },
      &call);
  PumpUntil([&] { return call.done; });
  return call.value;
}

// The characters of a UTF-8 text outside ASCII, without no-break spaces.
std::u32string WideCharacters(const std::string& utf8) {
  std::u32string wide;
  for (const char* p = utf8.c_str(); *p; p = g_utf8_next_char(p)) {
    gunichar c = g_utf8_get_char(p);
    if (c >= 0x80 && c != 0xA0) wide.push_back(c);
  }
  return wide;
}

// The sample's blocks, in order, as its CR LF separators give them.
std::vector<std::string> SampleBlocks() {
  std::vector<std::string> blocks;
  std::string_view rest = SampleArticle();
  for (size_t cut; (cut = rest.find("\r\n")) != std::string_view::npos; rest.remove_prefix(cut + 2))
    blocks.emplace_back(rest.substr(0, cut));
  blocks.emplace_back(rest);
  return blocks;
}

class MainWindowTest : public testing::Test {
 protected:
  void SetUp() override {
    window_ = OpenMainWindow();
    g_signal_connect(window_, "destroy", G_CALLBACK(+[](GtkWidget*, gpointer slot) {
                       *static_cast<GtkWidget**>(slot) = nullptr;
                     }),
                     &window_);
    ASSERT_TRUE(PumpUntil([&] {
      return gtk_widget_get_mapped(Control(kShuffleButtonName)) &&
             gtk_widget_get_allocated_width(Control(kShuffleButtonName)) > 1;
    }));
    // With no window manager on the screen, the test hands the window the keyboard itself.
    gdk_window_focus(gtk_widget_get_window(window_), GDK_CURRENT_TIME);
    ASSERT_TRUE(PumpUntil([&] { return gtk_window_is_active(GTK_WINDOW(window_)); }, 2));
  }

  void TearDown() override {
    if (window_) gtk_widget_destroy(window_);
  }

  GtkWidget* Control(const char* name) {
    GtkWidget* fixed = gtk_bin_get_child(GTK_BIN(window_));
    GList* children = gtk_container_get_children(GTK_CONTAINER(fixed));
    GtkWidget* found = nullptr;
    for (GList* c = children; c; c = c->next) {
      if (g_strcmp0(gtk_widget_get_name(GTK_WIDGET(c->data)), name) == 0) {
        found = GTK_WIDGET(c->data);
      }
    }
    g_list_free(children);
    return found;
  }
  WebKitWebView* View(const char* name) { return WEBKIT_WEB_VIEW(Control(name)); }
  GtkWidget* Focus() { return gtk_window_get_focus(GTK_WINDOW(window_)); }

  // Presses `keyval` with `held` keys down, through the X server's own input path.
  void PressKey(guint keyval, std::initializer_list<guint> held = {}) {
    Display* x = GDK_DISPLAY_XDISPLAY(gtk_widget_get_display(window_));
    std::vector<KeyCode> keys;
    for (guint modifier : held) keys.push_back(XKeysymToKeycode(x, modifier));
    keys.push_back(XKeysymToKeycode(x, keyval));
    for (KeyCode key : keys) XTestFakeKeyEvent(x, key, True, CurrentTime);
    for (auto key = keys.rbegin(); key != keys.rend(); ++key) {
      XTestFakeKeyEvent(x, *key, False, CurrentTime);
    }
    XFlush(x);
  }

  // Presses `keyval` once and returns where the focus settles.
  GtkWidget* MoveFocus(guint keyval, std::initializer_list<guint> held = {}) {
    GtkWidget* from = Focus();
    PressKey(keyval, held);
    PumpUntil([&] { return Focus() != from; }, 1);
    PumpFor(0.1);
    return Focus();
  }

  // Waits until `view` has loaded `page`, and returns "charset|text" of its document.
  std::string LoadedPage(WebKitWebView* view, std::string_view page) {
    const std::string loaded = "complete|" + FileUri(page) + "|";
    std::string state;
    PumpUntil([&] {
      state = RunScript(view,
                        "document.readyState + '|' + location.href + '|' + "
                        "document.characterSet + '|' + document.body.textContent");
      return state.starts_with(loaded);
    });
    EXPECT_TRUE(state.starts_with(loaded)) << state;
    return state.starts_with(loaded) ? state.substr(loaded.size()) : "";
  }

  GtkWidget* window_ = nullptr;
};

TEST_F(MainWindowTest, ControlsStandAtTheirPlacesWithExactlyTheirSizes) {
  struct Expected {
    const char* name;
    int x, y, width, height;
  };
  const Expected kControls[] = {
      {kLeftViewName, 8, 8, 464, 515},
      {kRightViewName, 496, 8, 488, 515},
      {kShuffleButtonName, 440, 528, 80, 28},
  };
  for (const Expected& want : kControls) {
    SCOPED_TRACE(want.name);
    GtkWidget* control = Control(want.name);
    ASSERT_NE(control, nullptr);
    int x = -1, y = -1;
    ASSERT_TRUE(gtk_widget_translate_coordinates(control, window_, 0, 0, &x, &y));
    EXPECT_EQ(x, want.x);
    EXPECT_EQ(y, want.y);
    EXPECT_EQ(gtk_widget_get_allocated_width(control), want.width);
    EXPECT_EQ(gtk_widget_get_allocated_height(control), want.height);
    EXPECT_TRUE(gtk_widget_is_visible(control));
    EXPECT_TRUE(gtk_widget_is_sensitive(control));
    EXPECT_TRUE(gtk_widget_get_can_focus(control));
  }
}

TEST_F(MainWindowTest, WindowIsCentredWithItsFixedOuterSize) {
  GdkRectangle screen;
  gdk_monitor_get_geometry(gdk_display_get_monitor(gtk_widget_get_display(window_), 0), &screen);
  ASSERT_EQ(screen.width, 1920);
  ASSERT_EQ(screen.height, 1080);
  GdkWindow* frame = gtk_widget_get_window(window_);
  EXPECT_EQ(gdk_window_get_width(frame), 997);
  EXPECT_EQ(gdk_window_get_height(frame), 590);
  int x = -1, y = -1;
  ASSERT_TRUE(PumpUntil(
      [&] {
        gdk_window_get_origin(frame, &x, &y);
        return x == 461 && y == 245;
      },
      2))
      << "origin " << x << "," << y;
  EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(window_)), "TessivaneSEO伪原创工具 v1.0");
}

// Fails when the caption's text reaches outside its button or is not centred in it.
void ExpectCaptionCentredInside(GtkWidget* button) {
  GtkWidget* caption = gtk_bin_get_child(GTK_BIN(button));
  ASSERT_TRUE(GTK_IS_LABEL(caption));
  GtkAllocation box, text_box;
  gtk_widget_get_allocation(button, &box);
  gtk_widget_get_allocation(caption, &text_box);
  int text_width = 0, text_height = 0;
  pango_layout_get_pixel_size(gtk_label_get_layout(GTK_LABEL(caption)), &text_width, &text_height);
  EXPECT_LE(text_width, text_box.width);
  EXPECT_LE(text_height, text_box.height);
  EXPECT_GE(text_box.x, box.x);
  EXPECT_GE(text_box.y, box.y);
  EXPECT_LE(text_box.x + text_box.width, box.x + box.width);
  EXPECT_LE(text_box.y + text_box.height, box.y + box.height);
  // The margins on either side differ by at most a pixel of rounding.
  const int left = text_box.x - box.x + (text_box.width - text_width) / 2;
  const int top = text_box.y - box.y + (text_box.height - text_height) / 2;
  EXPECT_LE(std::abs(left - (box.width - text_width - left)), 1);
  EXPECT_LE(std::abs(top - (box.height - text_height - top)), 1);
}

std::string CaptionOf(GtkWidget* button) {
  return gtk_label_get_text(GTK_LABEL(gtk_bin_get_child(GTK_BIN(button))));
}

TEST_F(MainWindowTest, CaptionFitsOnOneLineCentredAndUnclipped) {
  GtkWidget* button = Control(kShuffleButtonName);
  EXPECT_EQ(CaptionOf(button), "随机打乱段落");
  ExpectCaptionCentredInside(button);
}

TEST(MainWindowLargeFontTest, CaptionWrapsOntoTwoLinesUnclippedWhenTooWide) {
  GtkSettings* settings = gtk_settings_get_default();
  OwnedChars font;
  g_object_get(settings, "gtk-font-name", &font, nullptr);
  g_object_set(settings, "gtk-font-name", "Sans 16", nullptr);
  GtkWidget* window = OpenMainWindow();
  GtkWidget* fixed = gtk_bin_get_child(GTK_BIN(window));
  GList* children = gtk_container_get_children(GTK_CONTAINER(fixed));
  GtkWidget* button = GTK_WIDGET(g_list_last(children)->data);
  g_list_free(children);
  ASSERT_TRUE(PumpUntil([&] { return gtk_widget_get_allocated_width(button) > 1; }));

  EXPECT_EQ(CaptionOf(button), "随机打\n乱段落");
  EXPECT_EQ(gtk_widget_get_allocated_width(button), 80);
  ExpectCaptionCentredInside(button);
  gtk_widget_destroy(window);
  g_object_set(settings, "gtk-font-name", font.get(), nullptr);
}

TEST_F(MainWindowTest, IconIsAPurpleGlyphOnTransparencyAt32And16) {
  GList* icons = gtk_window_get_icon_list(GTK_WINDOW(window_));
  std::vector<int> sizes;
  for (GList* i = icons; i; i = i->next) {
    GdkPixbuf* icon = GDK_PIXBUF(i->data);
    const int size = gdk_pixbuf_get_width(icon);
    sizes.push_back(size);
    EXPECT_EQ(gdk_pixbuf_get_height(icon), size);
    ASSERT_TRUE(gdk_pixbuf_get_has_alpha(icon));
    if (size != 32) continue;
    const guchar* pixels = gdk_pixbuf_read_pixels(icon);
    const int stride = gdk_pixbuf_get_rowstride(icon);
    int ink = 0, clear = 0;
    for (int y = 0; y < 32; ++y) {
      for (int x = 0; x < 32; ++x) {
        const guchar* p = pixels + y * stride + x * 4;
        if (p[3] == 0) ++clear;
        if (p[3] == 255 && p[0] < 110 && p[2] < 130 && p[1] < p[0] && p[1] < p[2]) ++ink;
      }
    }
    EXPECT_GT(ink, 60) << "opaque dark purple pixels";
    EXPECT_GT(clear, 500) << "transparent pixels";
  }
  g_list_free(icons);
  EXPECT_EQ(sizes, (std::vector<int>{32, 16}));
}

TEST_F(MainWindowTest, ViewsShareOneSetupReadingUnlabelledPagesAsGbk) {
  WebKitWebView* left = View(kLeftViewName);
  WebKitWebView* right = View(kRightViewName);
  EXPECT_EQ(webkit_web_view_get_settings(left), webkit_web_view_get_settings(right));
  EXPECT_STREQ(webkit_settings_get_default_charset(webkit_web_view_get_settings(left)), "GBK");
  for (WebKitWebView* view : {left, right}) {
    EXPECT_DOUBLE_EQ(webkit_web_view_get_zoom_level(view), 1.0);
    const GdkRGBA white{1, 1, 1, 1};
    GdkRGBA background;
    webkit_web_view_get_background_color(view, &background);
    EXPECT_TRUE(gdk_rgba_equal(&background, &white));
  }
}

TEST_F(MainWindowTest, LeftViewShowsTheSampleAndTheRightViewNothingUntilAPress) {
  EXPECT_EQ(ReadFile(PageFilePath(kBackupPage)), SampleArticle());
  WebKitWebView* left = View(kLeftViewName);
  EXPECT_EQ(UriOf(left), FileUri(kBackupPage));
  EXPECT_EQ(UriOf(View(kRightViewName)), "");

  const std::string page = LoadedPage(left, kBackupPage);
  EXPECT_TRUE(page.starts_with("GBK|")) << page;
  OwnedChars sample(g_convert(SampleArticle().data(), SampleArticle().size(), "UTF-8", "GBK",
                              nullptr, nullptr, nullptr));
  ASSERT_NE(sample, nullptr);
  EXPECT_EQ(WideCharacters(page), WideCharacters(sample.get()));
}

TEST_F(MainWindowTest, EachPressWritesTheFourBlocksInSomeOrderAndNavigatesTheRightView) {
  WebKitWebView* right = View(kRightViewName);
  std::vector<std::string> blocks = SampleBlocks();
  ASSERT_EQ(blocks.size(), 4u);
  std::sort(blocks.begin(), blocks.end());

  for (int press = 0; press < 3; ++press) {
    SCOPED_TRACE(press);
    std::remove(PageFilePath(kIndexPage).c_str());
    gtk_button_clicked(GTK_BUTTON(Control(kShuffleButtonName)));
    EXPECT_EQ(UriOf(right), FileUri(kIndexPage));
    const std::string written = ReadFile(PageFilePath(kIndexPage));
    ASSERT_EQ(written.size(), 2003u);
    bool arranged = false;
    do {
      arranged = arranged || written == blocks[0] + blocks[1] + blocks[2] + blocks[3];
    } while (std::next_permutation(blocks.begin(), blocks.end()));
    EXPECT_TRUE(arranged) << "index.html is not the four blocks in some order";
  }
}

// Each press shuffles the built-in sample afresh, never what the last press wrote: with the clock
// pinned, the second page is the sample shuffled from the counter the first press left.
TEST_F(MainWindowTest, SecondPressShufflesTheSampleNotTheFirstResult) {
  PinClock(4242);
  SetReseedCounter(0);
  gtk_button_clicked(GTK_BUTTON(Control(kShuffleButtonName)));
  const std::string first = ReadFile(PageFilePath(kIndexPage));
  const uint32_t counter_after_first = ReseedCounter();
  gtk_button_clicked(GTK_BUTTON(Control(kShuffleButtonName)));
  const std::string second = ReadFile(PageFilePath(kIndexPage));
  const uint32_t counter_after_second = ReseedCounter();

  SetReseedCounter(counter_after_first);
  const Text sample_shuffled = ShuffleArticle(SampleArticle());
  SetReseedCounter(counter_after_first);
  const Text first_shuffled = ShuffleArticle(first);
  PinClock(std::nullopt);

  ASSERT_NE(sample_shuffled, first_shuffled) << "this clock cannot tell the two apart";
  EXPECT_EQ(second, sample_shuffled);
  EXPECT_EQ(counter_after_second, ReseedCounter());
}

TEST_F(MainWindowTest, CreatedHandlerHasNavigatedBeforeTheWindowMaps) {
  gtk_widget_destroy(window_);
  std::remove(PageFilePath(kBackupPage).c_str());
  struct Seen {
    bool mapped = false;
    std::string uri;
    bool backup_written = false;
  } seen;
  const guint map = g_signal_lookup("map", GTK_TYPE_WIDGET);
  const gulong hook = g_signal_add_emission_hook(
      map, 0,
      [](GSignalInvocationHint*, guint, const GValue* params, gpointer data) -> gboolean {
        GObject* widget = static_cast<GObject*>(g_value_get_object(&params[0]));
        auto* seen = static_cast<Seen*>(data);
        if (!GTK_IS_WINDOW(widget) || seen->mapped) return TRUE;
        seen->mapped = true;
        GtkWidget* fixed = gtk_bin_get_child(GTK_BIN(widget));
        GList* children = gtk_container_get_children(GTK_CONTAINER(fixed));
        seen->uri = UriOf(WEBKIT_WEB_VIEW(children->data));
        seen->backup_written = g_file_test(PageFilePath(kBackupPage).c_str(), G_FILE_TEST_EXISTS);
        g_list_free(children);
        return TRUE;
      },
      &seen, nullptr);
  SetUp();
  g_signal_remove_emission_hook(map, hook);
  ASSERT_TRUE(seen.mapped);
  EXPECT_EQ(seen.uri, FileUri(kBackupPage));
  EXPECT_TRUE(seen.backup_written);
}

TEST_F(MainWindowTest, TabAndShiftTabCycleThroughTheThreeControls) {
  GtkWidget* left = Control(kLeftViewName);
  GtkWidget* right = Control(kRightViewName);
  GtkWidget* button = Control(kShuffleButtonName);
  // Both views hold a page with a link, which must not hold the focus back.
  gtk_button_clicked(GTK_BUTTON(button));
  LoadedPage(WEBKIT_WEB_VIEW(left), kBackupPage);
  LoadedPage(WEBKIT_WEB_VIEW(right), kIndexPage);
  gtk_widget_grab_focus(button);
  EXPECT_EQ(MoveFocus(GDK_KEY_Tab), left);
  EXPECT_EQ(MoveFocus(GDK_KEY_Tab), right);
  EXPECT_EQ(MoveFocus(GDK_KEY_Tab), button);
  EXPECT_EQ(MoveFocus(GDK_KEY_Tab, {GDK_KEY_Shift_L}), right);
  EXPECT_EQ(MoveFocus(GDK_KEY_Tab, {GDK_KEY_Shift_L}), left);
  EXPECT_EQ(MoveFocus(GDK_KEY_Tab, {GDK_KEY_Shift_L}), button);
}

TEST_F(MainWindowTest, EnterAndF1LeaveTheFocusAndOpenNothing) {
  GtkWidget* button = Control(kShuffleButtonName);
  gtk_widget_grab_focus(button);
  auto count_toplevels = [] {
    GList* toplevels = gtk_window_list_toplevels();
    const guint count = g_list_length(toplevels);
    g_list_free(toplevels);
    return count;
  };
  const guint toplevels = count_toplevels();
  for (guint key : {GDK_KEY_Return, GDK_KEY_F1}) {
    PressKey(key);
    PumpFor(0.3);
    EXPECT_EQ(Focus(), button);
    EXPECT_EQ(count_toplevels(), toplevels);
  }
}

TEST_F(MainWindowTest, EscClosesTheWindowOnlyWithoutCtrlShiftOrAlt) {
  gtk_widget_grab_focus(Control(kShuffleButtonName));
  for (guint held : {GDK_KEY_Control_L, GDK_KEY_Shift_L, GDK_KEY_Alt_L}) {
    PressKey(GDK_KEY_Escape, {held});
    PumpFor(0.3);
    ASSERT_NE(window_, nullptr) << "closed with " << gdk_keyval_name(held) << " held";
  }
  PressKey(GDK_KEY_Escape);
  EXPECT_TRUE(PumpUntil([&] { return window_ == nullptr; }, 2));
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  gtk_init(nullptr, nullptr);
  return RUN_ALL_TESTS();
}
