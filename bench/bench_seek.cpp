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
//
// After the pass (BM_FirstSeekAfterPass): one film of all three segments, which a second core
// plays from its start with the checkpoint budget shared by work, handing every segment's
// checkpoints to the player's core as it moves on, as the index pass does. Then every seek
// timed is a first one into its segment: the player stands in another segment, and the
// segment's checkpoints are the handed ones and no others. The seek activates the segment
// (its 64 MiB of frames loaded, the surfaces cleared) before it restores a checkpoint.
// seek/memcpy is the median, worst/memcpy the slowest; handed_MiB is what the segment was
// handed, all_MiB what the whole film was (within the 64 MiB budget), spacing_MiB the
// segment's spacing in work; pass_s the pass's time.
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

// Made once each and kept: 64 MiB each.
const TSeekFilm& Film(TSeekContent content) {
  static std::unique_ptr<TSeekFilm> films[3];
  std::unique_ptr<TSeekFilm>& film = films[int(content)];
  if (!film) film = std::make_unique<TSeekFilm>(MakeFilm(content));
  return *film;
}

std::unique_ptr<Segment> MakeSegment(const TSeekFilm& film) {
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
  return segment;
}

struct TSeekPlayer {
  TBenchHost Host;
  TPlaybackCore Core{Host};

  explicit TSeekPlayer(const TSeekFilm& film) : TSeekPlayer(std::vector{&film}) {}
  explicit TSeekPlayer(const std::vector<const TSeekFilm*>& films) {
    Host.Core = &Core;
    for (const TSeekFilm* film : films) TPlaybackProbe::AddSegment(Core, MakeSegment(*film));
    Alloc();
  }
  // A core for the same segments: copies that share their bytes.
  explicit TSeekPlayer(const TPlaybackCore& other) {
    Host.Core = &Core;
    Core.TakeFilm(ShareSegments(other.Segments()));
    Alloc();
  }
  void Alloc() {
    if (Core.AllocFrameBuffer(TPlaybackCore::kFrameBufferSize) != kResultOk)
      throw std::runtime_error("no frame buffer");
  }

  double Seek(int32_t frame) { return Seek({0, frame}); }
  double Seek(TFramePos pos) {
    const double t0 = ThreadSeconds();
    const TResult r = Core.SeekFrame(pos);
    const double t = ThreadSeconds() - t0;
    if (r != kResultOk || Core.ComposedFrame() != pos) throw std::runtime_error("the seek failed");
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

// The film of the three segments and the player's core, once the pass has played it and
// handed every segment's checkpoints over.
struct TPassedFilm {
  std::unique_ptr<TSeekPlayer> Player;
  std::vector<double> HandedBytes;  // by segment
  std::vector<std::vector<int32_t>> HandedFrames;
  double AllBytes = 0;
  double PassSeconds = 0;

  TPassedFilm() {
    Player = std::make_unique<TSeekPlayer>(std::vector{&Film(TSeekContent::Calm), &Film(TSeekContent::Drag),
                                                       &Film(TSeekContent::Noise)});
    TPlaybackCore& player = Player->Core;
    TSeekPlayer pass(player);
    TPlaybackCore& core = pass.Core;
    const double t0 = ThreadSeconds();
    core.SetFilmPalette(player.FilmPalette());
    core.ShareCheckpointBudget();
    const int32_t segments = int32_t(core.Segments().size());
    if (core.SetCurSegment() != kResultOk) throw std::runtime_error("the pass cannot start");
    for (int32_t playing = 0; playing < segments;) {
      core.TimerPlayTimer();
      // The film has ended when the first segment is current again.
      const int32_t now = core.CurSegment() < playing ? segments : core.CurSegment();
      for (; playing < now; ++playing) {
        THandedCheckpoints handed = core.TakeCheckpoints(playing);
        HandedBytes.push_back(double(handed.Bytes()));
        HandedFrames.push_back(handed.Frames());
        AllBytes += double(handed.Bytes());
        if (!handed.Empty() && !player.AdoptCheckpoints(std::move(handed)))
          throw std::runtime_error("the checkpoints were refused");
      }
    }
    PassSeconds = ThreadSeconds() - t0;
  }
};

TPassedFilm& PassedFilm() {
  static TPassedFilm film;
  return film;
}

// First seeks into the segment of `content` once the pass is done: to its last frame, its
// middle one, or a random one.
void BM_FirstSeekAfterPass(benchmark::State& state, TSeekContent content, TTarget target) {
  TPassedFilm& film = PassedFilm();
  TSeekPlayer& player = *film.Player;
  const int32_t segment = int32_t(content), other = segment == 0 ? 1 : 0;
  const int32_t frames = player.Core.Segments()[size_t(segment)]->FrameCount;
  TMemcpyBaseline baseline;
  baseline.Measure(4);
  TRandom random{0xFEED};
  std::vector<double> times;
  for (auto _ : state) {
    // Elsewhere, and this segment's checkpoints as the pass handed them.
    player.Seek({other, 0});
    THandedCheckpoints back = player.Core.TakeCheckpoints(segment);
    if (!film.HandedFrames[size_t(segment)].empty()) player.Core.AdoptCheckpoints(std::move(back));
    if (TPlaybackProbe::CheckpointFrames(player.Core, segment) != film.HandedFrames[size_t(segment)]) {
      state.SkipWithError("the segment has other checkpoints than those handed over");
      break;
    }
    const int32_t frame = target == TTarget::Last     ? frames - 1
                          : target == TTarget::Middle ? frames / 2
                                                      : int32_t(random.Next() % uint32_t(frames));
    const double t = player.Seek({segment, frame});
    state.SetIterationTime(t);
    times.push_back(t);
    baseline.Measure(2);
  }
  const double memcpyTime = baseline.Median();
  state.counters["frames"] = frames;
  state.counters["memcpy_us"] = memcpyTime * 1e6;
  state.counters["seek/memcpy"] = Median(times) / memcpyTime;
  state.counters["worst/memcpy"] = *std::max_element(times.begin(), times.end()) / memcpyTime;
  state.counters["handed_MiB"] = film.HandedBytes[size_t(segment)] / 1048576;
  state.counters["all_MiB"] = film.AllBytes / 1048576;
  state.counters["spacing_MiB"] = double(TPlaybackProbe::CheckpointSpacing(player.Core, segment)) / 1048576;
  state.counters["pass_s"] = film.PassSeconds;
}

#define FIRST_SEEK_BENCHMARKS(name, content)                                                              \
  BENCHMARK_CAPTURE(BM_FirstSeekAfterPass, name/last, content, TTarget::Last)->UseManualTime();   \
  BENCHMARK_CAPTURE(BM_FirstSeekAfterPass, name/middle, content, TTarget::Middle)->UseManualTime(); \
  BENCHMARK_CAPTURE(BM_FirstSeekAfterPass, name/random, content, TTarget::Random)->UseManualTime()

FIRST_SEEK_BENCHMARKS(first_after_pass/calm, TSeekContent::Calm);
FIRST_SEEK_BENCHMARKS(first_after_pass/drag, TSeekContent::Drag);
FIRST_SEEK_BENCHMARKS(first_after_pass/noise, TSeekContent::Noise);

}  // namespace
