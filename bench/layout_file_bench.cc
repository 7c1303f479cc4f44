// Maps the article IN, shuffles it keeping its layout, writes the result to OUT, and prints the
// shuffle's own time in milliseconds and the process's peak resident memory in KiB (for
// layout_bench.sh). Usage: layout_file_bench IN OUT [SEED]
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/layout_shuffle.h"

namespace {

// The file's bytes, mapped from the page cache: the cheapest way to read it, as cat's is.
std::string_view MapFile(const char* path) {
  const int fd = open(path, O_RDONLY);
  if (fd < 0) return {};
  const off_t size = lseek(fd, 0, SEEK_END);
  void* bytes = size > 0 ? mmap(nullptr, static_cast<size_t>(size), PROT_READ,
                                MAP_PRIVATE | MAP_POPULATE, fd, 0)
                         : MAP_FAILED;
  close(fd);
  if (bytes == MAP_FAILED) return {};
  return {static_cast<const char*>(bytes), static_cast<size_t>(size)};
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
  const std::string_view article = MapFile(argv[1]);
  if (article.empty()) {
    fprintf(stderr, "layout_file_bench: %s: cannot map a non-empty file\n", argv[1]);
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
