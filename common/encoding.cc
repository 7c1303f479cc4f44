#include "common/encoding.h"

#include <iconv.h>

#include <strings.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <utility>

namespace {

constexpr size_t kNone = std::string_view::npos;

// How far iconv got: the converted bytes, and where and why it stopped (offset kNone when the
// whole input converted).
struct IconvRun {
  std::string out;
  size_t stop = kNone;
  int error = 0;
  bool unsupported = false;  // iconv has no such conversion
};

IconvRun RunIconv(std::string_view in, const char* from, const char* to) {
  IconvRun run;
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    run.stop = 0;
    run.unsupported = true;
    return run;
  }
  char* in_next = const_cast<char*>(in.data());
  size_t in_left = in.size();
  run.out.resize(in.size() * 2 + 16);
  size_t used = 0;
  bool flushing = false;  // the input is done; one more call ends any shift state
  for (;;) {
    char* out_next = run.out.data() + used;
    size_t out_left = run.out.size() - used;
    size_t result = flushing ? iconv(cd, nullptr, nullptr, &out_next, &out_left)
                             : iconv(cd, &in_next, &in_left, &out_next, &out_left);
    int error = errno;
    used = out_next - run.out.data();
    if (result == static_cast<size_t>(-1) && error == E2BIG) {
      run.out.resize(run.out.size() * 2);
    } else if (result == static_cast<size_t>(-1)) {
      run.stop = in_next - in.data();
      run.error = error;
      break;
    } else if (!flushing) {
      flushing = true;
    } else {
      break;
    }
  }
  run.out.resize(used);
  iconv_close(cd);
  return run;
}

// glibc's name for each encoding. Big5 is read as Big5-HKSCS, which browsers' Big5 decoder
// follows and which accepts every Big5 character.
const char* IconvName(Encoding encoding) {
  switch (encoding) {
    case Encoding::kGbk:
      return "GBK";
    case Encoding::kGb18030:
      return "GB18030";
    case Encoding::kUtf8:
      return "UTF-8";
    case Encoding::kBig5:
      return "BIG5-HKSCS";
    case Encoding::kUtf16Le:
      return "UTF-16LE";
    case Encoding::kUtf16Be:
      return "UTF-16BE";
  }
  return "";
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

std::string Hex(unsigned char byte) {
  char buffer[8];
  snprintf(buffer, sizeof buffer, "0x%02X", byte);
  return buffer;
}

// The length of the well-formed UTF-8 character at the start of `bytes` (Unicode's table of
// well-formed byte sequences); 0 when it is malformed, and -1 when it is cut short by the end.
int Utf8CharacterLength(std::string_view bytes) {
  auto at = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
  unsigned char lead = at(0);
  if (lead < 0x80) return 1;
  int length;
  unsigned char low = 0x80, high = 0xBF;  // the allowed range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  for (int i = 1; i < length; ++i) {
    if (static_cast<size_t>(i) >= bytes.size()) return -1;
    unsigned char byte = at(i);
    if (i == 1 ? byte < low || byte > high : byte < 0x80 || byte > 0xBF) return 0;
  }
  return length;
}

std::optional<EncodingFault> FindMalformedUtf8(std::string_view bytes) {
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  const size_t size = bytes.size();
  for (size_t i = 0; i < size;) {
    unsigned char lead = data[i];
    if (lead < 0x80) {
      // ASCII runs go eight bytes at a time.
      ++i;
      for (uint64_t word; i + 8 <= size; i += 8) {
        std::copy_n(data + i, 8, reinterpret_cast<unsigned char*>(&word));
        if (word & 0x8080808080808080u) break;
      }
      continue;
    }
    // Three-byte characters whose second byte has no narrower range, all of CJK among them,
    // are checked in line.
    auto simple_three_bytes = [&](size_t at) {
      unsigned char first = data[at];
      return ((first >= 0xE1 && first <= 0xEC) || first == 0xEE || first == 0xEF) &&
             (data[at + 1] & 0xC0) == 0x80 && (data[at + 2] & 0xC0) == 0x80;
    };
    if (i + 2 < size && simple_three_bytes(i)) {
      for (i += 3; i + 2 < size && simple_three_bytes(i);) i += 3;
      continue;
    }
    int length = Utf8CharacterLength(bytes.substr(i));
    if (length < 0) return EncodingFault{i, "incomplete UTF-8 character"};
    if (length == 0) {
      return EncodingFault{i, "invalid UTF-8 byte sequence starting with " + Hex(lead)};
    }
    i += static_cast<size_t>(length);
  }
  return std::nullopt;
}

