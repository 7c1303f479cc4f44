// Runs the built tessivane-shuffle as a separate process.
#include <fcntl.h>
#include <pty.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "cli/test_util.h"
#include "common/test_files.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct Outcome {
  int status = -1;  // the exit status; -1 when the program did not exit normally
  std::string out;
  std::string err;
};

class ShuffleBinaryTest : public testing::Test {
 protected:
  // Runs the program with `args`, `input` fed through a pipe as its standard input; `prefix`, a
  // command that ends by running its arguments, runs it.
  Outcome RunProgram(const std::vector<std::string>& args, std::string_view input = "",
                     const std::vector<std::string>& prefix = {}) {
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
    std::vector<char*> argv;
    for (const std::string& word : prefix) argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(const_cast<char*>(SHUFFLE_BINARY));
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t pid;
    int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
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

  TempFolder folder_{"shuffle_binary_"};
  const fs::path dir_ = folder_.path();
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

// The names of every file under `root`, with their contents.
std::map<std::string, std::string> Tree(const fs::path& root) {
  std::map<std::string, std::string> tree;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file()) tree[fs::relative(entry.path(), root)] = ReadFile(entry.path());
  }
  return tree;
}

std::string Utf16Le(std::string_view ascii) {
  std::string wide;
  for (char c : ascii) wide += std::string{c, '\0'};
  return wide;
}

// A folder tree with articles in several encodings and one bad article: the others are written,
// mirrored under OUTDIR, each exactly as a one-file run gives it; nothing for the bad one.
TEST_F(ShuffleBinaryTest, BatchMirrorsFoldersAndGoesOnPastABadArticle) {
  const fs::path in = dir_ / "in";
  fs::create_directories(in / "sub" / "deeper");
  const std::string paragraphs = "<p>one</p>\n<p>two</p>\n<p>three</p>\n<div>four</div>\n";
  WriteFile(in / "a.html", "<meta charset=gb2312>\n<p>\xD6\xD0</p>\n" + paragraphs);
  WriteFile(in / "sub" / "b.HTM", "<p>\xE4\xB8\xAD\xE6\x96\x87</p>\n" + paragraphs);
  WriteFile(in / "sub" / "deeper" / "c.htm", "\xFF\xFE" + Utf16Le(paragraphs));
  WriteFile(in / "sub" / "bad.html", "<p>\x80</p>" + paragraphs);
  WriteFile(in / "notes.txt", "not an article");
  WriteFile(dir_ / "x.html", paragraphs + "<p>five</p>");
  const fs::path out = dir_ / "out";

  Outcome batch = RunProgram({"--seed=5", "-d", out, in, dir_ / "x.html"});
  EXPECT_EQ(batch.status, 1);
  EXPECT_EQ(batch.out, "");
  // Not a terminal: the bad article's line and the summary, and no progress.
  std::string bad_line = "tessivane-shuffle: " + (in / "sub" / "bad.html").string() +
                         ": invalid GB18030 byte sequence starting with 0x80 at byte offset 3";
  EXPECT_TRUE(batch.err.starts_with(bad_line)) << batch.err;
  std::string summary =
      "tessivane-shuffle: 4 of 5 articles shuffled into '" + out.string() + "' in ";
  EXPECT_NE(batch.err.find("\n" + summary), std::string::npos) << batch.err;
  EXPECT_TRUE(batch.err.ends_with(" s; 1 failed\n")) << batch.err;
  EXPECT_EQ(std::count(batch.err.begin(), batch.err.end(), '\n'), 2) << batch.err;
  EXPECT_EQ(batch.err.find('\r'), std::string::npos);

  std::map<std::string, std::string> tree = Tree(out);
  std::map<std::string, std::string> expected;
  for (const char* name : {"a.html", "sub/b.HTM", "sub/deeper/c.htm"}) {
    expected[name] = RunProgram({"--seed", "5", in / name}).out;
  }
  expected["x.html"] = RunProgram({"--seed", "5", dir_ / "x.html"}).out;
  EXPECT_EQ(tree, expected);
  EXPECT_NE(tree["x.html"], ReadFile(dir_ / "x.html"));  // it was shuffled

  // A second run with all good: exit 0, the results replaced.
  fs::remove(in / "sub" / "bad.html");
  Outcome again = RunProgram({"-d", out, "--seed", "5", in, dir_ / "x.html"});
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(Tree(out), expected);
}

