// The index pass over a typical screen recording (TypicalFilm.h: 1024 × 768, 32 bits, 10
// frames a second, ten minutes by default, ZR_BENCH_MINUTES sets it), next to the baseline of
// the same run: the same film played through a core of its own without indexing (every frame
// composed with its cursor, as the pass's core composes it).
//
// Counters:
//   realtime_x      the film's duration over the wall time: 200 means two hundred times real
//                   time;
//   realtime_x_cpu  the same over the thread's CPU time, which other programs on a shared
//                   machine disturb less;
//   pass/play       the CPU time over the play baseline's (the least of its measurements so
//                   far in this run; the film is played twice first, to warm it up, and that
//                   counts as a measurement).
// Each case runs once per repetition: run with --benchmark_repetitions=5
// --benchmark_enable_random_interleaving=true so that the two alternate. Meaningful only in a
// Release build without sanitizers.
#include <benchmark/benchmark.h>

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <vector>

#include "film/FilmFile.h"
#include "filmwriter/TypicalFilm.h"
#include "index/IndexPass.h"
#include "playback/HeadlessHost.h"

namespace {

const TSegments& Film() {
  static const TSegments segments = [] {
    TTypicalFilmPlan plan;
    if (const char* minutes = std::getenv("ZR_BENCH_MINUTES")) plan.Minutes = std::atoi(minutes);
    auto bytes = std::make_shared<std::vector<uint8_t>>(WriteFilmRaw(MakeTypicalFilmSegments(plan)));
    TFilm film;
    TFilmError error;
    if (!ReadFilm(*bytes, bytes, film, error)) throw std::runtime_error("the film does not read: " + error.Message);
    return std::move(film.Segments);
  }();
  return segments;
}

// Plays the film through a core of its own; returns the frames composed.
int64_t Play() {
  THeadlessHost host;
  TPlaybackCore core(host);
  host.Core = &core;
  int64_t frames = 0;
  host.OnComposed = [&] { ++frames; };
  core.TakeFilm(ShareSegments(Film()));
  if (core.AllocFrameBuffer(TPlaybackCore::kFrameBufferSize) != kResultOk || core.SetCurSegment() != kResultOk)
    throw std::runtime_error("the film does not play");
  while (!host.Stopped) core.TimerPlayTimer();
  return frames;
}

double ThreadSeconds() {
  timespec t{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// A run measured: its wall time and the thread's CPU time.
struct TTimes {
  double Wall = 0, Cpu = 0;
};
template <typename TFunc>
TTimes Measure(TFunc&& f) {
  const auto start = std::chrono::steady_clock::now();
  const double cpu = ThreadSeconds();
  f();
  return {std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), ThreadSeconds() - cpu};
}

double gPlayCpu = 0;  // the least of the baseline's measurements

void NotePlay(double cpu) { gPlayCpu = gPlayCpu > 0 ? std::min(gPlayCpu, cpu) : cpu; }

void Report(benchmark::State& state, TTimes t) {
  state.SetIterationTime(t.Wall);
  const double film = double(FilmMillis(Film())) / 1000;
  state.counters["realtime_x"] = film / t.Wall;
  state.counters["realtime_x_cpu"] = film / t.Cpu;
}

void WarmUp() {
  if (gPlayCpu > 0) return;
  Play();
  NotePlay(Measure([] { Play(); }).Cpu);
}

void BM_Play(benchmark::State& state) {
  WarmUp();
  for (auto _ : state) {
    const TTimes t = Measure([] { benchmark::DoNotOptimize(Play()); });
    NotePlay(t.Cpu);
    Report(state, t);
  }
}

void BM_IndexPass(benchmark::State& state) {
  WarmUp();
  for (auto _ : state) {
    TFilmIndex index;
    const TTimes t = Measure([&] { index = IndexFilm(Film()); });
    if (!index.Complete) state.SkipWithError("the pass did not complete");
    Report(state, t);
    state.counters["pass/play"] = t.Cpu / gPlayCpu;
    state.counters["chapters"] = double(index.Chapters.size());
    state.counters["idle"] = double(index.Idle.size());
    state.counters["previews"] = double(index.Previews.size());
  }
}

}  // namespace

BENCHMARK(BM_Play)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IndexPass)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
