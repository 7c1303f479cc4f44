// Writing files in one step, so that a reader never sees half a file: the bytes go to a temporary
// file ".tessivane-XXXXXX" in the same folder, which is then renamed over the name.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// The start of this program's temporary names; six letters or digits follow it.
inline constexpr std::string_view kTemporaryPrefix = ".tessivane-";

// Replaces the file at `path` with exactly `bytes`. False on any failure (an empty path
// included); the previous file then stays whole and no temporary file is left behind. A symbolic
// link at `path` is replaced, not written through. The file gets mode 0666 less the umask.
bool ReplaceFileContents(const std::string& path, std::string_view bytes);

// Writes `bytes` to a file the user named, as `sort -o` does ("-" is not special here: the
// caller writes standard output itself):
// - a regular file is replaced in one step and keeps its permission bits and, where the system
//   permits, its owner and group; a new file gets 0666 less the umask;
// - a symbolic link is followed and its final target replaced, in the target's folder;
// - a character or block device, FIFO or socket (and our own standard output, reached through
//   /dev/stdout) is written to directly.
// nullopt on success, else the reason in the system's words ("Permission denied"), followed by
// "; it is left as it was" when a file or folder was there and is untouched.
std::optional<std::string> WriteUserFile(const std::string& path, std::string_view bytes);

// Writes every byte of `bytes` to `fd`, as far as the writes go; false with errno set when one
// fails.
bool WriteAll(int fd, std::string_view bytes);

// Removes from `folder` the temporary files of this program (kTemporaryPrefix names, regular
// files owned by this user) last changed at least `min_age_seconds` ago, as a writer that was
// killed leaves them. Touches nothing else; failures are ignored.
void RemoveStaleTemporaries(const std::string& folder, int min_age_seconds);
