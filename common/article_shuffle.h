// The article pipeline both programs share: reading an article's bytes, and shuffling them in
// their own encoding with either shuffle.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "common/encoding.h"

enum class ShuffleKind {
  kKeepLayout,  // paragraphs trade places evenly; every other byte stays where it is
  kClassic,     // the window's shuffle: line breaks removed, pieces scattered by the LCG
};

// The end of an encoding fault's message when the article would pass as UTF-8.
inline constexpr std::string_view kReadsAsUtf8 = "; the article reads as UTF-8";

// Reports progress of a long shuffle: work done of the total, in the shuffle's own units.
using ShuffleProgress = std::function<void(size_t done, size_t total)>;

// Why `article` cannot be shuffled as text in `encoding` with `kind`, in one line naming the first
// offending byte offset: a NUL character (in UTF-16 a zero code unit, not a zero byte) or text not
// valid in the encoding; nullopt when it can.
std::optional<std::string> FindArticleFault(std::string_view article, Encoding encoding,
                                            ShuffleKind kind);

// `article` (bytes in `encoding`) checked and shuffled, returned in `result` in the same encoding,
// a byte-order mark kept at the front. The check refuses a NUL character and text not valid in
// the encoding, naming the first offending byte offset (for the classic shuffle, also a UTF-8 or
// UTF-16 character without a GB18030 form, as it works through GB18030). kKeepLayout draws from
// `seed`, or from the system's randomness without one; kClassic reads `seed` as the clock at
// every reseed, from a reseed counter of 0, as a fresh process does (this thread's random source;
// the real clock is read again afterwards), and without a seed reads the clock as the window
// does. `progress`, for the classic shuffle, hears of each paragraph done. False with a one-line
// reason in `error` (out of memory included); `result` is then untouched.
bool ShuffleArticleBytes(std::string_view article, Encoding encoding, ShuffleKind kind,
                         std::optional<uint32_t> seed, std::string* result, std::string* error,
                         const ShuffleProgress& progress = {});

// Reads the whole file at `path`, refusing one larger than `max_bytes` before reading it whole
// (a regular file by its size, anything else once that much has come). False with a one-line
// reason "path: reason" in `error`, running out of memory included.
bool ReadArticleFile(const std::string& path, size_t max_bytes, std::string* bytes,
                     std::string* error);

// The same from an open descriptor (standard input, say), named `name` in the reason.
bool ReadArticleFrom(int fd, const std::string& name, size_t max_bytes, std::string* bytes,
                     std::string* error);
