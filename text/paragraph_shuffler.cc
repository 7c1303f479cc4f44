#include "text/paragraph_shuffler.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>
#include <exception>
#include <locale>
#include <vector>

#include <boost/regex.hpp>

#include "text/random_source.h"

namespace {

// A paragraph pattern and the three landmarks every match of it is made of: the opening literal,
// the first '>' after it, and the first closing tag after that.
struct ParagraphPattern {
  const char* regex;
  std::string_view open;
  std::string_view close;
};

constexpr ParagraphPattern kPatterns[] = {
    {"<p(.*?)>(.*?)</p>", "<p", "</p>"},
    {"<div(.*?)>(.*?)</div>", "<div", "</div>"},
};

// Compiled once per process, with the classic locale so only ASCII letters fold case whatever
// locale the program runs in.
const boost::regex& CompiledPattern(size_t index) {
  static const std::vector<boost::regex> compiled = [] {
    std::vector<boost::regex> result;
    for (const ParagraphPattern& pattern : kPatterns) {
      boost::regex regex;
      regex.imbue(std::locale::classic());
      regex.assign(pattern.regex, boost::regex::perl | boost::regex::icase);
      result.push_back(std::move(regex));
    }
    return result;
  }();
  return compiled[index];
}

char FoldAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// First position at or after `from` where `lower` (lower-case, starting with '<') stands in any
// ASCII letter case; npos if none.
size_t FindFolded(std::string_view text, std::string_view lower, size_t from) {
  while (from < text.size()) {
    const void* hit = memchr(text.data() + from, '<', text.size() - from);
    if (hit == nullptr) break;
    size_t at = static_cast<const char*>(hit) - text.data();
    if (text.size() - at < lower.size()) break;
    size_t i = 1;
    while (i < lower.size() && FoldAscii(text[at + i]) == lower[i]) ++i;
    if (i == lower.size()) return at;
    from = at + 1;
  }
  return std::string_view::npos;
}

std::atomic<size_t> search_disagreements{0};

// Appends every match of pattern `index` in `text`, left to right, as Boost.Regex finds them.
//
// Searched over the whole text, the lazy pattern is retried at every opening literal up to the end
// of the text when no closing tag follows: quadratic, and past Boost's complexity limit it throws.
// But under ASCII case folding the leftmost match exists exactly when the three landmarks follow
// one another, and then it starts at the opening literal and ends with the closing tag found. So a
// linear scan finds where the next match must end, and Boost searches every byte from where the
// last match ended up to there, and no further; its match is the one appended. Where its answer is
// not the scan's (a pattern or a flag changed, or a locale folding other bytes), the disagreement
// is counted and Boost's answer still stands; when the scan finds no landmarks, Boost is not asked.
void AppendMatches(std::string_view text, size_t index, TextList& out) {
  const ParagraphPattern& pattern = kPatterns[index];
  size_t from = 0;
  for (;;) {
    size_t open = FindFolded(text, pattern.open, from);
    if (open == std::string_view::npos) return;
    size_t angle = text.find('>', open + pattern.open.size());
    if (angle == std::string_view::npos) return;
    size_t close = FindFolded(text, pattern.close, angle + 1);
    if (close == std::string_view::npos) return;
    const size_t end = close + pattern.close.size();
    boost::cmatch match;
    bool found = false;
    try {
      auto flags = from > 0 ? boost::match_prev_avail : boost::match_default;
      found = boost::regex_search(text.data() + from, text.data() + end, match,
                                  CompiledPattern(index), flags);
    } catch (const std::exception&) {
      // Complexity limit or memory: no match for Boost in this stretch.
    }
    if (!found) {
      ++search_disagreements;
      from = end;
      continue;
    }
    const size_t match_start = static_cast<size_t>(match[0].first - text.data());
    const size_t match_end = static_cast<size_t>(match[0].second - text.data());
    if (match_start != open || match_end != end) ++search_disagreements;
    out.Append(text.substr(match_start, match_end - match_start));
    from = match_end;
  }
}

// Working memory kept from one paragraph to the next, so that a long article is not paid for
// with a fresh full-size buffer per paragraph.
struct ScatterBuffers {
  std::vector<std::string_view> pieces;
  std::vector<uint32_t> tree;
};

// Puts the pieces in `out` in the order drawn: each pass picks one of the pieces still left by
// DrawInRange(1, left) and removes it. A Fenwick tree over the pieces still left finds the k-th
// of them in O(log n), so many pieces cost no more than a few.
void JoinInDrawnOrder(const std::vector<std::string_view>& pieces, std::vector<uint32_t>& tree,
                      Text& out) {
  const size_t count = pieces.size();
  tree.assign(count + 1, 0);
  for (size_t i = 1; i <= count; ++i) {
    tree[i] += 1;
    size_t parent = i + (i & (~i + 1));
    if (parent <= count) tree[parent] += tree[i];
  }
  const size_t top_step = std::bit_floor(count);
  for (size_t left = count; left > 0; --left) {
    size_t rank = static_cast<size_t>(DrawInRange(1, static_cast<int>(left)));
    size_t position = 0;
    for (size_t step = top_step; step > 0; step >>= 1) {
      if (position + step <= count && tree[position + step] < rank) {
        position += step;
        rank -= tree[position];
      }
    }
    ++position;
    out.append(pieces[position - 1]);
    for (size_t i = position; i <= count; i += i & (~i + 1)) tree[i] -= 1;
  }
}

// ScatterAround into `out` (emptied first, its capacity kept). False, with `out` untouched and no
// reseed, when the paragraph does not occur.
bool ScatterInto(std::string_view text, std::string_view paragraph, ScatterBuffers& buffers,
                 Text& out) {
  const size_t cuts = SplitTextViewsInto(text, paragraph, buffers.pieces);
  if (cuts == 0) return false;
  buffers.pieces.insert(buffers.pieces.end(), cuts, paragraph);
  Reseed();
  out.clear();
  out.reserve(text.size());
  JoinInDrawnOrder(buffers.pieces, buffers.tree, out);
  return true;
}

}  // namespace

