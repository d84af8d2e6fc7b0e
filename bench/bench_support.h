// Shared by the benchmarks: a host that only stops, a deterministic generator, the mouse
// cursor the recordings show, and the memcpy of one 1920 × 1080 32-bit frame that figures are
// given against, timed in the same run.
#pragma once

#include <benchmark/benchmark.h>

#include <time.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

#include "filmwriter/FilmWriter.h"
#include "playback/UzrPlayback.h"

class TBenchHost : public IPlaybackHost {
 public:
  TPlaybackCore* Core = nullptr;
  void ExecuteStop() override {
    if (Core) Core->Stop();
  }
  void ShowResult(const char*, TResult) override {}
  void SegmentActivated(const Segment&, int) override {}
  void SetProgress(int64_t) override {}
};

// A small deterministic generator, so every run of a benchmark plays the same frames.
struct TRandom {
  uint64_t State;
  uint32_t Next() {
    State ^= State << 13;
    State ^= State >> 7;
    State ^= State << 17;
    return uint32_t(State >> 16);
  }
};

// A 32 × 32 arrow-like mask-only cursor with its hot spot at the top left.
inline std::unique_ptr<TzrCursor> ArrowCursor() {
  TWriterShape shape;
  shape.HotSpotX = 1;
  shape.HotSpotY = 1;
  for (int32_t y = 0; y < 32; ++y)
    for (int32_t x = 0; x < 32; ++x) {
      const bool inside = x <= y / 2 + 1 && y < 24;
      shape.AndMask.push_back(uint8_t(!inside));
      shape.XorMask.push_back(uint8_t(inside && x > 0 && x < y / 2));
    }
  const auto record = EncodeShapeRecord(shape);
  TByteReader reader(record);
  auto cursor = std::make_unique<TzrCursor>();
  if (cursor->LoadFromStream(reader) != TzrCursor::kLoadOk)
    throw std::runtime_error("the benchmark cursor does not load");
  return cursor;
}

inline double ThreadSeconds() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

inline double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// The baseline: one 1920 × 1080 32-bit frame copied with memcpy, the median of a few.
struct TMemcpyBaseline {
  static constexpr size_t kBytes = size_t(1920) * 1080 * 4;
  std::vector<uint8_t> Source = std::vector<uint8_t>(kBytes, 0x5A);
  std::vector<uint8_t> Target = std::vector<uint8_t>(kBytes);
  std::vector<double> Times;

  void Measure(int times) {
    for (int i = 0; i < times; ++i) {
      const double t0 = ThreadSeconds();
      std::memcpy(Target.data(), Source.data(), kBytes);
      benchmark::DoNotOptimize(Target.data());
      benchmark::ClobberMemory();
      Times.push_back(ThreadSeconds() - t0);
    }
  }
  double Median() const { return ::Median(Times); }
};
