#include "index/IndexPass.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <optional>
#include <new>
#include <span>

#include "film/SegmentDuration.h"
#include "io/ByteReader.h"
#include "playback/HeadlessHost.h"
#include "playback/PlaybackError.h"
#include "playback/UzrPlayback.h"

namespace {

// Frames in a row without a record of their own (a length of 0, or past the frame data) that
// a segment may have before the pass takes it for damaged and ends: each frame of a film has
// its record, and a hostile one may declare billions of frames over a few records.
constexpr int64_t kMaxFramesPastData = 256;

// One bit a pixel of a segment's frame, in pixel order.
class TPixelBits {
 public:
  void Reset(int64_t pixels) { FWords.assign(size_t((pixels + 63) / 64), 0); }
  // Sets the n bits from `first`; returns how many were not set before.
  int64_t Set(int64_t first, int64_t n) {
    int64_t added = 0;
    ForWords(first, n, [&](uint64_t& w, uint64_t mask) {
      added += std::popcount(mask & ~w);
      w |= mask;
    });
    return added;
  }
  void Clear(int64_t first, int64_t n) {
    ForWords(first, n, [](uint64_t& w, uint64_t mask) { w &= ~mask; });
  }
  // Sets the bits that `other` has set from `first` to its end; returns how many were new.
  int64_t Add(const TPixelBits& other, int64_t first, int64_t end) {
    int64_t added = 0;
    ForWords(first, end - first, [&](uint64_t& w, uint64_t mask) {
      const uint64_t bits = other.FWords[size_t(&w - FWords.data())] & mask & ~w;
      added += std::popcount(bits);
      w |= bits;
    });
    return added;
  }
  bool Test(int64_t pixel) const { return FWords[size_t(pixel >> 6)] >> (pixel & 63) & 1; }
  // Calls f(pixel) for every set bit from `first` to `end`.
  template <typename TFunc>
  void ForSet(int64_t first, int64_t end, TFunc&& f) {
    ForWords(first, end - first, [&](uint64_t& w, uint64_t mask) {
      const int64_t base = int64_t(&w - FWords.data()) * 64;
      for (uint64_t bits = w & mask; bits; bits &= bits - 1) f(base + std::countr_zero(bits));
    });
  }

 private:
  template <typename TFunc>
  void ForWords(int64_t first, int64_t n, TFunc&& f) {
    for (const int64_t end = first + n; first < end;) {
      const int bit = int(first & 63);
      const int64_t take = std::min<int64_t>(64 - bit, end - first);
      const uint64_t mask = (take == 64 ? ~uint64_t{0} : (uint64_t{1} << take) - 1) << bit;
      f(FWords[size_t(first >> 6)], mask);
      first += take;
    }
  }
  std::vector<uint64_t> FWords;
};

// Calls f(first, n, value) for each run of a frame (its value 0x00RRGGBB, or an index at 8
// bits), clipped to its `pixels`, as the decoder takes them; returns how many pixels the runs
// cover.
template <typename TFunc>
int64_t WalkFrameRuns(std::span<const uint8_t> runs, int bits, int64_t pixels, TFunc&& f) {
  const size_t size = bits == 8 ? 2 : 5;
  int64_t at = 0;
  for (size_t i = 0; i + size <= runs.size() && at < pixels; i += size) {
    const uint8_t* p = runs.data() + i;
    const uint32_t value = bits == 8 ? p[0] : uint32_t(p[0] | p[1] << 8 | p[2] << 16);
    const uint32_t count = bits == 8 ? p[1] : uint32_t(p[3] | p[4] << 8);
    if (count == 0) continue;
    const int64_t n = std::min<int64_t>(count, pixels - at);
    f(at, n, value);
    at += n;
  }
  return at;
}

std::span<const uint8_t> RunsOf(std::span<const uint8_t> data, const TFrameRuns& runs) {
  const size_t at = std::min(runs.At, data.size());
  return data.subspan(at, std::min(runs.Bytes, data.size() - at));
}

class TIndexPass {
 public:
  TIndexPass(const TPlaybackCore& core, const TSegments& segments, const TIndexOptions& options,
             TFilmIndex& index)
      : FCore(core), FSegments(segments), FOptions(options), FIndex(index) {
    int32_t previewHeight = 1;
    for (const auto& s : segments)
      if (s->Width > 0) previewHeight = std::max(previewHeight, PreviewHeight(s->Width, s->Height));
    const size_t each = size_t(options.PreviewWidth) * size_t(previewHeight) * 4;
    // Half the budget for the periodic previews, the rest for the chapters'.
    const int64_t periodic = std::max<int64_t>(1, int64_t(options.PreviewBudget / std::max<size_t>(each, 1) / 2));
    FPreviewEvery = std::max(options.PreviewEveryMs, (FilmMillis(segments) + periodic - 1) / periodic);
  }

