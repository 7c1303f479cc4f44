// Runs in its own process: the paragraph patterns are compiled while a global locale is in force
// that folds the byte 0xD0 to 'p', as some single-byte locales fold accented letters. The landmark
// scan folds only ASCII, but it only bounds where Boost.Regex searches: Boost decides which bytes
// match, so it is the patterns' classic locale that keeps 0xD0 from standing for 'p' in a tag.
#include <locale>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "text/paragraph_shuffler.h"

namespace {

class FoldingCtype : public std::ctype<char> {
 protected:
  char do_tolower(char c) const override {
    return c == '\xD0' ? 'p' : std::ctype<char>::do_tolower(c);
  }
  const char* do_tolower(char* low, const char* high) const override {
    for (; low < high; ++low) *low = do_tolower(*low);
    return high;
  }
  char do_toupper(char c) const override {
    return c == '\xD0' ? 'P' : std::ctype<char>::do_toupper(c);
  }
  const char* do_toupper(char* low, const char* high) const override {
    for (; low < high; ++low) *low = do_toupper(*low);
    return high;
  }
};

std::vector<std::string> Members(const TextList& list) {
  std::vector<std::string> members;
  for (size_t i = 1; i <= list.Count(); ++i) members.push_back(list.At(i));
  return members;
}

TEST(LocaleTest, OnlyAsciiLettersFoldWhateverTheGlobalLocale) {
  std::locale::global(std::locale(std::locale::classic(), new FoldingCtype));
  struct Case {
    const char* name;
    std::string text;
    std::vector<std::string> paragraphs;
  } cases[] = {
      // Folded, 0xD0 would open a paragraph before the real one.
      {"look-alike opening", "<\xD0>a</p><P>b</p>", {"<P>b</p>"}},
      // Folded, 0xD0 would close the paragraph early.
      {"look-alike closing", "<p>a</\xD0>b</p>", {"<p>a</\xD0>b</p>"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Members(CollectParagraphs(c.text)), c.paragraphs) << c.name;
  }
  EXPECT_EQ(ParagraphSearchDisagreements(), 0u);
}

}  // namespace
