// Seeking in the largest segment a film can hold: 1920 × 1080, 32 bits, as close to the 64 MiB
// of the frame buffer as whole frames come, for three contents:
//   calm   - the realistic desktop of ScreenScene.h with text typed into an editor, a caret
//            and a clock, a few hundred changed pixels a frame (over a hundred thousand
//            frames);
//   drag   - the same desktop with a dialog full of text dragged across it every frame;
//   noise  - every pixel changes every frame, one run a pixel: the worst the format allows
//            (six frames).
// The first frame is the whole desktop (or noise); after it the scene's deltas are played
// forwards and backwards in turn, so the pictures stay pictures of the scene. A mask cursor
// follows the scene's mouse.
//
// Every seek is timed in thread CPU time and given as a multiple of one memcpy of the 32-bit
// frame, measured in the same run before and between the iterations; counters are medians
// over the iterations. The first seek of each benchmark (to the last frame, from the segment's start,
// when nothing has been sought yet) is given apart as first/memcpy; checkpoint_MiB is the
// memory the checkpoints take at the end.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <vector>

#include "ScreenScene.h"
#include "support/PlaybackProbe.h"

namespace {

enum class TSeekContent { Calm, Drag, Noise };

// The segment's frame records and cursor track.
struct TSeekFilm {
  int32_t Frames = 0;
  std::vector<uint8_t> FrameData;
  std::vector<uint8_t> Track;
};

// Frame records: `first` (a whole picture), then `cycle` forwards and backwards in turn, as
// long as a whole record still fits the frame buffer. `mouse[i]` is the cursor's position
// with record i of the cycle.
TSeekFilm FillSegment(const std::vector<uint8_t>& first, const std::vector<std::vector<uint8_t>>& cycle,
                      const std::vector<std::pair<int, int>>& mouse) {
  TSeekFilm film;
  TByteWriter track;
  const auto add = [&](const std::vector<uint8_t>& record, std::pair<int, int> at) {
    if (film.FrameData.size() + record.size() > TPlaybackCore::kFrameBufferSize) return false;
    film.FrameData.insert(film.FrameData.end(), record.begin(), record.end());
    track.U16(0).U16(uint16_t(at.first)).U16(uint16_t(at.second));
    ++film.Frames;
    return true;
  };
  add(first, mouse.front());
  for (bool forwards = true;; forwards = !forwards) {
    for (size_t k = 0; k < cycle.size(); ++k) {
      const size_t i = forwards ? k : cycle.size() - 1 - k;
      if (!add(cycle[i], mouse[i])) {
        film.Track = track.Take();
        return film;
      }
    }
  }
}

std::vector<uint8_t> Record(const TCanvas& before, const TCanvas& after) {
  return EncodeFrameRecord(DeltaRuns(before.Pixels, after.Pixels, 32), 32);
}

TSeekFilm MakeFilm(TSeekContent content) {
  TCanvas zero, previous, current;
  std::fill(zero.Pixels.begin(), zero.Pixels.end(), 0u);
  std::vector<std::vector<uint8_t>> cycle;
  std::vector<std::pair<int, int>> mouse;
  if (content == TSeekContent::Noise) {
    const TNoise noise;
    previous = zero;
    std::vector<uint8_t> first;
    for (int f = 0; f < 8; ++f) {
      noise.Draw(f, current);
      (f ? cycle.emplace_back() : first) = Record(previous, current);
      mouse.push_back(TScene::Mouse(f));
      std::swap(previous, current);
    }
    return FillSegment(first, cycle, mouse);
  }
  // Typing in frames 1–40 of the scene; the dialog dragged in frames 41–81.
  const TScene scene;
  const int from = content == TSeekContent::Calm ? 0 : 41;
  const int to = content == TSeekContent::Calm ? 40 : 81;
  scene.Draw(from, previous);
  const std::vector<uint8_t> first = Record(zero, previous);
  mouse.push_back(TScene::Mouse(from));
  for (int f = from + 1; f <= to; ++f) {
    scene.Draw(f, current);
    cycle.push_back(Record(previous, current));
    if (f > from + 1) mouse.push_back(TScene::Mouse(f));
    std::swap(previous, current);
  }
  mouse.push_back(TScene::Mouse(to));
  return FillSegment(first, cycle, mouse);
}

// One film at a time: 64 MiB each.
const TSeekFilm& Film(TSeekContent content) {
  static TSeekContent cached;
  static std::unique_ptr<TSeekFilm> film;
  if (!film || cached != content) {
    film.reset();
    film = std::make_unique<TSeekFilm>(MakeFilm(content));
    cached = content;
  }
  return *film;
}

struct TSeekPlayer {
  TBenchHost Host;
  TPlaybackCore Core{Host};

