#include "text/text_ops.h"

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

std::vector<Text> Members(const TextList& list) {
  std::vector<Text> members;
  for (size_t i = 1; i <= list.Count(); ++i) members.push_back(list.At(i));
  return members;
}

// The splitting rule written the slow, obvious way: step one character at a time (two bytes for a
// high byte), try the separator at every step, stop at a high byte that has no byte after it.
std::vector<Text> SplitStepwise(const Text& text, const Text& separator) {
  if (text.empty()) return {};
  if (separator.empty()) return {text};
  std::vector<Text> pieces;
  size_t start = 0, pos = 0;
  while (text.size() - pos >= separator.size()) {
    if (text.compare(pos, separator.size(), separator) == 0) {
      pieces.push_back(text.substr(start, pos - start));
      pos += separator.size();
      start = pos;
    } else if (static_cast<unsigned char>(text[pos]) >= 0x80) {
      if (pos + 1 == text.size()) break;
      pos += 2;
    } else {
      pos += 1;
    }
  }
  if (start < text.size()) pieces.push_back(text.substr(start));
  return pieces;
}

Text ReplaceStepwise(const Text& text, const Text& old_part, const Text& new_part) {
  if (text.empty() || old_part.empty()) return text;
  Text result;
  size_t pos = 0;
  while (pos < text.size() && text.size() - pos >= old_part.size()) {
    if (text.compare(pos, old_part.size(), old_part) == 0) {
      result += new_part;
      pos += old_part.size();
    } else {
      size_t step = static_cast<unsigned char>(text[pos]) >= 0x80 ? 2 : 1;
      step = std::min(step, text.size() - pos);
      result += text.substr(pos, step);
      pos += step;
    }
  }
  return result + text.substr(pos);
}

struct SplitCase {
  const char* name;
  Text text;
  Text separator;
  std::vector<Text> pieces;
};

TEST(SplitTextTest, CutsAtEverySeparatorThatBeginsACharacter) {
  const SplitCase cases[] = {
      {"middle", "aXbXc", "X", {"a", "b", "c"}},
      {"leading and trailing", "XaX", "X", {"", "a"}},
      {"only separators", "XX", "X", {"", ""}},
      {"absent", "abc", "X", {"abc"}},
      {"empty text", "", "X", {}},
      {"empty separator", "abc", "", {"abc"}},
      {"longer separator", "a<p>b<p>", "<p>", {"a", "b"}},
      {"separator longer than text", "ab", "abc", {"ab"}},
      // \xB0\x41 is one character: the A inside it is not a separator.
      {"separator as trail byte",
       "\xB0"
       "AxA",
       "A",
       {"\xB0"
        "Ax"}},
      {"separator straddling two characters", "\xB0\xA1\xB0\xA1", "\xA1\xB0", {"\xB0\xA1\xB0\xA1"}},
      {"two-byte separator",
       "a\xB0\xA1"
       "b\xB0\xA1",
       "\xB0\xA1",
       {"a", "b"}},
      // After a cut the scan restarts right behind the separator, even if that ends in a high byte.
      {"separator ending in a lead byte",
       "x\xB0"
       "AyA",
       "x\xB0",
       {"", "AyA"}},
      {"lone lead byte at the end", "aXb\xB0", "X", {"a", "b\xB0"}},
  };
  for (const SplitCase& c : cases) {
    EXPECT_EQ(Members(SplitText(c.text, c.separator)), c.pieces) << c.name;
  }
}

TEST(SplitTextTest, ReportsTheNumberOfCuts) {
  size_t cuts = 99;
  SplitTextViews("XaXXbX", "X", &cuts);
  EXPECT_EQ(cuts, 4u);
  SplitTextViews("abc", "X", &cuts);
  EXPECT_EQ(cuts, 0u);
  SplitTextViews("", "X", &cuts);
  EXPECT_EQ(cuts, 0u);
}

TEST(SplitTextTest, SplitIntoReplacesWhatTheListHeld) {
  std::vector<std::string_view> pieces = {"stale", "pieces", "from before"};
  EXPECT_EQ(SplitTextViewsInto("aXb", "X", pieces), 1u);
  EXPECT_EQ(pieces, (std::vector<std::string_view>{"a", "b"}));
  EXPECT_EQ(SplitTextViewsInto("", "X", pieces), 0u);
  EXPECT_TRUE(pieces.empty());
}

struct ReplaceCase {
  const char* name;
  Text text, old_part, new_part, expected;
};

TEST(ReplaceAllTest, ReplacesOccurrencesThatBeginACharacter) {
  const ReplaceCase cases[] = {
      {"every occurrence", "a-b-c", "-", "+", "a+b+c"},
      {"to empty", "a-b-c", "-", "", "abc"},
      {"growing", "ab", "b", "bbb", "abbb"},
      {"no overlap", "aaa", "aa", "b", "ba"},
      {"case-sensitive", "aAa", "A", "x", "axa"},
      {"empty old", "abc", "", "x", "abc"},
      {"empty text", "", "a", "x", ""},
      {"old longer than text", "ab", "abc", "x", "ab"},
      {"trail byte untouched",
       "\xB0"
       "a-a",
       "a", "b",
       "\xB0"
       "a-b"},
      {"lone lead byte at the end kept", "a-\xB0", "-", "", "a\xB0"},
      {"lone lead byte alone", "\xB0", "\r", "", "\xB0"},
  };
  for (const ReplaceCase& c : cases) {
    EXPECT_EQ(ReplaceAll(c.text, c.old_part, c.new_part), c.expected) << c.name;
  }
}

