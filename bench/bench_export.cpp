// Export speed: a typical screen recording (TypicalFilm.h: 1024 × 768, 32 bits, 10 frames a
// second, typing, idle stretches, a menu, a dragged dialog, scrolling, a moving cursor)
// exported with the default settings to MP4 (H.264), WebM (VP9) and lossless Matroska (FFV1),
// and its first minute to GIF (one palette for the film, and one for each picture); next to
// the baseline of the same run, the same film played through the core without encoding (every
// frame composed with its cursor, as `zrfilm frames` does without writing pictures).
//
// The film is made and read (ReadFilm on the film file's bytes, as the loader reads the file it
// extracts) before the first measurement; the video files go to a folder of their own under
// /tmp that is removed at the end. ZR_BENCH_MINUTES sets the film's length (10 by default).
//
// Counters:
//   realtime_x   the film's duration over the wall time: 20 means twenty times real time;
//   cpu_s        the process's CPU time in seconds, encoder threads included, which other
//                programs on a shared machine disturb less than the wall time;
//   export/play  the wall time over the play baseline's (the least of its measurements in
//                this run, made once before the first export when Play was filtered out);
//   bytes, x_package  the video file's size, and that size over the film package's (MSZIP
//                cabinet) of the same frames;
//   encoded      pictures handed to the encoder: frames that change nothing are not.
// Each case runs once per repetition (--benchmark_repetitions=3 gives medians). Meaningful
// only in a Release build without sanitizers.
#include <benchmark/benchmark.h>

#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "export/FilmExport.h"
#include "film/FilmFile.h"
#include "film/SegmentDuration.h"
#include "filmwriter/TypicalFilm.h"
#include "playback/UzrPlayback.h"

namespace {

struct TBenchFilm {
  std::string Folder;
  TTypicalFilmStats Stats;
  TSegments Segments;
  size_t FilmBytes = 0;
  size_t PackageBytes = 0;         // the whole film
  size_t FirstMinutePackage = 0;   // its first segment alone

