// The page files beside the executable that the window's views show.
#pragma once

#include <string>
#include <string_view>

#include "common/atomic_file.h"
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

// Writes exactly the bytes of `text` (no byte-order mark, header or charset declaration) to the
// page file PageFilePath(suffix) with ReplaceFileContents. False on any failure; callers ignore
// the result.
bool WritePageFile(std::string_view suffix, std::string_view text);
