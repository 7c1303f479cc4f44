// Runs the built tessivane-shuffle as a separate process.
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "cli/test_util.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct Outcome {
  int status = -1;  // the exit status; -1 when the program did not exit normally
  std::string out;
  std::string err;
};

std::string ReadFile(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream contents;
  contents << file.rdbuf();
  return contents.str();
}

void WriteFile(const fs::path& path, std::string_view bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

class ShuffleBinaryTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = testing::TempDir() + "shuffle_binary_XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Runs the program with `args`, `input` fed through a pipe as its standard input.
  Outcome RunProgram(const std::vector<std::string>& args, std::string_view input = "") {
    int pipe_fds[2];
    EXPECT_EQ(pipe2(pipe_fds, O_CLOEXEC), 0);
    std::string out_path = dir_ / ".out", err_path = dir_ / ".err";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[0], 0);
    posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    std::vector<char*> argv{const_cast<char*>(SHUFFLE_BINARY)};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t pid;
    int spawned = posix_spawn(&pid, SHUFFLE_BINARY, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipe_fds[0]);
    EXPECT_EQ(spawned, 0);
    // The program may exit without reading; a broken pipe is then no failure of the test.
    signal(SIGPIPE, SIG_IGN);
    for (std::string_view rest = input; !rest.empty();) {
      ssize_t written = write(pipe_fds[1], rest.data(), rest.size());
      if (written <= 0) break;
      rest.remove_prefix(written);
    }
    close(pipe_fds[1]);
    int wait_status = 0;
    waitpid(pid, &wait_status, 0);
    Outcome outcome;
    if (WIFEXITED(wait_status)) outcome.status = WEXITSTATUS(wait_status);
    outcome.out = ReadFile(out_path);
    outcome.err = ReadFile(err_path);
    fs::remove(out_path);
    fs::remove(err_path);
    return outcome;
  }

  // The names in the working folder, to show that a failed run left nothing behind.
  std::set<std::string> Listing() {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) names.insert(entry.path().filename());
    return names;
  }

  fs::path dir_;
};

