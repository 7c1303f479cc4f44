// Texts and the few operations the shuffle is written in.
//
// A Text is a byte string in a double-byte code page (GBK for every built-in text): a byte with
// its high bit set begins a two-byte character, any other byte is a character by itself. Scans
// step over such a pair as one character, so a match is only ever found where a character begins.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

using Text = std::string;

// An ordered list of texts, positions counted from 1. Requires: 1 <= position <= Count().
class TextList {
 public:
  size_t Count() const { return members_.size(); }
  const Text& At(size_t position) const;
  void Append(std::string_view member) { members_.emplace_back(member); }
  void RemoveAt(size_t position);

 private:
  std::vector<Text> members_;
};

// The parts joined in order; empty parts add nothing.
Text Concat(std::initializer_list<std::string_view> parts);

// Position of the first occurrence of `needle` at or after `from` that begins a character, taking
// `from` as the start of one; npos when there is none. Requires: needle is not empty.
size_t FindAtCharacter(std::string_view text, std::string_view needle, size_t from = 0);

// `text` with every occurrence of `old_part` replaced by `new_part`, scanning from the first byte.
// An empty `old_part` leaves the text unchanged.
Text ReplaceAll(std::string_view text, std::string_view old_part, std::string_view new_part);

// The pieces of `text` between occurrences of `separator`, as views into `text`. A separator at
// the start or two in a row give empty pieces; one at the very end gives no empty last piece. An
// empty text gives no pieces, an empty separator the whole text. `cuts`, when given, receives the
// number of occurrences cut at.
std::vector<std::string_view> SplitTextViews(std::string_view text, std::string_view separator,
                                             size_t* cuts = nullptr);

// SplitTextViews into `pieces`, which is emptied first and keeps its capacity, so that repeated
// splits need not allocate. Returns the number of occurrences cut at.
size_t SplitTextViewsInto(std::string_view text, std::string_view separator,
                          std::vector<std::string_view>& pieces);

// SplitTextViews with each piece copied into the list.
TextList SplitText(std::string_view text, std::string_view separator);

// A one-byte text holding the low byte of `code`; empty when that byte is 0.
Text CharText(int code);

// The bytes of `text`, with no terminator.
std::vector<unsigned char> TextToBytes(std::string_view text);