// Each article's result depends on the article and --seed only: not on -j, nor on the order the
// threads take them in. Both shuffles.
TEST_F(ShuffleBinaryTest, ThreadsDoNotChangeTheResults) {
  const fs::path in = dir_ / "in";
  fs::create_directories(in);
  for (int i = 0; i < 24; ++i) {
    std::string article = "<html><body>\n";
    for (int p = 0; p < 8 + i; ++p) article += "<p>" + std::to_string(i * 100 + p) + "</p>\n";
    WriteFile(in / ("article" + std::to_string(i) + ".html"), article + "</body></html>\n");
  }
  for (std::vector<std::string> kind : {std::vector<std::string>{}, {"--classic"}}) {
    SCOPED_TRACE(testing::PrintToString(kind));
    std::map<std::string, std::string> trees[2];
    for (int jobs : {1, 4}) {
      const fs::path out = dir_ / ("out" + std::to_string(jobs));
      std::vector<std::string> args = {"-j", std::to_string(jobs), "--seed=77", "-d", out, in};
      args.insert(args.end(), kind.begin(), kind.end());
      Outcome outcome = RunProgram(args);
      ASSERT_EQ(outcome.status, 0) << outcome.err;
      trees[jobs == 4] = Tree(out);
      fs::remove_all(out);
    }
    EXPECT_EQ(trees[0].size(), 24u);
    EXPECT_EQ(trees[0], trees[1]);
    for (const char* name : {"article0.html", "article23.html"}) {
      std::vector<std::string> args = {"--seed=77", in / name};
      args.insert(args.end(), kind.begin(), kind.end());
      EXPECT_EQ(trees[1][name], RunProgram(args).out) << name;
    }
  }
}

TEST_F(ShuffleBinaryTest, BatchNeverOverwritesAnInput) {
  const fs::path in = dir_ / "in";
  fs::create_directories(in);
  WriteFile(in / "a.html", "<p>1</p><p>2</p><p>3</p>");
  fs::create_symlink(in / "a.html", dir_ / "link.html");
  std::map<std::string, std::string> before = Tree(in);
  for (std::vector<std::string> args :
       {std::vector<std::string>{"-d", in, in / "a.html"}, {"-d", dir_, dir_ / "link.html"}}) {
    SCOPED_TRACE(testing::PrintToString(args));
    Outcome outcome = RunProgram(args);
    EXPECT_EQ(outcome.status, 1);
    EXPECT_NE(outcome.err.find("its result would overwrite the input"), std::string::npos)
        << outcome.err;
    EXPECT_EQ(Tree(in), before);
    EXPECT_TRUE(fs::is_symlink(dir_ / "link.html"));
  }
}

