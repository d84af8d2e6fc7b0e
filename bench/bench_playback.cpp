// Playback throughput: one frame's decode and composition at 1920 × 1080 in each video
// mode, for ordinary screen activity and for the worst case the format allows, next to a
// plain copy of one 32-bit frame; and the cost of activating a segment.
//
// Typical frames change about 2 % of the pixels in a few rectangles (a window redraw, some
// lines of text, a caret), so their runs are mostly long runs of zeros. Worst-case frames
// change every pixel, and every run has length one. Every frame of a segment is such a
// delta, the first one included (the picture before it is zero), so all frames of the
// cycle cost the same.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "bench_support.h"
#include "support/PlaybackProbe.h"

namespace {

constexpr int32_t kWidth = 1920;
constexpr int32_t kHeight = 1080;
constexpr size_t kPixels = size_t(kWidth) * kHeight;
constexpr size_t kFrameBytes32 = kPixels * 4;

// The worst case also comes 1918 pixels wide, so that the rows of 8- and 24-bit frames end
// in 2 bytes of padding.
enum class TActivity { Typical, Worst, WorstPadded };

int32_t Width(TActivity activity) { return activity == TActivity::WorstPadded ? 1918 : kWidth; }

uint32_t ValueMask(int bits) { return bits == 8 ? 0xFFu : 0xFFFFFFu; }

// A non-zero delta value.
uint32_t NonZero(uint32_t v, int bits) {
  v &= ValueMask(bits);
  return v ? v : 1;
}

void FillRect(std::vector<uint32_t>& delta, int32_t left, int32_t top, int32_t width,
              int32_t height, uint32_t value) {
  for (int32_t y = top; y < top + height; ++y)
    std::fill_n(delta.begin() + ptrdiff_t(y) * kWidth + left, width, value);
}

// The exclusive-or delta of one frame of ordinary activity: a window redrawn somewhere (title
// bar, body, one-pixel borders), five lines of text typed into another place, and a caret.
std::vector<uint32_t> TypicalDelta(int frame, int bits) {
  std::vector<uint32_t> delta(kPixels, 0);
  TRandom random{0x9E3779B97F4A7C15ull + uint64_t(frame) * 7919};

  const int32_t winLeft = 120 + (frame * 173) % 1400, winTop = 80 + (frame * 97) % 900;
  const uint32_t title = NonZero(random.Next(), bits), body = NonZero(random.Next(), bits),
                 border = NonZero(random.Next(), bits);
  FillRect(delta, winLeft, winTop, 320, 20, title);
  FillRect(delta, winLeft, winTop + 20, 320, 70, body);
  FillRect(delta, winLeft, winTop + 20, 1, 70, border);
  FillRect(delta, winLeft + 319, winTop + 20, 1, 70, border);

  // Text: glyph pixels, about one in three, in short strokes of one to three pixels.
  const int32_t textLeft = 700 - (frame * 61) % 500, textTop = 400 + (frame * 37) % 500;
  const uint32_t ink = NonZero(random.Next(), bits);
  for (int32_t line = 0; line < 5; ++line)
    for (int32_t y = 0; y < 12; ++y) {
      uint32_t* row = delta.data() + ptrdiff_t(textTop + line * 16 + y) * kWidth + textLeft;
      for (int32_t x = 0; x < 480;) {
        const uint32_t r = random.Next();
        const int32_t stroke = 1 + int32_t(r % 3);
        const bool on = (r >> 8) % 3 == 0;
        for (int32_t i = 0; i < stroke && x < 480; ++i, ++x) row[x] = on ? ink : 0;
      }
    }

  FillRect(delta, textLeft + 481, textTop + 64, 2, 16, NonZero(random.Next(), bits));
  return delta;
}

// Every pixel changes and no two neighbours carry the same delta: one run per pixel.
std::vector<TWriterRun> WorstRuns(int frame, int bits, size_t pixels) {
  std::vector<TWriterRun> runs(pixels);
  TRandom random{0xD1B54A32D192ED03ull + uint64_t(frame) * 104729};
  uint32_t previous = 0;
  for (auto& run : runs) {
    uint32_t v = NonZero(random.Next(), bits);
    if (v == previous) v = NonZero(v ^ 2, bits);
    run = {v, 1};
    previous = v;
  }
  return runs;
}

// The bytes of one segment of the benchmark, built once per mode and activity.
struct TSegmentData {
  int Bits = 0;
  int32_t FrameCount = 0;
  std::vector<uint8_t> FrameData;
  std::vector<uint8_t> PaletteData;
  size_t ChangedPixels = 0;  // over all frames
  size_t Runs = 0;           // over all frames
};

const TSegmentData& SegmentData(int bits, TActivity activity) {
  static std::map<std::pair<int, TActivity>, TSegmentData> cache;
  auto [it, added] = cache.try_emplace({bits, activity});
  TSegmentData& data = it->second;
  if (!added) return data;

  data.Bits = bits;
  // The worst case at 24 and 32 bits is about 10 MB a frame; four of them fit the buffer.
  data.FrameCount = activity == TActivity::Typical ? 16 : bits == 8 ? 8 : 4;
  const std::vector<uint32_t> zero(kPixels, 0);
  for (int f = 0; f < data.FrameCount; ++f) {
    std::vector<TWriterRun> runs;
    if (activity == TActivity::Typical) {
      const auto delta = TypicalDelta(f, bits);
      data.ChangedPixels += size_t(std::count_if(delta.begin(), delta.end(),
                                                 [](uint32_t v) { return v != 0; }));
      runs = DeltaRuns(zero, delta, bits);
    } else {
      const size_t pixels = size_t(Width(activity)) * kHeight;
      runs = WorstRuns(f, bits, pixels);
      data.ChangedPixels += pixels;
    }
    data.Runs += runs.size();
    const auto record = EncodeFrameRecord(runs, bits);
    data.FrameData.insert(data.FrameData.end(), record.begin(), record.end());

    if (bits == 8) {
      // Most frames leave the palette alone; every fourth changes sixteen entries.
      TWriterPaletteChange change;
      if (f % 4 == 0) {
        change.FirstIndex = uint8_t(16 * (f / 4 % 16));
        for (int i = 0; i < 16; ++i)
          change.Entries.push_back({uint8_t(i * 16), uint8_t(f * 8), uint8_t(255 - i), 0});
      }
      const auto record = EncodePaletteRecord(change);
      data.PaletteData.insert(data.PaletteData.end(), record.begin(), record.end());
    }
  }
  if (data.FrameData.size() > TPlaybackCore::kFrameBufferSize)
    throw std::runtime_error("the benchmark segment does not fit the frame buffer");
  return data;
}

std::unique_ptr<Segment> MakeSegment(int bits, int32_t width, int32_t height, int32_t frameCount,
                                     std::span<const uint8_t> frameData,
                                     std::span<const uint8_t> cursorData,
                                     std::span<const uint8_t> paletteData) {
  auto segment = std::make_unique<Segment>();
  segment->Width = width;
  segment->Height = height;
  segment->BitsPerPixel = uint8_t(bits);
  segment->FrameCount = frameCount;
  segment->FrameRate = 25;
  segment->FrameDataSize = int32_t(frameData.size());
  segment->CursorDataSize = int32_t(cursorData.size());
  segment->Name = "bench";
  segment->SegStream.Assign(frameData);
  segment->CursStream.Assign(cursorData);
  if (bits == 8) {
    segment->PaletteStream = std::make_unique<TMemoryStream>();
    segment->PaletteStream->Assign(paletteData);
  }
  segment->CursorList->Add(ArrowCursor());
  return segment;
}

// A core with its frame buffer and one segment made current and activated.
struct TPlayer {
  TBenchHost Host;
  TPlaybackCore Core{Host};

