#include "common/layout_shuffle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

// The text of each slot with its group: what a reader checks against the article by eye.
std::vector<std::pair<std::string, size_t>> SlotTexts(std::string_view article) {
  std::vector<std::pair<std::string, size_t>> texts;
  for (const ParagraphSlot& slot : FindParagraphSlots(article)) {
    texts.emplace_back(article.substr(slot.begin, slot.end - slot.begin), slot.group);
  }
  return texts;
}

// The article with every slot's bytes replaced by "@": what must come out of every shuffle alike.
std::string Outside(std::string_view article, const std::vector<ParagraphSlot>& slots) {
  std::string outside;
  size_t copied = 0;
  for (const ParagraphSlot& slot : slots) {
    outside.append(article.substr(copied, slot.begin - copied));
    outside += '@';
    copied = slot.end;
  }
  outside.append(article.substr(copied));
  return outside;
}

// Each group's paragraphs, sorted: what a shuffle may move but never change.
std::map<size_t, std::vector<std::string>> ParagraphsByGroup(
    std::string_view article, const std::vector<ParagraphSlot>& slots) {
  std::map<size_t, std::vector<std::string>> groups;
  for (const ParagraphSlot& slot : slots) {
    groups[slot.group].emplace_back(article.substr(slot.begin, slot.end - slot.begin));
  }
  for (auto& [group, paragraphs] : groups) std::sort(paragraphs.begin(), paragraphs.end());
  return groups;
}

// Checks that `result` is `article` with paragraphs moved only among their group's slots, and
// that the moved paragraphs still form the same slots.
void ExpectLayoutKept(std::string_view article, std::string_view result) {
  const std::vector<ParagraphSlot> before = FindParagraphSlots(article);
  const std::vector<ParagraphSlot> after = FindParagraphSlots(result);
  ASSERT_EQ(result.size(), article.size());
  EXPECT_TRUE(std::is_permutation(result.begin(), result.end(), article.begin(), article.end()));
  ASSERT_EQ(after.size(), before.size());
  EXPECT_EQ(Outside(result, after), Outside(article, before));
  for (size_t k = 0; k < before.size(); ++k) EXPECT_EQ(after[k].group, before[k].group);
  EXPECT_EQ(ParagraphsByGroup(result, after), ParagraphsByGroup(article, before));
}

// An article of `count` numbered paragraphs, one a line.
std::string NumberedParagraphs(int count) {
  std::string article;
  for (int i = 0; i < count; ++i) article += "<p>paragraph " + std::to_string(i) + "</p>\r\n";
  return article;
}

// The number in each paragraph of a NumberedParagraphs article, in the order they stand.
std::vector<int> ParagraphOrder(std::string_view article) {
  std::vector<int> order;
  for (const ParagraphSlot& slot : FindParagraphSlots(article)) {
    order.push_back(std::stoi(std::string(article.substr(slot.begin + 13, slot.end - slot.begin))));
  }
  return order;
}

TEST(Pcg32, FirstValuesMatchTheReferenceDemo) {
  // pcg32-demo of the reference C library: pcg32_srandom_r(&rng, 42, 54), then six draws.
  Pcg32 generator = SeedPcg32(42, 54);
  for (uint32_t expected :
       {0xa15c02b7u, 0x7b47f409u, 0xba1d3330u, 0x83d2f293u, 0xbfa4784bu, 0xcbed606eu}) {
    EXPECT_EQ(NextPcg32(generator), expected);
  }
}

TEST(DrawBelow, StaysInRangeAndFavoursNoValue) {
  Pcg32 generator = SeedPcg32(1, kLayoutShuffleStream);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(DrawBelow(generator, 1), 0u);
  // With bound 3 * 2^30, multiply-and-shift alone gives results divisible by 3 half the time
  // (two of every four 32-bit values land on them); without bias it is one third.
  const uint64_t bound = uint64_t{3} << 30;
  int divisible = 0;
  const int draws = 30000;
  for (int i = 0; i < draws; ++i) {
    const uint64_t value = DrawBelow(generator, bound);
    ASSERT_LT(value, bound);
    divisible += value % 3 == 0;
  }
  EXPECT_NEAR(static_cast<double>(divisible) / draws, 1.0 / 3, 0.015);
  // Past 32 bits: both halves of the range come up.
  const uint64_t wide = (uint64_t{1} << 40) + 7;
  int high = 0;
  for (int i = 0; i < 1000; ++i) {
    const uint64_t value = DrawBelow(generator, wide);
    ASSERT_LT(value, wide);
    high += value >= wide / 2;
  }
  EXPECT_NEAR(high, 500, 80);
}

