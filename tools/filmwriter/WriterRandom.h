// The writer's generator of made-up content: a linear congruential generator, so that a
// film made from a seed is the same on every run and every machine.
#pragma once

#include <cstdint>

struct TWriterRandom {
  uint64_t State;
  // A value from 0 to n - 1 (n > 0).
  uint32_t Below(uint32_t n) {
    State = State * 6364136223846793005ull + 1442695040888963407ull;
    return uint32_t(State >> 33) % n;
  }
  uint32_t Next() { return Below(0xFFFFFFFFu); }
};
