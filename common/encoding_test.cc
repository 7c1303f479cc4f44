#include "common/encoding.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

constexpr size_t kValid = std::string::npos;

std::string Utf8(uint32_t code) {
  std::string s;
  if (code < 0x80) {
    s += static_cast<char>(code);
  } else if (code < 0x800) {
    s += static_cast<char>(0xC0 | code >> 6);
    s += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    s += static_cast<char>(0xE0 | code >> 12);
    s += static_cast<char>(0x80 | (code >> 6 & 0x3F));
    s += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    s += static_cast<char>(0xF0 | code >> 18);
    s += static_cast<char>(0x80 | (code >> 12 & 0x3F));
    s += static_cast<char>(0x80 | (code >> 6 & 0x3F));
    s += static_cast<char>(0x80 | (code & 0x3F));
  }
  return s;
}

bool IsTrail(unsigned char b) {
  return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFE);
}

TEST(EncodingNamed, ReadsTheLabelsPagesDeclare) {
  const std::pair<const char*, Encoding> cases[] = {
      {"gbk", Encoding::kGbk},          {"GBK", Encoding::kGbk},
      {"GB18030", Encoding::kGb18030},  {"gb2312", Encoding::kGb18030},
      {"GB2312", Encoding::kGb18030},   {"cp936", Encoding::kGb18030},
      {"x-gbk", Encoding::kGb18030},    {"windows-936", Encoding::kGb18030},
      {"Utf-8", Encoding::kUtf8},       {"utf8", Encoding::kUtf8},
      {"big5", Encoding::kBig5},        {"Big5-HKSCS", Encoding::kBig5},
      {"utf-16", Encoding::kUtf16Le},   {"UTF-16LE", Encoding::kUtf16Le},
      {"utf-16be", Encoding::kUtf16Be},
  };
  for (auto [name, encoding] : cases) EXPECT_EQ(EncodingNamed(name), encoding) << name;
  for (const char* name : {"", "gb", "gbk ", "latin1", "shift_jis", "utf-32", "big5x"}) {
    EXPECT_EQ(EncodingNamed(name), std::nullopt) << name;
  }
  // Each name given for WebKit reads back as its own encoding.
  for (Encoding encoding : {Encoding::kGbk, Encoding::kGb18030, Encoding::kUtf8, Encoding::kBig5,
                            Encoding::kUtf16Le, Encoding::kUtf16Be}) {
    EXPECT_EQ(EncodingNamed(EncodingName(encoding)), encoding) << EncodingName(encoding);
  }
}

// 中文 in each encoding.
const std::string kGbkText = "\xD6\xD0\xCE\xC4";
const std::string kBig5Text = "\xA4\xA4\xA4\xE5";
const std::string kUtf8Text = "\xE4\xB8\xAD\xE6\x96\x87";

