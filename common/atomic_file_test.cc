#include "common/atomic_file.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "common/test_files.h"

namespace {

namespace fs = std::filesystem;

// The unprivileged user the permission checks run as when the tests run as root.
constexpr uid_t kNobody = 65534;
constexpr gid_t kNoGroup = 65534;

std::vector<std::string> Listing(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

struct stat StatOf(const fs::path& path) {
  struct stat info {};
  EXPECT_EQ(lstat(path.c_str(), &info), 0) << path;
  return info;
}

class WriteUserFileTest : public testing::Test {
 protected:
  // Others must reach the folder for the unprivileged checks.
  void SetUp() override { chmod(dir_.c_str(), 0755); }

  // Runs WriteUserFile(path, bytes) as an unprivileged user: in a child process switched to
  // nobody when the test runs as root, in this process otherwise.
  static std::optional<std::string> WriteAsUnprivileged(const std::string& path,
                                                        std::string_view bytes) {
    if (geteuid() != 0) return WriteUserFile(path, bytes);
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    pid_t child = fork();
    if (child == 0) {
      close(fds[0]);
      if (setgroups(0, nullptr) != 0 || setresgid(kNoGroup, kNoGroup, kNoGroup) != 0 ||
          setresuid(kNobody, kNobody, kNobody) != 0) {
        _exit(3);
      }
      std::optional<std::string> failure = WriteUserFile(path, bytes);
      std::string message = failure ? "F" + *failure : "S";
      _exit(write(fds[1], message.data(), message.size()) == static_cast<ssize_t>(message.size())
                ? 0
                : 4);
    }
    close(fds[1]);
    std::string message;
    char buffer[256];
    for (ssize_t got; (got = read(fds[0], buffer, sizeof buffer)) > 0;) message.append(buffer, got);
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    if (message.starts_with("F")) return message.substr(1);
    return std::nullopt;
  }

  // Gives `path` to the unprivileged user, so that its permissions bind (root ignores them).
  static void GiveAway(const fs::path& path) {
    if (geteuid() == 0) {
      ASSERT_EQ(lchown(path.c_str(), kNobody, kNoGroup), 0);
    }
  }

  TempFolder folder_{"atomic_file_"};
  const fs::path dir_ = folder_.path();
};

TEST_F(WriteUserFileTest, RegularFileIsReplacedAndKeepsItsMode) {
  const fs::path folder = dir_ / "mine";
  fs::create_directory(folder);
  GiveAway(folder);
  for (mode_t mode : {0600, 0755, 0640, 0444}) {
    SCOPED_TRACE(mode);
    const fs::path out = folder / "out.html";
    WriteFile(out, "old contents that are longer");
    ASSERT_EQ(chmod(out.c_str(), mode), 0);
    GiveAway(out);
    EXPECT_EQ(WriteAsUnprivileged(out, "new"), std::nullopt);
    EXPECT_EQ(ReadFile(out), "new");
    struct stat info = StatOf(out);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(info.st_mode & 07777, mode);
    if (geteuid() == 0) {
      EXPECT_EQ(info.st_uid, kNobody);
    }
    EXPECT_EQ(Listing(folder), std::vector<std::string>{"out.html"});
  }
}

// Root may give the new file the old one's owner; the file must not become root's.
TEST_F(WriteUserFileTest, KeepsOwnerAndGroupWhenPermitted) {
  if (geteuid() != 0) GTEST_SKIP() << "only root may give a file to another user";
  const fs::path out = dir_ / "theirs.html";
  WriteFile(out, "old");
  ASSERT_EQ(chown(out.c_str(), kNobody, kNoGroup), 0);
  EXPECT_EQ(WriteUserFile(out, "new"), std::nullopt);
  struct stat info = StatOf(out);
  EXPECT_EQ(info.st_uid, kNobody);
  EXPECT_EQ(info.st_gid, kNoGroup);
  EXPECT_EQ(ReadFile(out), "new");
}

TEST_F(WriteUserFileTest, NewFileTakesTheUmask) {
  mode_t saved = umask(027);
  std::optional<std::string> failure = WriteUserFile(dir_ / "new.html", "bytes");
  umask(saved);
  EXPECT_EQ(failure, std::nullopt);
  EXPECT_EQ(StatOf(dir_ / "new.html").st_mode & 07777, 0640u);
  EXPECT_EQ(ReadFile(dir_ / "new.html"), "bytes");
}

// A link is followed to its final target, which is replaced in its own folder; each link stays.
TEST_F(WriteUserFileTest, SymbolicLinksAreFollowed) {
  fs::create_directories(dir_ / "elsewhere");
  WriteFile(dir_ / "elsewhere" / "target.html", "old target");
  chmod((dir_ / "elsewhere" / "target.html").c_str(), 0604);
  fs::create_symlink("../elsewhere/target.html", dir_ / "elsewhere" / "hop");
  fs::create_directories(dir_ / "links");
  fs::create_symlink("../elsewhere/hop", dir_ / "links" / "out.html");
  fs::create_symlink(dir_ / "elsewhere" / "new.html", dir_ / "links" / "dangling.html");

  EXPECT_EQ(WriteUserFile(dir_ / "links" / "out.html", "through two links"), std::nullopt);
  EXPECT_EQ(ReadFile(dir_ / "elsewhere" / "target.html"), "through two links");
  EXPECT_EQ(StatOf(dir_ / "elsewhere" / "target.html").st_mode & 07777, 0604u);
  EXPECT_TRUE(fs::is_symlink(dir_ / "links" / "out.html"));
  EXPECT_TRUE(fs::is_symlink(dir_ / "elsewhere" / "hop"));

  EXPECT_EQ(WriteUserFile(dir_ / "links" / "dangling.html", "created"), std::nullopt);
  EXPECT_EQ(ReadFile(dir_ / "elsewhere" / "new.html"), "created");
  EXPECT_TRUE(fs::is_symlink(dir_ / "links" / "dangling.html"));
  EXPECT_EQ(Listing(dir_ / "links"), (std::vector<std::string>{"dangling.html", "out.html"}));
  EXPECT_EQ(Listing(dir_ / "elsewhere"),
            (std::vector<std::string>{"hop", "new.html", "target.html"}));
}

// Replacing the name leaves the other names of a hard-linked file with the old bytes.
TEST_F(WriteUserFileTest, HardLinkedFileGetsANewFileAtTheName) {
  WriteFile(dir_ / "a.html", "old");
  fs::create_hard_link(dir_ / "a.html", dir_ / "b.html");
  EXPECT_EQ(WriteUserFile(dir_ / "a.html", "new"), std::nullopt);
  EXPECT_EQ(ReadFile(dir_ / "a.html"), "new");
  EXPECT_EQ(ReadFile(dir_ / "b.html"), "old");
}

// The shared devices are written as the unprivileged user, who could not replace them if the
// code tried.
TEST_F(WriteUserFileTest, DevicesAndPipesAreWrittenToDirectly) {
  EXPECT_EQ(WriteAsUnprivileged("/dev/null", "into the void"), std::nullopt);
  EXPECT_TRUE(S_ISCHR(StatOf("/dev/null").st_mode));
  EXPECT_EQ(WriteAsUnprivileged("/dev/full", "x"), "No space left on device");
  EXPECT_TRUE(S_ISCHR(StatOf("/dev/full").st_mode));

  const fs::path fifo = dir_ / "pipe";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  fs::create_symlink("pipe", dir_ / "link-to-pipe");
  std::string received;
  std::thread reader([&] { received = ReadFile(fifo); });
  EXPECT_EQ(WriteUserFile(dir_ / "link-to-pipe", "through the pipe"), std::nullopt);
  // Should the pipe not have been written, this ends the reader's wait.
  int unblock = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
  if (unblock >= 0) close(unblock);
  reader.join();
  EXPECT_EQ(received, "through the pipe");
  EXPECT_TRUE(S_ISFIFO(StatOf(fifo).st_mode));

  // A socket is connected to and written.
  const fs::path socket_path = dir_ / "socket";
  int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(socket_path.string().size(), sizeof address.sun_path);
  strcpy(address.sun_path, socket_path.c_str());
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(listener, 1), 0);
  std::string over_socket;
  std::thread server([&] {
    int connection = accept(listener, nullptr, nullptr);
    char buffer[256];
    for (ssize_t got; connection >= 0 && (got = read(connection, buffer, sizeof buffer)) > 0;) {
      over_socket.append(buffer, static_cast<size_t>(got));
    }
    if (connection >= 0) close(connection);
  });
  EXPECT_EQ(WriteUserFile(socket_path, "over the socket"), std::nullopt);
  shutdown(listener, SHUT_RDWR);  // ends a wait for a connection that never came
  server.join();
  close(listener);
  EXPECT_EQ(over_socket, "over the socket");
  EXPECT_TRUE(S_ISSOCK(StatOf(socket_path).st_mode));
  EXPECT_EQ(Listing(dir_), (std::vector<std::string>{"link-to-pipe", "pipe", "socket"}));
}

// /dev/stdout means this program's standard output as it stands, even when that is a file
// opened for appending.
TEST_F(WriteUserFileTest, DevStdoutWritesWhereStandardOutputStands) {
  const fs::path log = dir_ / "log.html";
  WriteFile(log, "head ");
  int appending = open(log.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  ASSERT_GE(appending, 0);
  fflush(stdout);
  int saved = dup(STDOUT_FILENO);
  dup2(appending, STDOUT_FILENO);
  std::optional<std::string> failure = WriteUserFile("/dev/stdout", "tail");
  dup2(saved, STDOUT_FILENO);
  close(saved);
  close(appending);
  EXPECT_EQ(failure, std::nullopt);
  EXPECT_EQ(ReadFile(log), "head tail");
  EXPECT_EQ(Listing(dir_), std::vector<std::string>{"log.html"});
}

// A name as long as the file system allows is written: the temporary name is short.
TEST_F(WriteUserFileTest, NameAtTheFileSystemLimitIsWritten) {
  const std::string longest(static_cast<size_t>(pathconf(dir_.c_str(), _PC_NAME_MAX)), 'n');
  EXPECT_EQ(WriteUserFile(dir_ / longest, "fits"), std::nullopt);
  EXPECT_EQ(ReadFile(dir_ / longest), "fits");
  EXPECT_EQ(WriteUserFile(dir_ / longest, "replaced"), std::nullopt);
  EXPECT_EQ(ReadFile(dir_ / longest), "replaced");
  EXPECT_EQ(Listing(dir_), std::vector<std::string>{longest});
  EXPECT_EQ(WriteUserFile(dir_ / (longest + "x"), "too long"), "File name too long");
}

TEST_F(WriteUserFileTest, EachFailureSaysWhyAndLeavesThingsAsTheyWere) {
  fs::create_directory(dir_ / "folder");
  WriteFile(dir_ / "folder" / "inside", "kept");
  fs::create_directory(dir_ / "locked");
  WriteFile(dir_ / "locked" / "out.html", "kept");
  GiveAway(dir_ / "locked" / "out.html");
  GiveAway(dir_ / "locked");
  chmod((dir_ / "locked").c_str(), 0555);
  WriteFile(dir_ / "plain", "a file");

  struct Case {
    fs::path path;
    std::string reason;
  };
  const Case cases[] = {
      {dir_ / "missing" / "out.html", "No such file or directory"},
      {dir_ / "plain" / "out.html", "Not a directory"},
      {dir_ / "folder", "Is a directory; it is left as it was"},
      {dir_ / "locked" / "out.html", "Permission denied; it is left as it was"},
      {dir_ / "locked" / "new.html", "Permission denied"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(WriteAsUnprivileged(c.path, "new"), c.reason);
  }
  EXPECT_EQ(ReadFile(dir_ / "locked" / "out.html"), "kept");
  EXPECT_EQ(Listing(dir_ / "locked"), std::vector<std::string>{"out.html"});
  EXPECT_EQ(Listing(dir_ / "folder"), std::vector<std::string>{"inside"});
  EXPECT_EQ(Listing(dir_), (std::vector<std::string>{"folder", "locked", "plain"}));
}

TEST_F(WriteUserFileTest, RemoveStaleTemporariesTouchesOnlyOldTemporaries) {
  const timespec two_hours_ago[2] = {{time(nullptr) - 7200, 0}, {time(nullptr) - 7200, 0}};
  for (const char* name : {".tessivane-Ab3xY9", ".tessivane-Fresh1", ".tessivane-long123",
                           ".tessivane-ab_12c", "tessivane-Ab3xY9", "article.html"}) {
    WriteFile(dir_ / name, "x");
    if (std::string_view(name) != ".tessivane-Fresh1") {
      ASSERT_EQ(utimensat(AT_FDCWD, (dir_ / name).c_str(), two_hours_ago, 0), 0);
    }
  }
  fs::create_directory(dir_ / ".tessivane-Folder");
  fs::create_symlink("article.html", dir_ / ".tessivane-Link12");
  ASSERT_EQ(
      utimensat(AT_FDCWD, (dir_ / ".tessivane-Link12").c_str(), two_hours_ago, AT_SYMLINK_NOFOLLOW),
      0);

  RemoveStaleTemporaries(dir_, 3600);
  EXPECT_EQ(Listing(dir_),
            (std::vector<std::string>{".tessivane-Folder", ".tessivane-Fresh1", ".tessivane-Link12",
                                      ".tessivane-ab_12c", ".tessivane-long123", "article.html",
                                      "tessivane-Ab3xY9"}));
}

}  // namespace