Text StripLineBreaks(std::string_view text) {
  const char* const end = text.data() + text.size();
  auto next = [end](const char* from, char byte) {
    const void* hit = memchr(from, byte, static_cast<size_t>(end - from));
    return hit ? static_cast<const char*>(hit) : end;
  };
  Text result;
  result.reserve(text.size());
  const char* next_cr = next(text.data(), '\r');
  const char* next_lf = next(text.data(), '\n');
  for (const char* run = text.data();;) {  // copies the runs between line-break bytes
    const char* cut = std::min(next_cr, next_lf);
    result.append(run, cut);
    if (cut == end) return result;
    run = cut + 1;
    (cut == next_cr ? next_cr : next_lf) = next(run, *cut);
  }
}

size_t ParagraphSearchDisagreements() {
  return search_disagreements;
}

TextList CollectParagraphs(std::string_view text) {
  TextList paragraphs;
  for (size_t index = 0; index < std::size(kPatterns); ++index) {
    AppendMatches(text, index, paragraphs);
  }
  return paragraphs;
}

Text ScatterAround(std::string_view text, std::string_view paragraph) {
  ScatterBuffers buffers;
  Text result;
  if (!ScatterInto(text, paragraph, buffers, result)) result = text;
  return result;
}

// Two texts take turns as the working text and the next one.
Text ShuffleArticle(std::string_view article,
                    const std::function<void(size_t done, size_t total)>& progress) {
  Text working = StripLineBreaks(article);
  const TextList paragraphs = CollectParagraphs(working);
  ScatterBuffers buffers;
  Text next;
  for (size_t i = 1; i <= paragraphs.Count(); ++i) {
    if (ScatterInto(working, paragraphs.At(i), buffers, next)) working.swap(next);
    if (progress) progress(i, paragraphs.Count());
  }
  return working;
}