  explicit TPlayer(std::unique_ptr<Segment> segment) {
    Host.Core = &Core;
    TPlaybackProbe::AddSegment(Core, std::move(segment));
    if (Core.AllocFrameBuffer(TPlaybackCore::kFrameBufferSize) != kResultOk)
      throw std::runtime_error("no frame buffer");
    Core.SelectSegment(0);
    if (Core.SetCurSegment() != kResultOk) throw std::runtime_error("activation failed");
  }
};

// The cursor track: the cursor wanders across the screen, one record per frame. Without a
// cursor every record names slot 1, which is empty.
std::vector<uint8_t> CursorTrack(int32_t frameCount, bool cursor) {
  TByteWriter track;
  for (int32_t f = 0; f < frameCount; ++f)
    track.U16(cursor ? 0 : 1).U16(uint16_t(200 + f * 83)).U16(uint16_t(150 + f * 41));
  return track.Take();
}

void BM_DecodeCompose(benchmark::State& state, int bits, TActivity activity, bool cursor,
                      bool straight = true) {
  const TSegmentData& data = SegmentData(bits, activity);
  const int32_t width = Width(activity);
  TPlayer player(MakeSegment(bits, width, kHeight, data.FrameCount, data.FrameData,
                             CursorTrack(data.FrameCount, cursor), data.PaletteData));
  TPlaybackCore& core = player.Core;
  TPlaybackProbe::SetStraightComposition(core, straight);
  Segment& segment = *core.Segments()[0];

  // Each frame is also timed by itself, and a memcpy of the frame after each cycle, so that
  // "frame/memcpy" compares times taken in turns.
  TMemcpyBaseline baseline;
  std::vector<double> times;
  int64_t frames = 0;
  for (auto _ : state) {
    const double t0 = ThreadSeconds();
    TPlaybackProbe::DecodeFrame(core);
    TPlaybackProbe::ComposeFrame(core);
    times.push_back(ThreadSeconds() - t0);
    if (TPlaybackProbe::NextFrame(core) != kResultOk) {
      state.PauseTiming();
      baseline.Measure(1);
      state.ResumeTiming();
      // The cycle starts again from the first frame, with its first cursor and palette
      // records; the picture simply goes on accumulating deltas.
      TPlaybackProbe::Rewind(core);
      segment.CursStream.SetPosition(0);
      if (segment.PaletteStream) segment.PaletteStream->SetPosition(0);
    }
    ++frames;
  }
  benchmark::DoNotOptimize(core.Picture()->Bits());
  if (core.LastResult() != kResultOk || !core.HasCurrentSegment())
    state.SkipWithError("playback stopped during the benchmark");

  state.counters["fps"] = benchmark::Counter(double(frames), benchmark::Counter::kIsRate);
  if (!baseline.Times.empty()) state.counters["frame/memcpy"] = Median(times) / baseline.Median();
  state.counters["changed%"] = 100.0 * double(data.ChangedPixels) /
                               double(size_t(width) * kHeight * size_t(data.FrameCount));
  state.counters["runs/frame"] = double(data.Runs) / data.FrameCount;
  // Bytes processed: the frame data read.
  state.SetBytesProcessed(int64_t(double(frames) * double(data.FrameData.size()) /
                                  data.FrameCount));
}

BENCHMARK_CAPTURE(BM_DecodeCompose, 8/typical, 8, TActivity::Typical, true)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_DecodeCompose, 24/typical, 24, TActivity::Typical, true)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_DecodeCompose, 32/typical, 32, TActivity::Typical, true)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_DecodeCompose, 8/worst, 8, TActivity::Worst, true)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_DecodeCompose, 24/worst, 24, TActivity::Worst, true)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_DecodeCompose, 32/worst, 32, TActivity::Worst, true)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_DecodeCompose, 8/worst/padded, 8, TActivity::WorstPadded, true)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_DecodeCompose, 24/worst/padded, 24, TActivity::WorstPadded, true)
    ->Unit(benchmark::kMicrosecond);
