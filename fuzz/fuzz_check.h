// The harnesses' assertion: a broken invariant prints what broke and aborts,
// which libFuzzer reports as a crash with the input that caused it.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition, what)                                                          \
  do {                                                                                       \
    if (!(condition)) {                                                                      \
      std::fprintf(stderr, "%s:%d: invariant broken: %s (%s)\n", __FILE__, __LINE__, what, \
                   #condition);                                                              \
      std::abort();                                                                          \
    }                                                                                        \
  } while (0)
