// Helpers shared by the tests of tessivane-shuffle.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "shell/sample_article.h"

// True when `text` is exactly the `units` joined in some order, each used once.
inline bool IsArrangementOf(std::string_view text, std::vector<std::string> units) {
  if (units.empty()) return text.empty();
  for (size_t i = 0; i < units.size(); ++i) {
    if (!text.starts_with(units[i])) continue;
    std::vector<std::string> rest = units;
    rest.erase(rest.begin() + static_cast<std::ptrdiff_t>(i));
    if (IsArrangementOf(text.substr(units[i].size()), rest)) return true;
  }
  return false;
}

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
