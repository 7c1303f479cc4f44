// Articles that cannot be opened, in a main window built in this process (run under Xvfb): each
// gets a message in Chinese that says why, and the window keeps the article it had.
#include <glib/gstdio.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "shell/main_window.h"
#include "shell/page_files.h"
#include "shell/sample_article.h"

namespace fs = std::filesystem;

namespace {

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const fs::path& path, std::string_view bytes) {
  std::ofstream(path, std::ios::binary).write(bytes.data(), bytes.size());
}

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

class ArticleProblemTest : public testing::Test {
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

TEST_F(ArticleProblemTest, EachUnopenableFileGetsItsReasonAndTheSampleStays) {
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

TEST_F(ArticleProblemTest, AnUnreadableFileAtStartOpensTheSampleWithAMessage) {
  window_ = OpenMainWindow((folder_ / "gone.html").string());
  Pump();
  const std::vector<std::string> messages = TakeMessages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].find("文件不存在"), std::string::npos) << messages[0];
  EXPECT_EQ(ReadFile(PageFilePath(kBackupPage)), SampleArticle());
  ExpectPressShufflesTheSample();
}

TEST_F(ArticleProblemTest, AGoodFileAfterABadOneIsOpened) {
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

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  gtk_init(nullptr, nullptr);
  return RUN_ALL_TESTS();
}
