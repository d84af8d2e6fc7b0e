#include "export/ExportPlan.h"

#include <algorithm>
#include <cmath>

#include "export/ExportError.h"
#include "film/SegmentDuration.h"
#include "index/FilmIndex.h"
#include "raster/URaster.h"

namespace {

bool Subsampled(AVPixelFormat format) { return format == AV_PIX_FMT_YUV420P; }

const char* EncoderName(TExportCodec codec) {
  switch (codec) {
    case TExportCodec::H264:
      return "libx264";
    case TExportCodec::Vp9:
      return "libvpx-vp9";
    case TExportCodec::Av1:
      return "libsvtav1";
    case TExportCodec::Ffv1:
      return "ffv1";
    case TExportCodec::H264Rgb:
      return "libx264rgb";
    case TExportCodec::Default:
      break;
  }
  return "gif";
}

TExportCodec ResolveCodec(const TExportOptions& o) {
  if (o.Codec != TExportCodec::Default) return o.Codec;
  switch (o.Format) {
    case TExportFormat::Mp4:
      return TExportCodec::H264;
    case TExportFormat::WebM:
      return TExportCodec::Vp9;
    case TExportFormat::Mkv:
      return o.Lossless ? TExportCodec::H264Rgb : TExportCodec::H264;
    case TExportFormat::Gif:
      break;
  }
  return TExportCodec::Default;
}

// Where the clock of what is played starts on the film's: at the segment exported alone.
int64_t PlayedOrigin(const TSegments& film, const TExportPlan& plan, const TExportOptions& options) {
  return options.Segment ? SegmentStart(film, plan.First) : 0;
}

// The index the options ask for, checked against the film; nothing when none is asked for.
std::shared_ptr<const TFilmIndex> WantedIndex(const TSegments& film, const TExportOptions& options,
                                              const std::atomic<bool>* cancel) {
  if (options.MaxIdle < 0) ThrowExport(TExportErrc::Options, "the longest idle stretch is out of range");
  if (options.MaxIdle == 0 && options.Chapters == TExportChapters::Segments) return nullptr;
  const std::shared_ptr<const TFilmIndex>& index = options.Index;
  if (!index) ThrowExport(TExportErrc::Options, "the film's index is needed for idle stretches and its chapters");
  if (!index->Complete) ThrowExport(TExportErrc::Options, "the film's index is not complete");
  bool same = index->Segments.size() == film.size();
  for (size_t i = 0; same && i < film.size(); ++i) {
    CheckCancelEvery(int64_t(i), cancel);
    same = int64_t(index->Segments[i].Frames.size()) == std::max<int64_t>(film[i]->FrameCount, 0);
  }
  if (!same) ThrowExport(TExportErrc::Options, "the index is not of this film");
  return index;
}

// A moment of the film's clock on the clock of what is played (which starts at `origin` there
// and lasts to the plan's end), held within it.
int64_t Played(const TExportPlan& plan, int64_t origin, int64_t at) {
  return std::clamp(at, origin, origin + plan.Starts.back()) - origin;
}

// Every idle stretch of the index longer than MaxIdle, within what is played, cut to MaxIdle.
// A damaged index's stretches may overlap or come out of order: the cuts are put in order and
// joined where they overlap.
void PlanCuts(TExportPlan& plan, const TFilmIndex& index, int64_t origin, int64_t maxIdle) {
  std::vector<TExportCut> cuts;
  for (const TIdleStretch& idle : index.Idle) {
    const int64_t from = Played(plan, origin, idle.StartMs), to = Played(plan, origin, idle.EndMs);
    if (to - from > maxIdle) cuts.push_back({from + maxIdle, to});
  }
  std::sort(cuts.begin(), cuts.end(), [](const TExportCut& a, const TExportCut& b) { return a.From < b.From; });
  plan.Cuts.clear();
  for (const TExportCut& cut : cuts) {
    if (!plan.Cuts.empty() && cut.From <= plan.Cuts.back().To) {
      plan.Cuts.back().To = std::max(plan.Cuts.back().To, cut.To);
      continue;
    }
    plan.Cuts.push_back(cut);
  }
  int64_t removed = 0;
  for (TExportCut& cut : plan.Cuts) cut.Removed = removed += cut.To - cut.From;
}

// The starts of the index's automatic chapters on the clock of what is played, in order, with
// their titles; those outside it at its ends.
using TAutomaticChapters = std::vector<std::pair<int64_t, const std::string*>>;
TAutomaticChapters AutomaticChapters(const TExportPlan& plan, const TFilmIndex& index, int64_t origin) {
  TAutomaticChapters automatic;
  for (const TChapter& c : index.Chapters)
    if (c.Automatic) automatic.emplace_back(Played(plan, origin, c.StartMs), &c.Title);
  std::stable_sort(automatic.begin(), automatic.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  return automatic;
}

}  // namespace

int64_t TExportPlan::Written(int64_t at) const {
  // The first cut that does not end by `at`.
  const auto next =
      std::upper_bound(Cuts.begin(), Cuts.end(), at, [](int64_t t, const TExportCut& c) { return t < c.To; });
  int64_t removed = next == Cuts.begin() ? 0 : std::prev(next)->Removed;
  if (next != Cuts.end() && at > next->From) removed += at - next->From;
  return at - removed;
}

int64_t TExportPlan::FrameTime(const TSegments& played, TFramePos pos) const {
  if (pos.Segment < 0 || size_t(pos.Segment) >= played.size() || size_t(pos.Segment) >= Starts.size())
    return End();
  const Segment& segment = *played[size_t(pos.Segment)];
  const int32_t frame = std::clamp(pos.Frame, 0, std::max(segment.FrameCount, 0));
  return Written(Starts[size_t(pos.Segment)] + SegmentMillis(frame, segment.FrameRate));
}

TExportPlan PlanPlaying(const TSegments& film, const TExportOptions& options, const std::atomic<bool>* cancel) {
  if (!CodecFitsFormat(ResolveCodec(options), options.Format, options.Lossless))
    ThrowExport(TExportErrc::Options, "the codec cannot be written in this format");
  if (options.KeyInterval < 1 || options.KeyInterval > kMaxKeyInterval)
    ThrowExport(TExportErrc::Options, "the key frame interval is out of range");

  // What is played: the whole film, or one segment.
  TExportPlan plan;
  plan.Index = WantedIndex(film, options, cancel);
  const int32_t count = int32_t(film.size());
  if (options.Segment < 0 || options.Segment > count)
    ThrowExport(TExportErrc::NoSegment, "the film has " + std::to_string(count) + " segments");
  plan.First = options.Segment ? options.Segment - 1 : 0;
  plan.Last = options.Segment ? options.Segment - 1 : count - 1;
  // The clock: the film's, or the segment's own.
  plan.Starts.reserve(size_t(plan.Last - plan.First) + 2);
  plan.Starts.push_back(0);
  for (int32_t i = plan.First; i <= plan.Last; ++i) {
    CheckCancelEvery(i - plan.First, cancel);
    const Segment& s = *film[size_t(i)];
    plan.Starts.push_back(plan.Starts.back() + SegmentMillis(s.FrameCount, s.FrameRate));
    if (s.FrameCount <= 0) continue;
    plan.TotalFrames += s.FrameCount;
    plan.Width = std::max(plan.Width, s.Width);
    plan.Height = std::max(plan.Height, s.Height);
    plan.MaxRate = std::max<int32_t>(plan.MaxRate, s.FrameRate);
  }
  const int32_t width = plan.Width, height = plan.Height;
  if (plan.TotalFrames == 0 || width <= 0 || height <= 0) ThrowExport(TExportErrc::NoFrames, "there are no frames");
  // The canvas is held whole: no larger than the largest picture the player makes.
  if (int64_t{width} * height * 4 > TRasterBitmap::kMaxBytes || width > TRasterBitmap::kMaxSide ||
      height > TRasterBitmap::kMaxSide)
    ThrowExport(TExportErrc::Playback, "pictures of " + std::to_string(width) + "x" + std::to_string(height) +
                                           " pixels are larger than the player shows");
  if (plan.Index && options.MaxIdle > 0)
    PlanCuts(plan, *plan.Index, PlayedOrigin(film, plan, options), options.MaxIdle);
  return plan;
}

void PlanWriting(TExportPlan& plan, const TSegments& film, const TExportOptions& options,
                 const std::atomic<bool>* cancel) {
  const TExportCodec codec = ResolveCodec(options);
  plan.Gif = options.Format == TExportFormat::Gif;
  plan.Codec = avcodec_find_encoder_by_name(EncoderName(codec));
  if (!plan.Codec)
    ThrowExport(TExportErrc::Encoder, std::string("the encoder ") + EncoderName(codec) + " is not available");
  switch (options.Format) {
    case TExportFormat::Mp4:
      plan.Muxer = "mp4";
      break;
    case TExportFormat::WebM:
      plan.Muxer = "webm";
      break;
    case TExportFormat::Mkv:
      plan.Muxer = "matroska";
      break;
    case TExportFormat::Gif:
      plan.Muxer = "gif";
      // Delays in steps of two hundredths: browsers show shorter ones as a tenth of a second.
      plan.TimeBase = AVRational{1, 50};
      break;
  }
  plan.Quality = options.Quality < 0 ? kDefaultQuality : std::min(options.Quality, 100);
  // The lossless codecs take the canvas's own B, G, R bytes.
  const bool rgb = codec == TExportCodec::Ffv1 || codec == TExportCodec::H264Rgb;
  plan.PixelFormat = rgb                 ? AV_PIX_FMT_0RGB32
                     : plan.Gif          ? AV_PIX_FMT_PAL8
                     : options.Chroma444 ? AV_PIX_FMT_YUV444P
                                         : AV_PIX_FMT_YUV420P;
  plan.KeyInterval = plan.Gif ? 0 : options.KeyInterval;
  // 4:2:0 needs even sides: an odd canvas gets a grey column or row at its right or bottom.
  const bool even = Subsampled(plan.PixelFormat);
  plan.CanvasWidth = even ? (plan.Width + 1) & ~1 : plan.Width;
  plan.CanvasHeight = even ? (plan.Height + 1) & ~1 : plan.Height;
  plan.OutputWidth = plan.CanvasWidth, plan.OutputHeight = plan.CanvasHeight;
  if (options.MaxWidth > 0 && plan.CanvasWidth > options.MaxWidth) {
    plan.OutputWidth = options.MaxWidth;
    plan.OutputHeight = std::max<int32_t>(
        1, int32_t(std::lround(double(plan.CanvasHeight) * options.MaxWidth / plan.CanvasWidth)));
    if (even) plan.OutputWidth &= ~1, plan.OutputHeight = std::max(2, plan.OutputHeight & ~1);
    if (plan.OutputWidth <= 0) ThrowExport(TExportErrc::Options, "the width is too small");
  }

  // Chapters: the segments, for a whole film (played from its first segment, on its clock);
  // with all, the automatic ones inside them too, also for one segment. A chapter that the
  // cuts leave without time is left out.
  plan.Chapters.clear();
  const bool all = options.Chapters == TExportChapters::All;
  if (plan.Gif || (options.Segment && !all)) return;
  const TAutomaticChapters automatic =
      all && plan.Index ? AutomaticChapters(plan, *plan.Index, PlayedOrigin(film, plan, options)) : TAutomaticChapters{};
  auto add = [&](const std::string& title, int64_t start, int64_t end) {
    start = plan.Written(start), end = plan.Written(end);
    if (end > start) plan.Chapters.push_back({title, start, end});
  };
  auto next = automatic.begin();
  for (int32_t i = plan.First; i <= plan.Last; ++i) {
    CheckCancelEvery(i - plan.First, cancel);
    const int64_t start = plan.Starts[size_t(i - plan.First)], end = plan.Starts[size_t(i - plan.First) + 1];
    if (end <= start) continue;
    const std::string* title = &film[size_t(i)]->Name;
    int64_t from = start;
    for (; next != automatic.end() && next->first < end; ++next) {
      if (next->first <= from) continue;
      add(*title, from, next->first);
      from = next->first, title = next->second;
    }
    add(*title, from, end);
  }
}

TSegments PlayedSegments(const TSegments& film, const TExportPlan& plan, const TExportOptions& options) {
  TSegments played = ShareSegments(film);
  if (options.Segment) {
    // The segment alone, at its own clock.
    TSegments one;
    one.push_back(std::move(played[size_t(plan.First)]));
    return one;
  }
  played.resize(size_t(plan.Last) + 1);
  return played;
}
