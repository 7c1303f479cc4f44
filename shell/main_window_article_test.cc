// Articles opened in a main window built in this process (run under Xvfb): files that cannot be
// opened each get a message in Chinese that says why, and the window keeps the article it had;
// Ctrl+V takes the clipboard's HTML, else its text, as the article.
#include <glib/gstdio.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "common/test_files.h"
#include "shell/main_window.h"
#include "shell/page_files.h"
#include "shell/sample_article.h"
#include "shell/user_article.h"

// Xlib last: its macros (None, Status) would break the headers above.
#include <X11/extensions/XTest.h>
#include <gdk/gdkx.h>

namespace fs = std::filesystem;

namespace {

void Pump() {
  while (g_main_context_iteration(nullptr, FALSE)) {
  }
}

// The message dialogs standing now, as "headline|details", and closes them.
std::vector<std::string> TakeMessages() {
  std::vector<std::string> messages;
  GList* toplevels = gtk_window_list_toplevels();
  for (GList* t = toplevels; t; t = t->next) {
    if (!GTK_IS_MESSAGE_DIALOG(t->data) || !gtk_widget_get_visible(GTK_WIDGET(t->data))) continue;
    g_autofree char* text = nullptr;
    g_autofree char* details = nullptr;
    g_object_get(t->data, "text", &text, "secondary-text", &details, nullptr);
    messages.push_back(std::string(text ? text : "") + "|" + (details ? details : ""));
    gtk_widget_destroy(GTK_WIDGET(t->data));
  }
  g_list_free(toplevels);
  return messages;
}

GtkWidget* ButtonOf(GtkWidget* window) {
  GList* children = gtk_container_get_children(GTK_CONTAINER(gtk_bin_get_child(GTK_BIN(window))));
  GtkWidget* button = GTK_WIDGET(g_list_last(children)->data);
  g_list_free(children);
  return button;
}

class OpenedArticleTest : public testing::Test {
 protected:
  void SetUp() override {
    g_autofree char* made = g_dir_make_tmp("article_problem_test_XXXXXX", nullptr);
    ASSERT_NE(made, nullptr);
    folder_ = made;
    SetPagesDirectory((folder_ / "pages").string());
    fs::create_directory(folder_ / "pages");
  }
  void TearDown() override {
    TakeMessages();
    if (window_) gtk_widget_destroy(window_);
    fs::remove_all(folder_);
  }

  // The sample's shuffle, not an article's, is what a press writes: 2003 bytes, no line breaks.
  void ExpectPressShufflesTheSample() {
    gtk_button_clicked(GTK_BUTTON(ButtonOf(window_)));
    const std::string written = ReadFile(PageFilePath(kIndexPage));
    EXPECT_EQ(written.size(), 2003u);
    EXPECT_EQ(written.find('\n'), std::string::npos);
  }

  fs::path folder_;
  GtkWidget* window_ = nullptr;
};

struct BadArticle {
  const char* name;
  std::string bytes;     // written to the file unless `make` is set
  const char* headline;  // a phrase the message's headline must hold
};

TEST_F(OpenedArticleTest, EachUnopenableFileGetsItsReasonAndTheSampleStays) {
  window_ = OpenMainWindow();
  Pump();
  const std::string backup_before = ReadFile(PageFilePath(kBackupPage));
  ASSERT_EQ(backup_before, SampleArticle());

  const BadArticle cases[] = {
      {"missing.html", "", "文件不存在"},
      {"a-folder.html", "", "这是一个文件夹"},
      {"too-large.html", "", "文件太大"},
      {"invalid-gb18030.html", "<p>\x80\xff</p>", "不是有效的 GB18030 文本"},
      {"invalid-utf8-declared.html", "<meta charset=\"utf-8\"><p>\xC3\x28</p>",
       "不是有效的 UTF-8 文本"},
      {"shift-jis.html", "<meta charset=\"shift_jis\"><p>x</p>", "编码不受支持"},
      {"nul.html", std::string("<p>a\0b</p>", 10), "不是有效的"},
  };
  for (const BadArticle& bad : cases) {
    SCOPED_TRACE(bad.name);
    const fs::path path = folder_ / bad.name;
    if (std::string_view(bad.name) == "a-folder.html") {
      fs::create_directory(path);
    } else if (std::string_view(bad.name) == "too-large.html") {
      WriteFile(path, "<p>x</p>");
      fs::resize_file(path, kLargestArticleBytes + 1);
    } else if (std::string_view(bad.name) != "missing.html") {
      WriteFile(path, bad.bytes);
    }
    EXPECT_FALSE(OpenArticle(window_, path.string()));
    const std::vector<std::string> messages = TakeMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find(bad.headline), std::string::npos) << messages[0];
    EXPECT_NE(messages[0].find(bad.name), std::string::npos) << "names the file: " << messages[0];
    EXPECT_EQ(ReadFile(PageFilePath(kBackupPage)), backup_before);
    ExpectPressShufflesTheSample();
  }
}

TEST_F(OpenedArticleTest, AnUnreadableFileAtStartOpensTheSampleWithAMessage) {
  window_ = OpenMainWindow((folder_ / "gone.html").string());
  Pump();
  const std::vector<std::string> messages = TakeMessages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].find("文件不存在"), std::string::npos) << messages[0];
  EXPECT_EQ(ReadFile(PageFilePath(kBackupPage)), SampleArticle());
  ExpectPressShufflesTheSample();
}