  int32_t PreviewHeight(int32_t width, int32_t height) const {
    return std::max<int32_t>(1, int32_t((int64_t(height) * FOptions.PreviewWidth + width / 2) / width));
  }

  // A frame has been composed by `core`.
  void Composed() {
    const TPlaybackCore& core = FCore;
    const TFramePos pos = *core.ComposedFrame();
    const Segment& s = *FSegments[size_t(pos.Segment)];
    if (pos.Frame < s.FrameCount && FFrames >= FOptions.MaxFrames) {
      FTooMany = true;
      return;
    }
    while (FIndex.Segments.size() <= size_t(pos.Segment)) BeginSegment(int32_t(FIndex.Segments.size()));
    if (pos.Frame >= s.FrameCount || pos.Frame != int32_t(FActivity->Frames.size())) return;
    ++FFrames;
    const int64_t t = FSegmentStart + SegmentMillis(pos.Frame, s.FrameRate);
    // A burst with no change for the settling time has settled, whatever this frame does.
    if (FBurst && t - FBurstLastMs >= kSceneSettleMs) Settle();
    TFrameActivity a = FrameChanges(s);
    const bool palette = PaletteChanged(s);
    Cursor(s, pos.Frame, a);
    FActivity->Frames.push_back(a);
    if (FFramesPastData > kMaxFramesPastData) FDamaged = FSegment + 1;

    const bool still = a.Changed == 0 && a.Flags == 0 && !palette;
    if (still && !FStillFrom) FStillFrom = pos.Frame;
    if (!still) CloseIdle(t);
    if (pos.Frame == 0) AddChapter(pos.Frame, t, s.Name, false);
    if (a.Changed > 0 && int64_t{a.Changed} * 100 >= int64_t{kScenePercent} * FPixels) {
      Scene(pos.Frame, t);
      FBurstBits.Reset(FPixels);
      FBurstCovered = 0;
      FBurst = false;
    } else if (a.Changed > 0) {
      FBurst = true;
      FBurstLast = pos.Frame;
      FBurstLastMs = t;
      FBurstCovered += FFrameCovered;
    }
    if (t >= FNextPreviewMs) {
      AddPreview(pos, t, true);
      FNextPreviewMs = t + FPreviewEvery;
    }
    // The last frame's picture is still there for the segment's last chapter.
    if (pos.Frame == s.FrameCount - 1) EndSegment(true);
  }

  // The pass has ended: the segment played last is closed.
  void Finish() {
    if (FActivity) EndSegment(true);
  }

  int64_t Frames() const { return FFrames; }
  bool TooMany() const { return FTooMany; }
  // The segment (from 1) whose frames went on far past its frame data; 0 when none did.
  int32_t Damaged() const { return FDamaged; }

 private:
  void BeginSegment(int32_t index) {
    if (FActivity) EndSegment(false);
    const Segment& s = *FSegments[size_t(index)];
    FSegmentStart = FIndex.Segments.empty()
                        ? 0
                        : FSegmentStart + SegmentMillis(FSegments[size_t(index) - 1]->FrameCount,
                                                        FSegments[size_t(index) - 1]->FrameRate);
    TSegmentActivity& activity = FIndex.Segments.emplace_back();
    activity.Width = s.Width, activity.Height = s.Height, activity.StartMs = FSegmentStart;
    activity.Frames.reserve(size_t(std::clamp<int64_t>(s.FrameCount, 0, FOptions.MaxFrames - FFrames)));
    FActivity = &activity;
    FSegment = index;
    FPixels = int64_t(std::max(s.Width, 0)) * std::max(s.Height, 0);
    FOffset = 0;
    FFramesPastData = 0;
    FPalettePos = 0;
    FImageBits.Reset(FPixels);
    FImageHigh.Reset(s.BitsPerPixel == 24 ? FPixels : 0);
    FImageCurrent = true;
    FLastFull = -1;
    FBurstBits.Reset(FPixels);
    FBurstCovered = 0;
    FBurst = false;
    FStillFrom.reset();
    FParts = 1;
    FLastChapterMs = FSegmentStart;
    FEnded = false;
  }

