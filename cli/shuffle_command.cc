#include "cli/shuffle_command.h"

#include <getopt.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <new>

#include "cli/batch.h"
#include "cli/output.h"
#include "common/atomic_file.h"

namespace {

constexpr std::string_view kHelp =
    "Usage: tessivane-shuffle [OPTION]... [FILE]\n"
    "  or:  tessivane-shuffle [OPTION]... -d OUTDIR FILE|FOLDER...\n"
    "Shuffle the paragraphs (<p> and <div> elements) of HTML articles.\n"
    "\n"
    "With one FILE, or none, or -, shuffle that article (standard input when none or -)\n"
    "and write the result to standard output. With -d, write each FILE to OUTDIR under\n"
    "its own name, and every *.html and *.htm file found in each FOLDER to the same\n"
    "place under OUTDIR; an input is never overwritten.\n"
    "\n"
    "By default the page keeps its layout: paragraphs trade places with their sibling\n"
    "paragraphs, evenly at random, and every other byte stays where it is.\n"
    "\n"
    "  -o, --output=OUT      write the one result to OUT (- for standard output); a\n"
    "                        regular OUT is replaced whole and keeps its mode, a link is\n"
    "                        followed, a device or pipe is written to\n"
    "  -d, --output-dir=DIR  shuffle every FILE and FOLDER into DIR\n"
    "  -j, --jobs=N          shuffle N articles at a time (default: one per processor)\n"
    "      --encoding=ENC    the articles' encoding: auto (the default: byte-order mark,\n"
    "                        else <meta> charset, else UTF-8 if valid, else GB18030),\n"
    "                        gbk, gb18030, gb2312, big5, utf-8, utf-16, utf-16le or\n"
    "                        utf-16be; the result is written in the same encoding\n"
    "      --seed=N          shuffle reproducibly: the same article and N (0 to\n"
    "                        4294967295) give the same result\n"
    "      --classic         the window's shuffle: line breaks removed, the pieces\n"
    "                        scattered; with --seed, N is read as the clock\n"
    "      --max-size=BYTES  refuse an article larger than BYTES (K, M and G suffixes;\n"
    "                        default 1G)\n"
    "  -h, --help            display this help and exit\n"
    "      --version         output version information and exit\n"
    "\n"
    "Exit status:\n"
    "  0  done\n"
    "  1  bad input: an article unreadable, too large or not valid in its encoding,\n"
    "     a result not written, or out of memory (a batch: any article failed)\n"
    "  2  bad usage: unknown option, missing or bad option argument\n";

constexpr std::string_view kVersion = "tessivane-shuffle " TESSIVANE_VERSION "\n";

enum LongOnly { kSeed = 256, kEncodingOption, kClassic, kMaxSize, kVersionOption };

constexpr option kLongOptions[] = {
    {"output", required_argument, nullptr, 'o'},
    {"output-dir", required_argument, nullptr, 'd'},
    {"jobs", required_argument, nullptr, 'j'},
    {"encoding", required_argument, nullptr, kEncodingOption},
    {"seed", required_argument, nullptr, kSeed},
    {"classic", no_argument, nullptr, kClassic},
    {"max-size", required_argument, nullptr, kMaxSize},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, kVersionOption},
    {nullptr, 0, nullptr, 0},
};

// A decimal number of at most `max`; nullopt for anything else (signs, spaces, hex).
std::optional<uint64_t> ParseNumber(std::string_view digits, uint64_t max) {
  if (digits.empty()) return std::nullopt;
  uint64_t value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(c - '0');
    if (value > max) return std::nullopt;
  }
  return value;
}

// BYTES with an optional K, M or G (powers of 1024).
std::optional<uint64_t> ParseSize(std::string_view text) {
  uint64_t unit = 1;
  if (!text.empty()) {
    switch (text.back() | 0x20) {
      case 'k':
        unit = uint64_t{1} << 10;
        break;
      case 'm':
        unit = uint64_t{1} << 20;
        break;
      case 'g':
        unit = uint64_t{1} << 30;
        break;
    }
    if (unit > 1) text.remove_suffix(1);
  }
  std::optional<uint64_t> count = ParseNumber(text, (uint64_t{1} << 50) / unit);
  if (!count) return std::nullopt;
  return *count * unit;
}

