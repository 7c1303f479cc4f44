#include "text/paragraph_shuffler.h"

#include <algorithm>
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

// Appends every match of pattern `index` in `text`, left to right.
//
// Searched alone, the lazy pattern is retried at every opening literal up to the end of the text
// when no closing tag follows: quadratic, and past Boost's complexity limit it throws. But the
// leftmost match exists exactly when the three landmarks follow one another: it starts at the
// opening literal and ends with the closing tag found. So a linear scan finds where each match
// lies, Boost matches the pattern there and nowhere else, and the search stops when no match is
// left.
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
    size_t end = close + pattern.close.size();
    try {
      boost::cmatch match;
      auto flags =
          boost::match_continuous | (open > 0 ? boost::match_prev_avail : boost::match_default);
      if (boost::regex_search(text.data() + open, text.data() + end, match, CompiledPattern(index),
                              flags)) {
        end = static_cast<size_t>(match[0].second - text.data());
      }
    } catch (const std::exception&) {
      // Not expected inside a bounded range; the landmarks already give the same match.
    }
    out.Append(text.substr(open, end - open));
    from = end;
  }
}

// Joins the pieces in the order drawn: each pass picks one of the pieces still left by
// DrawInRange(1, left) and removes it. A Fenwick tree over the pieces still left finds the k-th
// of them in O(log n), so many pieces cost no more than a few.
Text JoinInDrawnOrder(const std::vector<std::string_view>& pieces, size_t total_size) {
  const size_t count = pieces.size();
  std::vector<uint32_t> tree(count + 1, 0);
  for (size_t i = 1; i <= count; ++i) {
    tree[i] += 1;
    size_t parent = i + (i & (~i + 1));
    if (parent <= count) tree[parent] += tree[i];
  }
  const size_t top_step = std::bit_floor(count);
  Text result;
  result.reserve(total_size);
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
    result.append(pieces[position - 1]);
    for (size_t i = position; i <= count; i += i & (~i + 1)) tree[i] -= 1;
  }
  return result;
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

TextList CollectParagraphs(std::string_view text) {
  TextList paragraphs;
  for (size_t index = 0; index < std::size(kPatterns); ++index) {
    AppendMatches(text, index, paragraphs);
  }
  return paragraphs;
}

Text ScatterAround(std::string_view text, std::string_view paragraph) {
  size_t cuts = 0;
  std::vector<std::string_view> pieces = SplitTextViews(text, paragraph, &cuts);
  if (cuts == 0) return Text(text);
  pieces.insert(pieces.end(), cuts, paragraph);
  Reseed();
  return JoinInDrawnOrder(pieces, text.size());
}

Text ShuffleArticle(std::string_view article,
                    const std::function<void(size_t done, size_t total)>& progress) {
  Text working = StripLineBreaks(article);
  const TextList paragraphs = CollectParagraphs(working);
  for (size_t i = 1; i <= paragraphs.Count(); ++i) {
    working = ScatterAround(working, paragraphs.At(i));
    if (progress) progress(i, paragraphs.Count());
  }
  return working;
}
