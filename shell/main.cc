// tessivane-seo [--pages-dir DIR] [FILE]: opens the main window and runs until it is closed.
#include <dlfcn.h>
#include <getopt.h>
#include <gtk/gtk.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "common/atomic_file.h"
#include "shell/main_window.h"
#include "shell/page_files.h"

namespace {

constexpr char kProgram[] = "tessivane-seo";
constexpr int kExitNoDisplay = 1;
constexpr int kExitUsage = 2;
// A temporary page file this old was left by a copy of the program that was killed mid-write;
// a younger one may belong to another copy writing the same folder right now.
constexpr int kStaleTemporarySeconds = 60;

constexpr char kHelp[] =
    "Usage: tessivane-seo [OPTION]... [FILE]\n"
    "Open the TessivaneSEO window: an HTML article on the left, its paragraphs shuffled on the\n"
    "right at every press of the button. FILE is the article (GBK, GB18030, Big5, UTF-8 or\n"
    "UTF-16, up to 16 MB); without it the window shows its built-in sample. Ctrl+O opens\n"
    "another article, Ctrl+S saves the shuffled page, and a file dropped on the window opens it.\n"
    "\n"
    "      --pages-dir=DIR  write the page files backup.html and index.html in DIR\n"
    "                       (default: the folder that holds this program)\n"
    "  -h, --help           display this help and exit\n"
    "      --version        output version information and exit\n";
constexpr char kVersion[] = "tessivane-seo 1.0\n";

struct Options {
  std::optional<std::string> pages_dir;
  std::string article;
};

int UsageError(const std::string& what) {
  std::fprintf(stderr, "%s: %s (see --help)\n", kProgram, what.c_str());
  return kExitUsage;
}

// Fills `options` from the command line; returns -1 to go on, else the status to exit with.
int ParseArguments(int argc, char** argv, Options* options) {
  enum { kPagesDir = 256, kVersionOption };
  static const option kLongOptions[] = {{"pages-dir", required_argument, nullptr, kPagesDir},
                                        {"help", no_argument, nullptr, 'h'},
                                        {"version", no_argument, nullptr, kVersionOption},
                                        {nullptr, 0, nullptr, 0}};
  opterr = 0;
  int option;
  while ((option = getopt_long(argc, argv, ":h", kLongOptions, nullptr)) != -1) {
    switch (option) {
      case kPagesDir:
        options->pages_dir = optarg;
        break;
      case 'h':
        std::fputs(kHelp, stdout);
        return 0;
      case kVersionOption:
        std::fputs(kVersion, stdout);
        return 0;
      case ':':
        return UsageError(std::string("option '") + argv[optind - 1] + "' needs an argument");
      default:
        return UsageError(std::string("unknown option '") + argv[optind - 1] + "'");
    }
  }
  if (argc - optind > 1) return UsageError("more than one FILE");
  if (optind < argc) options->article = argv[optind];
  if (options->pages_dir) {
    struct stat folder;
    int error = 0;
    if (stat(options->pages_dir->c_str(), &folder) != 0) {
      error = errno;
    } else if (!S_ISDIR(folder.st_mode)) {
      error = ENOTDIR;
    }
    if (error != 0) {
      std::fprintf(stderr, "%s: %s: %s\n", kProgram, options->pages_dir->c_str(),
                   std::strerror(error));
      return kExitUsage;
    }
  }
  return -1;
}

// The views draw in software, so this process needs no GL; yet GTK probes GLX at start and
// WebKit opens an EGL display here, each loading Mesa and LLVM (about 20 MB and 60 ms). The web
// process does need EGL, so only this process sees an empty EGL vendor list: libglvnd reads it
// once, at the first EGL call, and the variable is gone before WebKit starts its processes.
void KeepGlOutOfThisProcess() {
  g_setenv("GDK_GL", "disable", TRUE);
  g_setenv("__EGL_VENDOR_LIBRARY_FILENAMES", "/dev/null", TRUE);
  if (void* egl = dlopen("libEGL.so.1", RTLD_NOW)) {
    using GetDisplay = void* (*)(void*);
    if (auto get_display = reinterpret_cast<GetDisplay>(dlsym(egl, "eglGetDisplay"))) {
      get_display(nullptr);
    }
  }
  g_unsetenv("__EGL_VENDOR_LIBRARY_FILENAMES");
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (int status = ParseArguments(argc, argv, &options); status >= 0) return status;

  KeepGlOutOfThisProcess();
  // The window places itself and relies on server-side frame hints, which only X11 honours.
  gdk_set_allowed_backends("x11");
  g_setenv("GTK_CSD", "0", TRUE);
  g_set_prgname(kProgram);
  if (!gtk_init_check(nullptr, nullptr)) {
    const char* display = g_getenv("DISPLAY");
    if (display && *display) {
      std::fprintf(stderr,
                   "%s: cannot open the X display '%s': the window needs an X11 session or "
                   "XWayland\n",
                   kProgram, display);
    } else {
      std::fprintf(stderr, "%s: DISPLAY is not set: the window needs an X11 session or XWayland\n",
                   kProgram);
    }
    return kExitNoDisplay;
  }

  if (options.pages_dir) {
    g_autofree char* absolute = g_canonicalize_filename(options.pages_dir->c_str(), nullptr);
    SetPagesDirectory(absolute);
  }
  if (!PagesDirectory().empty()) RemoveStaleTemporaries(PagesDirectory(), kStaleTemporarySeconds);
  GtkWidget* window = OpenMainWindow(options.article);
  g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
  gtk_main();
  return 0;
}
