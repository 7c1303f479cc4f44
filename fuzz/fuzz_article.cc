// Feeds any bytes to the article pipeline both programs share: the first four pick the seed, the
// rest is the article. Checks that detection agrees with the UTF-8 check, that a shuffled article
// keeps its length, and that it is a rearrangement of its bytes (of its bytes less CR and LF for
// the classic shuffle) wherever the shuffle works on the bytes as they are.
#include <algorithm>
#include <cstdint>
#include <string>

#include "common/article_shuffle.h"
#include "fuzz/check.h"

namespace {

std::string Sorted(std::string_view bytes, bool without_line_breaks) {
  std::string sorted(bytes);
  if (without_line_breaks) std::erase_if(sorted, [](char c) { return c == '\r' || c == '\n'; });
  std::sort(sorted.begin(), sorted.end());
  return sorted;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const auto [seed, article] = SplitInput<uint32_t>(data, size);

  DetectedEncoding detected;
  std::string error;
  if (!DetectEncoding(article, &detected, &error)) {
    Check(error.starts_with("the page declares charset '"), "refusal names the charset");
    return 0;
  }
  if (detected.how == "valid UTF-8") {
    Check(detected.encoding == Encoding::kUtf8, "valid UTF-8 is UTF-8");
    Check(!FindEncodingFault(article, Encoding::kUtf8, false), "valid UTF-8 has no fault");
  }
  Encoding encoding = detected.encoding;
  bool as_bytes = encoding != Encoding::kUtf16Le && encoding != Encoding::kUtf16Be;
  for (ShuffleKind kind : {ShuffleKind::kKeepLayout, ShuffleKind::kClassic}) {
    std::string result;
    if (!ShuffleArticleBytes(article, encoding, kind, seed, &result, &error)) continue;
    bool classic = kind == ShuffleKind::kClassic;
    if (!classic) Check(result.size() == article.size(), "the layout shuffle keeps the length");
    bool double_byte = encoding != Encoding::kUtf8 && as_bytes;
    if (!classic ? as_bytes : double_byte) {
      Check(Sorted(result, classic) == Sorted(article, classic), "the result is a rearrangement");
    }
    std::string again;
    Check(ShuffleArticleBytes(article, encoding, kind, seed, &again, &error) && again == result,
          "the same seed gives the same bytes");
  }
  return 0;
}
