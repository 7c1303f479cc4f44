#include "cli/shuffle_command.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/atomic_file.h"
#include "text/paragraph_shuffler.h"
#include "text/random_source.h"

namespace {

constexpr std::string_view kProgram = "tessivane-shuffle";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

constexpr std::string_view kHelp =
    "Usage: tessivane-shuffle [OPTION]... [FILE]\n"
    "Shuffle the paragraphs (<p> and <div> elements) of the HTML article in FILE and write\n"
    "the result to standard output. With no FILE, or when FILE is -, read standard input.\n"
    "Line breaks are removed; every other byte of the article is kept, only rearranged.\n"
    "\n"
    "  -o, --output=OUT    write the result to OUT instead, replacing it atomically;\n"
    "                      OUT is left as it was when anything fails\n"
    "      --seed=N        read N (0 to 4294967295) as the millisecond clock at every\n"
    "                      reseed, so the same article and N give the same result\n"
    "      --encoding=ENC  the article's encoding: gbk (the default), gb18030 or utf-8;\n"
    "                      a UTF-8 byte-order mark stays at the front\n"
    "  -h, --help          display this help and exit\n"
    "      --version       output version information and exit\n"
    "\n"
    "Exit status:\n"
    "  0  done\n"
    "  1  bad input: FILE unreadable, a NUL byte or bytes not valid in the encoding,\n"
    "     or the result could not be written\n"
    "  2  bad usage: unknown option, missing or bad option argument, more than one FILE\n";

constexpr std::string_view kVersion = "tessivane-shuffle " TESSIVANE_VERSION "\n";

std::optional<uint32_t> ParseSeed(std::string_view digits) {
  if (digits.empty()) return std::nullopt;
  uint64_t value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(c - '0');
    if (value > UINT32_MAX) return std::nullopt;
  }
  return static_cast<uint32_t>(value);
}

// Applies one option that takes an argument; false with the reason when the argument is bad.
bool ApplyOption(std::string_view option, const std::string& shown, const std::string& value,
                 ShuffleOptions* options, std::string* error) {
  if (option == "--seed") {
    options->seed = ParseSeed(value);
    if (!options->seed) {
      *error = "bad --seed '" + value + "': expected a whole number from 0 to 4294967295";
      return false;
    }
  } else if (option == "--encoding") {
    std::optional<Encoding> encoding = EncodingNamed(value);
    if (!encoding) {
      *error = "unknown encoding '" + value + "': expected gbk, gb18030 or utf-8";
      return false;
    }
    options->encoding = *encoding;
  } else {
    if (value.empty()) {
      *error = "option '" + shown + "' needs a file name";
      return false;
    }
    options->output = value;
  }
  return true;
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t written = write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

void ReportError(int err_fd, std::string_view message) {
  WriteAll(err_fd, std::string(kProgram) + ": " + std::string(message) + "\n");
}

// Every byte from `fd` to its end; false with errno kept when a read fails.
bool ReadAll(int fd, Text* bytes) {
  char buffer[65536];
  for (;;) {
    ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return true;
    bytes->append(buffer, static_cast<size_t>(got));
  }
}

bool ReadArticle(const std::string& input, int in_fd, Text* article) {
  if (input == "-") return ReadAll(in_fd, article);
  int fd = open(input.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool read = ReadAll(fd, article);
  int error = errno;
  close(fd);
  errno = error;
  return read;
}

}  // namespace

bool ParseArguments(const std::vector<std::string>& args, ShuffleOptions* options,
                    std::string* error) {
  std::vector<std::string> files;
  bool only_files = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (only_files || arg == "-" || arg.empty() || arg[0] != '-') {
      files.push_back(arg);
      continue;
    }
    if (arg == "--") {
      only_files = true;
      continue;
    }
    if (arg == "-h" || arg == "--help" || arg == "--version") {
      options->help = arg != "--version";
      options->version = arg == "--version";
      return true;
    }
    // The option's name, and its argument when it is attached: --name=value or -ovalue.
    std::string name = arg;
    std::optional<std::string> value;
    if (arg.starts_with("--")) {
      size_t equals = arg.find('=');
      if (equals != std::string::npos) {
        name = arg.substr(0, equals);
        value = arg.substr(equals + 1);
      }
    } else if (arg.starts_with("-o") && arg.size() > 2) {
      name = "-o";
      value = arg.substr(2);
    }
    std::string shown = name;  // as the user wrote it, for messages
    if (name == "-o") name = "--output";
    if (name != "--seed" && name != "--encoding" && name != "--output") {
      *error = name == "--help" || name == "--version" ? "option '" + name + "' takes no argument"
                                                       : "unknown option '" + name + "'";
      return false;
    }
    if (!value) {
      if (i + 1 == args.size()) {
        *error = "option '" + shown + "' needs an argument";
        return false;
      }
      value = args[++i];
    }
    if (!ApplyOption(name, shown, *value, options, error)) return false;
  }
  if (files.size() > 1) {
    *error = "more than one FILE given ('" + files[0] + "', '" + files[1] + "')";
    return false;
  }
  if (!files.empty()) options->input = files[0];
  return true;
}