TEST(DetectEncoding, DecidesAsBrowsersDo) {
  struct Case {
    const char* name;
    std::string bytes;
    Encoding encoding;
    std::string how;
  };
  const std::string padding(1100, ' ');
  const Case cases[] = {
      {"UTF-8 mark", "\xEF\xBB\xBF<meta charset=gbk>" + kUtf8Text, Encoding::kUtf8,
       "byte-order mark"},
      {"UTF-16LE mark", std::string("\xFF\xFE<\0p\0", 6), Encoding::kUtf16Le, "byte-order mark"},
      {"UTF-16BE mark", std::string("\xFE\xFF\0<\0p", 6), Encoding::kUtf16Be, "byte-order mark"},
      {"meta charset", "<head><meta charset=\"big5\">" + kBig5Text, Encoding::kBig5,
       "<meta charset>"},
      {"meta charset, unquoted, upper case", "<META CHARSET=UTF-8>" + kGbkText, Encoding::kUtf8,
       "<meta charset>"},
      {"meta http-equiv",
       "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\">" + kGbkText,
       Encoding::kGb18030, "<meta http-equiv>"},
      {"content before http-equiv",
       "<meta content='text/html;charset=big5' http-equiv='content-type'/>" + kBig5Text,
       Encoding::kBig5, "<meta http-equiv>"},
      {"declared GBK reads as GB18030", "<meta charset=gbk>" + kGbkText, Encoding::kGb18030,
       "<meta charset>"},
      {"declared UTF-16 means UTF-8", "<meta charset=utf-16>" + kUtf8Text, Encoding::kUtf8,
       "<meta charset>"},
      // Declared wins over what the bytes look like, as in a browser.
      {"declared GBK, bytes UTF-8", "<meta charset=gbk>" + kUtf8Text, Encoding::kGb18030,
       "<meta charset>"},
      {"content without http-equiv is no declaration",
       "<meta content=\"text/html; charset=big5\">" + kUtf8Text, Encoding::kUtf8, "valid UTF-8"},
      {"declaration in a comment", "<!-- <meta charset=big5> -->" + kUtf8Text, Encoding::kUtf8,
       "valid UTF-8"},
      {"declaration inside another tag's attribute", "<div title='<meta charset=big5>'>" + kGbkText,
       Encoding::kGb18030, "neither declared nor valid UTF-8"},
      {"declaration past 1024 bytes", padding + "<meta charset=big5>" + kUtf8Text, Encoding::kUtf8,
       "valid UTF-8"},
      {"plain ASCII", "<p>hello</p>", Encoding::kUtf8, "valid UTF-8"},
      {"undeclared UTF-8", "<p>" + kUtf8Text + "</p>", Encoding::kUtf8, "valid UTF-8"},
      {"undeclared GBK", "<p>" + kGbkText + "</p>", Encoding::kGb18030,
       "neither declared nor valid UTF-8"},
      {"undeclared Big5", "<p>" + kBig5Text + "</p>", Encoding::kGb18030,
       "neither declared nor valid UTF-8"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DetectedEncoding detected;
    std::string error;
    ASSERT_TRUE(DetectEncoding(c.bytes, &detected, &error)) << error;
    EXPECT_EQ(detected.encoding, c.encoding) << EncodingName(detected.encoding);
    EXPECT_EQ(detected.how, c.how);
  }
}

TEST(DetectEncoding, NamesADeclaredCharsetItCannotRead) {
  DetectedEncoding detected;
  std::string error;
  EXPECT_FALSE(DetectEncoding("<meta charset=\" Shift_JIS \"><p>x</p>", &detected, &error));
  EXPECT_EQ(error,
            "the page declares charset 'Shift_JIS' (<meta charset>), which is not one this "
            "program reads");
  EXPECT_FALSE(
      DetectEncoding("<meta http-equiv=content-type content=\"text/html; charset=iso-8859-1\">",
                     &detected, &error));
  EXPECT_EQ(error,
            "the page declares charset 'iso-8859-1' (<meta http-equiv>), which is not one this "
            "program reads");
}

TEST(FindEncodingFault, NamesTheFirstBadCharacterAndItsOffset) {
  struct Case {
    Encoding encoding;
    std::string bytes;
    size_t offset;  // kValid when the text is valid
    std::string what;
  };
  const Case cases[] = {
      {Encoding::kGbk, "<p>\xB0\xA1</p>", kValid, ""},
      {Encoding::kGbk, std::string("a\0b", 3), kValid, ""},
      {Encoding::kGbk, "\x81\x80\xB0\xA1", kValid, ""},  // 0x80 as a trail byte
      {Encoding::kGbk, "ab\x80<p>", 2, "invalid GBK byte 0x80"},
      {Encoding::kGbk, "\xB0\xA1\xFF", 2, "invalid GBK byte sequence starting with 0xFF"},
      {Encoding::kGbk, "\x81\x20", 0, "invalid GBK byte sequence starting with 0x81"},
      {Encoding::kGbk, "\x81\x7F", 0, "invalid GBK byte sequence starting with 0x81"},
      {Encoding::kGbk, "\x81\x3C", 0, "invalid GBK byte sequence starting with 0x81"},
      {Encoding::kGbk, "\xAA\xA1", 0, "invalid GBK byte sequence starting with 0xAA"},
      {Encoding::kGbk, "\x95\x32\x82\x36", 0, "invalid GBK byte sequence starting with 0x95"},
      {Encoding::kGbk, "x\xB0", 1, "incomplete GBK character"},
      {Encoding::kGbk, "\x80\xFF", 0, "invalid GBK byte 0x80"},
      {Encoding::kGbk, "\xFF\x80", 0, "invalid GBK byte sequence starting with 0xFF"},
      {Encoding::kGb18030, "\xAA\xA1\x95\x32\x82\x36", kValid, ""},
      {Encoding::kGb18030, "ab\x80", 2, "invalid GB18030 byte sequence starting with 0x80"},
      {Encoding::kGb18030, "\xFF", 0, "invalid GB18030 byte sequence starting with 0xFF"},
      {Encoding::kGb18030, "a\x95\x32\x82", 1, "incomplete GB18030 character"},
      {Encoding::kGb18030, "\x81\x30\x20\x30", 0,
       "invalid GB18030 byte sequence starting with 0x81"},
      {Encoding::kUtf8, "<p>\xF0\xA0\x80\x80\xF0\x9F\x90\x89</p>", kValid, ""},
      {Encoding::kUtf8, "a\xC0\xAF", 1, "invalid UTF-8 byte sequence starting with 0xC0"},
      {Encoding::kUtf8, "\xE0\x80\xAF", 0, "invalid UTF-8 byte sequence starting with 0xE0"},
      {Encoding::kUtf8, "\xED\xA0\x80", 0, "invalid UTF-8 byte sequence starting with 0xED"},
      {Encoding::kUtf8, "\xF4\x90\x80\x80", 0, "invalid UTF-8 byte sequence starting with 0xF4"},
      {Encoding::kUtf8, "ab\x80", 2, "invalid UTF-8 byte sequence starting with 0x80"},
      {Encoding::kUtf8, "\xB0\xA1", 0, "invalid UTF-8 byte sequence starting with 0xB0"},
      {Encoding::kUtf8, "\xE4\xB8\xAD\xE4\xB8", 3, "incomplete UTF-8 character"},
      {Encoding::kUtf8, "x\xEE\x9E\x8D", 1, "character U+E78D, which has no GB18030 form,"},
      {Encoding::kUtf8, "\xEE\x9E\x8D\xC0", 0, "character U+E78D, which has no GB18030 form,"},
      {Encoding::kUtf8, "\xC0\xEE\x9E\x8D", 0, "invalid UTF-8 byte sequence starting with 0xC0"},
      {Encoding::kBig5, "<p>\xA4\xA4\xA4\xE5\x87\x40</p>", kValid, ""},
      {Encoding::kBig5, "<p>\xA4\x3C/p>", 3, "invalid Big5 byte sequence starting with 0xA4"},
      {Encoding::kBig5, "a\x80", 1, "invalid Big5 byte 0x80"},
      {Encoding::kBig5, "ab\xA4", 2, "incomplete Big5 character"},
      {Encoding::kUtf16Le, std::string("<\0\x2D\x4E", 4), kValid, ""},
      {Encoding::kUtf16Le,
       std::string("a\0\x00\xD8"
                   "b\0",
                   6),
       2, "invalid UTF-16LE code unit at an unpaired surrogate"},
      {Encoding::kUtf16Be, std::string("\0a\0", 3), 2, "incomplete UTF-16BE character"},
      {Encoding::kUtf16Be, std::string("\0a\xE7\x8D", 4), 2,
       "character U+E78D, which has no GB18030 form,"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.bytes) + " as " + std::string(EncodingName(c.encoding)));
    std::optional<EncodingFault> fault = FindEncodingFault(c.bytes, c.encoding);
    if (c.offset == kValid) {
      EXPECT_EQ(fault, std::nullopt) << fault->what;
    } else {
      ASSERT_NE(fault, std::nullopt);
      EXPECT_EQ(fault->offset, c.offset);
      EXPECT_EQ(fault->what, c.what);
    }
  }
}

