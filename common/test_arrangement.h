// Test helper: whether a text is a rearrangement of given pieces.
#pragma once

#include <string>
#include <string_view>
#include <vector>

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
