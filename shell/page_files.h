// The page files the window's views show: beside the executable, or in a folder named at start.
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

// Sends the page files to `folder` (an absolute path without a trailing '/') instead of
// ProgramDirectory(). Call it before any page file is written or shown.
void SetPagesDirectory(std::string folder);

// The folder that holds the page files: the one given to SetPagesDirectory, else
// ProgramDirectory().
const std::string& PagesDirectory();

// PagesDirectory() followed by `suffix`, which begins with '/'. Empty when the executable's path
// cannot be read and no folder was set, so that nothing is written to the root directory instead.
Text PageFilePath(std::string_view suffix);

// The address a view is given for the page file: the file URI of PageFilePath(suffix). WebKit maps
// file URIs to paths through UTF-8, so when the folder's path is not UTF-8 the address names the
// same file through this process's descriptor of the folder, /proc/PID/fd/N/ plus the page's name.
// Empty when PageFilePath(suffix) is.
std::string PageFileUri(std::string_view suffix);

// Writes exactly the bytes of `text` (no byte-order mark, header or charset declaration) to the
// page file PageFilePath(suffix) with ReplaceFileContents. False on any failure; callers ignore
// the result.
bool WritePageFile(std::string_view suffix, std::string_view text);
