#include "cli/output.h"

#include <unistd.h>

void ReportError(int err_fd, std::string_view message) {
  WriteAll(err_fd, "tessivane-shuffle: " + std::string(message) + "\n");
}

ProgressLine::ProgressLine(int err_fd) : err_fd_(err_fd), terminal_(isatty(err_fd) == 1) {}

void ProgressLine::Show(std::string_view text, bool now) {
  if (!terminal_) return;
  std::lock_guard lock(mutex_);
  auto time = std::chrono::steady_clock::now();
  if (!now && shown_ && time - last_ < std::chrono::milliseconds(100)) return;
  last_ = time;
  shown_ = true;
  // Carriage return, the text, then erase to the end of the line.
  WriteAll(err_fd_, "\rtessivane-shuffle: " + std::string(text) + "\033[K");
}

void ProgressLine::Report(std::string_view message) {
  std::lock_guard lock(mutex_);
  if (shown_) WriteAll(err_fd_, "\r\033[K");
  shown_ = false;
  ReportError(err_fd_, message);
}

void ProgressLine::Clear() {
  std::lock_guard lock(mutex_);
  if (shown_) WriteAll(err_fd_, "\r\033[K");
  shown_ = false;
}
