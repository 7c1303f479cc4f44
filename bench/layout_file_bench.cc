// Reads the article IN, shuffles it keeping its layout, writes the result to OUT, and prints the
// shuffle's own time in milliseconds and the process's peak resident memory in KiB (for
// layout_bench.sh). Usage: layout_file_bench IN OUT [SEED]
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/layout_shuffle.h"

namespace {

bool ReadAll(const char* path, std::string* bytes) {
  const int fd = open(path, O_RDONLY);
  if (fd < 0) return false;
  const off_t size = lseek(fd, 0, SEEK_END);
  bytes->resize(size > 0 ? static_cast<size_t>(size) : 0);
  size_t got = 0;
  while (got < bytes->size()) {
    const ssize_t n = pread(fd, bytes->data() + got, bytes->size() - got, static_cast<off_t>(got));
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  close(fd);
  return got == bytes->size();
}

bool WriteAll(const char* path, const std::string& bytes) {
  const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return false;
  size_t put = 0;
  while (put < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + put, bytes.size() - put);
    if (n <= 0) break;
    put += static_cast<size_t>(n);
  }
  return close(fd) == 0 && put == bytes.size();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4) {
    fprintf(stderr, "usage: layout_file_bench IN OUT [SEED]\n");
    return 2;
  }
  std::string article;
  if (!ReadAll(argv[1], &article)) {
    perror(argv[1]);
    return 1;
  }
  const uint64_t seed = argc == 4 ? strtoull(argv[3], nullptr, 10) : 1;
  const auto start = std::chrono::steady_clock::now();
  std::string result = ShuffleKeepingLayout(article, seed);
  const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
  if (!WriteAll(argv[2], result)) {
    perror(argv[2]);
    return 1;
  }
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  printf("%.1f %ld\n", took.count(), usage.ru_maxrss);
  return 0;
}
