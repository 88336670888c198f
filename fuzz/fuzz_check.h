#pragma once

#include <cstdio>
#include <cstdlib>

// A property every input must keep. A broken one aborts, which libFuzzer
// (and the corpus replay under ctest) reports as a finding with the input.
#define FUZZ_CHECK(condition)                                                        \
  do {                                                                               \
    if (!(condition)) {                                                              \
      std::fprintf(stderr, "fuzz check failed: %s at %s:%d\n", #condition, __FILE__, \
                   __LINE__);                                                        \
      std::abort();                                                                  \
    }                                                                                \
  } while (0)