// The fault iconv stopped at, put in words.
EncodingFault DescribeStop(std::string_view bytes, Encoding encoding, const IconvRun& run) {
  std::string name(EncodingName(encoding));
  if (run.unsupported || (run.error != EILSEQ && run.error != EINVAL)) {
    return {run.stop, name + " text this system's iconv cannot read"};
  }
  if (run.error == EINVAL) return {run.stop, "incomplete " + name + " character"};
  auto lead = static_cast<unsigned char>(bytes[run.stop]);
  if (encoding == Encoding::kUtf8) {
    // The caller has ruled out malformed UTF-8 here: the character only lacks a GB18030 form.
    IconvRun alone = RunIconv(bytes.substr(run.stop, 4), "UTF-8", "UTF-32BE");
    if (alone.out.size() >= 4) {
      uint32_t code = 0;
      for (int i = 0; i < 4; ++i) code = code << 8 | static_cast<unsigned char>(alone.out[i]);
      char buffer[48];
      snprintf(buffer, sizeof buffer, "character U+%04X, which has no GB18030 form,", code);
      return {run.stop, buffer};
    }
  }
  if (IsUtf16(encoding)) {
    return {run.stop, "invalid " + name + " code unit at an unpaired surrogate"};
  }
  return {run.stop, "invalid " + name + " byte sequence starting with " + Hex(lead)};
}

// The first fault of UTF-16 text: iconv finds unpaired surrogates and an odd length; the GB18030
// check runs on its UTF-8 form, and the UTF-8 offset is counted back in UTF-16 bytes.
std::optional<EncodingFault> FindUtf16Fault(std::string_view bytes, Encoding encoding,
                                            bool need_gb18030_form) {
  IconvRun run = RunIconv(bytes, IconvName(encoding), "UTF-8");
  if (run.stop != kNone) return DescribeStop(bytes, encoding, run);
  if (!need_gb18030_form) return std::nullopt;
  std::optional<EncodingFault> fault = FindEncodingFault(run.out, Encoding::kUtf8, true);
  if (!fault) return std::nullopt;
  std::optional<std::string> before =
      ConvertText(std::string_view(run.out).substr(0, fault->offset), Encoding::kUtf8, encoding);
  fault->offset = before ? before->size() : 0;
  return fault;
}

// Reads the <meta> declarations of the first 1024 bytes as browsers' prescan does; the label
// declared, and which kind of tag declared it.
class MetaPrescan {
 public:
  explicit MetaPrescan(std::string_view bytes) : text_(bytes.substr(0, 1024)) {}

