#include "shell/sample_article.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "text/paragraph_shuffler.h"
#include "text/random_source.h"

namespace {

constexpr std::string_view kFullStop = "\xA1\xA3";  // 。 in GBK

std::vector<std::string_view> Blocks(std::string_view article) {
  std::vector<std::string_view> blocks;
  size_t start = 0;
  for (size_t cut; (cut = article.find("\r\n", start)) != std::string_view::npos; start = cut + 2) {
    blocks.push_back(article.substr(start, cut - start));
  }
  blocks.push_back(article.substr(start));
  return blocks;
}

// True when `text` is nothing but two-byte GBK characters.
bool AllDoubleByte(std::string_view text) {
  if (text.size() % 2 != 0) return false;
  for (size_t i = 0; i < text.size(); i += 2) {
    if (static_cast<unsigned char>(text[i]) < 0x81) return false;
  }
  return true;
}

// The characters between `open` and the next `close` after it; empty when `open` is absent.
std::string_view Between(std::string_view text, std::string_view open, std::string_view close) {
  size_t start = text.find(open);
  if (start == std::string_view::npos) return {};
  start += open.size();
  return text.substr(start, text.find(close, start) - start);
}

size_t Occurrences(std::string_view text, std::string_view part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string_view::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

TEST(SampleArticle, IsFourBlocksJoinedByThreeCrLf) {
  const std::string_view article = SampleArticle();
  EXPECT_EQ(article.size(), 2009u);
  EXPECT_EQ(Occurrences(article, "\r\n"), 3u);
  EXPECT_EQ(std::count(article.begin(), article.end(), '\r'), 3);
  EXPECT_EQ(std::count(article.begin(), article.end(), '\n'), 3);
  EXPECT_EQ(article.find('\0'), std::string_view::npos);

  std::vector<size_t> lengths;
  for (std::string_view block : Blocks(article)) lengths.push_back(block.size());
  EXPECT_EQ(lengths, (std::vector<size_t>{102, 617, 563, 721}));
}

TEST(SampleArticle, IsValidGbk) {
  std::string in(SampleArticle());
  iconv_t converter = iconv_open("UTF-8", "GBK");
  ASSERT_NE(converter, reinterpret_cast<iconv_t>(-1));
  std::string out(in.size() * 2, '\0');
  char* in_next = in.data();
  size_t in_left = in.size();
  char* out_next = out.data();
  size_t out_left = out.size();
  const size_t converted = iconv(converter, &in_next, &in_left, &out_next, &out_left);
  iconv_close(converter);
  EXPECT_NE(converted, static_cast<size_t>(-1)) << "stopped at byte " << in_next - in.data();
  EXPECT_EQ(in_left, 0u);
}

// Endings hold the full stop (\xA1\xA3) that closes each block's prose.
TEST(SampleArticle, BlocksOpenAndEndAsTheShufflerExpects) {
  struct Shape {
    std::string_view opening;
    std::string_view ending;
  } shapes[] = {
      {"<P><FONT size=2>&nbsp;&nbsp;&nbsp; &nbsp;", "\xA1\xA3</FONT></P>"},
      {"<DIV><FONT size=2>&nbsp;&nbsp;&nbsp;&nbsp; ", "\xA1\xA3</FONT></DIV>"},
      {"<P><FONT size=2>&nbsp;&nbsp;&nbsp;&nbsp; ", "\xA1\xA3</FONT></P>"},
      {"<DIV><FONT size=2>&nbsp;&nbsp;&nbsp;&nbsp;", "\xA1\xA3 </FONT></FONT></DIV>"},
  };
  const std::vector<std::string_view> blocks = Blocks(SampleArticle());
  ASSERT_EQ(blocks.size(), 4u);
  for (size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE("block " + std::to_string(i + 1));
    std::string_view block = blocks[i];
    ASSERT_TRUE(block.starts_with(shapes[i].opening));
    EXPECT_TRUE(block.ends_with(shapes[i].ending));
    // The indent is exactly the run above: prose or the next tag follows, not more spacing.
    const char after_indent = block[shapes[i].opening.size()];
    EXPECT_TRUE(after_indent == '<' || static_cast<unsigned char>(after_indent) >= 0x81);
  }
}

TEST(SampleArticle, BlocksCarryTheirInlineMarkup) {
  const std::vector<std::string_view> blocks = Blocks(SampleArticle());
  ASSERT_EQ(blocks.size(), 4u);

  std::string_view sentence = Between(blocks[0], "&nbsp; &nbsp;", "</FONT></P>");
  EXPECT_EQ(sentence.size(), 50u);
  EXPECT_TRUE(AllDoubleByte(sentence));
  EXPECT_EQ(Occurrences(sentence, kFullStop), 1u);

  std::string_view red = Between(blocks[1], "<FONT color=#ff0000>", "</FONT>");
  EXPECT_EQ(red.size(), 12u);
  EXPECT_TRUE(AllDoubleByte(red));
  const size_t red_at = blocks[1].find("<FONT color=#ff0000>");
  EXPECT_GT(red_at, blocks[1].size() / 4);
  EXPECT_LT(red_at, blocks[1].size() * 3 / 4);

  std::string_view strong = Between(blocks[2], "<STRONG>", "</STRONG>");
  EXPECT_EQ(strong.size(), 30u);
  EXPECT_TRUE(AllDoubleByte(strong));
  EXPECT_LT(blocks[2].find("<STRONG>"), 60u);

  std::string_view block4 = blocks[3];
  EXPECT_EQ(Occurrences(block4, "<FONT size=2>"), 4u);
  EXPECT_EQ(Occurrences(block4, "<A href=\"https://"), 1u);
  std::string_view anchor = Between(block4, "\">", "</A>");
  EXPECT_TRUE(anchor.starts_with("<FONT size=2>"));
  EXPECT_TRUE(anchor.ends_with("</FONT>"));
  EXPECT_TRUE(AllDoubleByte(Between(anchor, "<FONT size=2>", "</FONT>")));
  EXPECT_EQ(Between(anchor, "<FONT size=2>", "</FONT>").size(), 4u);
  EXPECT_NE(block4.find("</FONT><A href="), std::string_view::npos);
  EXPECT_NE(block4.find("</A><FONT size=2>"), std::string_view::npos);
}

// Tag names are upper case, and no attribute value other than the anchor's is quoted.
TEST(SampleArticle, TagNamesAreUpperCaseAndOnlyTheAnchorQuotes) {
  std::string_view article = SampleArticle();
  size_t tags = 0;
  for (size_t open = article.find('<'); open != std::string_view::npos;
       open = article.find('<', open + 1)) {
    const size_t close = article.find('>', open);
    ASSERT_NE(close, std::string_view::npos);
    std::string_view tag = article.substr(open + 1, close - open - 1);
    if (tag.starts_with('/')) tag.remove_prefix(1);
    const std::string_view name = tag.substr(0, tag.find(' '));
    ++tags;
    EXPECT_FALSE(name.empty());
    EXPECT_TRUE(std::all_of(name.begin(), name.end(), [](char c) { return c >= 'A' && c <= 'Z'; }))
        << name;
    if (name != "A") {
      EXPECT_EQ(tag.find('"'), std::string_view::npos) << tag;
    }
  }
  EXPECT_EQ(tags, 28u);
}

TEST(SampleArticle, ShufflerFindsBothParagraphsThenBothDivisions) {
  const std::vector<std::string_view> blocks = Blocks(SampleArticle());
  ASSERT_EQ(blocks.size(), 4u);
  const TextList paragraphs = CollectParagraphs(StripLineBreaks(SampleArticle()));
  ASSERT_EQ(paragraphs.Count(), 4u);
  EXPECT_EQ(paragraphs.At(1), blocks[0]);
  EXPECT_EQ(paragraphs.At(2), blocks[2]);
  EXPECT_EQ(paragraphs.At(3), blocks[1]);
  EXPECT_EQ(paragraphs.At(4), blocks[3]);
}

// With the clock reading 1000 at every reseed and the counter at 0, the draws put the blocks in the
// order 3 1 2 4; every press of the button joins the four blocks with nothing between them.
TEST(SampleArticle, ShuffledWithClockAt1000GivesBlocksThreeOneTwoFour) {
  const std::vector<std::string_view> blocks = Blocks(SampleArticle());
  ASSERT_EQ(blocks.size(), 4u);
  PinClock(1000);
  SetReseedCounter(0);
  const Text result = ShuffleArticle(SampleArticle());
  PinClock(std::nullopt);
  EXPECT_EQ(result, Concat({blocks[2], blocks[0], blocks[1], blocks[3]}));
  EXPECT_EQ(result.size(), 2003u);
  EXPECT_EQ(ReseedCounter(), 1140u);
}

}  // namespace