  // The segment's end closes its idle stretch and settles its burst.
  // `shown`: the picture is still the segment's own, for the previews of its last chapter.
  void EndSegment(bool shown) {
    if (FEnded) return;
    FEnded = true;
    const Segment& s = *FSegments[size_t(FSegment)];
    CloseIdle(FSegmentStart + SegmentMillis(s.FrameCount, s.FrameRate));
    FPictureShown = shown;
    if (FBurst) Settle();
    FPictureShown = true;
    FBurst = false;
  }

  // The changed pixels of the segment's next frame record, and where they lie.
  TFrameActivity FrameChanges(const Segment& s) {
    TFrameActivity a;
    FFrameCovered = 0;
    const std::span<const uint8_t> data = s.SegStream.Bytes();
    const int bits = s.BitsPerPixel;
    const int64_t frame = FOffset;
    // The next record, as the core finds it: a length of 0 (or a record past the data) stays.
    TByteReader header(data);
    header.Seek(size_t(std::min<int64_t>(frame, int64_t(data.size()))));
    FOffset = std::min<int64_t>(frame + header.ReadU32(), int64_t(TPlaybackCore::kFrameBufferSize));
    // A frame without a record of its own repeats the one before it.
    FFramesPastData = FOffset == frame ? FFramesPastData + 1 : 0;
    if ((bits != 8 && bits != 24 && bits != 32) || FPixels == 0) return a;
    const std::span<const uint8_t> runs = RunsOf(data, LocateRuns(data, frame, bits));
    int64_t top = INT64_MAX, bottom = -1, left = INT64_MAX, right = -1;
    const int64_t width = s.Width;
    const auto mark = [&](int64_t first, int64_t n) {
      const int64_t last = first + n - 1;
      const int64_t r0 = first / width, r1 = last / width;
      top = std::min(top, r0), bottom = std::max(bottom, r1);
      left = std::min(left, r0 == r1 ? first % width : 0);
      right = std::max(right, r0 == r1 ? last % width : width - 1);
      a.Changed += uint32_t(n);
      FFrameCovered += FBurstBits.Set(first, n);
    };
    const int64_t covered = WalkFrameRuns(runs, bits, FPixels, [&](int64_t first, int64_t n, uint32_t value) {
      if (value) mark(first, n);
    });
    if (covered == FPixels) {
      // The frame image now depends on this frame alone; brought up to date only when needed.
      FImageCurrent = false;
      FLastFull = frame;
    } else {
      if (!FImageCurrent) {
        ApplyToImage(RunsOf(data, LocateRuns(data, FLastFull, bits)), bits);
        FImageCurrent = true;
      }
      ApplyToImage(runs, bits);
      // At 24 bits the frame image takes each pixel as a word, whose fourth byte falls on the
      // blue of the pixel after the runs' last one, unless it falls in the row's padding.
      const int64_t rowBytes = width * 3;
      if (bits == 24 && covered > 0 && (covered % width != 0 || rowBytes % 4 == 0) &&
          !FImageHigh.Test(covered))
        FImageBits.Clear(covered, 1);
      // The rest of the frame image, as the frames before left it, goes into the picture too.
      FImageBits.ForSet(covered, FPixels, [&](int64_t p) { mark(p, 1); });
    }
    if (a.Changed) {
      a.Left = uint16_t(std::min<int64_t>(left, 65535)), a.Top = uint16_t(std::min<int64_t>(top, 65535));
      a.Right = uint16_t(std::min<int64_t>(right + 1, 65535));
      a.Bottom = uint16_t(std::min<int64_t>(bottom + 1, 65535));
    }
    return a;
  }

  void ApplyToImage(std::span<const uint8_t> runs, int bits) {
    WalkFrameRuns(runs, bits, FPixels, [&](int64_t first, int64_t n, uint32_t value) {
      if (value) FImageBits.Set(first, n);
      else FImageBits.Clear(first, n);
      if (bits != 24) return;
      if (value & 0xFFFF00) FImageHigh.Set(first, n);
      else FImageHigh.Clear(first, n);
    });
  }

