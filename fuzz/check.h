// Stops the fuzzer with the property's name when a property does not hold.
#pragma once

#include <cstdio>
#include <cstdlib>

inline void Check(bool ok, const char* what) {
  if (!ok) {
    fprintf(stderr, "property broken: %s\n", what);
    abort();
  }
}
