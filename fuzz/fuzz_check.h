// The one way a fuzz target reports a broken property: a message naming it,
// then an abort, which the fuzzer records as a finding with its input.
#pragma once

#include <cstdio>
#include <cstdlib>

inline void Check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "property violated: %s\n", what);
  std::abort();
}