  // Whether the segment's next palette record (8 bits per pixel) changes an entry.
  bool PaletteChanged(const Segment& s) {
    if (s.BitsPerPixel != 8 || !s.PaletteStream) return false;
    const std::span<const uint8_t> data = s.PaletteStream->Bytes();
    if (FPalettePos >= data.size()) return false;
    const size_t count = data[FPalettePos];
    if (count == 0 || FPalettePos + 1 >= data.size()) {
      FPalettePos = std::min(data.size(), FPalettePos + (count ? 2 : 1));
      return false;
    }
    const size_t first = data[FPalettePos + 1];
    const size_t from = FPalettePos + 2, end = std::min(data.size(), from + count * 4);
    bool changed = false;
    for (size_t i = from; i < end && first + (i - from) / 4 <= 255; ++i) {
      uint8_t& byte = FPalette[(first + (i - from) / 4) * 4 + (i - from) % 4];
      changed |= byte != data[i];
      byte = data[i];
    }
    FPalettePos = end;
    return changed;
  }

  // The frame's cursor record, as the core reads it from the track: a short record at the
  // track's end replaces only the fields it reaches.
  void Cursor(const Segment& s, int32_t frame, TFrameActivity& a) {
    const std::span<const uint8_t> track = s.CursStream.Bytes();
    uint8_t rec[6] = {uint8_t(FCursor.Index), uint8_t(FCursor.Index >> 8), uint8_t(FCursor.X),
                      uint8_t(FCursor.X >> 8),     uint8_t(FCursor.Y),     uint8_t(FCursor.Y >> 8)};
    const size_t at = size_t(frame) * 6;
    for (size_t i = 0; i < 6 && at + i < track.size(); ++i) rec[i] = track[at + i];
    const TCursorRec next{uint16_t(rec[0] | rec[1] << 8), uint16_t(rec[2] | rec[3] << 8),
                          uint16_t(rec[4] | rec[5] << 8)};
    if (FHaveCursor && (next.X != FCursor.X || next.Y != FCursor.Y)) a.Flags |= TFrameActivity::kCursorMoved;
    if (FHaveCursor && next.Index != FCursor.Index) a.Flags |= TFrameActivity::kCursorShape;
    FCursor = next;
    FHaveCursor = true;
  }

  // The still frames before a frame starting at `endMs` (or the segment's end).
  void CloseIdle(int64_t endMs) {
    if (!FStillFrom) return;
    const Segment& s = *FSegments[size_t(FSegment)];
    const int64_t start = FSegmentStart + SegmentMillis(*FStillFrom, s.FrameRate);
    if (endMs - start >= FOptions.IdleMs)
      FIndex.Idle.push_back({start, endMs, TFramePos{FSegment, *FStillFrom}});
    FStillFrom.reset();
  }

  void Settle() {
    if (FBurstCovered * 100 >= int64_t(kScenePercent) * FPixels) {
      const Segment& s = *FSegments[size_t(FSegment)];
      Scene(FBurstLast, FSegmentStart + SegmentMillis(FBurstLast, s.FrameRate));
    }
    FBurstBits.Reset(FPixels);
    FBurstCovered = 0;
    FBurst = false;
  }

  void Scene(int32_t frame, int64_t t) {
    FActivity->Frames[size_t(frame)].Flags |= TFrameActivity::kSceneChange;
    if (t - FLastChapterMs < kChapterGapMs) return;
    AddChapter(frame, t, "Часть " + std::to_string(++FParts), true);
  }

  void AddChapter(int32_t frame, int64_t t, std::string title, bool automatic) {
    const TFramePos pos{FSegment, frame};
    FIndex.Chapters.push_back({t, pos, std::move(title), automatic});
    FLastChapterMs = t;
    AddPreview(pos, t, false);
  }

