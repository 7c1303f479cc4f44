#include "cli/shuffle_command.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <set>

#include "cli/test_util.h"
#include "text/random_source.h"

namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

TEST(ParseArguments, ReadsOptionsInEveryWrittenForm) {
  struct Case {
    std::vector<std::string> args;
    std::string input;
    std::optional<std::string> output;
    std::optional<uint32_t> seed;
    Encoding encoding = Encoding::kGbk;
  };
  const Case cases[] = {
      {{}, "-", {}, {}},
      {{"a.html"}, "a.html", {}, {}},
      {{"-"}, "-", {}, {}},
      {{"--seed", "1000"}, "-", {}, 1000u},
      {{"--seed=0", "x"}, "x", {}, 0u},
      {{"--seed", "4294967295"}, "-", {}, 4294967295u},
      {{"--seed", "0004294967295"}, "-", {}, 4294967295u},
      {{"--seed", "1", "--seed", "2"}, "-", {}, 2u},
      {{"--encoding", "UTF-8", "in"}, "in", {}, {}, Encoding::kUtf8},
      {{"--encoding=gb18030"}, "-", {}, {}, Encoding::kGb18030},
      {{"-o", "out.html", "in.html"}, "in.html", "out.html", {}},
      {{"-oout.html"}, "-", "out.html", {}},
      {{"--output=o=1", "--", "-x"}, "-x", "o=1", {}},
      {{"--", "--seed"}, "--seed", {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    ShuffleOptions options;
    std::string error;
    ASSERT_TRUE(ParseArguments(c.args, &options, &error)) << error;
    EXPECT_EQ(options.input, c.input);
    EXPECT_EQ(options.output, c.output);
    EXPECT_EQ(options.seed, c.seed);
    EXPECT_EQ(options.encoding, c.encoding);
    EXPECT_FALSE(options.help || options.version);
  }
}

TEST(ParseArguments, HelpAndVersionEndTheReading) {
  ShuffleOptions help, short_help, version;
  std::string error;
  ASSERT_TRUE(ParseArguments({"--help", "--bogus"}, &help, &error));
  ASSERT_TRUE(ParseArguments({"-h"}, &short_help, &error));
  ASSERT_TRUE(ParseArguments({"a", "--version", "b", "c"}, &version, &error));
  EXPECT_TRUE(help.help && short_help.help && !help.version);
  EXPECT_TRUE(version.version && !version.help);
}

TEST(ParseArguments, RefusesUnusableArgumentsWithTheReason) {
  struct Case {
    std::vector<std::string> args;
    std::string error;
  };
  std::vector<Case> cases = {
      {{"--seed"}, "option '--seed' needs an argument"},
      {{"a", "--encoding"}, "option '--encoding' needs an argument"},
      {{"-o"}, "option '-o' needs an argument"},
      {{"--output"}, "option '--output' needs an argument"},
      {{"-o", ""}, "option '-o' needs a file name"},
      {{"--output="}, "option '--output' needs a file name"},
      {{"--encoding", "latin1"}, "unknown encoding 'latin1': expected gbk, gb18030 or utf-8"},
      {{"--frobnicate"}, "unknown option '--frobnicate'"},
      {{"--seed-x=1"}, "unknown option '--seed-x'"},
      {{"-x", "--help"}, "unknown option '-x'"},
      {{"-hv"}, "unknown option '-hv'"},
      {{"--help=yes"}, "option '--help' takes no argument"},
      {{"a", "b"}, "more than one FILE given ('a', 'b')"},
      {{"a", "-"}, "more than one FILE given ('a', '-')"},
  };
  for (std::string seed : {"4294967296", "99999999999999999999", "-1", "+1", " 1", "1 ", "", "0x10",
                           "1e3", "1,000", "\xD9\xA3"}) {
    cases.push_back({{"--seed", seed},
                     "bad --seed '" + seed + "': expected a whole number from 0 to 4294967295"});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    ShuffleOptions options;
    std::string error;
    EXPECT_FALSE(ParseArguments(c.args, &options, &error));
    EXPECT_EQ(error, c.error);
  }
}

class ShuffleInEncodingTest : public testing::Test {
 protected:
  void TearDown() override { PinClock(std::nullopt); }

  // The shuffle of `article` with every reseed reading `seed`, as `--seed` runs it.
  static Text Shuffled(std::string_view article, Encoding encoding, uint32_t seed) {
    PinClock(seed);
    SetReseedCounter(0);
    Text result;
    std::string error;
    EXPECT_TRUE(ShuffleInEncoding(article, encoding, &result, &error)) << error;
    return result;
  }
};

std::string Joined(const std::vector<std::string>& units, std::string_view separator) {
  std::string joined;
  for (const std::string& unit : units)
    joined += (joined.empty() ? "" : std::string(separator)) + unit;
  return joined;
}

// Each article is its units joined by line breaks; every unit must come back whole and, over a
// run of seeds, each must reach the front, which shows it was cut out and moved.
TEST_F(ShuffleInEncodingTest, EveryEncodingRearrangesWholeUnits) {
  struct Case {
    const char* name;
    Encoding encoding;
    std::vector<std::string> units;
  };
  const Case cases[] = {
      {"GBK sample", Encoding::kGbk, SampleBlocks()},
      // 序 is three bytes in UTF-8; read as double-byte text, the '<' after it would pass for a
      // trail byte and the paragraph behind it could not be cut out.
      {"UTF-8 outside GBK",
       Encoding::kUtf8,
       {"序", "<p>\xF0\xA0\x80\x80 and \xF0\x9F\x90\x89</p>", "<div class=x>龍é€</div>",
        "<P>末\xF0\x9F\x99\x82</P>"}},
      {"GB18030 four-byte characters",
       Encoding::kGb18030,
       {"\x95\x32\x82\x36", "<p>\x81\x30\x81\x30</p>", "<DIV>\xAA\xA1\x84\x31\xA4\x39</DIV>"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string article = Joined(c.units, "\r\n");
    std::set<std::string> fronts;
    for (uint32_t seed = 0; seed < 40; ++seed) {
      Text result = Shuffled(article, c.encoding, seed);
      ASSERT_TRUE(IsArrangementOf(result, c.units)) << "seed " << seed;
      for (const std::string& unit : c.units) {
        if (result.starts_with(unit)) fronts.insert(unit);
      }
    }
    EXPECT_EQ(fronts.size(), c.units.size());
  }
}

TEST_F(ShuffleInEncodingTest, Utf8ByteOrderMarkStaysInFront) {
  const std::vector<std::string> units = {"<p>一</p>", "<p>二</p>", "<div>三</div>"};
  std::string article = std::string(kBom) + Joined(units, "\n");
  std::set<std::string> orders;
  for (uint32_t seed = 0; seed < 20; ++seed) {
    Text result = Shuffled(article, Encoding::kUtf8, seed);
    ASSERT_TRUE(result.starts_with(kBom)) << "seed " << seed;
    EXPECT_TRUE(IsArrangementOf(std::string_view(result).substr(kBom.size()), units));
    orders.insert(result);
  }
  EXPECT_GT(orders.size(), 1u);
}

TEST_F(ShuffleInEncodingTest, RefusesNulAndBadBytesAtTheFirstOffset) {
  struct Case {
    Encoding encoding;
    std::string article;
    std::string error;
  };
  const Case cases[] = {
      {Encoding::kGbk, std::string("<p>a</p>\0", 9), "NUL byte at byte offset 8"},
      {Encoding::kUtf8, std::string("\0\xFF", 2), "NUL byte at byte offset 0"},
      {Encoding::kGbk, std::string("a\xFF\0", 3),
       "invalid GBK byte sequence starting with 0xFF at byte offset 1"},
      {Encoding::kGb18030, "<p>\x81</p>",
       "invalid GB18030 byte sequence starting with 0x81 at byte offset 3"},
      {Encoding::kUtf8, "<p>\xB0\xA1</p>",
       "invalid UTF-8 byte sequence starting with 0xB0 at byte offset 3"},
      // 中 in UTF-8 is E4 B8 AD: a GBK pair, then 0xAD before '<'.
      {Encoding::kGbk, "<p>\xE4\xB8\xAD</p>",
       "invalid GBK byte sequence starting with 0xAD at byte offset 5; the article reads as "
       "UTF-8: try --encoding utf-8"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.article));
    Text result = "untouched";
    std::string error;
    EXPECT_FALSE(ShuffleInEncoding(c.article, c.encoding, &result, &error));
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(result, "untouched");
  }
}

// A file in memory holding `bytes`, read from its start.
int MemoryFile(std::string_view bytes) {
  int fd = memfd_create("shuffle_command_test", MFD_CLOEXEC);
  EXPECT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  lseek(fd, 0, SEEK_SET);
  return fd;
}

std::string ContentsOf(int fd) {
  std::string contents;
  char buffer[4096];
  lseek(fd, 0, SEEK_SET);
  for (ssize_t got; (got = read(fd, buffer, sizeof buffer)) > 0;) contents.append(buffer, got);
  return contents;
}

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

Outcome RunCommand(const std::vector<std::string>& args, std::string_view input, int out_fd = -1) {
  int in = MemoryFile(input), out = MemoryFile(""), err = MemoryFile("");
  Outcome outcome{RunShuffleCommand(args, in, out_fd < 0 ? out : out_fd, err), ContentsOf(out),
                  ContentsOf(err)};
  close(in);
  close(out);
  close(err);
  return outcome;
}

TEST(RunShuffleCommand, SeededRunIgnoresEarlierReseeds) {
  std::vector<std::string> blocks = SampleBlocks();
  Outcome unseeded = RunCommand({}, SampleArticle());
  EXPECT_EQ(unseeded.status, kExitDone);
  EXPECT_TRUE(IsArrangementOf(unseeded.out, blocks));

  Outcome seeded = RunCommand({"--seed", "1000"}, SampleArticle());
  PinClock(std::nullopt);
  EXPECT_EQ(seeded.status, kExitDone);
  EXPECT_EQ(seeded.err, "");
  EXPECT_EQ(seeded.out, blocks[2] + blocks[0] + blocks[1] + blocks[3]);
}

TEST(RunShuffleCommand, ReportsAFailedWriteToStandardOutput) {
  int full = open("/dev/full", O_WRONLY | O_CLOEXEC);
  ASSERT_GE(full, 0);
  Outcome outcome = RunCommand({"--seed", "1"}, "<p>a</p>", full);
  close(full);
  PinClock(std::nullopt);
  EXPECT_EQ(outcome.status, kExitBadInput);
  EXPECT_EQ(outcome.err,
            "tessivane-shuffle: cannot write standard output: No space left on device\n");
}

}  // namespace