// Names the long option `arg` (as written, "--name" or "--name=value") for a message: the
// reason getopt_long refused it.
std::string LongOptionFault(std::string_view arg) {
  std::string_view name = arg.substr(
      2, arg.find('=') == std::string_view::npos ? std::string_view::npos : arg.find('=') - 2);
  std::vector<std::string> matches;
  for (const option* o = kLongOptions; o->name; ++o) {
    if (std::string_view(o->name) == name)
      return "option '--" + std::string(name) + "' takes no argument";
    if (std::string_view(o->name).starts_with(name)) matches.push_back(o->name);
  }
  if (matches.size() == 1) return "option '--" + matches[0] + "' takes no argument";
  if (matches.size() > 1) {
    std::string message = "option '--" + std::string(name) + "' is ambiguous; possibilities:";
    for (const std::string& match : matches) message += " '--" + match + "'";
    return message;
  }
  return "unknown option '--" + std::string(name) + "'";
}

bool ApplyOption(int code, const std::string& value, const std::string& shown,
                 ShuffleOptions* options, std::string* error) {
  switch (code) {
    case 'o':
    case 'd':
      if (value.empty()) {
        *error = "option '" + shown + "' needs a file name";
        return false;
      }
      (code == 'o' ? options->output : options->output_dir) = value;
      return true;
    case 'j':
      if (std::optional<uint64_t> jobs = ParseNumber(value, 1024); jobs && *jobs > 0) {
        options->jobs = static_cast<int>(*jobs);
        return true;
      }
      *error = "bad " + shown + " '" + value + "': expected a number of threads from 1 to 1024";
      return false;
    case kSeed:
      if (std::optional<uint64_t> seed = ParseNumber(value, UINT32_MAX)) {
        options->seed = static_cast<uint32_t>(*seed);
        return true;
      }
      *error = "bad --seed '" + value + "': expected a whole number from 0 to 4294967295";
      return false;
    case kEncodingOption:
      if (strcasecmp(value.c_str(), "auto") == 0) {
        options->encoding.reset();
        return true;
      }
      if (std::optional<Encoding> encoding = EncodingNamed(value)) {
        options->encoding = encoding;
        return true;
      }
      *error = "unknown encoding '" + value +
               "': expected auto, gbk, gb18030, gb2312, big5, utf-8, utf-16, utf-16le or utf-16be";
      return false;
    case kMaxSize:
      if (std::optional<uint64_t> size = ParseSize(value)) {
        options->max_bytes = static_cast<size_t>(*size);
        return true;
      }
      *error = "bad --max-size '" + value + "': expected a number of bytes, with K, M or G";
      return false;
  }
  return true;
}

std::string Seconds(std::chrono::steady_clock::duration elapsed) {
  char text[32];
  snprintf(text, sizeof text, "%.2f s", std::chrono::duration<double>(elapsed).count());
  return text;
}

// Shuffles the one article and writes it; returns the exit status.
int RunSingle(const ShuffleOptions& options, int in_fd, int out_fd, int err_fd) {
  std::string input = options.inputs.empty() ? "-" : options.inputs[0];
  std::string article, error;
  bool read;
  if (input == "-") {
    if (isatty(in_fd)) {
      ReportError(err_fd, "reading the article from standard input; end it with Ctrl+D");
    }
    read = ReadArticleFrom(in_fd, "standard input", options.max_bytes, &article, &error);
  } else {
    read = ReadArticleFile(input, options.max_bytes, &article, &error);
    if (!read && error.ends_with(strerror(EISDIR))) error += "; use -d OUTDIR to shuffle a folder";
  }
  if (!read) {
    ReportError(err_fd, error);
    return kExitBadInput;
  }
  ProgressLine progress(err_fd);
  std::string result;
  bool shuffled =
      ShuffleWithOptions(article, options, &result, &error, [&](size_t done, size_t total) {
        progress.Show("shuffling " + std::to_string(total ? done * 100 / total : 100) + "%");
      });
  progress.Clear();
  article = std::string();
  if (!shuffled) {
    ReportError(err_fd, (input == "-" ? "standard input" : input) + ": " + error);
    return kExitBadInput;
  }
  if (options.output && *options.output != "-") {
    std::string folder = options.output->find('/') == std::string::npos
                             ? "."
                             : options.output->substr(0, options.output->rfind('/') + 1);
    RemoveStaleTemporaries(folder, kStaleTemporarySeconds);
    if (std::optional<std::string> failure = WriteUserFile(*options.output, result)) {
      ReportError(err_fd, "cannot write '" + *options.output + "': " + *failure);
      return kExitBadInput;
    }
  } else if (!WriteAll(out_fd, result)) {
    ReportError(err_fd, std::string("cannot write standard output: ") + strerror(errno));
    return kExitBadInput;
  }
  return kExitDone;
}