  void AddPreview(TFramePos pos, int64_t t, bool periodic) {
    const TRasterBitmap* picture = FCore.Picture();
    if (!FPictureShown || !picture || picture->Width() <= 0 || picture->Height() <= 0) return;
    const size_t bytes = size_t(FOptions.PreviewWidth) * size_t(PreviewHeight(picture->Width(), picture->Height())) * 4;
    if (FPreviewBytes + bytes > FOptions.PreviewBudget) ThinPreviews();
    // A chapter's preview takes the place of the latest periodic ones.
    for (size_t i = FPeriodic.size(); !periodic && i-- > 0 && FPreviewBytes + bytes > FOptions.PreviewBudget;)
      if (FPeriodic[i]) {
        FPreviewBytes -= FIndex.Previews[i].Pixels.size() * 4;
        FIndex.Previews.erase(FIndex.Previews.begin() + std::ptrdiff_t(i));
        FPeriodic.erase(FPeriodic.begin() + std::ptrdiff_t(i));
      }
    if (FPreviewBytes + bytes > FOptions.PreviewBudget) return;
    TPreview preview = ScalePreview(*picture, FOptions.PreviewWidth);
    preview.TimeMs = t, preview.Pos = pos;
    // A settled burst's chapter lies before the periodic previews taken while it settled.
    auto& previews = FIndex.Previews;
    const auto at = std::upper_bound(previews.begin(), previews.end(), t,
                                     [](int64_t ms, const TPreview& p) { return ms < p.TimeMs; });
    FPeriodic.insert(FPeriodic.begin() + (at - previews.begin()), periodic);
    previews.insert(at, std::move(preview));
    FPreviewBytes += bytes;
  }

  // Every other periodic preview goes, and the interval doubles.
  void ThinPreviews() {
    auto& previews = FIndex.Previews;
    size_t kept = 0, periodic = 0;
    FPreviewBytes = 0;
    for (size_t i = 0; i < previews.size(); ++i) {
      if (FPeriodic[i] && periodic++ % 2 == 1) continue;
      FPreviewBytes += previews[i].Pixels.size() * 4;
      if (kept != i) FPeriodic[kept] = FPeriodic[i], previews[kept] = std::move(previews[i]);
      ++kept;
    }
    previews.resize(kept);
    FPeriodic.resize(kept);
    FPreviewEvery *= 2;
  }

  const TPlaybackCore& FCore;
  bool FPictureShown = true;
  const TSegments& FSegments;
  const TIndexOptions& FOptions;
  TFilmIndex& FIndex;
  TSegmentActivity* FActivity = nullptr;
  int32_t FSegment = 0;
  int64_t FSegmentStart = 0;
  int64_t FPixels = 0;
  int64_t FFrames = 0;
  bool FEnded = false;  // the segment's idle stretch and burst are closed
  bool FTooMany = false;

  int64_t FOffset = 0;  // the next frame record
  int64_t FFramesPastData = 0;  // frames in a row without a record of their own
  int32_t FDamaged = 0;
  TPixelBits FImageBits;  // the frame image's pixels that are not 0, when FImageCurrent
  TPixelBits FImageHigh;  // at 24 bits, those whose green or red is not 0
  bool FImageCurrent = true;
  int64_t FLastFull = -1;  // the last record whose runs covered the whole frame
  size_t FPalettePos = 0;
  uint8_t FPalette[256 * 4] = {};
  TCursorRec FCursor;
  bool FHaveCursor = false;

  std::optional<int32_t> FStillFrom;  // the first still frame since the last change
  TPixelBits FBurstBits;              // the pixels the burst changed
  int64_t FBurstCovered = 0;
  int64_t FFrameCovered = 0;  // pixels the frame added to the burst's
  bool FBurst = false;
  int32_t FBurstLast = 0;
  int64_t FBurstLastMs = 0;
  int FParts = 1;
  int64_t FLastChapterMs = 0;

  int64_t FPreviewEvery = 0;
  int64_t FNextPreviewMs = 0;
  size_t FPreviewBytes = 0;
  std::vector<bool> FPeriodic;  // beside FIndex.Previews
};

std::string PlaybackFailureText(const TSegments& segments, int32_t segment, const std::exception& e) {
  if (dynamic_cast<const std::bad_alloc*>(&e)) return "not enough memory";
  const auto* playback = dynamic_cast<const EPlayback*>(&e);
  if (playback && playback->Code() == TPlaybackErrc::UnsupportedVideoMode && segment >= 0 &&
      size_t(segment) < segments.size())
    return "segment " + std::to_string(segment + 1) + ": " +
           std::to_string(int(segments[size_t(segment)]->BitsPerPixel)) + " bits per pixel cannot be played";
  return e.what();
}

}  // namespace