TEST(ReplaceAllTest, LineBreakPassesRemoveEveryCrAndLf) {
  const Text text = "\r\n<P>a\r\rb\n</P>\n\r\xB0\xA1\r\n";
  Text result = ReplaceAll(text, Concat({CharText(13), CharText(10)}), CharText(10));
  result = ReplaceAll(result, CharText(13), CharText(10));
  result = ReplaceAll(result, CharText(10), "");
  EXPECT_EQ(result, "<P>ab</P>\xB0\xA1");
}

// The memmem-based scan must agree with the stepwise rule on any bytes, including texts full of
// high bytes where most candidate positions are trail bytes.
TEST(SplitTextTest, AgreesWithStepwiseScanOnRandomBytes) {
  std::mt19937 random(20261211);
  const char alphabet[] = {'a', 'X', '<', '>', '\r', '\n', '\xB0', '\xA1', '\x81', '\xFE'};
  auto random_text = [&](size_t max_size) {
    Text text(random() % (max_size + 1), ' ');
    for (char& c : text) c = alphabet[random() % sizeof alphabet];
    return text;
  };
  for (int round = 0; round < 20000; ++round) {
    Text text = random_text(40);
    Text separator = random_text(3);
    ASSERT_EQ(Members(SplitText(text, separator)), SplitStepwise(text, separator))
        << "text=" << ::testing::PrintToString(text)
        << " separator=" << ::testing::PrintToString(separator);
    Text replacement = random_text(2);
    ASSERT_EQ(ReplaceAll(text, separator, replacement),
              ReplaceStepwise(text, separator, replacement))
        << "text=" << ::testing::PrintToString(text)
        << " old=" << ::testing::PrintToString(separator);
  }
}

// On ASCII every byte begins a character, so the search must agree with a plain find. Periodic
// texts make most positions look like a match until late, which exhausts the fast scan's budget
// and hands the search to memmem half-way.
TEST(FindAtCharacterTest, AgreesWithPlainFindOnLongAsciiTexts) {
  std::mt19937 random(99);
  for (int round = 0; round < 400; ++round) {
    const size_t period = 1 + random() % 3;
    Text text(500 + random() % 4000, 'a');
    for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>('a' + (i % period));
    for (int changes = random() % 4; changes > 0; --changes) text[random() % text.size()] = 'b';
    const size_t at = random() % text.size();
    const size_t length = std::min<size_t>(2 + random() % 200, text.size() - at);
    const Text needle = text.substr(at, length);
    const size_t from = random() % (at + 1);
    ASSERT_EQ(FindAtCharacter(text, needle, from), text.find(needle, from))
        << "size=" << text.size() << " at=" << at << " length=" << length;
    const Text absent = needle + "z";
    ASSERT_EQ(FindAtCharacter(text, absent, from), Text::npos);
  }
}

TEST(TextOpsTest, ConcatJoinsInOrderAndSkipsEmptyParts) {
  EXPECT_EQ(Concat({"ab", "", "c", "\xB0\xA1"}), "abc\xB0\xA1");
  EXPECT_EQ(Concat({"", ""}), "");
  EXPECT_EQ(Concat({}), "");
}

TEST(TextOpsTest, CharTextKeepsTheLowByte) {
  EXPECT_EQ(CharText(10), "\n");
  EXPECT_EQ(CharText(0x141), "A");
  EXPECT_EQ(CharText(0xB0), "\xB0");
  EXPECT_EQ(CharText(0), "");
  EXPECT_EQ(CharText(0x100), "");
}

TEST(TextOpsTest, TextToBytesHasNoTerminator) {
  Text text(2009, 'a');
  text[2008] = '\xB0';
  std::vector<unsigned char> bytes = TextToBytes(text);
  ASSERT_EQ(bytes.size(), 2009u);
  EXPECT_EQ(bytes.back(), 0xB0);
  EXPECT_TRUE(TextToBytes("").empty());
}

TEST(TextListTest, CountsFromOneAndClosesGapsOnRemoval) {
  TextList list;
  EXPECT_EQ(list.Count(), 0u);
  list.Append("a");
  list.Append("");
  list.Append("c");
  list.RemoveAt(2);
  ASSERT_EQ(list.Count(), 2u);
  EXPECT_EQ(list.At(1), "a");
  EXPECT_EQ(list.At(2), "c");
  list.RemoveAt(1);
  EXPECT_EQ(Members(list), std::vector<Text>{"c"});
}

TEST(TextListTest, StoresCopies) {
  TextList list;
  Text original = "abc";
  list.Append(original);
  original[0] = 'x';
  EXPECT_EQ(list.At(1), "abc");
}

}  // namespace