// The same typical frames without a cursor in the picture: what the overlay costs.
BENCHMARK_CAPTURE(BM_DecodeCompose, 8/typical/nocursor, 8, TActivity::Typical, false)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_DecodeCompose, 24/typical/nocursor, 24, TActivity::Typical, false)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_DecodeCompose, 32/typical/nocursor, 32, TActivity::Typical, false)
    ->Unit(benchmark::kMicrosecond);
// Every frame expanded into the frame image and the whole image combined with the picture,
// for comparison with the straight path.
BENCHMARK_CAPTURE(BM_DecodeCompose, 8/typical/frameimage, 8, TActivity::Typical, true, false)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_DecodeCompose, 24/typical/frameimage, 24, TActivity::Typical, true, false)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_DecodeCompose, 32/typical/frameimage, 32, TActivity::Typical, true, false)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_DecodeCompose, 8/worst/frameimage, 8, TActivity::Worst, true, false)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_DecodeCompose, 24/worst/frameimage, 24, TActivity::Worst, true, false)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_DecodeCompose, 32/worst/frameimage, 32, TActivity::Worst, true, false)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_DecodeCompose, 24/worst/padded/frameimage, 24, TActivity::WorstPadded, true,
                  false)
    ->Unit(benchmark::kMicrosecond);

