// Splits any bytes at a separator taken from the input's front (its length is the first byte,
// modulo 8). The pieces joined by the separator give the text back, less a separator cut at the
// very end, and no piece holds an occurrence the split should have cut at.
#include <cstdint>

#include "fuzz/check.h"
#include "text/text_ops.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t separator_size = std::min<size_t>(data[0] % 8, size - 1);
  const std::string_view separator(reinterpret_cast<const char*>(data + 1), separator_size);
  const std::string_view text(reinterpret_cast<const char*>(data + 1 + separator_size),
                              size - 1 - separator_size);

  size_t cuts = 0;
  const std::vector<std::string_view> pieces = SplitTextViews(text, separator, &cuts);
  const Text joined = JoinPieces(pieces, separator);
  if (text.empty()) {
    Check(pieces.empty() && cuts == 0, "an empty text has no pieces");
  } else if (separator.empty()) {
    Check(pieces.size() == 1 && pieces[0] == text && cuts == 0, "an empty separator cuts nothing");
  } else {
    const bool cut_at_end = pieces.size() == cuts;
    Check(pieces.size() == cuts + (cut_at_end ? 0 : 1), "one piece more than cuts, or as many");
    Check(cut_at_end ? joined + Text(separator) == text : joined == text,
          "pieces joined by the separator give the text back");
    for (std::string_view piece : pieces) {
      Check(FindAtCharacter(piece, separator) == std::string_view::npos,
            "no piece holds an occurrence that begins a character");
    }
  }
  const TextList copies = SplitText(text, separator);
  Check(copies.Count() == pieces.size(), "SplitText gives the same pieces");
  for (size_t i = 1; i <= copies.Count(); ++i) {
    Check(copies.At(i) == pieces[i - 1], "SplitText gives the same pieces");
  }
  return 0;
}
