// Replacing a file's contents in one step, so that a reader never sees half a file.
#pragma once

#include <string>
#include <string_view>

// Replaces the file at `path` with exactly `bytes`, through a temporary file in the same folder
// and one rename. False on any failure (an empty path included); the previous file then stays
// whole and no temporary file is left behind. A symbolic link at `path` is replaced, not written
// through. A new file gets mode 0666 less the umask.
bool ReplaceFileContents(const std::string& path, std::string_view bytes);
