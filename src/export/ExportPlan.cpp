#include "export/ExportPlan.h"

#include <algorithm>
#include <cmath>

#include "export/ExportError.h"
#include "film/SegmentDuration.h"
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

}  // namespace

int64_t TExportPlan::FrameTime(const TSegments& played, TFramePos pos) const {
  if (pos.Segment < 0 || size_t(pos.Segment) >= played.size() || size_t(pos.Segment) >= Starts.size())
    return End();
  const Segment& segment = *played[size_t(pos.Segment)];
  const int32_t frame = std::clamp(pos.Frame, 0, std::max(segment.FrameCount, 0));
  return Starts[size_t(pos.Segment)] + SegmentMillis(frame, segment.FrameRate);
}

TExportPlan PlanPlaying(const TSegments& film, const TExportOptions& options, const std::atomic<bool>* cancel) {
  if (!CodecFitsFormat(ResolveCodec(options), options.Format, options.Lossless))
    ThrowExport(TExportErrc::Options, "the codec cannot be written in this format");
  if (options.KeyInterval < 1 || options.KeyInterval > kMaxKeyInterval)
    ThrowExport(TExportErrc::Options, "the key frame interval is out of range");

  // What is played: the whole film, or one segment.
  TExportPlan plan;
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

  // Chapters: the segments, for a whole film (played from its first segment, on its clock).
  plan.Chapters.clear();
  if (!options.Segment && !plan.Gif)
    for (int32_t i = 0; i <= plan.Last; ++i) {
      CheckCancelEvery(i, cancel);
      const int64_t start = plan.Starts[size_t(i)], end = plan.Starts[size_t(i) + 1];
      if (end > start) plan.Chapters.push_back({film[size_t(i)]->Name, start, end});
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