  explicit TSeekPlayer(const TSeekFilm& film) {
    Host.Core = &Core;
    auto segment = std::make_unique<Segment>();
    segment->Width = kWidth;
    segment->Height = kHeight;
    segment->BitsPerPixel = 32;
    segment->FrameCount = film.Frames;
    segment->FrameRate = 10;
    segment->FrameDataSize = int32_t(film.FrameData.size());
    segment->Name = "seek";
    segment->SegStream.Assign(film.FrameData);
    segment->CursorDataSize = int32_t(film.Track.size());
    segment->CursStream.Assign(film.Track);
    segment->CursorList->Add(ArrowCursor());
    TPlaybackProbe::AddSegment(Core, std::move(segment));
    if (Core.AllocFrameBuffer(TPlaybackCore::kFrameBufferSize) != kResultOk)
      throw std::runtime_error("no frame buffer");
  }

  double Seek(int32_t frame) {
    const double t0 = ThreadSeconds();
    const TResult r = Core.SeekFrame({0, frame});
    const double t = ThreadSeconds() - t0;
    if (r != kResultOk || Core.ComposedFrame() != TFramePos{0, frame})
      throw std::runtime_error("the seek failed");
    benchmark::DoNotOptimize(Core.Picture()->Bits());
    return t;
  }
};

enum class TTarget { Last, Middle, Random, StepBack, StepForward };

// Seeks to `target`: the last or the middle frame from the first one, random frames one after
// another, or one frame back or forwards at a time around the middle.
void BM_Seek(benchmark::State& state, TSeekContent content, TTarget target) {
  const TSeekFilm& film = Film(content);
  TSeekPlayer player(film);
  TMemcpyBaseline baseline;
  baseline.Measure(8);
  const int32_t last = film.Frames - 1, middle = film.Frames / 2;
  const double first = player.Seek(last);
  TRandom random{0xC0FFEE};
  int32_t step = middle;
  if (target == TTarget::StepBack || target == TTarget::StepForward) player.Seek(middle);
  std::vector<double> times;
  for (auto _ : state) {
    double t = 0;
    switch (target) {
      case TTarget::Last:
        player.Seek(0);
        t = player.Seek(last);
        break;
      case TTarget::Middle:
        player.Seek(0);
        t = player.Seek(middle);
        break;
      case TTarget::Random:
        t = player.Seek(int32_t(random.Next() % uint32_t(film.Frames)));
        break;
      case TTarget::StepBack:
        if (step == 0) step = middle, player.Seek(step);
        t = player.Seek(--step);
        break;
      case TTarget::StepForward:
        if (step == last) step = middle, player.Seek(step);
        t = player.Seek(++step);
        break;
    }
    state.SetIterationTime(t);
    times.push_back(t);
    // Now and then, so that the baseline does not outweigh short seeks.
    if (times.size() % 32 == 0) baseline.Measure(2);
  }
  const double memcpyTime = baseline.Median();
  state.counters["frames"] = film.Frames;
  state.counters["film_MiB"] = double(film.FrameData.size()) / 1048576;
  state.counters["memcpy_us"] = memcpyTime * 1e6;
  state.counters["seek/memcpy"] = Median(times) / memcpyTime;
  state.counters["worst/memcpy"] = *std::max_element(times.begin(), times.end()) / memcpyTime;
  state.counters["first/memcpy"] = first / memcpyTime;
  state.counters["checkpoint_MiB"] = double(TPlaybackProbe::CheckpointBytes(player.Core)) / 1048576;
}

#define SEEK_BENCHMARKS(name, content)                                                          \
  BENCHMARK_CAPTURE(BM_Seek, name/last, content, TTarget::Last)->UseManualTime();               \
  BENCHMARK_CAPTURE(BM_Seek, name/middle, content, TTarget::Middle)->UseManualTime();           \
  BENCHMARK_CAPTURE(BM_Seek, name/random, content, TTarget::Random)->UseManualTime();           \
  BENCHMARK_CAPTURE(BM_Seek, name/step_back, content, TTarget::StepBack)->UseManualTime();      \
  BENCHMARK_CAPTURE(BM_Seek, name/step_forward, content, TTarget::StepForward)->UseManualTime()

SEEK_BENCHMARKS(calm, TSeekContent::Calm);
SEEK_BENCHMARKS(drag, TSeekContent::Drag);
SEEK_BENCHMARKS(noise, TSeekContent::Noise);

}  // namespace
