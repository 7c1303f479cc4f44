// The page files beside the executable that the window's views show.
#pragma once

#include <string>
#include <string_view>

#include "text/text_ops.h"

inline constexpr std::string_view kBackupPage = "/backup.html";
inline constexpr std::string_view kIndexPage = "/index.html";

// The directory part of `path`: everything before its last '/'; empty when it has none.
std::string DirectoryOf(std::string_view path);

// The directory that holds the running executable (from /proc/self/exe); fixed for the run.
const std::string& ProgramDirectory();

// ProgramDirectory() followed by `suffix`, which begins with '/'. Empty when the executable's path
// cannot be read, so that nothing is written to the root directory instead.
Text PageFilePath(std::string_view suffix);

// Replaces the file at `path` with exactly `bytes`, through a temporary file in the same folder
// and one rename. False on any failure (an empty path included); the previous file then stays
// whole and no temporary file is left behind. A symbolic link at `path` is replaced, not written
// through. A new file gets mode 0666 less the umask.
bool ReplaceFileContents(const std::string& path, std::string_view bytes);

// Writes exactly the bytes of `text` (no byte-order mark, header or charset declaration) to the
// page file PageFilePath(suffix). False on any failure, as above; callers ignore the result.
bool WritePageFile(std::string_view suffix, std::string_view text);
