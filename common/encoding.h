// The encodings an article may come in, checked and converted with glibc's iconv.
//
// The shuffle works on double-byte text: every byte from 0x80 up leads a pair. GBK and GB18030
// text has that shape (a GB18030 four-byte character is two such pairs), and in neither can '<',
// '>', CR or LF be part of a multibyte character. UTF-8 text is carried through GB18030, which
// holds every Unicode character that glibc maps, and converted back afterwards.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

enum class Encoding { kGbk, kGb18030, kUtf8 };

// "GBK", "GB18030" or "UTF-8".
std::string_view EncodingName(Encoding encoding);

// The encoding named `name` (gbk, gb18030, utf-8 or utf8, in any letter case); nullopt otherwise.
std::optional<Encoding> EncodingNamed(std::string_view name);

// Where text stops being valid: the offset of the first byte of the offending character, and a
// phrase naming it that reads on with " at byte offset N" ("invalid GBK byte 0x80").
struct EncodingFault {
  size_t offset = 0;
  std::string what;
};

// The first fault of `bytes` as text in `encoding`; nullopt when there is none. GBK and GB18030
// follow iconv's tables, except that GBK's single byte 0x80 (the euro sign of code page 936) is
// refused, as the shuffle would take it for the lead of a pair. UTF-8 must be well formed (no
// overlong forms, surrogates or values past U+10FFFF) and every character must have a GB18030
// form. A NUL byte is valid text in all three.
std::optional<EncodingFault> FindEncodingFault(std::string_view bytes, Encoding encoding);

// `bytes` converted between the two encodings; nullopt when some character does not convert.
// Text that FindEncodingFault passes converts in full, and converts back to the same bytes.
std::optional<std::string> Utf8ToGb18030(std::string_view utf8);
std::optional<std::string> Gb18030ToUtf8(std::string_view gb18030);