// Without the GB18030 requirement, well-formed UTF-8 and UTF-16 are valid whatever they hold.
TEST(FindEncodingFault, LayoutShuffleNeedsOnlyWellFormedUnicode) {
  EXPECT_EQ(FindEncodingFault("x\xEE\x9E\x8D", Encoding::kUtf8, false), std::nullopt);
  EXPECT_EQ(FindEncodingFault(std::string("\0a\xE7\x8D", 4), Encoding::kUtf16Be, false),
            std::nullopt);
  std::optional<EncodingFault> fault = FindEncodingFault("ok\xED\xA0\x80", Encoding::kUtf8, false);
  ASSERT_NE(fault, std::nullopt);
  EXPECT_EQ(fault->offset, 2u);
}

// The shuffle steps over a byte from 0x80 up and the byte after it as one character, and trusts
// that '<' never hides inside one. iconv's tables must agree on every two-byte sequence.
TEST(FindEncodingFault, DoubleByteCharactersHaveTheShapeTheShuffleSteps) {
  int gbk_pairs = 0;
  for (int lead = 0x80; lead <= 0xFF; ++lead) {
    for (int trail = 0; trail <= 0xFF; ++trail) {
      std::string pair{static_cast<char>(lead), static_cast<char>(trail)};
      bool shaped = lead >= 0x81 && lead <= 0xFE && IsTrail(trail);
      if (!FindEncodingFault(pair, Encoding::kGbk)) {
        ++gbk_pairs;
        EXPECT_TRUE(shaped) << std::hex << lead << " " << trail;
      }
      // GB18030 takes every pair of that shape, GBK's unassigned ones included.
      EXPECT_EQ(!FindEncodingFault(pair, Encoding::kGb18030), shaped)
          << std::hex << lead << " " << trail;
    }
  }
  EXPECT_GT(gbk_pairs, 21000);  // the table is really there (glibc 2.36 assigns 21791)
}

