// Helpers the fuzz targets share: stopping on a broken property, and joining split pieces.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

// A fuzz input read as a number of type T from its first bytes (0 when it is shorter), then the
// article made of the bytes after them.
template <typename T>
struct NumberAndArticle {
  T number = 0;
  std::string_view article;
};
template <typename T>
NumberAndArticle<T> SplitInput(const uint8_t* data, size_t size) {
  NumberAndArticle<T> input;
  if (size >= sizeof(T)) {
    memcpy(&input.number, data, sizeof(T));
    data += sizeof(T);
    size -= sizeof(T);
  }
  input.article = std::string_view(reinterpret_cast<const char*>(data), size);
  return input;
}

inline void Check(bool ok, const char* what) {
  if (!ok) {
    fprintf(stderr, "property broken: %s\n", what);
    abort();
  }
}

// The pieces with `glue` between each two.
inline std::string JoinPieces(const std::vector<std::string_view>& pieces, std::string_view glue) {
  std::string joined;
  for (size_t i = 0; i < pieces.size(); ++i) {
    if (i > 0) joined.append(glue);
    joined.append(pieces[i]);
  }
  return joined;
}
