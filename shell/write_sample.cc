// Build-time tool: write_sample OUTPUT
//
// Writes the built-in sample article to OUTPUT, the same bytes the window writes as backup.html,
// so that the command line can be tried on it right after a build.
#include <cstdio>

#include "shell/sample_article.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: write_sample OUTPUT\n");
    return 2;
  }
  std::FILE* out = std::fopen(argv[1], "wb");
  std::string_view sample = SampleArticle();
  if (!out || std::fwrite(sample.data(), 1, sample.size(), out) != sample.size() ||
      std::fclose(out) != 0) {
    std::perror(argv[1]);
    return 1;
  }
  return 0;
}