  std::optional<std::pair<std::string, std::string>> Find() {
    while (pos_ < text_.size()) {
      if (Ahead("<!--")) {
        size_t close = text_.find("-->", pos_ + 2);
        if (close == kNone) return std::nullopt;
        pos_ = close + 3;
      } else if (AheadIgnoringCase("<meta") && pos_ + 5 < text_.size() &&
                 (IsSpace(text_[pos_ + 5]) || text_[pos_ + 5] == '/')) {
        pos_ += 5;
        if (auto found = ReadMeta()) return found;
      } else if (Ahead("<") && pos_ + 1 < text_.size() &&
                 (IsLetter(text_[pos_ + 1]) || (text_[pos_ + 1] == '/' && pos_ + 2 < text_.size() &&
                                                IsLetter(text_[pos_ + 2])))) {
        // Any other tag: its attributes are stepped over whole, so a '>' in a value does not
        // end it early.
        while (pos_ < text_.size() && !IsSpace(text_[pos_]) && text_[pos_] != '>') ++pos_;
        std::string name, value;
        while (ReadAttribute(&name, &value)) {
        }
      } else if (Ahead("<!") || Ahead("</") || Ahead("<?")) {
        size_t close = text_.find('>', pos_);
        if (close == kNone) return std::nullopt;
        pos_ = close + 1;
      } else {
        ++pos_;
      }
    }
    return std::nullopt;
  }

 private:
  static bool IsSpace(char c) {
    return c == '\t' || c == '\n' || c == '\f' || c == '\r' || c == ' ';
  }
  static bool IsLetter(char c) { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; }
  static std::string Lower(std::string_view s) {
    std::string lower(s);
    for (char& c : lower) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    }
    return lower;
  }
  bool Ahead(std::string_view s) const { return text_.substr(pos_).starts_with(s); }
  bool AheadIgnoringCase(std::string_view s) const {
    return EqualsIgnoringCase(text_.substr(pos_, s.size()), s);
  }

  // One attribute at the position, its name lowercased; false at the tag's end or the text's.
  bool ReadAttribute(std::string* name, std::string* value) {
    while (pos_ < text_.size() && (IsSpace(text_[pos_]) || text_[pos_] == '/')) ++pos_;
    if (pos_ >= text_.size() || text_[pos_] == '>') {
      if (pos_ < text_.size()) ++pos_;
      return false;
    }
    size_t start = pos_;
    ++pos_;  // a name may begin with '='
    while (pos_ < text_.size() && text_[pos_] != '=' && text_[pos_] != '/' && text_[pos_] != '>' &&
           !IsSpace(text_[pos_])) {
      ++pos_;
    }
    *name = Lower(text_.substr(start, pos_ - start));
    value->clear();
    while (pos_ < text_.size() && IsSpace(text_[pos_])) ++pos_;
    if (pos_ >= text_.size() || text_[pos_] != '=') return pos_ < text_.size();
    ++pos_;
    while (pos_ < text_.size() && IsSpace(text_[pos_])) ++pos_;
    if (pos_ >= text_.size()) return false;
    char quote = text_[pos_];
    if (quote == '"' || quote == '\'') {
      size_t close = text_.find(quote, pos_ + 1);
      if (close == kNone) {
        pos_ = text_.size();
        return false;
      }
      *value = text_.substr(pos_ + 1, close - pos_ - 1);
      pos_ = close + 1;
    } else {
      start = pos_;
      while (pos_ < text_.size() && !IsSpace(text_[pos_]) && text_[pos_] != '>') ++pos_;
      *value = text_.substr(start, pos_ - start);
    }
    return pos_ < text_.size();
  }

  // The label in a content attribute such as "text/html; charset=gbk".
  static std::optional<std::string> CharsetInContent(std::string_view content) {
    std::string lower = Lower(content);
    for (size_t at = lower.find("charset"); at != kNone; at = lower.find("charset", at + 7)) {
      size_t i = at + 7;
      while (i < lower.size() && IsSpace(lower[i])) ++i;
      if (i >= lower.size() || lower[i] != '=') continue;
      ++i;
      while (i < lower.size() && IsSpace(lower[i])) ++i;
      if (i >= lower.size()) return std::nullopt;
      if (lower[i] == '"' || lower[i] == '\'') {
        size_t close = lower.find(lower[i], i + 1);
        if (close == kNone) return std::nullopt;
        return std::string(content.substr(i + 1, close - i - 1));
      }
      size_t end = i;
      while (end < lower.size() && !IsSpace(lower[end]) && lower[end] != ';') ++end;
      return std::string(content.substr(i, end - i));
    }
    return std::nullopt;
  }

  std::optional<std::pair<std::string, std::string>> ReadMeta() {
    bool got_pragma = false, from_content = false, have_charset = false;
    std::string charset, name, value, seen = " ";
    bool more = true;
    while (more) {
      more = ReadAttribute(&name, &value);
      if (name.empty() || seen.find(" " + name + " ") != kNone) continue;
      seen += name + " ";
      if (name == "http-equiv") {
        got_pragma = got_pragma || EqualsIgnoringCase(value, "content-type");
      } else if (name == "content" && !have_charset) {
        if (std::optional<std::string> label = CharsetInContent(value)) {
          charset = *label;
          have_charset = from_content = true;
        }
      } else if (name == "charset") {
        charset = value;
        have_charset = true;
        from_content = false;
      }
      if (pos_ >= text_.size() && more) break;
    }
    if (!have_charset || (from_content && !got_pragma)) return std::nullopt;
    return std::pair{charset, from_content ? "<meta http-equiv>" : "<meta charset>"};
  }

  std::string_view text_;
  size_t pos_ = 0;
};

