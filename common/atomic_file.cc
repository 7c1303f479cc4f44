#include "common/atomic_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

namespace {

constexpr std::string_view kAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr size_t kSuffixLength = 6;

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string TemporaryName(const std::string& folder) {
  unsigned char random[kSuffixLength];
  if (getrandom(random, sizeof random, 0) != sizeof random) {
    // Without the kernel's randomness the clock still tells concurrent writers apart well
    // enough, and O_EXCL settles any clash.
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    for (size_t i = 0; i < kSuffixLength; ++i)
      random[i] = static_cast<unsigned char>(now.tv_nsec >> (i * 5));
  }
  std::string name = folder + "/" + std::string(kTemporaryPrefix);
  for (unsigned char byte : random) name += kAlphabet[byte % kAlphabet.size()];
  return name;
}

// Writes `bytes` to a temporary file beside `path` and renames it over `path`. With `keep`, the
// new file takes its mode and, when permitted, its owner and group; without, 0666 less the
// umask. With `sync`, the bytes reach the disk before the rename, so that a crash cannot leave
// an empty file where a whole one was. Returns 0 or the errno of the step that failed; the
// temporary file is then removed.
int ReplaceInOneStep(const std::string& path, std::string_view bytes, const struct stat* keep,
                     bool sync) {
  std::string temporary;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temporary = TemporaryName(FolderOf(path));
    fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) return errno;
  }
  if (fd < 0) return EEXIST;
  int error = 0;
  if (keep) {
    // Owner first: a change of owner clears the set-user-ID bits that fchmod then restores.
    if (fchown(fd, keep->st_uid, keep->st_gid) != 0) {
      [[maybe_unused]] int ignored = fchown(fd, static_cast<uid_t>(-1), keep->st_gid);
    }
    if (fchmod(fd, keep->st_mode & 07777) != 0) error = errno;
  }
  if (!error && !WriteAll(fd, bytes)) error = errno;
  if (!error && sync && fsync(fd) != 0) error = errno;
  if (close(fd) != 0 && !error) error = errno;
  if (!error && rename(temporary.c_str(), path.c_str()) != 0) error = errno;
  if (error) unlink(temporary.c_str());
  return error;
}

// Opens the object at `path` for writing as it is, without creating or truncating anything; a
// socket is connected to.
int OpenDirectly(const std::string& path, const struct stat& info) {
  if (!S_ISSOCK(info.st_mode)) return open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) {
    errno = ENAMETOOLONG;
    return -1;
  }
  memcpy(address.sun_path, path.c_str(), path.size() + 1);
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    int error = errno;
    close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

std::optional<std::string> WriteDirectly(const std::string& path, const struct stat& info,
                                         std::string_view bytes) {
  struct stat out_info {};
  bool is_standard_output = fstat(STDOUT_FILENO, &out_info) == 0 &&
                            out_info.st_dev == info.st_dev && out_info.st_ino == info.st_ino;
  int fd = is_standard_output ? dup(STDOUT_FILENO) : OpenDirectly(path, info);
  if (fd < 0) return strerror(errno);
  bool written = WriteAll(fd, bytes);
  int error = errno;
  if (close(fd) != 0 && written) {
    written = false;
    error = errno;
  }
  if (!written) return strerror(error);
  return std::nullopt;
}

// The path a chain of symbolic links at `path` ends at (which may not exist); each relative
// target is read from its link's folder. nullopt with errno set on a loop or unreadable link.
std::optional<std::string> FinalTarget(std::string path) {
  for (int hops = 0; hops < 40; ++hops) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
    std::string target(PATH_MAX, '\0');
    ssize_t length = readlink(path.c_str(), target.data(), target.size());
    if (length < 0) return std::nullopt;
    target.resize(static_cast<size_t>(length));
    path = target.starts_with("/") ? target : FolderOf(path) + "/" + target;
  }
  errno = ELOOP;
  return std::nullopt;
}

std::string LeftAsItWas(int error) {
  return std::string(strerror(error)) + "; it is left as it was";
}

}  // namespace

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t written = write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) return false;
    if (written == 0) {
      errno = ENOSPC;
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

bool ReplaceFileContents(const std::string& path, std::string_view bytes) {
  if (path.empty()) return false;
  // The page is the program's own: it takes the umask's mode, and a link is replaced. Its bytes
  // reach the disk before the rename when there was a page to lose.
  struct stat info {};
  bool existed = lstat(path.c_str(), &info) == 0;
  return ReplaceInOneStep(path, bytes, nullptr, existed) == 0;
}

std::optional<std::string> WriteUserFile(const std::string& path, std::string_view bytes) {
  if (path.empty()) return strerror(ENOENT);
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0) {
    if (errno != ENOENT) return strerror(errno);
    if (int error = ReplaceInOneStep(path, bytes, nullptr, false)) return strerror(error);
    return std::nullopt;
  }
  std::string target = path;
  if (S_ISLNK(info.st_mode)) {
    struct stat followed {};
    if (stat(path.c_str(), &followed) == 0 && !S_ISREG(followed.st_mode) &&
        !S_ISDIR(followed.st_mode)) {
      // A device or pipe behind a link, /dev/stdout among them: the kernel follows it best.
      return WriteDirectly(path, followed, bytes);
    }
    std::optional<std::string> final_target = FinalTarget(path);
    if (!final_target) return LeftAsItWas(errno);
    target = *final_target;
    if (lstat(target.c_str(), &info) != 0) {
      // A dangling link: its target is created, as writing through the link would.
      if (errno != ENOENT) return LeftAsItWas(errno);
      if (int error = ReplaceInOneStep(target, bytes, nullptr, false)) return strerror(error);
      return std::nullopt;
    }
  }
  if (S_ISDIR(info.st_mode)) return LeftAsItWas(EISDIR);
  if (!S_ISREG(info.st_mode)) return WriteDirectly(target, info, bytes);
  if (int error = ReplaceInOneStep(target, bytes, &info, true)) return LeftAsItWas(error);
  return std::nullopt;
}

void RemoveStaleTemporaries(const std::string& folder, int min_age_seconds) {
  DIR* dir = opendir(folder.c_str());
  if (!dir) return;
  time_t now = time(nullptr);
  uid_t me = geteuid();
  while (dirent* entry = readdir(dir)) {
    std::string_view name = entry->d_name;
    if (!name.starts_with(kTemporaryPrefix) ||
        name.size() != kTemporaryPrefix.size() + kSuffixLength ||
        name.find_first_not_of(kAlphabet, kTemporaryPrefix.size()) != std::string_view::npos) {
      continue;
    }
    struct stat info {};
    if (fstatat(dirfd(dir), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(info.st_mode) && info.st_uid == me && now - info.st_mtime >= min_age_seconds) {
      unlinkat(dirfd(dir), entry->d_name, 0);
    }
  }
  closedir(dir);
}