TEST_F(ShuffleBinaryTest, OutputOptionKeepsModeAndTakesDashForStandardOutput) {
  const fs::path in = dir_ / "in.html", out = dir_ / "out.html";
  WriteFile(in, "<p>a</p><p>b</p><p>c</p>");
  std::string expected = RunProgram({"--seed=3", in}).out;
  ASSERT_FALSE(expected.empty());

  Outcome dash = RunProgram({"--seed=3", "-o", "-", in});
  EXPECT_EQ(dash.status, 0);
  EXPECT_EQ(dash.out, expected);

  WriteFile(out, "old");
  chmod(out.c_str(), 0751);
  EXPECT_EQ(RunProgram({"--seed=3", "-o", out, in}).status, 0);
  EXPECT_EQ(ReadFile(out), expected);
  struct stat info {};
  ASSERT_EQ(stat(out.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0751u);

  // Named by the user, the input itself may be the output.
  EXPECT_EQ(RunProgram({"--seed=3", "-o", in, in}).status, 0);
  EXPECT_EQ(ReadFile(in), expected);
}

// A killed run's temporary files, an hour old, are cleared from the folders written to; a fresh
// one, perhaps another run's at work, stays.
TEST_F(ShuffleBinaryTest, KilledRunsTemporariesAreClearedFromFoldersWrittenTo) {
  fs::create_directories(dir_ / "out" / "sub");
  WriteFile(dir_ / "in.html", "<p>a</p><p>b</p>");
  const timespec two_hours_ago[2] = {{time(nullptr) - 7200, 0}, {time(nullptr) - 7200, 0}};
  for (const fs::path& folder : {dir_, dir_ / "out"}) {
    WriteFile(folder / ".tessivane-Stale1", "killed");
    ASSERT_EQ(utimensat(AT_FDCWD, (folder / ".tessivane-Stale1").c_str(), two_hours_ago, 0), 0);
    WriteFile(folder / ".tessivane-Fresh1", "at work");
  }
  EXPECT_EQ(RunProgram({"-o", dir_ / "result.html", dir_ / "in.html"}).status, 0);
  EXPECT_EQ(RunProgram({"-d", dir_ / "out", dir_ / "in.html"}).status, 0);
  for (const fs::path& folder : {dir_, dir_ / "out"}) {
    EXPECT_FALSE(fs::exists(folder / ".tessivane-Stale1")) << folder;
    EXPECT_TRUE(fs::exists(folder / ".tessivane-Fresh1")) << folder;
  }
}

// Too large an input is refused by the limit; running out of memory ends in one line, not an
// abort, even on an endless input.
TEST_F(ShuffleBinaryTest, SizeLimitAndOutOfMemoryEndInOneLine) {
  WriteFile(dir_ / "eleven.html", "<p>123</p>\n");
  Outcome limited = RunProgram({"--max-size=10", dir_ / "eleven.html"});
  EXPECT_EQ(limited.status, 1);
  EXPECT_EQ(limited.err, "tessivane-shuffle: " + (dir_ / "eleven.html").string() +
                             ": larger than the size limit of 10 bytes\n");
  EXPECT_EQ(RunProgram({"--max-size=11", dir_ / "eleven.html"}).status, 0);

  Outcome endless = RunProgram({"--max-size=1M", "/dev/zero"});
  EXPECT_EQ(endless.status, 1);
  EXPECT_EQ(endless.err,
            "tessivane-shuffle: /dev/zero: larger than the size limit of 1048576 bytes\n");

#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer reserves more address space than the memory limit allows";
#endif
  const std::vector<std::string> under_limit = {"sh", "-c", "ulimit -v 200000 && exec \"$@\"",
                                                "sh"};
  for (std::vector<std::string> args :
       {std::vector<std::string>{"/dev/zero"}, {"-d", dir_ / "out", "/dev/zero"}}) {
    SCOPED_TRACE(testing::PrintToString(args));
    Outcome starved = RunProgram(args, "", under_limit);
    EXPECT_EQ(starved.status, 1);
    EXPECT_EQ(starved.out, "");
    EXPECT_TRUE(starved.err.starts_with("tessivane-shuffle: /dev/zero: out of memory\n"))
        << starved.err;
  }
}

// A full disk: -o leaves the old file whole with no temporary behind; standard output keeps
// the leading part of the result that fit, and the error says why. The disk is a 16 KiB tmpfs in
// a user and mount namespace of its own.
TEST_F(ShuffleBinaryTest, FullDiskLeavesOutputAsTheReadmeSays) {
  fs::create_directories(dir_ / "disk");
  fs::create_directories(dir_ / "res");
  std::string big;
  for (int i = 0; big.size() < 64 * 1024; ++i) big += "<p>" + std::to_string(i) + " text</p>\n";
  WriteFile(dir_ / "big.html", big);
  const std::string script =
      "mount -t tmpfs -o size=16k none \"$1/disk\" || exit 3\n"
      "printf old > \"$1/disk/out.html\"\n"
      "\"$2\" --seed 1 -o \"$1/disk/out.html\" \"$1/big.html\" 2> \"$1/res/err1\"\n"
      "echo $? > \"$1/res/status1\"\n"
      "cp \"$1/disk/out.html\" \"$1/res/kept\"; ls -A \"$1/disk\" > \"$1/res/listing\"\n"
      "\"$2\" --seed 1 \"$1/big.html\" > \"$1/disk/stdout.html\" 2> \"$1/res/err2\"\n"
      "echo $? > \"$1/res/status2\"\n"
      "cp \"$1/disk/stdout.html\" \"$1/res/partial\"\n";
  Outcome run =
      RunProgram({}, "", {"unshare", "-rm", "sh", "-c", script, "sh", dir_, SHUFFLE_BINARY});
  if (run.status == 3 || !fs::exists(dir_ / "res" / "status1")) {
    GTEST_SKIP() << "cannot mount a tmpfs in a user and mount namespace: " << run.err;
  }
  const std::string out = (dir_ / "disk" / "out.html").string();
  EXPECT_EQ(ReadFile(dir_ / "res" / "status1"), "1\n");
  EXPECT_EQ(ReadFile(dir_ / "res" / "err1"), "tessivane-shuffle: cannot write '" + out +
                                                 "': No space left on device; it is left as "
                                                 "it was\n");
  EXPECT_EQ(ReadFile(dir_ / "res" / "kept"), "old");
  EXPECT_EQ(ReadFile(dir_ / "res" / "listing"), "out.html\n");

  std::string whole = RunProgram({"--seed", "1", dir_ / "big.html"}).out;
  std::string partial = ReadFile(dir_ / "res" / "partial");
  EXPECT_EQ(ReadFile(dir_ / "res" / "status2"), "1\n");
  EXPECT_EQ(ReadFile(dir_ / "res" / "err2"),
            "tessivane-shuffle: cannot write standard output: No space left on device\n");
  EXPECT_GT(partial.size(), 0u);
  EXPECT_LT(partial.size(), whole.size());
  EXPECT_TRUE(whole.starts_with(partial));
}

// Runs the program with its standard input and error on a pseudo-terminal, its standard output
// to `out_path`, typing `typed`; what the terminal showed. Sets `status` to the exit status.
std::optional<std::string> RunOnTerminal(const std::vector<std::string>& args,
                                         std::string_view typed, const std::string& out_path,
                                         int* status) {
  int terminal = -1, side = -1;
  if (openpty(&terminal, &side, nullptr, nullptr, nullptr) != 0) return std::nullopt;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, side, 0);
  posix_spawn_file_actions_adddup2(&actions, side, 2);
  posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT, 0600);
  std::vector<char*> argv{const_cast<char*>(SHUFFLE_BINARY)};
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid;
  EXPECT_EQ(posix_spawn(&pid, SHUFFLE_BINARY, &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  close(side);
  EXPECT_EQ(write(terminal, typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
  // Read while it runs, so that a long progress never fills the terminal's buffer.
  std::string shown;
  char buffer[4096];
  for (ssize_t got; (got = read(terminal, buffer, sizeof buffer)) > 0;) {
    shown.append(buffer, static_cast<size_t>(got));
  }
  close(terminal);
  int wait_status = 0;
  waitpid(pid, &wait_status, 0);
  *status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
  return shown;
}

// On a terminal, the program says it reads standard input, and a long shuffle shows progress
// that it then erases; through pipes and files neither shows (the other tests).
TEST_F(ShuffleBinaryTest, TerminalGetsTheNoticeAndProgress) {
  int status = -1;
  // The article, then Ctrl+D at the start of a line: the end of the input.
  std::optional<std::string> shown =
      RunOnTerminal({"--classic"}, "<p>a</p><p>b</p>\n\x04", dir_ / "out", &status);
  if (!shown) GTEST_SKIP() << "no pseudo-terminal: " << strerror(errno);
  EXPECT_EQ(status, 0);
  EXPECT_NE(shown->find("tessivane-shuffle: reading the article from standard input; end it "
                        "with Ctrl+D\r\n"),
            std::string::npos)
      << *shown;
  EXPECT_NE(shown->find("\rtessivane-shuffle: shuffling "), std::string::npos) << *shown;
  EXPECT_TRUE(shown->ends_with("\r\x1B[K")) << testing::PrintToString(*shown);
  EXPECT_TRUE(IsArrangementOf(ReadFile(dir_ / "out"), {"<p>a</p>", "<p>b</p>"}));
}

// A batch that runs a while shows articles done of the total on the terminal, and the article
// being worked on once it takes over a second, erased before the summary. The slow article is a
// pipe that this test fills after a while.
TEST_F(ShuffleBinaryTest, BatchShowsProgressOnATerminal) {
  fs::create_directories(dir_ / "in");
  const fs::path slow = dir_ / "in" / "slow.html";
  ASSERT_EQ(mkfifo(slow.c_str(), 0600), 0);
  WriteFile(dir_ / "in" / "quick.html", "<p>a</p><p>b</p>");
  std::thread filler([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(1600));
    // Without blocking, so that a program that never opens the pipe fails the test, not hangs it.
    for (int tries = 0; tries < 100; ++tries) {
      int fd = open(slow.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
      if (fd >= 0) {
        EXPECT_EQ(write(fd, "<p>c</p><p>d</p>", 16), 16);
        close(fd);
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  });
  int status = -1;
  std::optional<std::string> shown =
      RunOnTerminal({"-j1", "-d", dir_ / "out", dir_ / "in"}, "", dir_ / "o", &status);
  filler.join();
  if (!shown) GTEST_SKIP() << "no pseudo-terminal: " << strerror(errno);
  EXPECT_EQ(status, 0);
  EXPECT_NE(shown->find(" of 2 articles, "), std::string::npos) << *shown;
  EXPECT_NE(shown->find(", now " + slow.string()), std::string::npos) << *shown;
  size_t summary = shown->find("\r\x1B[Ktessivane-shuffle: 2 of 2 articles shuffled into");
  EXPECT_NE(summary, std::string::npos) << testing::PrintToString(*shown);
  EXPECT_EQ(shown->find("\rtessivane-shuffle", summary + 1), std::string::npos);
  EXPECT_TRUE(IsArrangementOf(ReadFile(dir_ / "out" / "slow.html"), {"<p>c</p>", "<p>d</p>"}));
}

}  // namespace