  TBenchFilm() {
    char pattern[] = "/tmp/zrbench-export-XXXXXX";
    if (!::mkdtemp(pattern)) throw std::runtime_error("cannot make a folder in /tmp");
    Folder = pattern;
    TTypicalFilmPlan plan;
    if (const char* minutes = std::getenv("ZR_BENCH_MINUTES")) plan.Minutes = std::atoi(minutes);
    const std::vector<TRawSegment> raw = MakeTypicalFilmSegments(plan, &Stats);
    auto bytes = std::make_shared<std::vector<uint8_t>>(WriteFilmRaw(raw));
    FilmBytes = bytes->size();
    PackageBytes = MakeFilmPackage(*bytes).size();
    FirstMinutePackage = MakeFilmPackage(WriteFilmRaw(std::span(raw).first(1))).size();
    TFilm film;
    TFilmError error;
    if (!ReadFilm(*bytes, bytes, film, error)) throw std::runtime_error("the film does not read: " + error.Message);
    Segments = std::move(film.Segments);
  }
  ~TBenchFilm() {
    std::error_code ignored;
    std::filesystem::remove_all(Folder, ignored);
  }
};

TBenchFilm& Film() {
  static TBenchFilm film;
  return film;
}

double ProcessSeconds() {
  timespec t{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

double FilmSeconds(int32_t segment) {
  const TSegments& all = Film().Segments;
  if (segment == 0) return double(FilmMillis(all)) / 1000;
  const Segment& s = *all[size_t(segment - 1)];
  return double(SegmentMillis(s.FrameCount, s.FrameRate)) / 1000;
}

class TPlayHost : public IPlaybackHost {
 public:
  TPlaybackCore* Core = nullptr;
  bool Stopped = false;
  int64_t Composed = 0;
  void ExecuteStop() override {
    Stopped = true;
    if (Core) Core->Stop();
  }
  void ShowResult(const char*, TResult code) override {
    throw std::runtime_error(std::string("playback failed: ") + ResultText(code));
  }
  void SegmentActivated(const Segment&, int) override {}
  void SetProgress(int64_t) override {}
  void FrameComposed() override { ++Composed; }
};

// Plays the film (or one segment from 1) through a core of its own; returns the frames composed.
int64_t Play(int32_t segment) {
  TSegments copies = ShareSegments(Film().Segments);
  if (segment) {
    TSegments one;
    one.push_back(std::move(copies[size_t(segment - 1)]));
    copies = std::move(one);
  }
  TPlayHost host;
  TPlaybackCore core(host);
  host.Core = &core;
  core.TakeFilm(std::move(copies));
  if (core.AllocFrameBuffer(TPlaybackCore::kFrameBufferSize) != kResultOk)
    throw std::runtime_error("no memory for the frame buffer");
  if (core.SetCurSegment() != kResultOk) throw std::runtime_error("the film does not start");
  while (!host.Stopped) core.TimerPlayTimer();
  return host.Composed;
}

// The play baseline's wall times in this run, by segment (0: the whole film): the least one.
std::map<int32_t, double> gPlaySeconds;

void NotePlay(int32_t segment, double seconds) {
  auto [it, added] = gPlaySeconds.try_emplace(segment, seconds);
  if (!added) it->second = std::min(it->second, seconds);
}

void BM_Play(benchmark::State& state) {
  const auto segment = int32_t(state.range(0));
  Film();
  int64_t frames = 0;
  double wall = 0, cpu = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    const double cpuStart = ProcessSeconds();
    frames = Play(segment);
    cpu = ProcessSeconds() - cpuStart;
    wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    NotePlay(segment, wall);
  }
  state.counters["realtime_x"] = FilmSeconds(segment) / wall;
  state.counters["cpu_s"] = cpu;
  state.counters["frames"] = double(frames);
  if (segment == 0) {
    const TTypicalFilmStats& s = Film().Stats;
    state.counters["still_frames"] = double(s.StillFrames);
    state.counters["quiet_frames"] = double(s.QuietFrames);
  }
}

struct TCase {
  TExportFormat Format;
  bool Lossless;
  int32_t Segment;  // 0: the whole film
  TGifPalette GifPalette = TGifPalette::Film;
};

void BM_Export(benchmark::State& state, TCase c) {
  TBenchFilm& film = Film();
  if (!gPlaySeconds.count(c.Segment)) {
    const auto start = std::chrono::steady_clock::now();
    Play(c.Segment);
    NotePlay(c.Segment, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  TExportOptions options;
  options.Format = c.Format;
  options.Lossless = c.Lossless;
  options.Segment = c.Segment;
  options.GifPalette = c.GifPalette;
  const std::string out = film.Folder + "/out" + ExportExtension(c.Format);
  TExportResult result;
  double wall = 0, cpu = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    const double cpuStart = ProcessSeconds();
    result = ExportFilm(film.Segments, out, options, true);
    cpu = ProcessSeconds() - cpuStart;
    wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!result) {
      state.SkipWithError(("export failed: " + result.Details).c_str());
      return;
    }
  }
  const double package = double(c.Segment ? film.FirstMinutePackage : film.PackageBytes);
  state.counters["realtime_x"] = FilmSeconds(c.Segment) / wall;
  state.counters["cpu_s"] = cpu;
  state.counters["export/play"] = wall / gPlaySeconds[c.Segment];
  state.counters["bytes"] = double(result.Bytes);
  state.counters["x_package"] = double(result.Bytes) / package;
  state.counters["encoded"] = double(result.Encoded);
}

void Bounded(benchmark::internal::Benchmark* b) {
  b->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime()->MeasureProcessCPUTime();
}

}  // namespace

BENCHMARK(BM_Play)->ArgName("segment")->Arg(0)->Arg(1)->Apply(Bounded);
BENCHMARK_CAPTURE(BM_Export, mp4, TCase{TExportFormat::Mp4, false, 0})->Apply(Bounded);
BENCHMARK_CAPTURE(BM_Export, webm, TCase{TExportFormat::WebM, false, 0})->Apply(Bounded);
BENCHMARK_CAPTURE(BM_Export, mkv_lossless, TCase{TExportFormat::Mkv, true, 0})->Apply(Bounded);
BENCHMARK_CAPTURE(BM_Export, gif_minute1, TCase{TExportFormat::Gif, false, 1})->Apply(Bounded);
BENCHMARK_CAPTURE(BM_Export, gif_minute1_pictures, TCase{TExportFormat::Gif, false, 1, TGifPalette::Picture})
    ->Apply(Bounded);
BENCHMARK_CAPTURE(BM_Export, mp4_minute1, TCase{TExportFormat::Mp4, false, 1})->Apply(Bounded);

BENCHMARK_MAIN();
