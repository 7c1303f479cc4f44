// tessivane-shuffle: shuffles the paragraphs of HTML articles, one from a file or standard input,
// or many files and folders at once into an output folder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/article_shuffle.h"
#include "common/encoding.h"

inline constexpr int kExitDone = 0;
inline constexpr int kExitBadInput =
    1;  // unreadable, bad encoding, write failure, any article failed
inline constexpr int kExitBadUsage = 2;  // unknown option, bad or missing argument

inline constexpr size_t kDefaultMaxBytes = size_t{1} << 30;

struct ShuffleOptions {
  std::vector<std::string> inputs;        // FILEs and FOLDERs; none, or "-", reads standard input
  std::optional<std::string> output;      // -o: absent or "-" writes standard output
  std::optional<std::string> output_dir;  // -d: the batch's output folder
  std::optional<uint32_t> seed;
  std::optional<Encoding> encoding;  // absent: detected from each article
  ShuffleKind kind = ShuffleKind::kKeepLayout;
  int jobs = 0;  // 0: one per processor
  size_t max_bytes = kDefaultMaxBytes;
  bool help = false;
  bool version = false;
};

// Reads `args` (the command line without the program name) with getopt_long into `options`.
// False with a one-line reason in `error` when they are not usable. --help and --version end the
// reading.
bool ParseArguments(const std::vector<std::string>& args, ShuffleOptions* options,
                    std::string* error);

// One article shuffled as `options` say: in the encoding they name, or else the one
// DetectEncoding finds. False with a one-line reason (saying how the encoding was decided).
bool ShuffleWithOptions(std::string_view article, const ShuffleOptions& options,
                        std::string* result, std::string* error,
                        const ShuffleProgress& progress = {});

// The whole command: help, version and a single result go to `out_fd` (or to -o's file, written
// only once everything else has succeeded); errors, one line each, the batch's progress (when
// `err_fd` is a terminal) and its summary to `err_fd`. Returns the exit status.
int RunShuffleCommand(const std::vector<std::string>& args, int in_fd, int out_fd, int err_fd);
