#include "text/paragraph_shuffler.h"

#include <algorithm>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <boost/regex.hpp>

#include "text/random_source.h"

namespace {

std::vector<Text> Members(const TextList& list) {
  std::vector<Text> members;
  for (size_t i = 1; i <= list.Count(); ++i) members.push_back(list.At(i));
  return members;
}

// Pins the clock, so every reseed reads the same millisecond, and starts the counter at 0.
class PinnedClockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    PinClock(1000);
    SetReseedCounter(0);
  }
  void TearDown() override { PinClock(std::nullopt); }
};

// Four blocks shaped like the built-in article: P, DIV, P, DIV, joined by CR LF.
const Text kBlock1 = "<P><FONT size=2>&nbsp;\xB5\xDA\xD2\xBB\xB6\xCE\xA1\xA3</FONT></P>";
const Text kBlock2 = "<DIV><FONT size=2>&nbsp;<FONT color=#ff0000>\xBA\xEC</FONT>two</FONT></DIV>";
const Text kBlock3 = "<P><FONT size=2><STRONG>\xC8\xFD</STRONG>three\xA1\xA3</FONT></P>";
const Text kBlock4 = "<DIV><FONT size=2>four<A href=\"https://example.com/\">x</A> </FONT></DIV>";
const Text kArticle = kBlock1 + "\r\n" + kBlock2 + "\r\n" + kBlock3 + "\r\n" + kBlock4;

TEST_F(PinnedClockTest, WorkedExampleGivesBlocksThreeOneTwoFour) {
  EXPECT_EQ(Members(CollectParagraphs(StripLineBreaks(kArticle))),
            (std::vector<Text>{kBlock1, kBlock3, kBlock2, kBlock4}));
  EXPECT_EQ(ShuffleArticle(kArticle), kBlock3 + kBlock1 + kBlock2 + kBlock4);
  EXPECT_EQ(ReseedCounter(), 1140u);
}

TEST_F(PinnedClockTest, ProgressCountsEveryParagraphAndChangesNothing) {
  std::vector<std::pair<size_t, size_t>> calls;
  const Text result =
      ShuffleArticle(kArticle, [&](size_t done, size_t total) { calls.emplace_back(done, total); });
  EXPECT_EQ(result, kBlock3 + kBlock1 + kBlock2 + kBlock4);
  EXPECT_EQ(calls, (std::vector<std::pair<size_t, size_t>>{{1, 4}, {2, 4}, {3, 4}, {4, 4}}));
}

TEST_F(PinnedClockTest, WorkedExampleStepByStep) {
  // The first block stands at the very start: pieces are (empty, blocks 2 3 4, block 1).
  Text working = ScatterAround(StripLineBreaks(kArticle), kBlock1);
  EXPECT_EQ(working, kBlock2 + kBlock3 + kBlock4 + kBlock1);
  EXPECT_EQ(ReseedCounter(), 332u);
  working = ScatterAround(working, kBlock3);
  EXPECT_EQ(working, kBlock3 + kBlock2 + kBlock4 + kBlock1);
  EXPECT_EQ(ReseedCounter(), 484u);
  working = ScatterAround(working, kBlock2);
  EXPECT_EQ(working, kBlock3 + kBlock4 + kBlock1 + kBlock2);
  EXPECT_EQ(ReseedCounter(), 788u);
}

TEST(StripLineBreaksTest, RemovesEveryCrAndLfAndNothingElse) {
  EXPECT_EQ(StripLineBreaks("a\r\nb\rc\nd\n\re"), "abcde");
  // A CR or LF right after a high byte cannot be a trail byte in GBK; it is a line break too.
  EXPECT_EQ(StripLineBreaks("\xB0\r\n\xB0\xA1\n\xB0"), "\xB0\xB0\xA1\xB0");
  EXPECT_EQ(StripLineBreaks(""), "");
}

struct CollectCase {
  const char* name;
  Text text;
  std::vector<Text> paragraphs;
};

