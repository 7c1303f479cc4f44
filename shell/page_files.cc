#include "shell/page_files.h"

#include <glib.h>

namespace {

// The executable's full path; empty when /proc/self/exe cannot be read.
const std::string& ExecutablePath() {
  static const std::string path = [] {
    gchar* target = g_file_read_link("/proc/self/exe", nullptr);
    std::string result = target ? target : "";
    g_free(target);
    return result;
  }();
  return path;
}

}  // namespace

std::string DirectoryOf(std::string_view path) {
  size_t last_separator = path.rfind('/');
  if (last_separator == std::string_view::npos) return {};
  return std::string(path.substr(0, last_separator));
}

const std::string& ProgramDirectory() {
  static const std::string directory = DirectoryOf(ExecutablePath());
  return directory;
}

Text PageFilePath(std::string_view suffix) {
  if (ExecutablePath().empty()) return {};
  return ProgramDirectory() + std::string(suffix);
}

bool WritePageFile(std::string_view suffix, std::string_view text) {
  return ReplaceFileContents(PageFilePath(suffix), text);
}
