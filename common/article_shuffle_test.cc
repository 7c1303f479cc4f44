#include "common/article_shuffle.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "common/layout_shuffle.h"
#include "common/test_arrangement.h"
#include "common/test_files.h"
#include "text/paragraph_shuffler.h"
#include "text/random_source.h"

namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

std::string Joined(const std::vector<std::string>& units, std::string_view separator) {
  std::string joined;
  for (const std::string& unit : units) {
    joined += (joined.empty() ? "" : std::string(separator)) + unit;
  }
  return joined;
}

std::string Shuffled(std::string_view article, Encoding encoding, ShuffleKind kind, uint32_t seed) {
  std::string result, error;
  EXPECT_TRUE(ShuffleArticleBytes(article, encoding, kind, seed, &result, &error)) << error;
  return result;
}

std::string Utf16(std::string_view utf8, Encoding encoding) {
  return ConvertText(utf8, Encoding::kUtf8, encoding).value();
}

// Each article is its units joined by line breaks; every unit must come back whole and, over a
// run of seeds, each must reach the front, which shows it was cut out and moved.
TEST(ShuffleArticleBytes, ClassicRearrangesWholeUnitsInEveryEncoding) {
  struct Case {
    const char* name;
    Encoding encoding;
    std::vector<std::string> units;
  };
  const Case cases[] = {
      {"GBK", Encoding::kGbk, {"\xB1\xEA\xCC\xE2", "<p>\xD6\xD0</p>", "<DIV>\xCE\xC4 x</DIV>"}},
      // 序 is three bytes in UTF-8; read as double-byte text, the '<' after it would pass for a
      // trail byte and the paragraph behind it could not be cut out.
      {"UTF-8 outside GBK",
       Encoding::kUtf8,
       {"序", "<p>\xF0\xA0\x80\x80 and \xF0\x9F\x90\x89</p>", "<div class=x>龍é€</div>",
        "<P>末\xF0\x9F\x99\x82</P>"}},
      {"GB18030 four-byte characters",
       Encoding::kGb18030,
       {"\x95\x32\x82\x36", "<p>\x81\x30\x81\x30</p>", "<DIV>\xAA\xA1\x84\x31\xA4\x39</DIV>"}},
      // Big5 trail bytes include ASCII letters: 0xA4 0x70 is one character, not a 'p'.
      {"Big5", Encoding::kBig5, {"\xA4\x70\xA4\x40", "<p>\xA4\xA4</p>", "<div>\xA4\xE5</div>"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string article = Joined(c.units, "\r\n");
    std::set<std::string> fronts;
    for (uint32_t seed = 0; seed < 40; ++seed) {
      std::string result = Shuffled(article, c.encoding, ShuffleKind::kClassic, seed);
      ASSERT_TRUE(IsArrangementOf(result, c.units)) << "seed " << seed;
      for (const std::string& unit : c.units) {
        if (result.starts_with(unit)) fronts.insert(unit);
      }
    }
    EXPECT_EQ(fronts.size(), c.units.size());
  }
}

// The classic shuffle of double-byte text is the window's shuffle, with the clock pinned to the
// seed and a fresh reseed counter, whatever ran before on this thread.
TEST(ShuffleArticleBytes, ClassicWithSeedIsTheWindowsShuffle) {
  std::string article = "<p>\xD6\xD0</p>\r\n<div>\xCE\xC4</div>\n<p>b</p><div>c</div>tail";
  SetReseedCounter(12345);
  std::string result = Shuffled(article, Encoding::kGbk, ShuffleKind::kClassic, 1000);
  PinClock(1000);
  SetReseedCounter(0);
  EXPECT_EQ(result, ShuffleArticle(article));
  PinClock(std::nullopt);
}

// The layout-keeping shuffle works on GBK, GB18030, Big5 and UTF-8 bytes as they are, and on
// UTF-16 through UTF-8: the result is byte for byte that, converted back, with the mark in front.
TEST(ShuffleArticleBytes, KeepLayoutGivesTheSameBytesInEveryEncoding) {
  const std::string utf8 =
      "<html><body>\n<p>一 one</p>\n<p>二 "
      "\xF0\x9F\x90\x89</p>\n<p>三</p>\n<p>四</p>\n</body></html>\n";
  for (uint32_t seed : {1u, 2u, 77u}) {
    SCOPED_TRACE(seed);
    for (Encoding encoding :
         {Encoding::kUtf8, Encoding::kGb18030, Encoding::kBig5, Encoding::kGbk}) {
      std::string article = encoding == Encoding::kUtf8 || encoding == Encoding::kGb18030
                                ? ConvertText(utf8, Encoding::kUtf8, encoding).value()
                            : encoding == Encoding::kBig5
                                ? "<p>\xA4\x40</p>\n<p>\xA4\x70</p><p>x</p>"
                                : "<p>\xD6\xD0</p>\n<p>\xCE\xC4</p><p>x</p>";
      EXPECT_EQ(Shuffled(article, encoding, ShuffleKind::kKeepLayout, seed),
                ShuffleKeepingLayout(article, seed))
          << EncodingName(encoding);
    }
    std::string expected_utf8 = ShuffleKeepingLayout(utf8, seed);
    for (Encoding encoding : {Encoding::kUtf16Le, Encoding::kUtf16Be}) {
      std::string mark = encoding == Encoding::kUtf16Le ? "\xFF\xFE" : "\xFE\xFF";
      EXPECT_EQ(Shuffled(mark + Utf16(utf8, encoding), encoding, ShuffleKind::kKeepLayout, seed),
                mark + Utf16(expected_utf8, encoding))
          << EncodingName(encoding);
      EXPECT_EQ(Shuffled(Utf16(utf8, encoding), encoding, ShuffleKind::kKeepLayout, seed),
                Utf16(expected_utf8, encoding))
          << EncodingName(encoding) << " without a mark";
    }
  }
}

TEST(ShuffleArticleBytes, ByteOrderMarkStaysInFront) {
  const std::vector<std::string> units = {"<p>一</p>", "<p>二</p>", "<div>三</div>"};
  std::string article = std::string(kBom) + Joined(units, "\n");
  std::set<std::string> orders;
  for (uint32_t seed = 0; seed < 20; ++seed) {
    std::string result = Shuffled(article, Encoding::kUtf8, ShuffleKind::kClassic, seed);
    ASSERT_TRUE(result.starts_with(kBom)) << "seed " << seed;
    EXPECT_TRUE(IsArrangementOf(std::string_view(result).substr(kBom.size()), units));
    orders.insert(result);
  }
  EXPECT_GT(orders.size(), 1u);

  // UTF-16 through the classic shuffle: the mark in front, the units whole.
  std::string utf16 = "\xFF\xFE" + Utf16(Joined(units, "\n"), Encoding::kUtf16Le);
  std::string result = Shuffled(utf16, Encoding::kUtf16Le, ShuffleKind::kClassic, 5);
  ASSERT_TRUE(result.starts_with("\xFF\xFE"));
  std::optional<std::string> back =
      ConvertText(result.substr(2), Encoding::kUtf16Le, Encoding::kUtf8);
  ASSERT_TRUE(back);
  EXPECT_TRUE(IsArrangementOf(*back, units)) << *back;
}

TEST(ShuffleArticleBytes, RefusesNulAndBadBytesAtTheFirstOffset) {
  struct Case {
    Encoding encoding;
    ShuffleKind kind;
    std::string article;
    std::string error;
  };
  const auto classic = ShuffleKind::kClassic, layout = ShuffleKind::kKeepLayout;
  const Case cases[] = {
      {Encoding::kGbk, classic, std::string("<p>a</p>\0", 9), "NUL character at byte offset 8"},
      {Encoding::kUtf8, layout, std::string("\0\xFF", 2), "NUL character at byte offset 0"},
      {Encoding::kGbk, classic, std::string("a\xFF\0", 3),
       "invalid GBK byte sequence starting with 0xFF at byte offset 1"},
      {Encoding::kGb18030, layout, "<p>\x81</p>",
       "invalid GB18030 byte sequence starting with 0x81 at byte offset 3"},
      {Encoding::kUtf8, classic, "<p>\xB0\xA1</p>",
       "invalid UTF-8 byte sequence starting with 0xB0 at byte offset 3"},
      {Encoding::kBig5, layout, "<p>\xA4</p>",
       "invalid Big5 byte sequence starting with 0xA4 at byte offset 3"},
      // A zero byte inside a UTF-16 character is no NUL; a zero code unit is.
      {Encoding::kUtf16Le, layout, std::string("a\0\0\xD8", 4),
       "incomplete UTF-16LE character at byte offset 2"},
      {Encoding::kUtf16Be, layout, std::string("\0a\0\0", 4), "NUL character at byte offset 2"},
      // The classic shuffle goes through GB18030; the layout-keeping one takes any character.
      {Encoding::kUtf8, classic, "<p>\xEE\x9E\x8D</p>",
       "character U+E78D, which has no GB18030 form, at byte offset 3"},
      // 中 in UTF-8 is E4 B8 AD: a GBK pair, then 0xAD before '<'.
      {Encoding::kGbk, classic, "<p>\xE4\xB8\xAD</p>",
       "invalid GBK byte sequence starting with 0xAD at byte offset 5" + std::string(kReadsAsUtf8)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.article));
    std::string result = "untouched", error;
    EXPECT_FALSE(ShuffleArticleBytes(c.article, c.encoding, c.kind, 1, &result, &error));
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(result, "untouched");
  }
  std::string result, error;
  EXPECT_TRUE(ShuffleArticleBytes("<p>\xEE\x9E\x8D</p>", Encoding::kUtf8, ShuffleKind::kKeepLayout,
                                  1, &result, &error))
      << error;
}

class ReadArticleFileTest : public testing::Test {
 protected:
  TempFolder folder_{"read_article_"};
  const std::filesystem::path dir_ = folder_.path();
};

TEST_F(ReadArticleFileTest, ReadsWholeFilesUpToTheLimit) {
  const std::string path = dir_ / "a.html";
  std::string bytes(200000, 'x');
  bytes[199999] = '\0';
  std::ofstream(path, std::ios::binary) << bytes;
  std::string read, error;
  ASSERT_TRUE(ReadArticleFile(path, bytes.size(), &read, &error)) << error;
  EXPECT_EQ(read, bytes);
  // No limit at all: the room for one byte past the limit must not wrap around to none.
  ASSERT_TRUE(ReadArticleFile(path, SIZE_MAX, &read, &error)) << error;
  EXPECT_EQ(read, bytes);
  EXPECT_FALSE(ReadArticleFile(path, bytes.size() - 1, &read, &error));
  EXPECT_EQ(error, path + ": larger than the size limit of 199999 bytes");

  EXPECT_FALSE(ReadArticleFile(dir_ / "missing", 10, &read, &error));
  EXPECT_EQ(error, (dir_ / "missing").string() + ": No such file or directory");
  EXPECT_FALSE(ReadArticleFile(dir_, 10, &read, &error));
  EXPECT_EQ(error, dir_.string() + ": Is a directory");
}

// A file far larger than memory is refused by its size, without reading it; an endless stream
// once it passes the limit.
TEST_F(ReadArticleFileTest, RefusesTooLargeInputsBeforeReadingThemWhole) {
  const std::string sparse = dir_ / "huge.html";
  ASSERT_EQ(truncate(std::ofstream(sparse).good() ? sparse.c_str() : "", int64_t{1} << 42), 0);
  std::string read, error;
  EXPECT_FALSE(ReadArticleFile(sparse, size_t{1} << 30, &read, &error));
  EXPECT_EQ(error, sparse + ": larger than the size limit of 1073741824 bytes");

  EXPECT_FALSE(ReadArticleFile("/dev/zero", 1 << 20, &read, &error));
  EXPECT_EQ(error, "/dev/zero: larger than the size limit of 1048576 bytes");
}

}  // namespace
