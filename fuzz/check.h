// Helpers the fuzz targets share: stopping on a broken property, and joining split pieces.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

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