TEST(FindParagraphSlots, TableOfShapes) {
  using Slots = std::vector<std::pair<std::string, size_t>>;
  const struct {
    const char* article;
    Slots expected;
  } cases[] = {
      {"<p>a</p> <P class=x>b</P>", {{"<p>a</p>", 0}, {"<P class=x>b</P>", 0}}},
      {"<DIV>a</Div>x<div\r\nid=2\n>b\r\nc</div\n>",
       {{"<DIV>a</Div>", 0}, {"<div\r\nid=2\n>b\r\nc</div\n>", 0}}},
      // A <p> or <div> that holds another is a wrapper; its own ones are siblings.
      {"<div><p>a</p><p>b</p></div><p>c</p>", {{"<p>a</p>", 0}, {"<p>b</p>", 0}, {"<p>c</p>", 1}}},
      {"<div>a<div>b</div>c</div><div>d</div>", {{"<div>b</div>", 0}, {"<div>d</div>", 1}}},
      {"<td><p>a</p></td><td><p>b</p></td>", {{"<p>a</p>", 0}, {"<p>b</p>", 1}}},
      {"<p>a<p>b</p>", {{"<p>b</p>", 0}}},
      // <pre>, <param> and <progress> start with "<p" but are other elements.
      {"<pre>a</p> b</pre><param name=p><progress>c</progress><p>d</p>", {{"<p>d</p>", 0}}},
      // Unclosed, badly nested or stray tags keep a paragraph in place.
      {"<p>a<b>b</p><p>c</span></p><p>d</p><p>e", {{"<p>d</p>", 0}}},
      {"<div>a<ul><li>b</div><p>c</p>", {{"<p>c</p>", 0}}},
      // Void and self-closed tags need no closing tag.
      {"<p>a<br>b<img src=x /><o:p></o:p><v:shape/></p>",
       {{"<p>a<br>b<img src=x /><o:p></o:p><v:shape/></p>", 0}}},
      // Quoted attribute values may hold '>' and tags.
      {"<p title=\"a>b\" alt='<p>'>c</p>", {{"<p title=\"a>b\" alt='<p>'>c</p>", 0}}},
      // Nothing inside comments, scripts, styles and other raw text is a tag.
      {"<!-- <p>a</p> --><script>x = '<p>b</p>' + '</div>';</SCRIPT ><style>p>a{}</style>"
       "<title><p>c</p></title><textarea></p></textarea><p>d</p>",
       {{"<p>d</p>", 0}}},
      {"<!--><p>a</p><!---><p>b</p>", {{"<p>a</p>", 0}, {"<p>b</p>", 0}}},
      {"<p><![if !supportLists]>1.<![endif]>a</p><!DOCTYPE x><?php ?><p>b</p>",
       {{"<p><![if !supportLists]>1.<![endif]>a</p>", 0}, {"<p>b</p>", 0}}},
      // Unfinished markup ends the scan; what was found before stays found.
      {"<p>a</p><p>b</p><script><p>c</p>", {{"<p>a</p>", 0}, {"<p>b</p>", 0}}},
      {"<p>a</p><!-- <p>b</p>", {{"<p>a</p>", 0}}},
      {"<p>a</p><p title=\"x>b</p>", {{"<p>a</p>", 0}}},
      {"<p>a</p><plaintext><p>b</p>", {{"<p>a</p>", 0}}},
      {"a < b <p>c</p> <3 </ p> </>", {{"<p>c</p>", 0}}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SlotTexts(c.article), c.expected) << c.article;
  }
}

TEST(FindParagraphSlots, NeverSplitsAMultibyteCharacter) {
  // Trail bytes that read as 'p', 'd', 'i', 'v' in GBK and Big5 (0x40-0x7E), GB18030 four-byte
  // characters (trails 0x30-0x39) and UTF-8, next to and inside the tags.
  const std::string gbk_p = "\x81p", gbk_div =
                                         "\x81"
                                         "d"
                                         "\x81"
                                         "i"
                                         "\x81"
                                         "v";
  const std::string big5 =
      "\xA4"
      "p"
      "\xA4"
      "d";
  const std::string gb18030 = "\x81\x30\x81\x30\x84\x31\xA4\x39";
  const std::string utf8 = "\xE4\xB8\xAD\xF0\xA0\x80\x80";
  for (const std::string& text : {gbk_p + gbk_div, big5, gb18030, utf8}) {
    const std::string article = text + "<p>" + text + "</p>" + text + "<div class=" + text + ">" +
                                text + "<p" + text + ">x</p" + text + "></div>" + text + "</" +
                                text + "div><" + text + "p>" + text + "</p>";
    EXPECT_EQ(
        SlotTexts(article),
        (std::vector<std::pair<std::string, size_t>>{
            {"<p>" + text + "</p>", 0},
            {"<div class=" + text + ">" + text + "<p" + text + ">x</p" + text + "></div>", 0}}))
        << article;
  }
}

