#include "common/layout_shuffle.h"

#include <sys/random.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace {

constexpr size_t kNone = SIZE_MAX;
// Real pages nest a few dozen elements deep; a deeper one is hostile or broken, and the scan stops
// there so its memory stays small whatever the input.
constexpr size_t kMaxDepth = 1024;
// A closing tag closes the innermost open element of its name among this many, with the ones above
// it left unclosed; one that matches none of them is ignored. Bounded so that stray closing tags
// under deep nesting cost constant time each.
constexpr size_t kCloseReach = 16;

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

bool IsAsciiLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

char FoldAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// `name` equals `lower` (lower-case ASCII) in any ASCII letter case.
bool NameIs(std::string_view name, std::string_view lower) {
  if (name.size() != lower.size()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    if (FoldAscii(name[i]) != lower[i]) return false;
  }
  return true;
}

bool NamesEqual(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  }
  return true;
}

enum class TagKind { kParagraph, kVoid, kRawText, kPlaintext, kOther };

// What the scan does with an element of this name. Void elements have no closing tag; raw-text
// ones hold text up to their own closing tag, and <plaintext> holds the rest of the page.
TagKind KindOf(std::string_view name) {
  static constexpr std::pair<std::string_view, TagKind> kKinds[] = {
      {"p", TagKind::kParagraph},      {"div", TagKind::kParagraph},
      {"br", TagKind::kVoid},          {"img", TagKind::kVoid},
      {"meta", TagKind::kVoid},        {"link", TagKind::kVoid},
      {"hr", TagKind::kVoid},          {"input", TagKind::kVoid},
      {"col", TagKind::kVoid},         {"area", TagKind::kVoid},
      {"base", TagKind::kVoid},        {"embed", TagKind::kVoid},
      {"param", TagKind::kVoid},       {"source", TagKind::kVoid},
      {"track", TagKind::kVoid},       {"wbr", TagKind::kVoid},
      {"basefont", TagKind::kVoid},    {"bgsound", TagKind::kVoid},
      {"frame", TagKind::kVoid},       {"keygen", TagKind::kVoid},
      {"script", TagKind::kRawText},   {"style", TagKind::kRawText},
      {"textarea", TagKind::kRawText}, {"title", TagKind::kRawText},
      {"xmp", TagKind::kRawText},      {"iframe", TagKind::kRawText},
      {"noembed", TagKind::kRawText},  {"noframes", TagKind::kRawText},
      {"noscript", TagKind::kRawText}, {"plaintext", TagKind::kPlaintext}};
  if (name.size() > 9) return TagKind::kOther;
  const char first = FoldAscii(name[0]);
  for (const auto& [known, kind] : kKinds) {
    if (known[0] == first && NameIs(name, known)) return kind;
  }
  return TagKind::kOther;
}

// The tag name starting at `from`: up to a space, '/' or '>'.
size_t NameEnd(std::string_view text, size_t from) {
  while (from < text.size() && !IsSpace(text[from]) && text[from] != '/' && text[from] != '>') {
    ++from;
  }
  return from;
}

// Just past the '>' that ends the tag whose attributes start at `from`; a value quoted after '='
// may hold '>'. kNone when the text ends first.
size_t TagEnd(std::string_view text, size_t from) {
  const size_t size = text.size();
  while (from < size) {
    const char c = text[from];
    if (c == '>') return from + 1;
    ++from;
    if (c != '=') continue;
    while (from < size && IsSpace(text[from])) ++from;
    if (from < size && (text[from] == '"' || text[from] == '\'')) {
      const void* quote = memchr(text.data() + from + 1, text[from], size - from - 1);
      if (quote == nullptr) return kNone;
      from = static_cast<size_t>(static_cast<const char*>(quote) - text.data()) + 1;
    }
  }
  return kNone;
}

// Just past the '>' of the first `</name` (any letter case, then a space, '/' or '>') at or after
// `from`; kNone when there is none.
size_t RawTextEnd(std::string_view text, size_t from, std::string_view name) {
  const size_t size = text.size();
  while (from < size) {
    const void* lt = memchr(text.data() + from, '<', size - from);
    if (lt == nullptr) return kNone;
    const size_t at = static_cast<size_t>(static_cast<const char*>(lt) - text.data());
    from = at + 1;
    if (at + 2 + name.size() > size || text[at + 1] != '/') continue;
    const size_t name_end = NameEnd(text, at + 2);
    if (NamesEqual(text.substr(at + 2, name_end - at - 2), name)) return TagEnd(text, name_end);
  }
  return kNone;
}

// Just past the first '>' at or after `from`; kNone when there is none.
size_t NextAngle(std::string_view text, size_t from) {
  const void* gt = memchr(text.data() + from, '>', text.size() - from);
  return gt == nullptr ? kNone
                       : static_cast<size_t>(static_cast<const char*>(gt) - text.data()) + 1;
}