TFilmIndex IndexFilm(const TSegments& segments, const TIndexOptions& options, const std::atomic<bool>* cancel,
                     const TIndexProgress& progress, std::string* failure) {
  TFilmIndex index;
  index.DurationMs = FilmMillis(segments);
  std::string why;
  THeadlessHost host;
  TPlaybackCore core(host);
  host.Core = &core;
  TIndexPass pass(core, segments, options, index);
  const int64_t total = TotalFrames(segments);
  bool cancelled = false;
  int64_t steps = 0;
  try {
    core.TakeFilm(ShareSegments(segments));
    if (segments.empty()) {
      index.Complete = true;
      if (failure) failure->clear();
      return index;
    }
    if (core.AllocFrameBuffer(TPlaybackCore::kFrameBufferSize) != kResultOk) throw std::bad_alloc();
    host.OnComposed = [&] { pass.Composed(); };
    if (options.Checkpoints) {
      core.SetFilmPalette(options.FilmPalette);
      core.ShareCheckpointBudget();
    }
    if (options.BeforePlaying) options.BeforePlaying(core);
    const TResult r = core.SetCurSegment();
    if (r != kResultOk) why = std::string("SetCurSegment: ") + ResultText(r);
    int32_t playing = 0;
    while (why.empty() && !host.Stopped && !pass.TooMany() && !pass.Damaged()) {
      if (cancel && cancel->load(std::memory_order_relaxed)) {
        cancelled = true;
        break;
      }
      core.TimerPlayTimer();
      if (progress && ++steps % 256 == 0) progress(pass.Frames(), total);
      // The segments the step finished: it moved on to a later one, or the film ended.
      const int32_t now = host.Finished ? int32_t(segments.size()) : host.Stopped ? playing : core.CurSegment();
      for (; playing < now; ++playing) {
        if (options.SegmentPlayed) options.SegmentPlayed(core, playing);
        if (!options.Checkpoints) continue;
        THandedCheckpoints handed = core.TakeCheckpoints(playing);
        if (!handed.Empty()) options.Checkpoints(std::move(handed));
      }
    }
    pass.Finish();
  } catch (const std::exception& e) {
    why = PlaybackFailureText(segments, core.CurSegment(), e);
  }
  if (why.empty() && !host.Report.empty()) why = host.Report;
  if (why.empty() && pass.Damaged())
    why = "segment " + std::to_string(pass.Damaged()) + " is damaged: its frames go on past its frame data";
  if (why.empty() && pass.TooMany())
    why = "the film has more than " + std::to_string(options.MaxFrames) + " frames: only those were indexed";
  index.Complete = !cancelled && why.empty() && host.Finished && index.Segments.size() == segments.size();
  if (progress) progress(pass.Frames(), total);
  if (failure) *failure = cancelled ? std::string() : why;
  return index;
}

TPreview ScalePreview(const TRasterBitmap& picture, int32_t width) {
  TPreview preview;
  const int64_t sw = picture.Width(), sh = picture.Height();
  const int32_t height = std::max<int32_t>(1, int32_t((sh * width + sw / 2) / sw));
  preview.Width = width, preview.Height = height;
  preview.Pixels.resize(size_t(width) * size_t(height));
  const bool indexed = picture.BitsPerPixel() == 8;
  const TColorTable& table = picture.ColorTable();
  const auto colour = [&](const uint8_t* row, int64_t x) -> uint32_t {
    if (indexed) {
      const TColorEntry& e = table[row[x]];
      return uint32_t(e.Red) << 16 | uint32_t(e.Green) << 8 | e.Blue;
    }
    uint32_t w;
    std::memcpy(&w, row + 4 * x, 4);
    return w & 0xFFFFFF;
  };
  for (int32_t y = 0; y < height; ++y) {
    const int64_t y0 = y * sh / height, y1 = std::max(y0 + 1, (y + 1) * sh / height);
    for (int32_t x = 0; x < width; ++x) {
      const int64_t x0 = x * sw / width, x1 = std::max(x0 + 1, (x + 1) * sw / width);
      uint64_t r = 0, g = 0, b = 0;
      for (int64_t sy = y0; sy < y1; ++sy) {
        const uint8_t* row = picture.Row(int32_t(sy));
        for (int64_t sx = x0; sx < x1; ++sx) {
          const uint32_t c = colour(row, sx);
          r += c >> 16, g += c >> 8 & 0xFF, b += c & 0xFF;
        }
      }
      const uint64_t n = uint64_t((y1 - y0) * (x1 - x0));
      preview.Pixels[size_t(y) * size_t(width) + size_t(x)] =
          uint32_t((r + n / 2) / n) << 16 | uint32_t((g + n / 2) / n) << 8 | uint32_t((b + n / 2) / n);
    }
  }
  return preview;
}