TEST(ShuffleKeepingLayout, FullPageKeepsEveryByteOutsideTheParagraphs) {
  const std::string page =
      "<!DOCTYPE html>\r\n<html><head>\r\n<meta charset=gbk><title>A <p>title</p></title>\r\n"
      "<style>\r\np { margin: 0 }\r\ndiv > p { color: red }\r\n</style>\r\n"
      "<script>document.write('<p>written</p><div>');</script>\r\n</head>\r\n"
      "<body lang=ZH-CN>\r\n<!-- <p>commented</p> -->\r\n"
      "<div class=WordSection1>\r\n<h1>Heading</h1>\r\n"
      "<p class=MsoNormal>first\r\nline</p>\r\ntext between\r\n"
      "<p class=MsoNormal><span>second</span><br></p>\r\n"
      "<pre>  keep\r\n   this </pre>\r\n"
      "<div><div>inner one</div>\r\n<div>inner two</div>\r\n<div>inner three</div></div>\r\n"
      "<P>third</P>\r\n<h2>Another</h2>\r\n<p>fourth</p>\r\n</div>\r\n"
      "<div class=footer>footer</div>\r\n</body>\r\n</html>\r\n";
  using Slots = std::vector<std::pair<std::string, size_t>>;
  EXPECT_EQ(SlotTexts(page), (Slots{{"<p class=MsoNormal>first\r\nline</p>", 0},
                                    {"<p class=MsoNormal><span>second</span><br></p>", 0},
                                    {"<div>inner one</div>", 1},
                                    {"<div>inner two</div>", 1},
                                    {"<div>inner three</div>", 1},
                                    {"<P>third</P>", 0},
                                    {"<p>fourth</p>", 0},
                                    {"<div class=footer>footer</div>", 2}}));
  std::set<std::string> results;
  for (uint64_t seed = 0; seed < 50; ++seed) {
    const std::string result = ShuffleKeepingLayout(page, seed);
    ExpectLayoutKept(page, result);
    results.insert(result);
  }
  EXPECT_GT(results.size(), 40u);  // 4! * 3! = 144 arrangements
}

TEST(ShuffleKeepingLayout, SameSeedSameBytesOnEveryBuild) {
  const std::string article = NumberedParagraphs(10);
  EXPECT_EQ(ShuffleKeepingLayout(article, 7), ShuffleKeepingLayout(article, 7));
  EXPECT_NE(ShuffleKeepingLayout(article, 7), ShuffleKeepingLayout(article, 8));
  // Worked out apart from this code, from the reference generator, Lemire's draw and Fisher-Yates
  // from the last slot down.
  EXPECT_EQ(ParagraphOrder(ShuffleKeepingLayout(article, 7)),
            (std::vector<int>{5, 6, 2, 7, 9, 4, 3, 1, 8, 0}));
  EXPECT_EQ(ParagraphOrder(ShuffleKeepingLayout(article, 0)),
            (std::vector<int>{4, 8, 6, 9, 5, 7, 2, 0, 1, 3}));
}

