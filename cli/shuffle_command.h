// tessivane-shuffle: shuffles the paragraphs of an article read from a file or standard input.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/encoding.h"
#include "text/text_ops.h"

inline constexpr int kExitDone = 0;
inline constexpr int kExitBadInput = 1;  // unreadable, NUL byte, bad encoding, write failure
inline constexpr int kExitBadUsage = 2;  // unknown option, bad or missing argument, two FILEs

struct ShuffleOptions {
  std::string input = "-";            // "-" reads standard input
  std::optional<std::string> output;  // absent writes standard output
  std::optional<uint32_t> seed;       // read as the clock at every reseed
  Encoding encoding = Encoding::kGbk;
  bool help = false;
  bool version = false;
};

// Reads `args` (the command line without the program name) into `options`. False with a one-line
// reason in `error` when they are not usable. --help and --version end the reading.
bool ParseArguments(const std::vector<std::string>& args, ShuffleOptions* options,
                    std::string* error);

// The article shuffled as text in `encoding`: checked, converted to GB18030 and back for UTF-8,
// with a UTF-8 byte-order mark kept at the front. False with a one-line reason in `error` when
// the article holds a NUL byte or is not valid in the encoding.
bool ShuffleInEncoding(std::string_view article, Encoding encoding, Text* result,
                       std::string* error);

// The whole command: help, version and the result go to `out_fd` (or the -o file, replaced only
// once everything else has succeeded), one-line errors to `err_fd`. A seeded run starts the
// reseed counter at 0 as a fresh process does, so its result depends on the article and N alone.
// Returns the exit status.
int RunShuffleCommand(const std::vector<std::string>& args, int in_fd, int out_fd, int err_fd);