int RunCommand(const std::vector<std::string>& args, int in_fd, int out_fd, int err_fd) {
  ShuffleOptions options;
  std::string error;
  if (!ParseArguments(args, &options, &error)) {
    ReportError(err_fd, error + " (see --help)");
    return kExitBadUsage;
  }
  if (options.help || options.version) {
    return WriteAll(out_fd, options.help ? kHelp : kVersion) ? kExitDone : kExitBadInput;
  }
  if (!options.output_dir) return RunSingle(options, in_fd, out_fd, err_fd);

  auto start = std::chrono::steady_clock::now();
  std::vector<std::string> failures;
  std::vector<BatchItem> items = PlanBatch(options.inputs, *options.output_dir, &failures);
  for (const std::string& failure : failures) ReportError(err_fd, failure);
  BatchCounts counts = RunBatch(items, options, err_fd);
  counts.failed += failures.size();
  std::string summary = std::to_string(counts.done) + " of " +
                        std::to_string(counts.done + counts.failed) + " articles shuffled into '" +
                        *options.output_dir + "' in " +
                        Seconds(std::chrono::steady_clock::now() - start);
  if (counts.failed) summary += "; " + std::to_string(counts.failed) + " failed";
  ReportError(err_fd, summary);
  return counts.failed ? kExitBadInput : kExitDone;
}

}  // namespace

bool ParseArguments(const std::vector<std::string>& args, ShuffleOptions* options,
                    std::string* error) {
  std::vector<std::string> words{"tessivane-shuffle"};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  const int argc = static_cast<int>(words.size());
  optind = 0;  // starts getopt afresh, as a second parse in one process needs
  opterr = 0;
  for (;;) {
    int code = getopt_long(argc, argv.data(), ":o:d:j:h", kLongOptions, nullptr);
    if (code == -1) break;
    // The word getopt has just read: long options are always a word of their own.
    std::string_view word = argv[optind - 1] ? argv[optind - 1] : "";
    if (code == '?') {
      *error = word.starts_with("--")
                   ? LongOptionFault(word)
                   : "unknown option '-" + std::string(1, static_cast<char>(optopt)) + "'";
      return false;
    }
    if (code == ':') {
      std::string shown = word.starts_with("--") ? std::string(word.substr(0, word.find('=')))
                                                 : "-" + std::string(1, static_cast<char>(optopt));
      *error = "option '" + shown + "' needs an argument";
      return false;
    }
    if (code == 'h' || code == kVersionOption) {
      options->help = code == 'h';
      options->version = code == kVersionOption;
      return true;
    }
    if (code == kClassic) {
      options->kind = ShuffleKind::kClassic;
      continue;
    }
    std::string shown = word.starts_with("--") ? std::string(word.substr(0, word.find('=')))
                                               : "-" + std::string(1, static_cast<char>(code));
    if (!ApplyOption(code, optarg ? optarg : "", shown, options, error)) return false;
  }
  // getopt_long has moved the operands behind the options, in their order.
  options->inputs.assign(argv.begin() + optind, argv.begin() + argc);

  if (options->output && options->output_dir) {
    *error = "-o and -d cannot be used together";
    return false;
  }
  if (options->output_dir) {
    if (options->inputs.empty()) {
      *error = "-d needs a FILE or FOLDER to shuffle";
      return false;
    }
    for (const std::string& input : options->inputs) {
      if (input == "-") {
        *error = "standard input cannot be shuffled with -d";
        return false;
      }
    }
  } else if (options->inputs.size() > 1) {
    *error = "more than one FILE given ('" + options->inputs[0] + "', '" + options->inputs[1] +
             "'): use -d OUTDIR to shuffle several";
    return false;
  }
  return true;
}

bool ShuffleWithOptions(std::string_view article, const ShuffleOptions& options,
                        std::string* result, std::string* error, const ShuffleProgress& progress) {
  DetectedEncoding detected;
  if (options.encoding) {
    detected.encoding = *options.encoding;
  } else if (!DetectEncoding(article, &detected, error)) {
    *error += "; if it is wrong, name the encoding with --encoding";
    return false;
  }
  if (ShuffleArticleBytes(article, detected.encoding, options.kind, options.seed, result, error,
                          progress)) {
    return true;
  }
  bool reads_as_utf8 = error->ends_with(kReadsAsUtf8);
  if (reads_as_utf8) error->resize(error->size() - kReadsAsUtf8.size());
  if (!options.encoding) {
    *error +=
        " (read as " + std::string(EncodingName(detected.encoding)) + ": " + detected.how + ")";
  }
  if (reads_as_utf8) *error += std::string(kReadsAsUtf8) + ": try --encoding utf-8";
  return false;
}

int RunShuffleCommand(const std::vector<std::string>& args, int in_fd, int out_fd, int err_fd) {
  try {
    return RunCommand(args, in_fd, out_fd, err_fd);
  } catch (const std::bad_alloc&) {
    ReportError(err_fd, "out of memory");
    return kExitBadInput;
  }
}