std::string_view TrimSpace(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || (s.front() >= '\t' && s.front() <= '\r'))) {
    s.remove_prefix(1);
  }
  while (!s.empty() && (s.back() == ' ' || (s.back() >= '\t' && s.back() <= '\r'))) {
    s.remove_suffix(1);
  }
  return s;
}

}  // namespace

std::string_view EncodingName(Encoding encoding) {
  switch (encoding) {
    case Encoding::kBig5:
      return "Big5";
    default:
      return IconvName(encoding);
  }
}

std::optional<Encoding> EncodingNamed(std::string_view name) {
  static constexpr std::pair<std::string_view, Encoding> kLabels[] = {
      {"gbk", Encoding::kGbk},
      {"gb18030", Encoding::kGb18030},
      {"gb2312", Encoding::kGb18030},
      {"gb_2312", Encoding::kGb18030},
      {"gb_2312-80", Encoding::kGb18030},
      {"chinese", Encoding::kGb18030},
      {"csgb2312", Encoding::kGb18030},
      {"csiso58gb231280", Encoding::kGb18030},
      {"iso-ir-58", Encoding::kGb18030},
      {"x-gbk", Encoding::kGb18030},
      {"cp936", Encoding::kGb18030},
      {"ms936", Encoding::kGb18030},
      {"windows-936", Encoding::kGb18030},
      {"utf-8", Encoding::kUtf8},
      {"utf8", Encoding::kUtf8},
      {"unicode-1-1-utf-8", Encoding::kUtf8},
      {"x-unicode20utf8", Encoding::kUtf8},
      {"big5", Encoding::kBig5},
      {"big5-hkscs", Encoding::kBig5},
      {"cn-big5", Encoding::kBig5},
      {"csbig5", Encoding::kBig5},
      {"x-x-big5", Encoding::kBig5},
      {"utf-16", Encoding::kUtf16Le},
      {"utf-16le", Encoding::kUtf16Le},
      {"utf16", Encoding::kUtf16Le},
      {"unicode", Encoding::kUtf16Le},
      {"ucs-2", Encoding::kUtf16Le},
      {"utf-16be", Encoding::kUtf16Be},
      {"unicodefffe", Encoding::kUtf16Be},
  };
  for (auto [label, encoding] : kLabels) {
    if (EqualsIgnoringCase(name, label)) return encoding;
  }
  return std::nullopt;
}

std::string_view ByteOrderMark(std::string_view bytes, Encoding encoding) {
  std::string_view mark = encoding == Encoding::kUtf8      ? "\xEF\xBB\xBF"
                          : encoding == Encoding::kUtf16Le ? "\xFF\xFE"
                          : encoding == Encoding::kUtf16Be ? "\xFE\xFF"
                                                           : "";
  return !mark.empty() && bytes.starts_with(mark) ? mark : "";
}

