// What tessivane-shuffle writes besides its results: one-line messages, and a progress line that
// shows only on a terminal.
#pragma once

#include <chrono>
#include <mutex>
#include <string>
#include <string_view>

#include "common/atomic_file.h"

// Temporary files older than this in a folder we write to are taken for a killed writer's.
inline constexpr int kStaleTemporarySeconds = 3600;

// Writes "tessivane-shuffle: MESSAGE\n" to `err_fd`.
void ReportError(int err_fd, std::string_view message);

// A line on `err_fd` that is rewritten in place, when `err_fd` is a terminal; otherwise nothing is
// ever written. Safe to use from several threads.
class ProgressLine {
 public:
  explicit ProgressLine(int err_fd);
  ~ProgressLine() { Clear(); }

  // Shows `text`, at most ten times a second unless `now` is set.
  void Show(std::string_view text, bool now = false);
  // Writes a one-line message above the progress line.
  void Report(std::string_view message);
  // Removes the line.
  void Clear();

 private:
  int err_fd_;
  bool terminal_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point last_;
  std::mutex mutex_;
};
