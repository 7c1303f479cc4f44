// Helpers shared by the tests of tessivane-shuffle.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "common/test_arrangement.h"
#include "shell/sample_article.h"

// The four blocks of the built-in sample, in text order.
inline std::vector<std::string> SampleBlocks() {
  std::vector<std::string> blocks;
  std::string_view rest = SampleArticle();
  for (size_t cut; (cut = rest.find("\r\n")) != std::string_view::npos;
       rest.remove_prefix(cut + 2)) {
    blocks.emplace_back(rest.substr(0, cut));
  }
  blocks.emplace_back(rest);
  return blocks;
}