// Just past the "-->" that ends the comment whose "<!--" is at `at`; "<!-->" and "<!--->" end
// there.
size_t CommentEnd(std::string_view text, size_t at) {
  const size_t end = text.find("-->", at + 2);
  return end == std::string_view::npos ? kNone : end + 3;
}

struct OpenElement {
  std::string_view name;
  size_t begin;          // offset of its '<'
  size_t group;          // the group of its child slots, given when the first one is found
  bool is_paragraph;     // a <p> or <div>
  bool holds_paragraph;  // some <p> or <div> inside it
  bool clean;            // every element inside it was closed by its own closing tag
};

// Finds the slots in one pass and hands each to `emit(begin, end, group)` in text order.
template <typename Emit>
class SlotScanner {
 public:
  SlotScanner(std::string_view text, Emit& emit) : text_(text), emit_(emit) {
    open_.reserve(64);
    open_.push_back({{}, 0, kNone, false, false, true});  // the article itself
  }

  void Scan() {
    const size_t size = text_.size();
    size_t at = 0;
    while (at < size) {
      const void* lt = memchr(text_.data() + at, '<', size - at);
      if (lt == nullptr) break;
      const size_t tag = static_cast<size_t>(static_cast<const char*>(lt) - text_.data());
      if (tag + 1 >= size) break;
      const char next = text_[tag + 1];
      if (IsAsciiLetter(next)) {
        at = StartTag(tag);
      } else if (next == '/' && tag + 2 < size && IsAsciiLetter(text_[tag + 2])) {
        at = EndTag(tag);
      } else if (next == '!' && text_.substr(tag + 2, 2) == "--") {
        at = CommentEnd(text_, tag);
      } else if (next == '!' || next == '?' || next == '/') {
        at = NextAngle(text_, tag + 2);  // doctype, bogus comment or "</>"
      } else {
        at = tag + 1;  // a '<' in text
      }
    }
  }

 private:
  // Reads the start tag at `tag`; returns where the scan goes on, kNone to stop.
  size_t StartTag(size_t tag) {
    const size_t name_end = NameEnd(text_, tag + 1);
    const std::string_view name = text_.substr(tag + 1, name_end - tag - 1);
    const size_t end = TagEnd(text_, name_end);
    if (end == kNone) return kNone;
    const TagKind kind = KindOf(name);
    if (kind == TagKind::kPlaintext) return kNone;
    if (kind == TagKind::kRawText) return RawTextEnd(text_, end, name);
    if (kind == TagKind::kVoid || text_[end - 2] == '/') return end;
    if (open_.size() > kMaxDepth) return kNone;
    open_.push_back({name, tag, kNone, kind == TagKind::kParagraph, false, true});
    return end;
  }

  size_t EndTag(size_t tag) {
    const size_t name_end = NameEnd(text_, tag + 2);
    const std::string_view name = text_.substr(tag + 2, name_end - tag - 2);
    const size_t end = TagEnd(text_, name_end);
    if (end == kNone) return kNone;
    size_t match = kNone;
    for (size_t i = open_.size() - 1; i >= 1 && open_.size() - i <= kCloseReach; --i) {
      if (NamesEqual(open_[i].name, name)) {
        match = i;
        break;
      }
    }
    if (match == kNone) {
      open_.back().clean = false;  // a stray closing tag: whatever holds it must not move
      return end;
    }
    while (open_.size() - 1 > match) Close(false, kNone);
    Close(true, end);
    return end;
  }

  // Pops the innermost open element, `closed` by its own tag ending at `end` or left unclosed.
  void Close(bool closed, size_t end) {
    const OpenElement element = open_.back();
    open_.pop_back();
    OpenElement& parent = open_.back();
    if (closed && element.is_paragraph && element.clean && !element.holds_paragraph) {
      if (parent.group == kNone) parent.group = next_group_++;
      emit_(element.begin, end, parent.group);
    }
    parent.holds_paragraph |= element.is_paragraph || element.holds_paragraph;
    parent.clean &= closed && element.clean;
  }

  std::string_view text_;
  std::vector<OpenElement> open_;
  Emit& emit_;
  size_t next_group_ = 0;
};

uint32_t RotateRight(uint32_t value, unsigned by) {
  return value >> by | value << (-by & 31);
}

}  // namespace

std::vector<ParagraphSlot> FindParagraphSlots(std::string_view article) {
  std::vector<ParagraphSlot> slots;
  auto emit = [&slots](size_t begin, size_t end, size_t group) {
    slots.push_back({begin, end, group});
  };
  SlotScanner(article, emit).Scan();
  return slots;
}

Pcg32 SeedPcg32(uint64_t initial_state, uint64_t stream) {
  Pcg32 generator{0, stream << 1 | 1};
  NextPcg32(generator);
  generator.state += initial_state;
  NextPcg32(generator);
  return generator;
}