TEST(CollectParagraphsTest, FindsParagraphsThenDivisions) {
  const CollectCase cases[] = {
      {"p before div", "<div>d</div><p>p</p>", {"<p>p</p>", "<div>d</div>"}},
      {"any letter case", "<P>a</p><Div class=x>b</DIV>", {"<P>a</p>", "<Div class=x>b</DIV>"}},
      {"div holding a p gives both", "<div>x<p>y</p></div>", {"<p>y</p>", "<div>x<p>y</p></div>"}},
      {"unbalanced nesting ends at the first close",
       "<div>a<div>b</div>c</div>",
       {"<div>a<div>b</div>"}},
      {"pre starts a p match", "<pre>x</pre><p>y</p>", {"<pre>x</pre><p>y</p>"}},
      {"opening tag ends at the first >", "<p a=\">\">x</p>", {"<p a=\">\">x</p>"}},
      {"non-overlapping", "<p>a</p>b</p><p>c</p>", {"<p>a</p>", "<p>c</p>"}},
      {"no elements", "plain <b>text</b>", {}},
      {"no closing tag", "<p>a<p>b<div>c", {}},
      {"no > after the opening", "<p", {}},
      {"closing tag before >", "<p</p>", {}},
      {"GBK prose", "<p>\xD6\xD0\xCE\xC4</p>", {"<p>\xD6\xD0\xCE\xC4</p>"}},
  };
  for (const CollectCase& c : cases) {
    EXPECT_EQ(Members(CollectParagraphs(c.text)), c.paragraphs) << c.name;
  }
}

// Searched with Boost alone, each of these retries the lazy pattern from every "<p" to the end.
TEST(CollectParagraphsTest, HostileMegabyteComesBackExact) {
  const size_t kMiB = 1 << 20;
  Text openings;
  while (openings.size() < kMiB) openings += "<p";
  EXPECT_EQ(CollectParagraphs(openings).Count(), 0u);
  EXPECT_EQ(ShuffleArticle(openings), openings);

  Text tags;
  while (tags.size() < kMiB) tags += "<p><div>";
  EXPECT_EQ(CollectParagraphs(tags).Count(), 0u);

  Text one_paragraph = tags + "</p>";
  EXPECT_EQ(Members(CollectParagraphs(one_paragraph)), std::vector<Text>{one_paragraph});
  EXPECT_EQ(ShuffleArticle(one_paragraph), one_paragraph);
}

TEST_F(PinnedClockTest, RepeatedParagraphIsPutBackOncePerOccurrence) {
  const Text spacer = "<p>&nbsp;</p>";
  const Text article = "<p>a</p>" + spacer + "<p>b</p>" + spacer + spacer + "<p>c</p>";
  Text result = ShuffleArticle(article);
  EXPECT_TRUE(std::is_permutation(result.begin(), result.end(), article.begin(), article.end()));
  size_t spacers = 0;
  for (size_t at = result.find(spacer); at != Text::npos; at = result.find(spacer, at + 1)) {
    ++spacers;
  }
  EXPECT_EQ(spacers, 3u);
}

TEST_F(PinnedClockTest, VanishedParagraphIsNotAddedAgain) {
  // The div holds the p: once the p has moved, the div no longer occurs.
  const Text article = "<div>x<p>y</p>z</div>tail";
  Text after_p = ScatterAround(article, "<p>y</p>");
  uint32_t counter = ReseedCounter();
  EXPECT_EQ(ScatterAround(after_p, "<div>x<p>y</p>z</div>"), after_p);
  EXPECT_EQ(ReseedCounter(), counter);  // no reseed for a paragraph that is not there
  Text result = ShuffleArticle(article);
  EXPECT_TRUE(std::is_permutation(result.begin(), result.end(), article.begin(), article.end()));
}

TEST(ShuffleArticleTest, DrawsVariedOrdersAcrossCalls) {
  PinClock(std::nullopt);
  std::vector<Text> seen;
  for (int i = 0; i < 20; ++i) {
    Text result = ShuffleArticle(kArticle);
    ASSERT_EQ(result.size(), kArticle.size() - 6);
    if (std::find(seen.begin(), seen.end(), result) == seen.end()) seen.push_back(result);
  }
  EXPECT_GE(seen.size(), 3u);
}

