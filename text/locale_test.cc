// Runs in its own process: the paragraph patterns are compiled while a global locale is in force
// that folds a non-ASCII byte to 'p', as some single-byte locales fold accented letters.
#include <locale>

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

TEST(LocaleTest, OnlyAsciiLettersFoldWhateverTheGlobalLocale) {
  std::locale::global(std::locale(std::locale::classic(), new FoldingCtype));
  TextList paragraphs = CollectParagraphs("<\xD0>a</p><P>b</p>");
  ASSERT_EQ(paragraphs.Count(), 1u);
  EXPECT_EQ(paragraphs.At(1), "<P>b</p>");
}

}  // namespace
