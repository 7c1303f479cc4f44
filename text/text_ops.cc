#include "text/text_ops.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

bool IsLeadByte(char c) {
  return static_cast<unsigned char>(c) >= 0x80;
}

// First position of `needle` in `text` at or after `from`, or npos; byte for byte, no character
// grid. On a long text memmem is hard to beat: its two-way search skips ahead by the needle's
// length. But it first spends time on the order of the needle's length preparing, which dominates
// when the text is only a few needles long, as in a short article. There, comparing the needle's
// first and middle bytes sixteen positions at a time (paragraphs often share their opening markup;
// the middle is prose that differs) and confirming candidates with memcmp is several times faster.
// Candidates that pass a quick look at the middle but then fail are charged to a budget of two
// passes over the text, after which memmem takes over, so the worst case stays linear.
size_t FindBytes(std::string_view text, std::string_view needle, size_t from) {
  const char* const base = text.data();
  const size_t size = text.size();
  const size_t length = needle.size();
  if (from > size || size - from < length) return std::string_view::npos;
  size_t pos = from;
#if defined(__SSE2__)
  if (length >= 2 && size - pos < 32 * length) {
    const size_t middle = length / 2;
    const size_t quick = std::min<size_t>(length - middle, 16);
    const __m128i first_byte = _mm_set1_epi8(needle.front());
    const __m128i middle_byte = _mm_set1_epi8(needle[middle]);
    size_t budget = 2 * (size - from) + 1024;
    for (; pos + length + 15 <= size && budget >= length; pos += 16) {
      const auto* heads = reinterpret_cast<const __m128i*>(base + pos);
      const auto* middles = reinterpret_cast<const __m128i*>(base + pos + middle);
      unsigned mask = static_cast<unsigned>(
          _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(_mm_loadu_si128(heads), first_byte),
                                          _mm_cmpeq_epi8(_mm_loadu_si128(middles), middle_byte))));
      for (; mask != 0; mask &= mask - 1) {
        const size_t candidate = pos + static_cast<size_t>(__builtin_ctz(mask));
        if (memcmp(base + candidate + middle, needle.data() + middle, quick) != 0) continue;
        if (memcmp(base + candidate, needle.data(), length) == 0) return candidate;
        budget -= std::min(budget, length);
      }
    }
    if (budget >= length) {  // fewer than sixteen positions left
      for (; pos + length <= size; ++pos) {
        if (memcmp(base + pos, needle.data(), length) == 0) return pos;
      }
      return std::string_view::npos;
    }
  }
#endif
  const void* hit = memmem(base + pos, size - pos, needle.data(), length);
  return hit == nullptr ? std::string_view::npos
                        : static_cast<size_t>(static_cast<const char*>(hit) - base);
}

}  // namespace

const Text& TextList::At(size_t position) const {
  assert(position >= 1 && position <= members_.size());
  return members_[position - 1];
}

void TextList::RemoveAt(size_t position) {
  assert(position >= 1 && position <= members_.size());
  members_.erase(members_.begin() + static_cast<std::ptrdiff_t>(position - 1));
}

Text Concat(std::initializer_list<std::string_view> parts) {
  size_t size = 0;
  for (std::string_view part : parts) size += part.size();
  Text result;
  result.reserve(size);
  for (std::string_view part : parts) result.append(part);
  return result;
}

// FindBytes finds candidates at full speed; each is then checked against the character grid. A byte
// below 0x80 always ends a character (alone or as a trail byte), so a candidate begins one exactly
// when an even number of high bytes run back from it to such a byte or to a known boundary.
// Boundaries only move forward, so the backward runs add up to one pass over the text.
size_t FindAtCharacter(std::string_view text, std::string_view needle, size_t from) {
  assert(!needle.empty());
  size_t boundary = from;
  size_t pos = from;
  while (pos <= text.size() && text.size() - pos >= needle.size()) {
    const size_t candidate = FindBytes(text, needle, pos);
    if (candidate == std::string_view::npos) return std::string_view::npos;
    size_t run = 0;
    while (candidate - run > boundary && IsLeadByte(text[candidate - run - 1])) ++run;
    if (run % 2 == 0) return candidate;
    boundary = candidate + 1;  // the candidate is a trail byte, so the next byte begins a character
    pos = candidate + 1;
  }
  return std::string_view::npos;
}

Text ReplaceAll(std::string_view text, std::string_view old_part, std::string_view new_part) {
  if (text.empty() || old_part.empty()) return Text(text);
  Text result;
  result.reserve(text.size());
  size_t start = 0;
  for (size_t hit; (hit = FindAtCharacter(text, old_part, start)) != std::string_view::npos;
       start = hit + old_part.size()) {
    result.append(text.substr(start, hit - start));
    result.append(new_part);
  }
  result.append(text.substr(start));
  return result;
}

size_t SplitTextViewsInto(std::string_view text, std::string_view separator,
                          std::vector<std::string_view>& pieces) {
  pieces.clear();
  size_t found = 0;
  if (!text.empty() && separator.empty()) {
    pieces.push_back(text);
  } else if (!text.empty()) {
    size_t start = 0;
    for (size_t hit; (hit = FindAtCharacter(text, separator, start)) != std::string_view::npos;
         start = hit + separator.size()) {
      pieces.push_back(text.substr(start, hit - start));
      ++found;
    }
    if (start < text.size()) pieces.push_back(text.substr(start));
  }
  return found;
}

std::vector<std::string_view> SplitTextViews(std::string_view text, std::string_view separator,
                                             size_t* cuts) {
  std::vector<std::string_view> pieces;
  const size_t found = SplitTextViewsInto(text, separator, pieces);
  if (cuts != nullptr) *cuts = found;
  return pieces;
}

TextList SplitText(std::string_view text, std::string_view separator) {
  TextList list;
  for (std::string_view piece : SplitTextViews(text, separator)) list.Append(piece);
  return list;
}

Text CharText(int code) {
  char byte = static_cast<char>(code & 0xFF);
  return byte == 0 ? Text() : Text(1, byte);
}

std::vector<unsigned char> TextToBytes(std::string_view text) {
  return std::vector<unsigned char>(text.begin(), text.end());
}