// The pipeline written the slow, obvious way: Boost searching the whole text, and a list whose
// members are drawn and removed one by one.
TextList CollectWithBoostAlone(const Text& text) {
  TextList paragraphs;
  for (const char* pattern : {"<p(.*?)>(.*?)</p>", "<div(.*?)>(.*?)</div>"}) {
    boost::regex regex(pattern, boost::regex::perl | boost::regex::icase);
    for (boost::sregex_iterator it(text.begin(), text.end(), regex), end; it != end; ++it) {
      paragraphs.Append(it->str());
    }
  }
  return paragraphs;
}

Text ShuffleStepwise(const Text& article) {
  Text working = StripLineBreaks(article);
  TextList paragraphs = CollectWithBoostAlone(working);
  for (size_t i = 1; i <= paragraphs.Count(); ++i) {
    const Text& paragraph = paragraphs.At(i);
    TextList pieces = SplitText(working, paragraph);
    size_t cuts = 0;
    SplitTextViews(working, paragraph, &cuts);
    if (cuts == 0) continue;
    for (size_t c = 0; c < cuts; ++c) pieces.Append(paragraph);
    Reseed();
    Text result;
    while (pieces.Count() > 0) {
      size_t k = static_cast<size_t>(DrawInRange(1, static_cast<int>(pieces.Count())));
      result += pieces.At(k);
      pieces.RemoveAt(k);
    }
    working = result;
  }
  return working;
}

Text GenerateArticle(std::mt19937& random) {
  static const char* const kTokens[] = {
      "<p>",
      "<P class=a>",
      "</p>",
      "</P>",
      "<div>",
      "<DIV id=1>",
      "</div>",
      "</DIV>",
      "<pre>",
      "</pre>",
      "<p>&nbsp;</p>",
      "<p>&nbsp;</p>",
      "\xD6\xD0\xCE\xC4",
      "word ",
      ">",
      "<",
      "\r\n",
      "\r",
      "\n",
      "<FONT size=2>",
      "</FONT>",
      "\xB0",
  };
  Text article;
  size_t tokens = random() % 40;
  for (size_t i = 0; i < tokens; ++i) article += kTokens[random() % std::size(kTokens)];
  return article;
}

TEST(ShuffleArticleTest, MatchesStepwisePipelineAndKeepsEveryByte) {
  std::mt19937 random(42);
  for (int round = 0; round < 3000; ++round) {
    Text article = GenerateArticle(random);
    uint32_t clock = static_cast<uint32_t>(random());
    PinClock(clock);
    SetReseedCounter(static_cast<uint32_t>(round));
    Text result = ShuffleArticle(article);
    PinClock(clock);
    SetReseedCounter(static_cast<uint32_t>(round));
    ASSERT_EQ(result, ShuffleStepwise(article)) << ::testing::PrintToString(article);

    Text kept = StripLineBreaks(article);
    ASSERT_TRUE(std::is_permutation(result.begin(), result.end(), kept.begin(), kept.end()))
        << ::testing::PrintToString(article);
    ASSERT_EQ(result.find_first_of("\r\n"), Text::npos);
  }
  PinClock(std::nullopt);
}

TEST(CollectParagraphsTest, AgreesWithBoostAloneOnAnyByte) {
  std::mt19937 random(7);
  const Text pieces[] = {
      "<p",     "<P", "<d", "<Di", "iv", "V",  ">",  "</p>", "</P",  "</div>",
      "</DIV>", "/",  "<",  "p",   "\n", "\r", "\f", "\x85", "\xB0", std::string(1, '\0')};
  for (int round = 0; round < 20000; ++round) {
    Text text;
    size_t count = random() % 16;
    for (size_t i = 0; i < count; ++i) text += pieces[random() % std::size(pieces)];
    ASSERT_EQ(Members(CollectParagraphs(text)), Members(CollectWithBoostAlone(text)))
        << ::testing::PrintToString(text);
  }
}

}  // namespace
