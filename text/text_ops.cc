#include "text/text_ops.h"

#include <cassert>
#include <cstring>

namespace {

bool IsLeadByte(char c) {
  return static_cast<unsigned char>(c) >= 0x80;
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

// memmem finds candidates at full speed; each is then checked against the character grid. A byte
// below 0x80 always ends a character (alone or as a trail byte), so a candidate begins one exactly
// when an even number of high bytes run back from it to such a byte or to a known boundary.
// Boundaries only move forward, so the backward runs add up to one pass over the text.
size_t FindAtCharacter(std::string_view text, std::string_view needle, size_t from) {
  assert(!needle.empty());
  size_t boundary = from;
  size_t pos = from;
  while (pos <= text.size() && text.size() - pos >= needle.size()) {
    const void* hit = memmem(text.data() + pos, text.size() - pos, needle.data(), needle.size());
    if (hit == nullptr) return std::string_view::npos;
    size_t candidate = static_cast<const char*>(hit) - text.data();
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

std::vector<std::string_view> SplitTextViews(std::string_view text, std::string_view separator,
                                             size_t* cuts) {
  std::vector<std::string_view> pieces;
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
