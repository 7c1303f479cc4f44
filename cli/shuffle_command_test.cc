#include "cli/shuffle_command.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <set>

#include "cli/test_util.h"
#include "text/random_source.h"

namespace {

TEST(ParseArguments, ReadsOptionsInEveryWrittenForm) {
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> inputs;
    std::optional<std::string> output;
    std::optional<uint32_t> seed;
    std::optional<Encoding> encoding = std::nullopt;
  };
  const Case cases[] = {
      {{}, {}, {}, {}},
      {{"a.html"}, {"a.html"}, {}, {}},
      {{"-"}, {"-"}, {}, {}},
      {{"--seed", "1000"}, {}, {}, 1000u},
      {{"--seed=0", "x"}, {"x"}, {}, 0u},
      {{"x", "--seed", "4294967295"}, {"x"}, {}, 4294967295u},
      {{"--seed", "0004294967295"}, {}, {}, 4294967295u},
      {{"--seed", "1", "--seed", "2"}, {}, {}, 2u},
      {{"--se=7"}, {}, {}, 7u},  // an unambiguous abbreviation
      {{"--encoding", "UTF-8", "in"}, {"in"}, {}, {}, Encoding::kUtf8},
      {{"--enc=gb2312"}, {}, {}, {}, Encoding::kGb18030},
      {{"--encoding=big5", "--encoding=auto"}, {}, {}, {}, {}},
      {{"-o", "out.html", "in.html"}, {"in.html"}, "out.html", {}},
      {{"-oout.html"}, {}, "out.html", {}},
      {{"--output=o=1", "--", "-x"}, {"-x"}, "o=1", {}},
      {{"--", "--seed"}, {"--seed"}, {}, {}},
      {{"-o", "-"}, {}, "-", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    ShuffleOptions options;
    std::string error;
    ASSERT_TRUE(ParseArguments(c.args, &options, &error)) << error;
    EXPECT_EQ(options.inputs, c.inputs);
    EXPECT_EQ(options.output, c.output);
    EXPECT_EQ(options.seed, c.seed);
    EXPECT_EQ(options.encoding, c.encoding);
    EXPECT_EQ(options.kind, ShuffleKind::kKeepLayout);
    EXPECT_FALSE(options.help || options.version);
  }

  ShuffleOptions batch;
  std::string error;
  ASSERT_TRUE(
      ParseArguments({"-d", "out", "a", "--classic", "-j3", "b", "--max-size=2K"}, &batch, &error))
      << error;
  EXPECT_EQ(batch.output_dir, "out");
  EXPECT_EQ(batch.inputs, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(batch.kind, ShuffleKind::kClassic);
  EXPECT_EQ(batch.jobs, 3);
  EXPECT_EQ(batch.max_bytes, 2048u);
  ShuffleOptions defaults;
  EXPECT_EQ(defaults.max_bytes, size_t{1} << 30);
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
      {{"--encoding", "latin1"},
       "unknown encoding 'latin1': expected auto, gbk, gb18030, gb2312, big5, utf-8, utf-16, "
       "utf-16le or utf-16be"},
      {{"--frobnicate"}, "unknown option '--frobnicate'"},
      {{"--seed-x=1"}, "unknown option '--seed-x'"},
      {{"--out=x"}, "option '--out' is ambiguous; possibilities: '--output' '--output-dir'"},
      {{"-x", "--help"}, "unknown option '-x'"},
      {{"--help=yes"}, "option '--help' takes no argument"},
      {{"--classic=1"}, "option '--classic' takes no argument"},
      {{"a", "b"}, "more than one FILE given ('a', 'b'): use -d OUTDIR to shuffle several"},
      {{"-o", "x", "-d", "y", "a"}, "-o and -d cannot be used together"},
      {{"-d", "out"}, "-d needs a FILE or FOLDER to shuffle"},
      {{"-d", "out", "a", "-"}, "standard input cannot be shuffled with -d"},
      {{"-j", "0"}, "bad -j '0': expected a number of threads from 1 to 1024"},
      {{"--jobs=1025"}, "bad --jobs '1025': expected a number of threads from 1 to 1024"},
      {{"--max-size=1T"}, "bad --max-size '1T': expected a number of bytes, with K, M or G"},
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

// A failure says how the encoding was decided when it was detected, and points to UTF-8 when the
// bytes would read as that.
TEST(ShuffleWithOptions, SaysHowTheEncodingWasDecided) {
  struct Case {
    std::vector<std::string> args;
    std::string article;
    std::string error;
  };
  const Case cases[] = {
      {{},
       "<p>\xFF</p>",
       "invalid GB18030 byte sequence starting with 0xFF at byte offset 3 (read as GB18030: "
       "neither declared nor valid UTF-8)"},
      {{},
       "<meta charset=big5><p>\xA4</p>",
       "invalid Big5 byte sequence starting with 0xA4 at byte offset 22 (read as Big5: <meta "
       "charset>)"},
      {{},
       "<meta charset=gbk><p>\xE4\xB8\xAD</p>",
       "invalid GB18030 byte sequence starting with 0xAD at byte offset 23 (read as GB18030: "
       "<meta charset>); the article reads as UTF-8: try --encoding utf-8"},
      {{"--encoding=gbk"},
       "<p>\xE4\xB8\xAD</p>",
       "invalid GBK byte sequence starting with 0xAD at byte offset 5; the article reads as "
       "UTF-8: try --encoding utf-8"},
      {{},
       "<meta charset=koi8-r><p>x</p>",
       "the page declares charset 'koi8-r' (<meta charset>), which is not one this program "
       "reads; if it is wrong, name the encoding with --encoding"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.article);
    ShuffleOptions options;
    std::string error, result;
    ASSERT_TRUE(ParseArguments(c.args, &options, &error));
    EXPECT_FALSE(ShuffleWithOptions(c.article, options, &result, &error));
    EXPECT_EQ(error, c.error);
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
  Outcome unseeded = RunCommand({"--classic"}, SampleArticle());
  EXPECT_EQ(unseeded.status, kExitDone);
  EXPECT_TRUE(IsArrangementOf(unseeded.out, blocks));

  Outcome seeded = RunCommand({"--classic", "--seed", "1000"}, SampleArticle());
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
