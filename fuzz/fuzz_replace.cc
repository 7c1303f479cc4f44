// Replaces in any bytes, with the old and new texts taken from the input's front (their lengths
// are the first byte's two nibbles, modulo 8). Replacing a text by itself, or replacing one that
// never begins a character, leaves the text as it was; otherwise the result is the pieces of the
// split joined by the new text.
#include <cstdint>

#include "fuzz/check.h"
#include "text/text_ops.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const char* bytes = reinterpret_cast<const char*>(data + 1);
  size_t left = size - 1;
  const size_t old_size = std::min<size_t>(data[0] % 8, left);
  const std::string_view old_part(bytes, old_size);
  left -= old_size;
  const size_t new_size = std::min<size_t>((data[0] >> 4) % 8, left);
  const std::string_view new_part(bytes + old_size, new_size);
  left -= new_size;
  const std::string_view text(bytes + old_size + new_size, left);

  Check(ReplaceAll(text, old_part, old_part) == text, "replacing a text by itself changes nothing");
  const Text result = ReplaceAll(text, old_part, new_part);
  if (old_part.empty() || FindAtCharacter(text, old_part) == std::string_view::npos) {
    Check(result == text, "nothing to replace changes nothing");
    return 0;
  }
  size_t cuts = 0;
  const std::vector<std::string_view> pieces = SplitTextViews(text, old_part, &cuts);
  Text expected = JoinPieces(pieces, new_part);
  if (pieces.size() == cuts) expected.append(new_part);  // an occurrence ends the text
  Check(result == expected, "the split's pieces joined by the new text");
  return 0;
}
