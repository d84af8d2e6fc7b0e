// The fuzz targets' checks of what must hold: a broken one names itself on stderr before the
// fuzzer records the input.
#pragma once

#include <cstdio>

#define CHECK(condition)                                                     \
  do {                                                                       \
    if (!(condition)) {                                                      \
      std::fprintf(stderr, "%s:%d: %s\n", __FILE__, __LINE__, #condition);   \
      __builtin_trap();                                                      \
    }                                                                        \
  } while (false)