TEST_F(OpenedArticleTest, AGoodFileAfterABadOneIsOpened) {
  window_ = OpenMainWindow();
  EXPECT_FALSE(OpenArticle(window_, (folder_ / "missing.html").string()));
  TakeMessages();
  const std::string page = "<html><body>\n<p>一</p>\n<p>二</p>\n<p>三</p>\n</body></html>\n";
  WriteFile(folder_ / "good.html", page);
  EXPECT_TRUE(OpenArticle(window_, (folder_ / "good.html").string()));
  EXPECT_TRUE(TakeMessages().empty());
  EXPECT_EQ(ReadFile(PageFilePath(kBackupPage)), page);
  GList* children = gtk_container_get_children(GTK_CONTAINER(gtk_bin_get_child(GTK_BIN(window_))));
  WebKitWebView* left = WEBKIT_WEB_VIEW(children->data);
  g_list_free(children);
  EXPECT_STREQ(webkit_settings_get_default_charset(webkit_web_view_get_settings(left)), "UTF-8");
  gtk_button_clicked(GTK_BUTTON(ButtonOf(window_)));
  const std::string shuffled = ReadFile(PageFilePath(kIndexPage));
  EXPECT_EQ(shuffled.size(), page.size()) << "the layout-keeping shuffle keeps every byte";
  EXPECT_TRUE(shuffled.starts_with("<html><body>\n<p>")) << shuffled;
}

// Presses Ctrl with `keyval` through the X server's own input path.
void PressCtrl(GtkWidget* window, guint keyval) {
  Display* x = GDK_DISPLAY_XDISPLAY(gtk_widget_get_display(window));
  const KeyCode ctrl = XKeysymToKeycode(x, GDK_KEY_Control_L);
  const KeyCode key = XKeysymToKeycode(x, keyval);
  XTestFakeKeyEvent(x, ctrl, True, CurrentTime);
  XTestFakeKeyEvent(x, key, True, CurrentTime);
  XTestFakeKeyEvent(x, key, False, CurrentTime);
  XTestFakeKeyEvent(x, ctrl, False, CurrentTime);
  XFlush(x);
}

// Runs the main loop until `done()` holds or five seconds pass; returns whether it held.
template <typename Done>
bool PumpUntil(Done done) {
  const gint64 deadline = g_get_monotonic_time() + 5 * G_USEC_PER_SEC;
  while (!done()) {
    if (g_get_monotonic_time() > deadline) return false;
    if (!g_main_context_iteration(nullptr, FALSE)) g_usleep(1000);
  }
  return true;
}

// Puts `html` on the clipboard as text/html only.
void OfferHtml(const std::string& html) {
  static const GtkTargetEntry kHtml[] = {{const_cast<char*>("text/html"), 0, 0}};
  gtk_clipboard_set_with_data(
      gtk_clipboard_get(GDK_SELECTION_CLIPBOARD), kHtml, 1,
      [](GtkClipboard*, GtkSelectionData* data, guint, gpointer html) {
        const auto* bytes = static_cast<std::string*>(html);
        gtk_selection_data_set(data, gdk_atom_intern_static_string("text/html"), 8,
                               reinterpret_cast<const guchar*>(bytes->data()), bytes->size());
      },
      [](GtkClipboard*, gpointer html) { delete static_cast<std::string*>(html); },
      new std::string(html));
}

TEST_F(OpenedArticleTest, CtrlVTakesTheClipboardsHtmlElseItsTextAsTheArticle) {
  window_ = OpenMainWindow();
  ASSERT_TRUE(PumpUntil([&] { return gtk_widget_get_mapped(window_); }));
  gdk_window_focus(gtk_widget_get_window(window_), GDK_CURRENT_TIME);
  ASSERT_TRUE(PumpUntil([&] { return gtk_window_is_active(GTK_WINDOW(window_)); }));

  const std::string html = "<html><body>\n<p>甲段</p>\n<p>乙段</p>\n</body></html>\n";
  struct Case {
    const char* what;
    bool as_html;
    std::string offered;
    std::string backup;   // what backup.html must then hold; empty: a message instead
    const char* message;  // a phrase of that message
  } cases[] = {
      {"HTML", true, html, html, ""},
      {"text, each line a paragraph, markup escaped", false, "第一行\r\n\n  第二行 <b>&\n",
       "<p>第一行</p>\n<p>  第二行 &lt;b&gt;&amp;</p>\n", ""},
      {"only blank lines", false, "\n \n\t\n", "", "剪贴板里没有可以打乱的文字"},
      {"HTML not valid in its declared encoding", true, "<meta charset=utf-8><p>\xC3\x28</p>", "",
       "不是有效的 UTF-8 文本"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string before = ReadFile(PageFilePath(kBackupPage));
    if (c.as_html) {
      OfferHtml(c.offered);
    } else {
      gtk_clipboard_set_text(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD), c.offered.c_str(), -1);
    }
    PressCtrl(window_, GDK_KEY_v);
    std::vector<std::string> messages;
    const bool answered = PumpUntil([&] {
      messages = TakeMessages();
      return !messages.empty() || ReadFile(PageFilePath(kBackupPage)) != before;
    });
    ASSERT_TRUE(answered) << "Ctrl+V changed nothing";
    if (c.backup.empty()) {
      ASSERT_EQ(messages.size(), 1u);
      EXPECT_NE(messages[0].find(c.message), std::string::npos) << messages[0];
      EXPECT_EQ(ReadFile(PageFilePath(kBackupPage)), before);
    } else {
      EXPECT_TRUE(messages.empty()) << messages[0];
      EXPECT_EQ(ReadFile(PageFilePath(kBackupPage)), c.backup);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  gtk_init(nullptr, nullptr);
  return RUN_ALL_TESTS();
}
