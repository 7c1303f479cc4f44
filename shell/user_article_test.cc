// The user's article read with no window: the problem each file that cannot open gets, the bytes
// and encoding of those that open, and pasted HTML and text.
#include "shell/user_article.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "common/test_files.h"

namespace fs = std::filesystem;

namespace {

// A page of exactly `size` bytes: a paragraph padded with 'a's.
std::string PageOfSize(size_t size) {
  std::string page = "<p>x</p>";
  page.resize(size, 'a');
  return page;
}

TEST(LoadArticle, EachFileThatCannotOpenGetsItsReasonNamingIt) {
  TempFolder folder("user_article_test_");
  struct Case {
    std::string name;      // the file's name, under the test's folder
    std::string bytes;     // written to the file when not empty
    const char* headline;  // a phrase the headline must hold
    const char* detail;    // a phrase the details must hold
  } cases[] = {
      {"missing.html", "", "：文件不存在。", "missing.html"},
      {"a-folder", "", "：这是一个文件夹，不是文件。", "a-folder"},
      {"not-a-folder.html/inside.html", "", "：系统报告：", "inside.html"},
      {"too-large.html", "", "：文件太大。", "它有 17 MB，本工具最多打开 16 MB 的文章。"},
      {"invalid-gb18030.html", "<p>\x80\xff</p>", "：它不是有效的 GB18030 文本。",
       "at byte offset 3 (the encoding was decided by neither declared nor valid UTF-8)"},
      {"invalid-utf8.html", "<meta charset=\"utf-8\"><p>\xC3\x28</p>",
       "：它不是有效的 UTF-8 文本。",
       "at byte offset 25 (the encoding was decided by <meta charset>)"},
      {"shift-jis.html", "<meta charset=\"shift_jis\"><p>x</p>", "：它的编码不受支持。",
       "本工具能处理 GBK、GB18030、Big5、UTF-8 和 UTF-16 编码的文章。"},
      {"nul.html", std::string("<p>a\0b</p>", 10), "：它不是有效的 UTF-8 文本。",
       "NUL character at byte offset 4"},
      // In UTF-16 a NUL is a zero code unit, not any zero byte.
      {"nul-utf16.html", std::string("\xFF\xFE<\0p\0>\0\0\0", 10), "：它不是有效的 UTF-16LE 文本。",
       "NUL character at byte offset 8 (the encoding was decided by byte-order mark)"},
      // A name that is not UTF-8 is shown readably, its stray byte replaced.
      {std::string(1, '\xFF') + "name.html", "", "无法打开“\xEF\xBF\xBDname.html”：文件不存在。",
       ""},
  };
  WriteFile(folder / "not-a-folder.html", "<p>x</p>");
  fs::create_directory(folder / "a-folder");
  WriteFile(folder / "too-large.html", "<p>x</p>");
  fs::resize_file(folder / "too-large.html", kLargestArticleBytes + 1);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (!c.bytes.empty()) WriteFile(folder / c.name, c.bytes);
    Problem problem;
    EXPECT_FALSE(LoadArticle(folder / c.name, &problem).has_value());
    EXPECT_NE(problem.summary.find(c.headline), std::string::npos) << problem.summary;
    const std::string shown_name = DisplayName(folder / c.name);
    EXPECT_TRUE(problem.summary.starts_with("无法打开“" + shown_name + "”")) << problem.summary;
    EXPECT_NE(problem.detail.find(c.detail), std::string::npos) << problem.detail;
  }
}

TEST(LoadArticle, GivesTheBytesAsTheyAreInTheirEncoding) {
  TempFolder folder("user_article_test_");
  const struct {
    const char* name;
    std::string bytes;
    Encoding encoding;
  } cases[] = {
      {"utf8.html", "<p>一</p>\n<p>二</p>\n", Encoding::kUtf8},
      {"gbk-declared.html", "<meta charset=gbk><p>\xD2\xBB</p>", Encoding::kGb18030},
      {"gbk-undeclared.html", "<p>\xD2\xBB</p><p>\xB6\xFE</p>", Encoding::kGb18030},
      {"big5.html", "<meta charset=big5><p>\xA4\x40</p>", Encoding::kBig5},
      {"largest.html", PageOfSize(kLargestArticleBytes), Encoding::kUtf8},
      // UTF-16 holds zero bytes in nearly every character; they are not NULs.
      {"utf16le.html", std::string("\xFF\xFE<\0p\0>\0\0N<\0/\0p\0>\0", 18), Encoding::kUtf16Le},
      {"utf16be.html", std::string("\xFE\xFF\0<\0p\0>N\0\0<\0/\0p\0>", 18), Encoding::kUtf16Be},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(folder / c.name, c.bytes);
    Problem problem;
    const std::optional<UserArticle> article = LoadArticle(folder / c.name, &problem);
    ASSERT_TRUE(article.has_value()) << problem.summary << " | " << problem.detail;
    EXPECT_EQ(article->path, folder / c.name);
    EXPECT_TRUE(article->bytes == c.bytes);
    EXPECT_EQ(article->encoding, c.encoding);
  }
}

TEST(ParagraphsOf, MakesEachLineWithTextAParagraph) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},
      {"\n \n\t\n\r\n", ""},
      {"one", "<p>one</p>\n"},
      {"第一行\r\n\n  第二行 <b>&\n", "<p>第一行</p>\n<p>  第二行 &lt;b&gt;&amp;</p>\n"},
      {"a\n\nb\r\nc", "<p>a</p>\n<p>b</p>\n<p>c</p>\n"},
      {"'quoted' \"too\"", "<p>&apos;quoted&apos; &quot;too&quot;</p>\n"},
  };
  for (const auto& [text, html] : cases) EXPECT_EQ(ParagraphsOf(text), html) << text;
}

TEST(PastedArticle, IsCheckedAsAFileIsAndNamedTheClipboard) {
  Problem problem;
  std::optional<UserArticle> article = PastedHtmlArticle("<p>甲</p><p>乙</p>", &problem);
  ASSERT_TRUE(article.has_value()) << problem.summary;
  EXPECT_EQ(article->bytes, "<p>甲</p><p>乙</p>");
  EXPECT_EQ(article->encoding, Encoding::kUtf8);
  EXPECT_TRUE(article->path.empty());

  article = PastedTextArticle("甲\n\n乙 & 丙\n", &problem);
  ASSERT_TRUE(article.has_value()) << problem.summary;
  EXPECT_EQ(article->bytes, "<p>甲</p>\n<p>乙 &amp; 丙</p>\n");

  ASSERT_TRUE(PastedHtmlArticle(PageOfSize(kLargestArticleBytes), &problem).has_value());

  const std::string large = PageOfSize(kLargestArticleBytes + 1);
  const struct {
    const char* what;
    std::string pasted;
    bool as_html;
    const char* summary;
  } refused[] = {
      {"too large", large, true, "无法打开“剪贴板”：文件太大。"},
      {"text too large", large, false, "无法打开“剪贴板”：文件太大。"},
      {"not valid in its encoding", "<meta charset=utf-8><p>\xC3\x28</p>", true,
       "无法打开“剪贴板”：它不是有效的 UTF-8 文本。"},
      {"blank text", " \n\t\n", false, "剪贴板里没有可以打乱的文字。"},
  };
  for (const auto& c : refused) {
    SCOPED_TRACE(c.what);
    problem = {};
    article =
        c.as_html ? PastedHtmlArticle(c.pasted, &problem) : PastedTextArticle(c.pasted, &problem);
    EXPECT_FALSE(article.has_value());
    EXPECT_EQ(problem.summary, c.summary);
  }
}

}  // namespace
