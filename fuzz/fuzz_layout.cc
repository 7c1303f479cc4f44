// Feeds any bytes to the layout-keeping shuffle: the first eight pick the seed, the rest is the
// article. Checks that the slots lie in order without overlapping, that the result is a
// rearrangement in which every byte outside the slots stays in place, and that the paragraphs
// moved only among their own group's slots and still form the same slots there.
#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "common/layout_shuffle.h"
#include "fuzz/check.h"

namespace {

// The text with each slot's bytes replaced by one NUL, and each group's paragraphs, sorted.
struct Layout {
  std::string outside;
  std::map<size_t, std::vector<std::string_view>> paragraphs;
};

Layout LayoutOf(std::string_view text, const std::vector<ParagraphSlot>& slots) {
  Layout layout;
  size_t copied = 0;
  for (const ParagraphSlot& slot : slots) {
    layout.outside.append(text.substr(copied, slot.begin - copied));
    layout.outside += '\0';
    layout.paragraphs[slot.group].push_back(text.substr(slot.begin, slot.end - slot.begin));
    copied = slot.end;
  }
  layout.outside.append(text.substr(copied));
  for (auto& [group, paragraphs] : layout.paragraphs) {
    std::sort(paragraphs.begin(), paragraphs.end());
  }
  return layout;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto [seed, article] = SplitInput<uint64_t>(data, size);

  const std::vector<ParagraphSlot> slots = FindParagraphSlots(article);
  for (size_t k = 0; k < slots.size(); ++k) {
    Check(slots[k].begin < slots[k].end && slots[k].end <= article.size(), "a slot lies inside");
    Check(k == 0 || slots[k - 1].end <= slots[k].begin, "slots in order, never overlapping");
    Check(article[slots[k].begin] == '<' && article[slots[k].end - 1] == '>',
          "a slot runs from a tag's '<' to a tag's '>'");
  }

  const std::string result = ShuffleKeepingLayout(article, seed);
  Check(std::is_permutation(result.begin(), result.end(), article.begin(), article.end()),
        "result is a rearrangement of the article");
  const std::vector<ParagraphSlot> moved = FindParagraphSlots(result);
  Check(moved.size() == slots.size(), "the result has as many slots");
  for (size_t k = 0; k < slots.size(); ++k) {
    Check(moved[k].group == slots[k].group, "each slot keeps its group");
  }
  const Layout before = LayoutOf(article, slots);
  const Layout after = LayoutOf(result, moved);
  Check(after.outside == before.outside, "every byte outside the slots stays in place");
  Check(after.paragraphs == before.paragraphs, "paragraphs move only within their group");
  Check(ShuffleKeepingLayout(article, seed) == result, "the same seed gives the same bytes");
  return 0;
}
