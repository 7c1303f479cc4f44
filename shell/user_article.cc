// Reading the user's article: the checks in the order the user is told of them, then the texts.
#include "shell/user_article.h"

#include <fcntl.h>
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "common/article_shuffle.h"

namespace {

// What pasted articles are called in messages.
constexpr char kClipboardName[] = "剪贴板";

constexpr size_t kMegabyte = 1 << 20;

// Why a file cannot be opened for reading, in Chinese.
std::string UnreadableReason(int error) {
  switch (error) {
    case ENOENT:
      return "文件不存在。";
    case EACCES:
    case EPERM:
      return "没有读取它的权限。";
    case EISDIR:
      return "这是一个文件夹，不是文件。";
    default:
      return std::string("系统报告：") + g_strerror(error) + "。";
  }
}

Problem TooLarge(const std::string& name, uint64_t bytes) {
  return {"无法打开“" + name + "”：文件太大。",
          "它有 " + std::to_string((bytes + kMegabyte - 1) / kMegabyte) + " MB，本工具最多打开 " +
              std::to_string(kLargestArticleBytes / kMegabyte) + " MB 的文章。"};
}

// `article` with the encoding its bytes are in; false with the problem when they are not text in
// an encoding the shuffle handles. `name` names the article in the message.
bool CheckArticle(const std::string& name, UserArticle* article, Problem* problem) {
  DetectedEncoding detected;
  std::string error;
  if (!DetectEncoding(article->bytes, &detected, &error)) {
    *problem = {"无法打开“" + name + "”：它的编码不受支持。",
                error + "\n本工具能处理 GBK、GB18030、Big5、UTF-8 和 UTF-16 编码的文章。"};
    return false;
  }
  article->encoding = detected.encoding;
  // The same check the shuffle makes, so that whatever opens also shuffles.
  std::optional<std::string> fault =
      FindArticleFault(article->bytes, article->encoding, ShuffleKind::kKeepLayout);
  if (fault) {
    *problem = {"无法打开“" + name + "”：它不是有效的 " +
                    std::string(EncodingName(article->encoding)) + " 文本。",
                *fault + " (the encoding was decided by " + detected.how + ")."};
    return false;
  }
  return true;
}

}  // namespace

std::optional<UserArticle> LoadArticle(const std::string& path, Problem* problem) {
  const std::string name = DisplayName(path);
  // Looked at first, to tell the user in their language what kind of trouble it is.
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  struct stat status {};
  if (fd < 0 || fstat(fd, &status) != 0 || S_ISDIR(status.st_mode)) {
    const int error = fd < 0 ? errno : S_ISDIR(status.st_mode) ? EISDIR : errno;
    if (fd >= 0) close(fd);
    *problem = {"无法打开“" + name + "”：" + UnreadableReason(error), path};
    return std::nullopt;
  }
  if (S_ISREG(status.st_mode) && static_cast<size_t>(status.st_size) > kLargestArticleBytes) {
    close(fd);
    *problem = TooLarge(name, status.st_size);
    return std::nullopt;
  }
  // The file looked at is the file read: the same descriptor, now blocking for the read.
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  UserArticle article;
  article.path = path;
  std::string error;
  const bool read = ReadArticleFrom(fd, path, kLargestArticleBytes, &article.bytes, &error);
  close(fd);
  if (!read) {
    *problem = {"无法读取“" + name + "”。", error};
    return std::nullopt;
  }
  if (!CheckArticle(name, &article, problem)) return std::nullopt;
  return article;
}

std::optional<UserArticle> PastedHtmlArticle(std::string bytes, Problem* problem) {
  UserArticle article;
  article.bytes = std::move(bytes);
  if (article.bytes.size() > kLargestArticleBytes) {
    *problem = TooLarge(kClipboardName, article.bytes.size());
    return std::nullopt;
  }
  if (!CheckArticle(kClipboardName, &article, problem)) return std::nullopt;
  return article;
}

std::optional<UserArticle> PastedTextArticle(std::string_view text, Problem* problem) {
  std::string html = ParagraphsOf(text);
  if (html.empty()) {
    *problem = {"剪贴板里没有可以打乱的文字。", ""};
    return std::nullopt;
  }
  return PastedHtmlArticle(std::move(html), problem);
}

std::string ParagraphsOf(std::string_view text) {
  std::string html;
  while (!text.empty()) {
    const size_t end = std::min(text.find('\n'), text.size());
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    text.remove_prefix(std::min(end + 1, text.size()));
    if (line.find_first_not_of(" \t") == std::string_view::npos) continue;
    g_autofree char* escaped = g_markup_escape_text(line.data(), line.size());
    html += "<p>" + std::string(escaped) + "</p>\n";
  }
  return html;
}

std::string DisplayName(const std::string& path) {
  g_autofree char* name = g_filename_display_basename(path.c_str());
  return name;
}