TEST(ShuffleKeepingLayout, MixesFortyParagraphsEvenly) {
  // Over 1,000 fixed seeds: pairs that change order, paragraphs left in place, and a chi-square
  // of paragraph x slot counts (1,521 degrees of freedom, 25 expected in each cell).
  const int count = 40, seeds = 1000;
  const std::string article = NumberedParagraphs(count);
  std::vector<std::vector<int>> at_slot(count, std::vector<int>(count, 0));
  long swapped_pairs = 0, in_place = 0;
  for (int seed = 0; seed < seeds; ++seed) {
    const std::vector<int> order = ParagraphOrder(ShuffleKeepingLayout(article, seed));
    ASSERT_EQ(order.size(), static_cast<size_t>(count));
    for (int slot = 0; slot < count; ++slot) {
      ++at_slot[order[slot]][slot];
      in_place += order[slot] == slot;
      for (int later = slot + 1; later < count; ++later)
        swapped_pairs += order[later] < order[slot];
    }
  }
  const double pairs = static_cast<double>(seeds) * count * (count - 1) / 2;
  EXPECT_NEAR(swapped_pairs / pairs, 0.5, 0.02);
  EXPECT_NEAR(static_cast<double>(in_place) / (seeds * count), 1.0 / count, 0.005);
  const double expected = static_cast<double>(seeds) / count;
  double chi_square = 0;
  for (const auto& row : at_slot) {
    for (int n : row) chi_square += (n - expected) * (n - expected) / expected;
  }
  const double freedom = (count - 1) * (count - 1);
  EXPECT_NEAR(chi_square, freedom, 4 * std::sqrt(2 * freedom));
}

// Articles built at random from the pieces real and broken pages are made of; whole paragraphs
// come up often, so most articles have some to move.
std::string RandomArticle(std::mt19937& random) {
  // clang-format off
  static const std::string_view pieces[] = {
      "<p>a</p>", "<p>b</p>", "<div>c<br></div>", "<P class=x>\xB0\xA1</P>",
      "<p>\r\n<span>d</span></p>", "<div><p>e</p><p>f</p></div>", "<div><div>g</div></div>",
      "<p>a</p>", "<p>b</p>", "<div>c<br></div>", "<P class=x>\xB0\xA1</P>", "<p>", "</p>",
      "<div>", "</div>", "<P class=x>", "</DIV>", "<pre>", "</pre>", "<span>", "</span>", "<b>",
      "</i>", "<br>", "<img/>", "<!--", "-->", "<script>", "</script>", "<style>", "</style>",
      "<![if x]>", "<!DOCTYPE html>", "<td>", "</td>", "<p title=\"", "\"", "'", "=", ">", "<",
      "</", "text", " ", "\r\n", "\n", "\xB0\xA1", "\x81p", "\x81v", "<p", "<div", "</p",
      "<o:p></o:p>", "<param>", "<plaintext>"};
  // clang-format on
  std::string article;
  const int length = static_cast<int>(random() % 60);
  for (int i = 0; i < length; ++i) article += pieces[random() % std::size(pieces)];
  return article;
}

TEST(ShuffleKeepingLayout, AlwaysARearrangementThatKeepsTheLayout) {
  std::mt19937 random(2026);
  for (int i = 0; i < 3000; ++i) {
    const std::string article = RandomArticle(random);
    const std::vector<ParagraphSlot> slots = FindParagraphSlots(article);
    for (size_t k = 0; k < slots.size(); ++k) {
      ASSERT_LT(slots[k].begin, slots[k].end) << article;
      ASSERT_LE(slots[k].end, article.size()) << article;
      if (k > 0) {
        ASSERT_LE(slots[k - 1].end, slots[k].begin) << article;
      }
    }
    ExpectLayoutKept(article, ShuffleKeepingLayout(article, i));
    if (HasFailure()) {
      ADD_FAILURE() << "article: " << article;
      return;
    }
  }
}

TEST(ShuffleKeepingLayout, HostileShapesComeOutWhole) {
  auto repeat = [](std::string_view unit, size_t times) {
    std::string text;
    for (size_t i = 0; i < times; ++i) text += unit;
    return text;
  };
  const struct {
    std::string article;
    size_t slots;
  } cases[] = {
      {repeat("<p></p>x", 20000), 20000},
      {repeat("<p", 50000), 0},
      {repeat("<p><div>", 20000) + "</p>", 0},
      {repeat("<div>", 5000) + "<p>a</p><p>b</p>" + repeat("</div>", 5000), 0},  // too deep
      {repeat("<div>", 1000) + "<p>a</p><p>b</p>" + repeat("</div>", 1000), 2},
      {repeat("<b>", 1000) + repeat("</i>", 20000) + "<p>a</p><p>b</p>", 2},
      {repeat("<!--", 20000), 0},
      {repeat("<p a='", 20000), 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FindParagraphSlots(c.article).size(), c.slots) << c.article.substr(0, 40);
    ExpectLayoutKept(c.article, ShuffleKeepingLayout(c.article, 1));
  }
}

TEST(SeedFromSystem, DiffersBetweenCalls) {
  EXPECT_NE(SeedFromSystem(), SeedFromSystem());
}

}  // namespace