// The first frame of the worst case combined with a picture again and again on each of the
// decoder's paths (plain, SSE2, AVX2), without the rest of playback, so that the paths can be
// compared on any machine; a memcpy of the frame is timed every fourth frame.
void BM_RunPath(benchmark::State& state, int bits, TActivity activity, TRunPath path) {
  const TSegmentData& data = SegmentData(bits, activity);
  const int32_t width = Width(activity);
  const auto picture = TRasterBitmap::Create(width, kHeight, bits == 8 ? 8 : 32);
  const TFrameFormat format{bits, width, kHeight};
  const TFrameRuns runs = LocateRuns(data.FrameData, 0, bits);
  TMemcpyBaseline baseline;
  std::vector<double> times;
  for (auto _ : state) {
    const double t0 = ThreadSeconds();
    benchmark::DoNotOptimize(XorRunsIntoPicture(data.FrameData, runs, format, *picture, path));
    times.push_back(ThreadSeconds() - t0);
    if (times.size() % 4 == 0) {
      state.PauseTiming();
      baseline.Measure(1);
      state.ResumeTiming();
    }
  }
  if (!baseline.Times.empty()) state.counters["frame/memcpy"] = Median(times) / baseline.Median();
}

const bool kRunPathsRegistered = [] {
  const std::pair<const char*, TRunPath> paths[] = {
      {"plain", TRunPath::Plain}, {"sse2", TRunPath::Sse2}, {"avx2", TRunPath::Avx2}};
  for (const auto& [pathName, path] : paths)
    for (const auto& [activityName, activity] :
         {std::pair{"worst", TActivity::Worst}, std::pair{"worst/padded", TActivity::WorstPadded}})
      for (int bits : {8, 24, 32}) {
        if (bits == 32 && activity == TActivity::WorstPadded) continue;  // never padded
        const std::string name =
            "BM_RunPath/" + std::to_string(bits) + "/" + activityName + "/" + pathName;
        benchmark::RegisterBenchmark(name.c_str(), BM_RunPath, bits, activity, path)
            ->Unit(benchmark::kMicrosecond);
      }
  return true;
}();

// The baseline: one 1920 × 1080 32-bit frame copied with memcpy.
void BM_MemcpyFrame(benchmark::State& state) {
  std::vector<uint8_t> source(kFrameBytes32), target(kFrameBytes32);
  for (size_t i = 0; i < source.size(); ++i) source[i] = uint8_t(i * 131);
  int64_t frames = 0;
  for (auto _ : state) {
    std::memcpy(target.data(), source.data(), kFrameBytes32);
    benchmark::DoNotOptimize(target.data());
    benchmark::ClobberMemory();
    ++frames;
  }
  state.counters["fps"] = benchmark::Counter(double(frames), benchmark::Counter::kIsRate);
  state.SetBytesProcessed(frames * int64_t(kFrameBytes32));
}
BENCHMARK(BM_MemcpyFrame)->Unit(benchmark::kMicrosecond);

// Activation of a 32-bit segment, again and again: surfaces kept (same mode and size),
// pictures cleared, the frame buffer zero-filled and the frame data copied in.
void BM_Activation(benchmark::State& state, size_t frameDataSize, int32_t width, int32_t height) {
  // One frame without runs whose record is padded out to the requested size.
  const auto frameData = EncodeFrameRecord({}, 32, frameDataSize > 8 ? frameDataSize - 8 : 0);
  const std::vector<uint8_t> track = {0, 0, 10, 0, 10, 0};
  TPlayer player(MakeSegment(32, width, height, 1, frameData, track, {}));

  for (auto _ : state) {
    if (player.Core.SetCurSegment() != kResultOk) {
      state.SkipWithError("activation failed");
      break;
    }
    benchmark::ClobberMemory();
  }
  state.counters["frame data"] = double(frameData.size());
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(frameData.size()));
}
BENCHMARK_CAPTURE(BM_Activation, 8MiB, size_t(8) << 20, kWidth, kHeight)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Activation, tiny, size_t(0), kWidth, kHeight)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Activation, tiny/64x48, size_t(0), 64, 48)->Unit(benchmark::kMicrosecond);

// The same pair, alternating: each activation follows one of another segment, as when a
// film moves on from a long segment to a short one and back.
void BM_ActivationAlternating(benchmark::State& state) {
  const auto big = EncodeFrameRecord({}, 32, (size_t(8) << 20) - 8);
  const std::vector<uint8_t> tiny = EncodeFrameRecord({}, 32);
  const std::vector<uint8_t> track = {0, 0, 10, 0, 10, 0};
  TPlayer player(MakeSegment(32, kWidth, kHeight, 1, big, track, {}));
  TPlaybackProbe::AddSegment(player.Core, MakeSegment(32, kWidth, kHeight, 1, tiny, track, {}));

  int32_t next = 1;
  for (auto _ : state) {
    player.Core.SelectSegment(next);
    if (player.Core.SetCurSegment() != kResultOk) {
      state.SkipWithError("activation failed");
      break;
    }
    next ^= 1;
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_ActivationAlternating)->Unit(benchmark::kMicrosecond);

}  // namespace