bool FindDeclaredEncoding(std::string_view bytes, std::optional<DetectedEncoding>* declared,
                          std::string* error) {
  declared->reset();
  for (Encoding marked : {Encoding::kUtf8, Encoding::kUtf16Le, Encoding::kUtf16Be}) {
    if (!ByteOrderMark(bytes, marked).empty()) {
      *declared = DetectedEncoding{marked, "byte-order mark"};
      return true;
    }
  }
  std::optional<std::pair<std::string, std::string>> meta = MetaPrescan(bytes).Find();
  if (!meta) return true;
  std::string_view label = TrimSpace(meta->first);
  std::optional<Encoding> encoding = EncodingNamed(label);
  if (!encoding) {
    *error = "the page declares charset '" + std::string(label) + "' (" + meta->second +
             "), which is not one this program reads";
    return false;
  }
  if (IsUtf16(*encoding)) encoding = Encoding::kUtf8;
  if (*encoding == Encoding::kGbk) encoding = Encoding::kGb18030;
  *declared = DetectedEncoding{*encoding, meta->second};
  return true;
}

bool DetectEncoding(std::string_view bytes, DetectedEncoding* detected, std::string* error) {
  std::optional<DetectedEncoding> declared;
  if (!FindDeclaredEncoding(bytes, &declared, error)) return false;
  if (declared) {
    *detected = *declared;
  } else if (!FindMalformedUtf8(bytes)) {
    *detected = {Encoding::kUtf8, "valid UTF-8"};
  } else {
    *detected = {Encoding::kGb18030, "neither declared nor valid UTF-8"};
  }
  return true;
}

std::optional<EncodingFault> FindEncodingFault(std::string_view bytes, Encoding encoding,
                                               bool need_gb18030_form) {
  if (IsUtf16(encoding)) return FindUtf16Fault(bytes, encoding, need_gb18030_form);
  if (encoding == Encoding::kUtf8 && !need_gb18030_form) return FindMalformedUtf8(bytes);
  IconvRun run = encoding == Encoding::kUtf8 ? RunIconv(bytes, "UTF-8", "GB18030")
                                             : RunIconv(bytes, IconvName(encoding), "UTF-8");
  if (encoding == Encoding::kGbk || encoding == Encoding::kBig5) {
    // iconv takes a lone 0x80 for the euro sign in GBK; look for one where a character begins.
    size_t end = run.stop == kNone ? bytes.size() : run.stop;
    for (size_t i = 0; i < end;) {
      auto byte = static_cast<unsigned char>(bytes[i]);
      if (byte == 0x80) {
        return EncodingFault{i, "invalid " + std::string(EncodingName(encoding)) + " byte 0x80"};
      }
      i += byte > 0x80 ? 2 : 1;
    }
  }
  if (run.stop == kNone) return std::nullopt;
  if (encoding == Encoding::kUtf8) {
    // iconv stops at the first character without a GB18030 form; a malformed one before it
    // comes first.
    std::optional<EncodingFault> malformed = FindMalformedUtf8(bytes.substr(0, run.stop + 4));
    if (malformed && malformed->offset <= run.stop) return malformed;
  }
  return DescribeStop(bytes, encoding, run);
}

std::optional<std::string> ConvertText(std::string_view bytes, Encoding from, Encoding to) {
  if (from == to) return std::string(bytes);
  IconvRun run = RunIconv(bytes, IconvName(from), IconvName(to));
  if (run.stop != kNone) return std::nullopt;
  return std::move(run.out);
}

std::optional<std::string> Utf8ToGb18030(std::string_view utf8) {
  return ConvertText(utf8, Encoding::kUtf8, Encoding::kGb18030);
}

std::optional<std::string> Gb18030ToUtf8(std::string_view gb18030) {
  return ConvertText(gb18030, Encoding::kGb18030, Encoding::kUtf8);
}