TEST_F(ShuffleBinaryTest, HelpAndVersionGoToStandardOutput) {
  Outcome help = RunProgram({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_TRUE(help.out.starts_with("Usage: tessivane-shuffle [OPTION]... [FILE]\n")) << help.out;
  for (const char* mentioned : {"--seed=N", "--encoding=ENC", "--output=OUT", "Exit status:"}) {
    EXPECT_NE(help.out.find(mentioned), std::string::npos) << mentioned;
  }
  EXPECT_EQ(help.err, "");

  Outcome version = RunProgram({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "tessivane-shuffle 1.0\n");
}

TEST_F(ShuffleBinaryTest, BadUsageAndBadInputFailWithOneLine) {
  fs::create_directory(dir_ / "folder");
  WriteFile(dir_ / "a.html", "<p>a</p>");
  struct Case {
    std::vector<std::string> args;
    std::string input;
    int status;
    std::string message;
  };
  const Case cases[] = {
      {{"--bogus"}, "", 2, "unknown option '--bogus' (see --help)"},
      {{"--seed"}, "", 2, "option '--seed' needs an argument (see --help)"},
      {{"--seed", "-5"}, "", 2, "bad --seed '-5': expected a whole number from 0 to 4294967295"},
      {{"--seed=4294967296"}, "", 2, "bad --seed '4294967296'"},
      {{"--encoding", "latin1"}, "", 2, "unknown encoding 'latin1': expected auto, gbk,"},
      {{"-o"}, "", 2, "option '-o' needs an argument"},
      {{dir_ / "a.html", dir_ / "a.html"}, "", 2, "more than one FILE given"},
      {{dir_ / "missing.html"},
       "",
       1,
       (dir_ / "missing.html").string() + ": No such file or directory"},
      {{dir_ / "folder"},
       "",
       1,
       (dir_ / "folder").string() + ": Is a directory; use -d OUTDIR to shuffle a folder"},
      {{}, std::string("<p>\0</p>", 8), 1, "standard input: NUL character at byte offset 3"},
      {{"-"},
       "<p>\xFF</p>",
       1,
       "standard input: invalid GB18030 byte sequence starting with 0xFF at byte offset 3 (read "
       "as GB18030: neither declared nor valid UTF-8)"},
      {{"--encoding=gbk"},
       "<p>\xFF</p>",
       1,
       "standard input: invalid GBK byte sequence starting with 0xFF at byte offset 3\n"},
      {{"--encoding=utf-8"},
       "ab\xC0\xAF",
       1,
       "standard input: invalid UTF-8 byte sequence starting with 0xC0 at byte offset 2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    Outcome outcome = RunProgram(c.args, c.input);
    EXPECT_EQ(outcome.status, c.status);
    EXPECT_EQ(outcome.out, "");
    EXPECT_TRUE(outcome.err.starts_with("tessivane-shuffle: ")) << outcome.err;
    EXPECT_NE(outcome.err.find(c.message), std::string::npos) << outcome.err;
    EXPECT_EQ(outcome.err.find('\n'), outcome.err.size() - 1) << outcome.err;
  }
}

TEST_F(ShuffleBinaryTest, SampleWithSeed1000GivesBlocks3124) {
  std::vector<std::string> blocks = SampleBlocks();
  std::string expected = blocks[2] + blocks[0] + blocks[1] + blocks[3];
  WriteFile(dir_ / "backup.html", SampleArticle());

  Outcome from_file = RunProgram({"--classic", "--seed", "1000", dir_ / "backup.html"});
  EXPECT_EQ(from_file.status, 0);
  EXPECT_EQ(from_file.err, "");
  EXPECT_EQ(from_file.out, expected);
  EXPECT_EQ(RunProgram({"--seed=1000", "--encoding", "gbk", "--cl"}, SampleArticle()).out,
            expected);
}

TEST_F(ShuffleBinaryTest, SameSeedSameBytesAndSeedsVaryTheOrder) {
  std::vector<std::string> blocks = SampleBlocks();
  std::set<std::string> orders;
  for (int seed = 0; seed < 12; ++seed) {
    Outcome first =
        RunProgram({"--classic", "--seed", std::to_string(seed * 977)}, SampleArticle());
    Outcome second =
        RunProgram({"--classic", "--seed", std::to_string(seed * 977)}, SampleArticle());
    ASSERT_EQ(first.status, 0);
    EXPECT_EQ(first.out, second.out) << "seed " << seed * 977;
    EXPECT_TRUE(IsArrangementOf(first.out, blocks)) << "seed " << seed * 977;
    orders.insert(first.out);
  }
  EXPECT_GE(orders.size(), 4u);

  Outcome clocked = RunProgram({"--classic"}, SampleArticle());
  EXPECT_EQ(clocked.status, 0);
  EXPECT_TRUE(IsArrangementOf(clocked.out, blocks));
}

TEST_F(ShuffleBinaryTest, Utf8ArticleKeepsItsCharacters) {
  const std::vector<std::string> units = {
      "标题", "<p>\xF0\xA0\x80\x80\xF0\xA0\x80\x81 rare Han</p>", "<div>龍🐉 dragon</div>",
      "<p class=\"x\">emoji 😀👍🏽</p>"};
  std::string article =
      "\xEF\xBB\xBF" + units[0] + "\n" + units[1] + "\r\n" + units[2] + "\n" + units[3] + "\n";
  std::set<std::string> orders;
  for (int seed = 0; seed < 8; ++seed) {
    Outcome outcome =
        RunProgram({"--classic", "--encoding", "utf-8", "--seed", std::to_string(seed)}, article);
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    ASSERT_TRUE(outcome.out.starts_with("\xEF\xBB\xBF"));
    EXPECT_TRUE(IsArrangementOf(std::string_view(outcome.out).substr(3), units)) << outcome.out;
    orders.insert(outcome.out);
  }
  EXPECT_GE(orders.size(), 2u);

  // Read as GBK, the same bytes are refused, with a pointer to the right option.
  Outcome as_gbk = RunProgram({"--encoding=gbk"}, article);
  EXPECT_EQ(as_gbk.status, 1);
  EXPECT_NE(as_gbk.err.find("try --encoding utf-8"), std::string::npos) << as_gbk.err;
}

TEST_F(ShuffleBinaryTest, OutputFileIsReplacedOnlyOnSuccess) {
  const fs::path in = dir_ / "in.html", out = dir_ / "out.html";
  WriteFile(in, SampleArticle());
  WriteFile(out, "old contents");

  Outcome replaced = RunProgram({"-o", out, "--classic", "--seed", "1000", in});
  EXPECT_EQ(replaced.status, 0);
  EXPECT_EQ(replaced.out, "");
  EXPECT_EQ(ReadFile(out), RunProgram({"--classic", "--seed", "1000", in}).out);

  // Bad input: the old file stays whole and no new one appears.
  WriteFile(out, "old contents");
  WriteFile(dir_ / "bad.html", "<p>\x80</p>");
  std::set<std::string> before = Listing();
  for (std::vector<std::string> args : {std::vector<std::string>{"-o", out, dir_ / "bad.html"},
                                        {"--output", dir_ / "new.html", dir_ / "bad.html"},
                                        {"-o", out, "--seed", "x", in},
                                        {"-o", out, dir_ / "missing.html"}}) {
    SCOPED_TRACE(testing::PrintToString(args));
    EXPECT_NE(RunProgram(args).status, 0);
    EXPECT_EQ(ReadFile(out), "old contents");
    EXPECT_EQ(Listing(), before);
  }

  // Unwritable OUT: in a missing folder, or its name taken by a folder.
  fs::create_directory(dir_ / "taken");
  WriteFile(dir_ / "taken" / "inside", "kept");
  before = Listing();
  for (auto [target, reason] :
       {std::pair{dir_ / "no-such-folder" / "out.html", "No such file or directory"},
        {dir_ / "taken", "Is a directory; it is left as it was"}}) {
    SCOPED_TRACE(target);
    Outcome outcome = RunProgram({"-o", target, in});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err,
              "tessivane-shuffle: cannot write '" + target.string() + "': " + reason + "\n");
    EXPECT_EQ(Listing(), before);
  }
  EXPECT_EQ(ReadFile(dir_ / "taken" / "inside"), "kept");
}

}  // namespace