// Every Unicode character goes into GB18030 as one, two or four bytes in pairs of the shape
// above, and comes back unchanged; the few that cannot are found by FindEncodingFault.
TEST(Utf8ToGb18030, CarriesEveryCharacterThereAndBack) {
  std::string all;
  for (uint32_t code = 1; code <= 0x10FFFF; ++code) {
    if (code < 0xD800 || code > 0xDFFF) all += Utf8(code);
  }
  std::string carried;
  std::vector<uint32_t> refused;
  std::string_view rest = all;
  while (std::optional<EncodingFault> fault = FindEncodingFault(rest, Encoding::kUtf8)) {
    ASSERT_EQ(fault->what.rfind("character U+", 0), 0u) << fault->what;
    refused.push_back(std::stoul(fault->what.substr(12), nullptr, 16));
    carried += rest.substr(0, fault->offset);
    rest.remove_prefix(fault->offset + Utf8(refused.back()).size());
  }
  carried += rest;
  for (uint32_t code : refused) EXPECT_TRUE(code >= 0xE000 && code <= 0xF8FF) << std::hex << code;
  EXPECT_LE(refused.size(), 32u);

  std::optional<std::string> gb = Utf8ToGb18030(carried);
  ASSERT_NE(gb, std::nullopt);
  size_t characters = 0, single_bytes = 0;
  for (size_t i = 0; i < gb->size(); ++characters) {
    auto at = [&](size_t k) { return static_cast<unsigned char>((*gb)[i + k]); };
    if (at(0) < 0x80) {
      ++single_bytes;
      i += 1;
    } else if (i + 1 < gb->size() && at(0) != 0x80 && at(0) != 0xFF && IsTrail(at(1))) {
      i += 2;
    } else {
      ASSERT_LE(i + 4, gb->size());
      ASSERT_TRUE(at(0) >= 0x81 && at(0) <= 0xFE && at(1) >= 0x30 && at(1) <= 0x39 &&
                  at(2) >= 0x81 && at(2) <= 0xFE && at(3) >= 0x30 && at(3) <= 0x39)
          << "bad shape at " << i;
      i += 4;
    }
  }
  EXPECT_EQ(characters, 0x10FFFF - 0x800 - refused.size());
  EXPECT_EQ(single_bytes, 0x7Fu);
  EXPECT_EQ(Gb18030ToUtf8(*gb), carried);
}

TEST(Gb18030ToUtf8, RefusesBytesThatAreNotGb18030) {
  EXPECT_EQ(Gb18030ToUtf8("ok\xFF"), std::nullopt);
  EXPECT_EQ(Utf8ToGb18030("ok\xC0\xAF"), std::nullopt);
  EXPECT_EQ(Gb18030ToUtf8(""), "");
}

}  // namespace
