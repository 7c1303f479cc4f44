// The encodings an article may come in: named, detected as browsers detect them, checked and
// converted with glibc's iconv.
//
// GBK, GB18030 and Big5 are double-byte text: every byte from 0x81 up leads a pair whose second
// byte is never '<', '>', CR or LF (a GB18030 four-byte character is two such pairs), so both
// shuffles can work on their bytes. UTF-8 is carried through GB18030 for the classic shuffle,
// which holds every Unicode character that glibc maps; UTF-16 is carried through UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

enum class Encoding { kGbk, kGb18030, kUtf8, kBig5, kUtf16Le, kUtf16Be };

// A name WebKit's default-charset and iconv both accept: "GBK", "GB18030", "UTF-8", "Big5",
// "UTF-16LE" or "UTF-16BE".
std::string_view EncodingName(Encoding encoding);

// True for UTF-16 in either byte order, whose characters are made of two-byte code units.
inline bool IsUtf16(Encoding encoding) {
  return encoding == Encoding::kUtf16Le || encoding == Encoding::kUtf16Be;
}

// The encoding a page or a user names, in any letter case, with the labels browsers know:
// gbk -> GBK; gb18030 and the GB2312/code page 936 family (gb2312, cp936, windows-936, x-gbk,
// chinese, csgb2312, ...) -> GB18030, whose decoder browsers use for that whole family; utf-8,
// utf8 -> UTF-8; big5, big5-hkscs, cn-big5, x-x-big5 -> Big5; utf-16, utf-16le -> UTF-16LE;
// utf-16be -> UTF-16BE. nullopt for any other name.
std::optional<Encoding> EncodingNamed(std::string_view name);

// How an encoding was decided, in words: "byte-order mark", "<meta charset>",
// "<meta http-equiv>", "valid UTF-8" or "neither declared nor valid UTF-8".
struct DetectedEncoding {
  Encoding encoding = Encoding::kUtf8;
  std::string how;
};

// The encoding `bytes` declare: by a byte-order mark, else by a <meta> tag in the first 1024 bytes,
// read as DetectEncoding reads them; nullopt when they declare none. False, with the reason in
// `error`, when the declared charset is not one of ours.
bool FindDeclaredEncoding(std::string_view bytes, std::optional<DetectedEncoding>* declared,
                          std::string* error);

// Decides the encoding of `bytes` as browsers do: a byte-order mark (UTF-8, UTF-16LE or BE);
// else a charset declared by a <meta> tag in the first 1024 bytes (a declared UTF-16 there means
// UTF-8, as the declaration itself was read as ASCII); else UTF-8 when the bytes are valid UTF-8;
// else GB18030. A declared GBK also reads as GB18030. False, with a one-line reason naming the
// charset, when the declared one is not one of ours.
bool DetectEncoding(std::string_view bytes, DetectedEncoding* detected, std::string* error);

// The byte-order mark `bytes` start with in `encoding`, or empty.
std::string_view ByteOrderMark(std::string_view bytes, Encoding encoding);

// Where text stops being valid: the offset of the first byte of the offending character, and a
// phrase naming it that reads on with " at byte offset N" ("invalid GBK byte 0x80").
struct EncodingFault {
  size_t offset = 0;
  std::string what;
};

// The first fault of `bytes` as text in `encoding`; nullopt when there is none. GBK, GB18030 and
// Big5 (as Big5-HKSCS) follow iconv's tables, except that GBK's single byte 0x80 (the euro sign
// of code page 936) is refused, as the shuffle would take it for the lead of a pair. UTF-8 must
// be well formed (no overlong forms, surrogates or values past U+10FFFF), UTF-16 must pair its
// surrogates and have an even length. With `need_gb18030_form`, as the classic shuffle needs,
// every UTF-8 or UTF-16 character must also have a GB18030 form. A NUL byte is valid text here.
std::optional<EncodingFault> FindEncodingFault(std::string_view bytes, Encoding encoding,
                                               bool need_gb18030_form = true);

// `bytes` converted from one encoding to the other; nullopt when some character does not
// convert. Text that FindEncodingFault passes converts in full, and converts back to the same
// bytes.
std::optional<std::string> ConvertText(std::string_view bytes, Encoding from, Encoding to);
std::optional<std::string> Utf8ToGb18030(std::string_view utf8);
std::optional<std::string> Gb18030ToUtf8(std::string_view gb18030);
