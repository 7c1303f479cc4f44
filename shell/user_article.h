// The user's own article, read and checked before the window takes it: from a file at a path, or
// from what was pasted (HTML as it is, plain text made into paragraphs). The result is either the
// article's bytes with the encoding they are in, or a problem to show the user: a headline naming
// the article and the details beneath it, in Chinese. Knows nothing of the window.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "common/encoding.h"

// The largest article opened, from a file or pasted.
inline constexpr size_t kLargestArticleBytes = 16 << 20;

// An opened article: its bytes as they came, their encoding, and its file (empty when pasted).
struct UserArticle {
  std::string path;
  std::string bytes;
  Encoding encoding = Encoding::kUtf8;
};

// Why something the user asked for did not happen: a headline and the details beneath it.
struct Problem {
  std::string summary;
  std::string detail;
};

// The article at `path`, read and checked; nullopt with the problem when it cannot be opened:
// unreadable, larger than kLargestArticleBytes, or not text in an encoding the shuffle handles.
std::optional<UserArticle> LoadArticle(const std::string& path, Problem* problem);

// Pasted HTML as the article, checked as a file's bytes are; nullopt with the problem.
std::optional<UserArticle> PastedHtmlArticle(std::string bytes, Problem* problem);

// Pasted plain text as the article, made into paragraphs by ParagraphsOf; nullopt with the
// problem, also when no line holds more than spaces.
std::optional<UserArticle> PastedTextArticle(std::string_view text, Problem* problem);

// Plain text as HTML: each line that holds more than spaces and tabs becomes a <p> of its own,
// markup escaped, a trailing CR dropped; empty when no line does.
std::string ParagraphsOf(std::string_view text);

// The file's name as a person reads it, whatever bytes it is made of.
std::string DisplayName(const std::string& path);