bool ShuffleInEncoding(std::string_view article, Encoding encoding, Text* result,
                       std::string* error) {
  std::optional<EncodingFault> fault = FindEncodingFault(article, encoding);
  size_t nul = article.find('\0');
  if (nul != std::string_view::npos && (!fault || nul < fault->offset)) {
    *error = "NUL byte at byte offset " + std::to_string(nul);
    return false;
  }
  if (fault) {
    *error = fault->what + " at byte offset " + std::to_string(fault->offset);
    if (encoding != Encoding::kUtf8 && !FindEncodingFault(article, Encoding::kUtf8)) {
      *error += "; the article reads as UTF-8: try --encoding utf-8";
    }
    return false;
  }
  if (encoding != Encoding::kUtf8) {
    *result = ShuffleArticle(article);
    return true;
  }
  // The mark belongs to the file, not to any paragraph, so it is set aside while they move.
  std::string_view bom = article.starts_with(kUtf8Bom) ? kUtf8Bom : "";
  std::optional<std::string> double_byte = Utf8ToGb18030(article.substr(bom.size()));
  std::optional<std::string> back;
  if (double_byte) back = Gb18030ToUtf8(ShuffleArticle(*double_byte));
  if (!back) {
    *error = "the article did not convert through GB18030";
    return false;
  }
  *result = Concat({bom, *back});
  return true;
}

int RunShuffleCommand(const std::vector<std::string>& args, int in_fd, int out_fd, int err_fd) {
  ShuffleOptions options;
  std::string error;
  if (!ParseArguments(args, &options, &error)) {
    ReportError(err_fd, error + " (see --help)");
    return kExitBadUsage;
  }
  if (options.help || options.version) {
    return WriteAll(out_fd, options.help ? kHelp : kVersion) ? kExitDone : kExitBadInput;
  }

  Text article;
  std::string source = options.input == "-" ? "standard input" : "'" + options.input + "'";
  if (!ReadArticle(options.input, in_fd, &article)) {
    ReportError(err_fd, "cannot read " + source + ": " + strerror(errno));
    return kExitBadInput;
  }
  PinClock(options.seed);
  if (options.seed) SetReseedCounter(0);
  Text result;
  if (!ShuffleInEncoding(article, options.encoding, &result, &error)) {
    ReportError(err_fd, (options.input == "-" ? "standard input" : options.input) + ": " + error);
    return kExitBadInput;
  }

  if (options.output) {
    if (!ReplaceFileContents(*options.output, result)) {
      ReportError(err_fd, "cannot write '" + *options.output + "'; it is left as it was");
      return kExitBadInput;
    }
  } else if (!WriteAll(out_fd, result)) {
    ReportError(err_fd, std::string("cannot write standard output: ") + strerror(errno));
    return kExitBadInput;
  }
  return kExitDone;
}
