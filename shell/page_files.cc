#include "shell/page_files.h"

#include <fcntl.h>
#include <glib.h>
#include <unistd.h>

#include <memory>
#include <optional>

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

std::optional<std::string>& ChosenPagesDirectory() {
  static std::optional<std::string> folder;
  return folder;
}

struct GFreeDeleter {
  void operator()(void* p) const { g_free(p); }
};

std::string FileUri(const std::string& path) {
  std::unique_ptr<char, GFreeDeleter> uri(g_filename_to_uri(path.c_str(), nullptr, nullptr));
  return uri ? uri.get() : "";
}

// A descriptor of the pages folder, held for the run; -1 when it cannot be opened.
int PagesDirectoryDescriptor() {
  static const int descriptor = open(PagesDirectory().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  return descriptor;
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

void SetPagesDirectory(std::string folder) {
  ChosenPagesDirectory() = std::move(folder);
}

const std::string& PagesDirectory() {
  const std::optional<std::string>& chosen = ChosenPagesDirectory();
  return chosen ? *chosen : ProgramDirectory();
}

Text PageFilePath(std::string_view suffix) {
  if (!ChosenPagesDirectory() && ExecutablePath().empty()) return {};
  return PagesDirectory() + std::string(suffix);
}

std::string PageFileUri(std::string_view suffix) {
  const std::string path = PageFilePath(suffix);
  if (path.empty()) return {};
  if (g_utf8_validate(PagesDirectory().data(), PagesDirectory().size(), nullptr)) {
    return FileUri(path);
  }
  // The web processes run as this user in the same process namespace, so they may follow this
  // process's descriptor links; the page's own name is plain ASCII.
  const int folder = PagesDirectoryDescriptor();
  if (folder < 0) return FileUri(path);
  return FileUri("/proc/" + std::to_string(getpid()) + "/fd/" + std::to_string(folder) +
                 std::string(suffix));
}

bool WritePageFile(std::string_view suffix, std::string_view text) {
  return ReplaceFileContents(PageFilePath(suffix), text);
}
