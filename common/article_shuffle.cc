#include "common/article_shuffle.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "common/layout_shuffle.h"
#include "text/paragraph_shuffler.h"
#include "text/random_source.h"

namespace {

// The offset of the first NUL character: a zero byte, or a zero code unit in UTF-16.
size_t FindNul(std::string_view article, Encoding encoding) {
  if (!IsUtf16(encoding)) return article.find('\0');
  for (size_t at = article.find('\0'); at != std::string_view::npos;
       at = article.find('\0', at + 1)) {
    if (at % 2 == 0 && at + 1 < article.size() && article[at + 1] == '\0') return at;
    if (at % 2 == 0) at += 1;
  }
  return std::string_view::npos;
}

// The encoding each shuffle works in: the layout-keeping one reads every double-byte encoding and
// UTF-8 as bytes; the classic one only double-byte text.
Encoding WorkingEncoding(Encoding encoding, ShuffleKind kind) {
  if (kind == ShuffleKind::kKeepLayout) return IsUtf16(encoding) ? Encoding::kUtf8 : encoding;
  return encoding == Encoding::kUtf8 || IsUtf16(encoding) ? Encoding::kGb18030 : encoding;
}

std::string Shuffle(std::string_view text, ShuffleKind kind, std::optional<uint32_t> seed,
                    const ShuffleProgress& progress) {
  if (kind == ShuffleKind::kKeepLayout) {
    return ShuffleKeepingLayout(text, seed ? *seed : SeedFromSystem());
  }
  if (!seed) return ShuffleArticle(text, progress);
  PinClock(*seed);
  SetReseedCounter(0);
  std::string shuffled = ShuffleArticle(text, progress);
  PinClock(std::nullopt);
  return shuffled;
}

bool SizeError(const std::string& name, size_t max_bytes, std::string* error) {
  *error = name + ": larger than the size limit of " + std::to_string(max_bytes) + " bytes";
  return false;
}

}  // namespace

std::optional<std::string> FindArticleFault(std::string_view article, Encoding encoding,
                                            ShuffleKind kind) {
  std::optional<EncodingFault> fault =
      FindEncodingFault(article, encoding, kind == ShuffleKind::kClassic);
  size_t nul = FindNul(article, encoding);
  if (nul != std::string_view::npos && (!fault || nul < fault->offset)) {
    return "NUL character at byte offset " + std::to_string(nul);
  }
  if (!fault) return std::nullopt;
  std::string reason = fault->what + " at byte offset " + std::to_string(fault->offset);
  if (encoding != Encoding::kUtf8 && !FindEncodingFault(article, Encoding::kUtf8, false)) {
    reason += kReadsAsUtf8;
  }
  return reason;
}

bool ShuffleArticleBytes(std::string_view article, Encoding encoding, ShuffleKind kind,
                         std::optional<uint32_t> seed, std::string* result, std::string* error,
                         const ShuffleProgress& progress) {
  try {
    if (std::optional<std::string> fault = FindArticleFault(article, encoding, kind)) {
      *error = *fault;
      return false;
    }
    // The mark belongs to the file, not to any paragraph, so it is set aside while they move.
    std::string_view mark = ByteOrderMark(article, encoding);
    std::string_view body = article.substr(mark.size());
    Encoding working = WorkingEncoding(encoding, kind);
    std::optional<std::string> back;
    if (working == encoding) {
      back = Shuffle(body, kind, seed, progress);
    } else if (std::optional<std::string> converted = ConvertText(body, encoding, working)) {
      back = ConvertText(Shuffle(*converted, kind, seed, progress), working, encoding);
    }
    if (!back) {
      *error = "the article did not convert through " + std::string(EncodingName(working));
      return false;
    }
    back->insert(0, mark);
    *result = std::move(*back);
    return true;
  } catch (const std::bad_alloc&) {
    *error = "out of memory";
    return false;
  }
}

bool ReadArticleFrom(int fd, const std::string& name, size_t max_bytes, std::string* bytes,
                     std::string* error) {
  try {
    std::string article;
    // A regular file is read into room for its size and one byte more, which shows the end;
    // anything else, or a file that grows, gets room by doubling, never past one byte over the
    // limit, which is enough to tell that the input is too large.
    size_t room = size_t{1} << 16;
    const size_t most_room = max_bytes == SIZE_MAX ? SIZE_MAX : max_bytes + 1;
    struct stat info {};
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
      if (static_cast<uint64_t>(info.st_size) > max_bytes) return SizeError(name, max_bytes, error);
      room = static_cast<size_t>(info.st_size) + 1;
    }
    for (size_t used = 0;;) {
      if (used == article.size()) {
        article.resize(std::min(std::max(used * 2, used + room), most_room));
      }
      ssize_t got = read(fd, article.data() + used, article.size() - used);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) {
        *error = name + ": " + strerror(errno);
        return false;
      }
      used += static_cast<size_t>(got);
      if (used > max_bytes) return SizeError(name, max_bytes, error);
      if (got == 0) {
        article.resize(used);
        break;
      }
    }
    *bytes = std::move(article);
    return true;
  } catch (const std::bad_alloc&) {
    *error = name + ": out of memory";
    return false;
  }
}

bool ReadArticleFile(const std::string& path, size_t max_bytes, std::string* bytes,
                     std::string* error) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = path + ": " + strerror(errno);
    return false;
  }
  bool read = ReadArticleFrom(fd, path, max_bytes, bytes, error);
  close(fd);
  return read;
}
