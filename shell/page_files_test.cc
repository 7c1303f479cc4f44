#include "shell/page_files.h"

#include <glib.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "shell/sample_article.h"

namespace fs = std::filesystem;

namespace {

// Run as `page_files_test --write-on-full-disk DIR` inside a namespace where DIR is a tiny tmpfs.
constexpr std::string_view kFullDiskMode = "--write-on-full-disk";
// Run as `page_files_test --write-in-read-only-folder DIR` as the user who owns DIR's old page.
constexpr std::string_view kReadOnlyFolderMode = "--write-in-read-only-folder";

// A fresh folder under the temporary directory, removed with everything in it.
class TempFolder {
 public:
  TempFolder() {
    gchar* made = g_dir_make_tmp("page_files_test_XXXXXX", nullptr);
    if (!made) throw std::runtime_error("cannot make a temporary folder");
    path_ = made;
    g_free(made);
  }
  ~TempFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const fs::path& path() const { return path_; }
  std::string operator/(std::string_view name) const { return (path_ / name).string(); }

 private:
  fs::path path_;
};

std::optional<std::string> ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void WriteFile(const fs::path& path, std::string_view bytes) {
  std::ofstream(path, std::ios::binary).write(bytes.data(), bytes.size());
}

// The names in `folder`, sorted; a temporary file left behind shows up here.
std::vector<std::string> Listing(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

using Names = std::vector<std::string>;

TEST(ReplaceFileContents, LeavesExactlyTheNewBytes) {
  const std::string gbk_with_breaks = "<P>\xD6\xD0\xCE\xC4</P>\r\n<DIV>\xA1\xA3</DIV>";
  const std::string with_nul("a\0b\r\n\xFF", 6);
  struct Case {
    const char* name;
    std::optional<std::string> old_content;
    std::string bytes;
  } cases[] = {
      {"new file", std::nullopt, gbk_with_breaks},
      {"the sample article", std::nullopt, std::string(SampleArticle())},
      {"bytes with NUL and high bytes", std::nullopt, with_nul},
      {"larger old file", std::string(5000, 'o'), gbk_with_breaks},
      {"empty text over a file", std::string("old page"), ""},
      {"empty text, no file", std::nullopt, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder folder;
    const std::string page = folder / "index.html";
    if (c.old_content) WriteFile(page, *c.old_content);

    EXPECT_TRUE(ReplaceFileContents(page, c.bytes));
    EXPECT_EQ(ReadFile(page), c.bytes);
    EXPECT_EQ(Listing(folder.path()), Names{"index.html"});
  }
}

TEST(ReplaceFileContents, NewFileIsReadableByAllWritableByOwner) {
  TempFolder folder;
  const mode_t saved = umask(022);
  const bool written = ReplaceFileContents(folder / "index.html", "x");
  umask(saved);

  ASSERT_TRUE(written);
  struct stat info {};
  ASSERT_EQ(stat((folder / "index.html").c_str(), &info), 0);
  EXPECT_TRUE(S_ISREG(info.st_mode));
  EXPECT_EQ(info.st_mode & 07777, 0644u);
}

// A link at the page's name is swapped for a regular file; whatever it pointed at is untouched
// and no file appears at a dangling link's target.
TEST(ReplaceFileContents, ReplacesSymbolicLinkInsteadOfWritingThroughIt) {
  struct Case {
    const char* name;
    bool target_exists;
  } cases[] = {{"link to a file", true}, {"dangling link", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder folder;
    if (c.target_exists) WriteFile(folder / "target.html", "target bytes");
    fs::create_symlink("target.html", folder / "index.html");

    EXPECT_TRUE(ReplaceFileContents(folder / "index.html", "new page"));
    EXPECT_FALSE(fs::is_symlink(folder / "index.html"));
    EXPECT_EQ(ReadFile(folder / "index.html"), "new page");
    if (c.target_exists) {
      EXPECT_EQ(ReadFile(folder / "target.html"), "target bytes");
      EXPECT_EQ(Listing(folder.path()), (Names{"index.html", "target.html"}));
    } else {
      EXPECT_EQ(Listing(folder.path()), Names{"index.html"});
    }
  }
}

TEST(ReplaceFileContents, FailsWithoutTouchingAnythingWhenFolderIsMissing) {
  TempFolder folder;
  EXPECT_FALSE(ReplaceFileContents(folder / "missing/index.html", "new page"));
  EXPECT_EQ(Listing(folder.path()), Names{});
}

TEST(ReplaceFileContents, FailsWhenNameIsTakenByDirectory) {
  TempFolder folder;
  fs::create_directory(folder / "index.html");
  WriteFile(folder / "index.html/kept.txt", "kept");

  EXPECT_FALSE(ReplaceFileContents(folder / "index.html", "new page"));
  EXPECT_TRUE(fs::is_directory(folder / "index.html"));
  EXPECT_EQ(ReadFile(folder / "index.html/kept.txt"), "kept");
  EXPECT_EQ(Listing(folder.path()), Names{"index.html"});
  EXPECT_EQ(Listing(folder / "index.html"), Names{"kept.txt"});
}

TEST(ReplaceFileContents, EmptyPathFails) {
  EXPECT_FALSE(ReplaceFileContents("", "new page"));
}

// Inside the namespace: writes a small page, then one too large for the 16 KiB tmpfs at `folder`,
// and prints both results, what the page holds afterwards and what the folder holds.
int WriteOnFullDisk(const fs::path& folder) {
  const std::string page = (folder / "index.html").string();
  const bool small_written = ReplaceFileContents(page, "old page");
  const bool large_written = ReplaceFileContents(page, std::string(256 * 1024, 'x'));
  std::string content = ReadFile(page).value_or("<missing>");
  if (content.size() > 64) content = "<" + std::to_string(content.size()) + " bytes>";
  std::cout << "small=" << small_written << " large=" << large_written << " page=" << content
            << " folder=";
  for (const std::string& name : Listing(folder)) std::cout << name << ";";
  std::cout << "\n";
  return 0;
}

struct Spawned {
  bool exited_zero;
  std::string out;
  std::string err;
};

Spawned Spawn(const std::vector<std::string>& args) {
  std::vector<gchar*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<gchar*>(arg.c_str()));
  argv.push_back(nullptr);
  gchar* out = nullptr;
  gchar* err = nullptr;
  gint status = 0;
  GError* error = nullptr;
  bool ran = g_spawn_sync(nullptr, argv.data(), nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr,
                          &out, &err, &status, &error);
  Spawned result{ran && g_spawn_check_wait_status(status, nullptr), out ? out : "",
                 err ? err : (error ? error->message : "")};
  g_free(out);
  g_free(err);
  g_clear_error(&error);
  return result;
}

TEST(ReplaceFileContents, KeepsOldPageWhenFileSystemIsFull) {
  TempFolder folder;
  // Root makes a mount namespace directly; anyone else needs a user namespace to be root in.
  const std::string unshare_options = geteuid() == 0 ? "-m" : "-rm";
  const std::string mount_tmpfs = "mount -t tmpfs -o size=16k none \"$1\"";
  Spawned probe = Spawn({"unshare", unshare_options, "sh", "-c", mount_tmpfs, "sh", folder.path()});
  if (!probe.exited_zero) {
    GTEST_SKIP() << "cannot mount a tmpfs in a mount namespace (unshare " << unshare_options
                 << "): " << probe.err;
  }

  const std::string self = fs::read_symlink("/proc/self/exe").string();
  Spawned run = Spawn({"unshare", unshare_options, "sh", "-c",
                       mount_tmpfs + " && exec \"$2\" " + std::string(kFullDiskMode) + " \"$1\"",
                       "sh", folder.path(), self});
  ASSERT_TRUE(run.exited_zero) << run.err;
  EXPECT_EQ(run.out, "small=1 large=0 page=old page folder=index.html;\n");
}

// As the owner of a page it could write in place, in a folder it cannot write: prints the result,
// what the page holds afterwards and what the folder holds.
int WriteInReadOnlyFolder(const fs::path& folder) {
  const bool written = ReplaceFileContents((folder / "index.html").string(), "new page");
  std::cout << "written=" << written
            << " page=" << ReadFile(folder / "index.html").value_or("<missing>") << " folder=";
  for (const std::string& name : Listing(folder)) std::cout << name << ";";
  std::cout << "\n";
  return 0;
}

// Only the folder is read-only: the old page belongs to the writer and it could open it for
// writing. Root writes anywhere, so as root the writer runs as nobody, who owns folder and page.
TEST(ReplaceFileContents, KeepsOldPageInReadOnlyFolder) {
  TempFolder scratch;
  const fs::path folder = scratch.path() / "pages";
  fs::create_directory(folder);
  WriteFile(folder / "index.html", "old page");
  std::vector<std::string> runner;
  if (geteuid() == 0) {
    fs::permissions(scratch.path(),
                    fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    Spawned chown = Spawn({"chown", "nobody:nogroup", folder, folder / "index.html"});
    ASSERT_TRUE(chown.exited_zero) << chown.err;
    runner = {"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"};
  }
  fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                              fs::perms::group_exec | fs::perms::others_read |
                              fs::perms::others_exec);

  std::vector<std::string> command = runner;
  command.push_back(fs::read_symlink("/proc/self/exe").string());
  command.push_back(std::string(kReadOnlyFolderMode));
  command.push_back(folder.string());
  Spawned run = Spawn(command);
  fs::permissions(folder, fs::perms::owner_all);
  ASSERT_TRUE(run.exited_zero) << run.err;
  EXPECT_EQ(run.out, "written=0 page=old page folder=index.html;\n");
}

TEST(PageFilePaths, DirectoryOfCutsAtLastSeparator) {
  struct Case {
    std::string_view path;
    std::string_view directory;
  } cases[] = {
      {"/opt/tool/tessivane", "/opt/tool"},
      {"/tessivane", ""},
      {"/opt/tool/", "/opt/tool"},
      {"/opt/tool (deleted)/app", "/opt/tool (deleted)"},
      {"tessivane", ""},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(DirectoryOf(c.path), c.directory) << c.path;
}

TEST(PageFilePaths, PagesLieInTheExecutablesFolder) {
  EXPECT_EQ(fs::path(ProgramDirectory()), fs::canonical(PAGE_FILES_TEST_BINARY_DIR));
  EXPECT_EQ(PageFilePath(kBackupPage), ProgramDirectory() + "/backup.html");
  EXPECT_EQ(PageFilePath(kIndexPage), ProgramDirectory() + "/index.html");
}

TEST(PageFilePaths, WritePageFileWritesBesideTheExecutable) {
  // A name of this run's own, so that other tests sharing the build folder are not disturbed.
  const std::string suffix = "/page_files_test_" + std::to_string(getpid()) + ".html";
  const fs::path expected = fs::canonical(PAGE_FILES_TEST_BINARY_DIR) / suffix.substr(1);
  const std::string page = "<P>\xD6\xD0\xCE\xC4</P>\r\n";

  EXPECT_TRUE(WritePageFile(suffix, page));
  EXPECT_EQ(ReadFile(expected), page);
  fs::remove(expected);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && argv[1] == kFullDiskMode) return WriteOnFullDisk(argv[2]);
  if (argc == 3 && argv[1] == kReadOnlyFolderMode) return WriteInReadOnlyFolder(argv[2]);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