uint32_t NextPcg32(Pcg32& generator) {
  const uint64_t old = generator.state;
  generator.state = old * 6364136223846793005ULL + generator.increment;
  return RotateRight(static_cast<uint32_t>(((old >> 18) ^ old) >> 27),
                     static_cast<unsigned>(old >> 59));
}

uint64_t DrawBelow(Pcg32& generator, uint64_t bound) {
  // x * bound / 2^k maps k random bits onto [0, bound); the low half of the product tells when x
  // falls in the 2^k mod bound values that would favour some results, and those are drawn again.
  if (bound <= UINT32_MAX) {
    const uint32_t range = static_cast<uint32_t>(bound);
    uint64_t product = uint64_t{NextPcg32(generator)} * range;
    if (static_cast<uint32_t>(product) < range) {
      const uint32_t threshold = static_cast<uint32_t>(-range) % range;
      while (static_cast<uint32_t>(product) < threshold) {
        product = uint64_t{NextPcg32(generator)} * range;
      }
    }
    return product >> 32;
  }
  auto next64 = [&generator] {
    const uint64_t high = NextPcg32(generator);
    return high << 32 | NextPcg32(generator);
  };
  unsigned __int128 product = static_cast<unsigned __int128>(next64()) * bound;
  if (static_cast<uint64_t>(product) < bound) {
    const uint64_t threshold = -bound % bound;
    while (static_cast<uint64_t>(product) < threshold) {
      product = static_cast<unsigned __int128>(next64()) * bound;
    }
  }
  return static_cast<uint64_t>(product >> 64);
}

namespace {

// The shuffle with offsets of type Offset, wide enough for the article: 32 bits keep the slot
// tables small (20 bytes a slot) on anything below 4 GiB.
template <typename Offset>
std::string ShuffleSlots(std::string_view article, uint64_t seed) {
  struct Slot {
    Offset begin, end, group;
  };
  struct Span {
    Offset begin, end;
  };
  std::vector<Slot> slots;
  size_t groups = 0;
  auto emit = [&](size_t begin, size_t end, size_t group) {
    slots.push_back(
        {static_cast<Offset>(begin), static_cast<Offset>(end), static_cast<Offset>(group)});
    groups = std::max(groups, group + 1);
  };
  SlotScanner(article, emit).Scan();

  // The paragraphs sorted by group (a counting sort), each group's run shuffled in place
  // (Fisher-Yates); then slot k of group g receives the next paragraph of g's run.
  std::vector<Offset> next_of_group(groups + 1, 0);
  for (const Slot& slot : slots) ++next_of_group[slot.group + 1];
  for (size_t g = 1; g <= groups; ++g) next_of_group[g] += next_of_group[g - 1];
  std::vector<Span> paragraphs(slots.size());
  {
    std::vector<Offset> fill(next_of_group.begin(), next_of_group.end() - 1);
    for (const Slot& slot : slots) paragraphs[fill[slot.group]++] = {slot.begin, slot.end};
  }
  Pcg32 generator = SeedPcg32(seed, kLayoutShuffleStream);
  for (size_t g = 0; g < groups; ++g) {
    Span* const run = paragraphs.data() + next_of_group[g];
    for (size_t i = next_of_group[g + 1] - next_of_group[g]; i > 1; --i) {
      std::swap(run[i - 1], run[DrawBelow(generator, i)]);
    }
  }

  std::string result(article.size(), '\0');
  char* out = result.data();
  auto copy = [&out, &article](size_t begin, size_t end) {
    memcpy(out, article.data() + begin, end - begin);
    out += end - begin;
  };
  size_t copied = 0;
  for (const Slot& slot : slots) {
    const Span& paragraph = paragraphs[next_of_group[slot.group]++];
    copy(copied, slot.begin);
    copy(paragraph.begin, paragraph.end);
    copied = slot.end;
  }
  copy(copied, article.size());
  return result;
}

}  // namespace

std::string ShuffleKeepingLayout(std::string_view article, uint64_t seed) {
  return article.size() <= UINT32_MAX ? ShuffleSlots<uint32_t>(article, seed)
                                      : ShuffleSlots<uint64_t>(article, seed);
}

uint64_t SeedFromSystem() {
  uint64_t seed = 0;
  size_t got = 0;
  while (got < sizeof seed) {
    const ssize_t n = getrandom(reinterpret_cast<char*>(&seed) + got, sizeof seed - got, 0);
    if (n > 0) {
      got += static_cast<size_t>(n);
    } else if (n < 0 && errno != EINTR) {
      // No getrandom (a kernel before 3.17): the clock and process id, mixed, still differ
      // from run to run.
      timespec now{};
      clock_gettime(CLOCK_REALTIME, &now);
      Pcg32 mix = SeedPcg32(
          static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec),
          static_cast<uint64_t>(getpid()));
      return uint64_t{NextPcg32(mix)} << 32 | NextPcg32(mix);
    }
  }
  return seed;
}
