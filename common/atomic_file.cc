#include "common/atomic_file.h"

#include <glib.h>

bool ReplaceFileContents(const std::string& path, std::string_view bytes) {
  if (path.empty()) return false;
  // CONSISTENT: GLib writes `path`.XXXXXX beside the file, fsyncs it and renames it over `path`,
  // which replaces a symbolic link rather than following it. On a failed create, write, fsync or
  // rename it closes and unlinks the temporary file itself. 0666 leaves the mode to the umask.
  return g_file_set_contents_full(path.c_str(), bytes.data(), static_cast<gssize>(bytes.size()),
                                  G_FILE_SET_CONTENTS_CONSISTENT, 0666, nullptr);
}
