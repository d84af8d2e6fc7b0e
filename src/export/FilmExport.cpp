#include "export/FilmExport.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cmath>
#include <cstring>
#include <map>
#include <unordered_map>
#include <unordered_set>
#include <memory>
#include <span>
#include <vector>

#include "export/AvHandles.h"
#include "film/SegmentDuration.h"
#include "io/FilePlace.h"
#include "playback/HeadlessHost.h"
#include "playback/UzrPlayback.h"

namespace {

// ---- Names ----

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return out;
}

// FFmpeg's messages go nowhere but here: the last error it logged on this thread, which a
// failure then carries in its details, rather than lines on the terminal or the player's
// standard error.
thread_local std::string tLastLogged;

void CatchLog(void* object, int level, const char* format, va_list args) {
  if (level > AV_LOG_ERROR) return;
  char line[512];
  int prefix = 1;
  av_log_format_line2(object, level, format, args, line, sizeof line, &prefix);
  tLastLogged = line;
  while (!tLastLogged.empty() && (tLastLogged.back() == '\n' || tLastLogged.back() == '\r')) tLastLogged.pop_back();
}

// A failure on the way: what it is and FFmpeg's or the system's words for it.
struct EExport {
  TExportErrc Code;
  std::string Details;
};

[[noreturn]] void Throw(TExportErrc code, std::string details) { throw EExport{code, std::move(details)}; }

// A libav error in writing the file is the file's fault (disk full, I/O); any other is the
// encoder's or muxer's.
[[noreturn]] void ThrowAv(int code, const std::string& what) {
  if (code == AVERROR(ENOSPC) || code == AVERROR(EDQUOT) || code == AVERROR(EIO) || code == AVERROR(EFBIG) ||
      code == AVERROR(EROFS) || code == AVERROR(EACCES) || code == AVERROR(EPERM))
    Throw(TExportErrc::Write, AvErrorText(code));
  Throw(TExportErrc::Encoder, what + ": " + AvErrorText(code) + (tLastLogged.empty() ? "" : " (" + tLastLogged + ")"));
}

void Check(int code, const char* what) {
  if (code < 0) ThrowAv(code, what);
}

// ---- What is written ----

struct TPlan {
  const AVCodec* Codec = nullptr;
  const char* Muxer = nullptr;
  AVPixelFormat PixelFormat = AV_PIX_FMT_YUV420P;
  bool Gif = false;
  AVRational TimeBase{1, 1000};
  int32_t CanvasWidth = 0, CanvasHeight = 0;    // what the pictures are placed on
  int32_t OutputWidth = 0, OutputHeight = 0;    // what is encoded
  // GIF: the colours (0x00RRGGBB) of every picture of the export, when there are no more than
  // 256; then every picture is written with this one palette, exactly, and the encoder stores
  // only what changed. Empty: a palette made for each picture.
  std::vector<uint32_t> Palette;
};

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
      return o.Lossless ? TExportCodec::Ffv1 : TExportCodec::H264;
    case TExportFormat::Gif:
      break;
  }
  return TExportCodec::Default;
}

int Quality(const TExportOptions& o) { return o.Quality < 0 ? kDefaultQuality : std::min(o.Quality, 100); }

// ---- Encoding ----

// Encodes pictures placed on the canvas (32-bit B, G, R, unused) and writes the file.
class TWriter {
 public:
  TWriter(const TPlan& plan, const TExportOptions& options) : FPlan(plan), FOptions(options) {}
  ~TWriter() {
    if (FFormat) {
      if (FFormat->pb) avio_closep(&FFormat->pb);
      avformat_free_context(FFormat);
    }
  }
  TWriter(const TWriter&) = delete;
  TWriter& operator=(const TWriter&) = delete;

  struct TChapter {
    std::string Title;
    int64_t Start = 0, End = 0;  // milliseconds
  };

  void Open(const std::string& path, const std::vector<TChapter>& chapters, int maxRate) {
    Check(avformat_alloc_output_context2(&FFormat, nullptr, FPlan.Muxer, nullptr), "output format");
    FFormat->url = av_strdup(("file:" + path).c_str());
    for (const TChapter& c : chapters) AddChapter(c);

    FEncoder.reset(avcodec_alloc_context3(FPlan.Codec));
    if (!FEncoder) Throw(TExportErrc::Encoder, "no memory for the encoder");
    AVCodecContext* e = FEncoder.get();
    e->width = FPlan.OutputWidth;
    e->height = FPlan.OutputHeight;
    e->pix_fmt = FPlan.Gif ? AV_PIX_FMT_PAL8 : FPlan.PixelFormat;
    e->time_base = FPlan.TimeBase;
    e->framerate = AVRational{std::max(maxRate, 1), 1};
    e->sample_aspect_ratio = AVRational{1, 1};
    if (!FPlan.Gif && FPlan.PixelFormat != AV_PIX_FMT_0RGB32) {
      e->color_range = AVCOL_RANGE_MPEG;
      e->colorspace = AVCOL_SPC_BT709;
      e->color_primaries = AVCOL_PRI_BT709;
      e->color_trc = AVCOL_TRC_BT709;
    }
    if (FFormat->oformat->flags & AVFMT_GLOBALHEADER) e->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary* settings = EncoderSettings();
    const int opened = avcodec_open2(e, FPlan.Codec, &settings);
    av_dict_free(&settings);
    Check(opened, FPlan.Codec->name);

    FStream = avformat_new_stream(FFormat, nullptr);
    if (!FStream) Throw(TExportErrc::Encoder, "no memory for the stream");
    Check(avcodec_parameters_from_context(FStream->codecpar, e), "stream parameters");
    FStream->time_base = FPlan.TimeBase;
    FStream->avg_frame_rate = AVRational{0, 1};

    Check(avio_open(&FFormat->pb, FFormat->url, AVIO_FLAG_WRITE), "opening the file");
    AVDictionary* muxing = nullptr;
    if (std::strcmp(FPlan.Muxer, "mp4") == 0) av_dict_set(&muxing, "movflags", "+faststart", 0);
    const int header = avformat_write_header(FFormat, &muxing);
    av_dict_free(&muxing);
    Check(header, "writing the header");

    FPacket.reset(av_packet_alloc());
    FInput.reset(av_frame_alloc());
    if (!FPacket || !FInput) Throw(TExportErrc::Encoder, "no memory for frames");
    const bool indexed = !FPlan.Palette.empty();
    const AVPixelFormat input = indexed ? AV_PIX_FMT_PAL8 : FPlan.Gif ? AV_PIX_FMT_BGRA : FPlan.PixelFormat;
    FInput->format = input;
    FInput->width = FPlan.OutputWidth;
    FInput->height = FPlan.OutputHeight;
    Check(av_frame_get_buffer(FInput.get(), 0), "frame buffer");
    if (indexed) {
      // Opaque entries: the encoder takes a clear one for transparency.
      auto* entries = reinterpret_cast<uint32_t*>(FInput->data[1]);
      for (size_t i = 0; i < 256; ++i)
        entries[i] = 0xFF000000u | (i < FPlan.Palette.size() ? FPlan.Palette[i] : FPlan.Palette[0]);
      for (size_t i = 0; i < FPlan.Palette.size(); ++i) FIndex.emplace(FPlan.Palette[i], uint8_t(i));
      return;
    }
    FScaled = FPlan.OutputWidth != FPlan.CanvasWidth || FPlan.OutputHeight != FPlan.CanvasHeight;
    FSws = Conversion(FPlan.CanvasHeight, FPlan.OutputHeight);
    if (!FScaled) {
      FBand.reset(av_frame_alloc());
      if (!FBand) Throw(TExportErrc::Encoder, "no memory for frames");
      FBand->format = input;
      FBand->width = FPlan.OutputWidth;
      FBand->height = FPlan.OutputHeight;
      Check(av_frame_get_buffer(FBand.get(), 0), "frame buffer");
    }
    if (FPlan.Gif) OpenPaletteGraph();
  }

  // Encodes the canvas as the picture from `pts` (milliseconds) for `duration` milliseconds.
  // `changed` tells for each row of the canvas whether it changed since the picture encoded
  // before.
  void Encode(const uint8_t* canvas, int64_t stride, std::span<const uint8_t> changed, int64_t pts,
              int64_t duration) {
    Check(av_frame_make_writable(FInput.get()), "frame buffer");
    Convert(canvas, stride, changed);
    // In the stream's units: GIF counts fiftieths of a second.
    const int64_t start = av_rescale_q(pts, AVRational{1, 1000}, FPlan.TimeBase);
    const int64_t end = av_rescale_q(pts + duration, AVRational{1, 1000}, FPlan.TimeBase);
    if (FPlan.Gif && start <= FLastPts) {
      // Two pictures in one fiftieth: the later one is shown.
      CopyHeldPicture(end);
      return;
    }
    if (FHeld) FlushHeldGif();
    FInput->pts = start;
    FDurations[start] = std::max<int64_t>(end - start, 1);
    FLastPts = start;
    if (FPlan.Gif) {
      FHeld.reset(av_frame_clone(FInput.get()));
      if (!FHeld) Throw(TExportErrc::Encoder, "no memory for a frame");
      return;
    }
    Send(FInput.get());
  }

  // Flushes the encoder and completes the file; returns its size.
  void Finish() {
    if (FHeld) FlushHeldGif();
    if (FGraph) {
      Check(av_buffersrc_add_frame_flags(FSource, nullptr, 0), "palette filter");
      DrainGraph();
    }
    Send(nullptr);
    if (FPlan.Gif) {
      // The muxer times each picture by the next one; the last lasts what is left of the film,
      // in hundredths of a second.
      const auto last = FDurations.rbegin();
      if (last != FDurations.rend()) {
        const int64_t delay = av_rescale_q(last->second, FPlan.TimeBase, AVRational{1, 100});
        Check(av_opt_set_int(FFormat->priv_data, "final_delay", std::clamp<int64_t>(delay, 1, 65535), 0),
              "the last picture's delay");
      }
    }
    Check(av_write_trailer(FFormat), "completing the file");
    avio_flush(FFormat->pb);
    if (FFormat->pb->error < 0) ThrowAv(FFormat->pb->error, "writing the file");
    Check(avio_closep(&FFormat->pb), "closing the file");
  }

 private:
  // The conversion of the canvas's `height` rows to `outputHeight` rows in the encoder's format.
  TAvSws Conversion(int32_t height, int32_t outputHeight) const {
    const AVPixelFormat input = FPlan.Gif ? AV_PIX_FMT_BGRA : FPlan.PixelFormat;
    TAvSws sws(sws_getContext(FPlan.CanvasWidth, height, AV_PIX_FMT_BGR0, FPlan.OutputWidth, outputHeight, input,
                            (FScaled ? SWS_LANCZOS : SWS_BICUBIC) | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, nullptr,
                            nullptr, nullptr));
    if (!sws) Throw(TExportErrc::Encoder, "no picture conversion to " + std::string(av_get_pix_fmt_name(input)));
    if (!FPlan.Gif && FPlan.PixelFormat != AV_PIX_FMT_0RGB32) {
      const int* bt709 = sws_getCoefficients(SWS_CS_ITU709);
      sws_setColorspaceDetails(sws.get(), bt709, 1, bt709, 0, 0, 1 << 16, 1 << 16);
    }
    return sws;
  }

  // Brings the encoder's picture up to date with the canvas. Most pictures of a screen
  // recording change a few rows (a cursor, a line of text, a clock), and converting whole
  // pictures took more than a quarter of an export's time; so, unless the picture is scaled,
  // only bands around the changed rows are converted.
  void Convert(const uint8_t* canvas, int64_t stride, std::span<const uint8_t> changed) {
    const int32_t height = FPlan.CanvasHeight;
    if (!FPlan.Palette.empty()) {
      ConvertIndexed(canvas, stride, changed);
      return;
    }
    if (FScaled || !FConverted) {
      const uint8_t* src[1] = {canvas};
      const int srcStride[1] = {int(stride)};
      sws_scale(FSws.get(), src, srcStride, 0, height, FInput->data, FInput->linesize);
      FConverted = true;
      return;
    }
    // Changed rows closer together than a few margins are converted as one band.
    for (int32_t y = 0; y < height; ++y) {
      if (!changed[size_t(y)]) continue;
      int32_t end = y + 1;
      for (int32_t row = end; row < height && row - end <= 4 * kBandMargin; ++row)
        if (changed[size_t(row)]) end = row + 1;
      ConvertBand(canvas, stride, y, end);
      y = end;
    }
  }

  // The changed rows as indices of the one palette; every colour is in it.
  void ConvertIndexed(const uint8_t* canvas, int64_t stride, std::span<const uint8_t> changed) {
    uint32_t last = FPlan.Palette[0];
    uint8_t lastIndex = 0;
    for (int32_t y = 0; y < FPlan.CanvasHeight; ++y) {
      if (FConverted && !changed[size_t(y)]) continue;
      const uint8_t* in = canvas + y * stride;
      uint8_t* out = FInput->data[0] + y * FInput->linesize[0];
      for (int32_t x = 0; x < FPlan.CanvasWidth; ++x, in += 4) {
        const uint32_t color = uint32_t{in[0]} | uint32_t{in[1]} << 8 | uint32_t{in[2]} << 16;
        if (color != last) {
          const auto found = FIndex.find(color);
          lastIndex = found != FIndex.end() ? found->second : 0;
          last = color;
        }
        out[x] = lastIndex;
      }
    }
    FConverted = true;
  }

  // Converts the rows `top` to `bottom` (excluded) of the canvas within a band reaching far
  // enough beyond them that the rows taken from it have all their filter taps inside it, and
  // come out as converting the whole picture makes them.
  void ConvertBand(const uint8_t* canvas, int64_t stride, int32_t top, int32_t bottom) {
    const int32_t height = FPlan.CanvasHeight;
    // The rows taken start on an even row, where a row of 4:2:0 chroma starts.
    const int32_t takenTop = std::max(0, top - kBandMargin) & ~1;
    const int32_t takenBottom = std::min(height, bottom + kBandMargin);
    // The band: a multiple of kBandStep rows (so that few conversions are made and kept),
    // moved up where it would reach past the bottom.
    const int32_t needed = std::min(height, takenBottom + kBandMargin) - std::max(0, takenTop - kBandMargin);
    const int32_t bandHeight = std::min(height, (needed + kBandStep - 1) / kBandStep * kBandStep);
    const int32_t bandTop = std::min(std::max(0, takenTop - kBandMargin), height - bandHeight);
    TAvSws& sws = FBandSws[bandHeight];
    if (!sws) sws = Conversion(bandHeight, bandHeight);
    const uint8_t* src[1] = {canvas + bandTop * stride};
    const int srcStride[1] = {int(stride)};
    sws_scale(sws.get(), src, srcStride, 0, bandHeight, FBand->data, FBand->linesize);
    const AVPixFmtDescriptor* format = av_pix_fmt_desc_get(AVPixelFormat(FInput->format));
    for (int plane = 0; plane < 4 && FInput->data[plane]; ++plane) {
      const int shift = plane == 1 || plane == 2 ? format->log2_chroma_h : 0;
      const int32_t first = takenTop >> shift, last = (takenBottom + (1 << shift) - 1) >> shift;
      const int32_t offset = bandTop >> shift;
      const int bytes = av_image_get_linesize(AVPixelFormat(FInput->format), FInput->width, plane);
      for (int32_t row = first; row < last; ++row)
        std::memcpy(FInput->data[plane] + row * FInput->linesize[plane],
                    FBand->data[plane] + (row - offset) * FBand->linesize[plane], size_t(bytes));
    }
  }

  void AddChapter(const TChapter& c) {
    auto* chapter = static_cast<AVChapter*>(av_mallocz(sizeof(AVChapter)));
    if (!chapter) Throw(TExportErrc::Encoder, "no memory for a chapter");
    chapter->id = FFormat->nb_chapters + 1;
    chapter->time_base = AVRational{1, 1000};
    chapter->start = c.Start;
    chapter->end = c.End;
    av_dict_set(&chapter->metadata, "title", c.Title.c_str(), 0);
    int count = int(FFormat->nb_chapters);
    av_dynarray_add(&FFormat->chapters, &count, chapter);
    if (!FFormat->chapters) Throw(TExportErrc::Encoder, "no memory for a chapter");
    FFormat->nb_chapters = unsigned(count);
  }

  // Each encoder's own settings, chosen for screen content: sharp text, flat areas, little
  // motion; --quality mapped onto the encoder's quality scale.
  AVDictionary* EncoderSettings() const {
    AVDictionary* d = nullptr;
    const int q = Quality(FOptions);
    char value[32];
    const std::string name = FPlan.Codec->name;
    if (name == "libx264") {
      // CRF 40 (0) to 10 (100); 22 by default.
      std::snprintf(value, sizeof value, "%.1f", 40.0 - 0.3 * q);
      av_dict_set(&d, "crf", value, 0);
      av_dict_set(&d, "preset", "veryfast", 0);
      // Screen recordings hold still for long: a key frame every ten seconds at most keeps
      // seeking quick without spending much on calm stretches.
      av_dict_set(&d, "x264-params", "keyint=300:min-keyint=1:scenecut=40", 0);
    } else if (name == "libvpx-vp9") {
      std::snprintf(value, sizeof value, "%d", int(std::lround(55 - 0.45 * q)));
      av_dict_set(&d, "crf", value, 0);
      av_dict_set(&d, "b", "0", 0);
      av_dict_set(&d, "deadline", "realtime", 0);
      av_dict_set(&d, "cpu-used", "8", 0);
      av_dict_set(&d, "row-mt", "1", 0);
      av_dict_set(&d, "tune-content", "screen", 0);
      av_dict_set(&d, "lag-in-frames", "0", 0);
    } else if (name == "libsvtav1") {
      std::snprintf(value, sizeof value, "%d", int(std::lround(55 - 0.45 * q)));
      av_dict_set(&d, "crf", value, 0);
      av_dict_set(&d, "preset", "10", 0);
    } else if (name == "ffv1") {
      av_dict_set(&d, "level", "3", 0);
      av_dict_set(&d, "coder", "range_def", 0);
      av_dict_set(&d, "context", "1", 0);
      av_dict_set(&d, "slicecrc", "1", 0);
      av_dict_set(&d, "slices", "4", 0);
    }
    av_dict_set(&d, "threads", "auto", 0);
    return d;
  }

  // GIF: a palette made for each picture from its own colours (up to 256, kept exact when
  // there are no more), applied without dithering so flat areas stay flat.
  void OpenPaletteGraph() {
    FGraph.reset(avfilter_graph_alloc());
    if (!FGraph) Throw(TExportErrc::Encoder, "no memory for the palette filter");
    char args[160];
    std::snprintf(args, sizeof args, "video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:pixel_aspect=1/1",
                  FPlan.OutputWidth, FPlan.OutputHeight, int(AV_PIX_FMT_BGRA), FPlan.TimeBase.num,
                  FPlan.TimeBase.den);
    Check(avfilter_graph_create_filter(&FSource, avfilter_get_by_name("buffer"), "in", args, nullptr, FGraph.get()),
          "palette filter source");
    Check(avfilter_graph_create_filter(&FSink, avfilter_get_by_name("buffersink"), "out", nullptr, nullptr,
                                       FGraph.get()),
          "palette filter sink");
    AVFilterInOut* outputs = avfilter_inout_alloc();
    AVFilterInOut* inputs = avfilter_inout_alloc();
    if (!outputs || !inputs) {
      avfilter_inout_free(&outputs);
      avfilter_inout_free(&inputs);
      Throw(TExportErrc::Encoder, "no memory for the palette filter");
    }
    outputs->name = av_strdup("in");
    outputs->filter_ctx = FSource;
    inputs->name = av_strdup("out");
    inputs->filter_ctx = FSink;
    const int parsed = avfilter_graph_parse_ptr(
        FGraph.get(),
        "split[a][b];[a]palettegen=stats_mode=single:reserve_transparent=0:max_colors=256[p];"
        "[b][p]paletteuse=new=1:dither=none,format=pal8",
        &inputs, &outputs, nullptr);
    avfilter_inout_free(&outputs);
    avfilter_inout_free(&inputs);
    Check(parsed, "palette filter");
    Check(avfilter_graph_config(FGraph.get(), nullptr), "palette filter");
  }

  // The held picture takes the newer one's pixels; its time stays, and it lasts to `end`.
  void CopyHeldPicture(int64_t end) {
    Check(av_frame_make_writable(FHeld.get()), "frame buffer");
    av_image_copy(FHeld->data, FHeld->linesize, const_cast<const uint8_t**>(FInput->data), FInput->linesize,
                  AVPixelFormat(FInput->format), FInput->width, FInput->height);
    FDurations[FLastPts] = std::max<int64_t>(end - FLastPts, 1);
  }

  void FlushHeldGif() {
    if (!FGraph) {
      Send(FHeld.get());
      FHeld.reset();
      return;
    }
    Check(av_buffersrc_add_frame_flags(FSource, FHeld.get(), AV_BUFFERSRC_FLAG_KEEP_REF), "palette filter");
    FHeld.reset();
    DrainGraph();
  }

  void DrainGraph() {
    TAvFrame out(av_frame_alloc());
    if (!out) Throw(TExportErrc::Encoder, "no memory for a frame");
    for (;;) {
      const int r = av_buffersink_get_frame(FSink, out.get());
      if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return;
      Check(r, "palette filter");
      Send(out.get());
      av_frame_unref(out.get());
    }
  }

  void Send(const AVFrame* frame) {
    Check(avcodec_send_frame(FEncoder.get(), frame), "encoding");
    for (;;) {
      const int r = avcodec_receive_packet(FEncoder.get(), FPacket.get());
      if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return;
      Check(r, "encoding");
      const auto found = FDurations.find(FPacket->pts);
      if (found != FDurations.end()) {
        FPacket->duration = found->second;
        if (!FPlan.Gif) FDurations.erase(found);
      }
      av_packet_rescale_ts(FPacket.get(), FEncoder->time_base, FStream->time_base);
      FPacket->stream_index = FStream->index;
      Check(av_interleaved_write_frame(FFormat, FPacket.get()), "writing the file");
      if (FFormat->pb->error < 0) ThrowAv(FFormat->pb->error, "writing the file");
    }
  }

  const TPlan& FPlan;
  const TExportOptions& FOptions;
  AVFormatContext* FFormat = nullptr;
  AVStream* FStream = nullptr;
  TAvCodecContext FEncoder;
  TAvPacket FPacket;
  TAvFrame FInput;
  TAvSws FSws;  // the whole canvas
  // Conversions of bands, by their heights, and the band's picture. The chroma filter reaches
  // four rows; the margin is twice that.
  static constexpr int32_t kBandMargin = 8, kBandStep = 32;
  std::map<int32_t, TAvSws> FBandSws;
  TAvFrame FBand;
  bool FScaled = false;
  bool FConverted = false;  // the encoder's picture holds a canvas
  std::unordered_map<uint32_t, uint8_t> FIndex;  // GIF with one palette: colour to index
  TAvGraph FGraph;
  AVFilterContext* FSource = nullptr;
  AVFilterContext* FSink = nullptr;
  // Durations of the pictures sent, by their times, for the packets that come out.
  std::map<int64_t, int64_t> FDurations;
  int64_t FLastPts = INT64_MIN;
  // GIF: the picture held back until the next one shows it is not overtaken in its fiftieth.
  TAvFrame FHeld;
};

// ---- Playing ----


// The pictures of the film placed on the canvas; a picture is handed on only when it differs
// from the one before, at the time of the frame that made it.
class TCanvas {
 public:
  // A canvas of width × height whose pictures are centred in its top left contentWidth ×
  // contentHeight (4:2:0 rounds the canvas up to even sides; the extra column and row stay grey).
  TCanvas(int32_t width, int32_t height, int32_t contentWidth, int32_t contentHeight)
      : FContentWidth(contentWidth),
        FContentHeight(contentHeight),
        FStride(int64_t(width) * 4),
        FPixels(size_t(FStride) * size_t(height)),
        FChangedRows(size_t(height), 1) {
    Fill();
  }

  const uint8_t* Bits() const { return FPixels.data(); }
  int64_t Stride() const { return FStride; }
  // For each row, whether it changed since the rows were last taken as encoded.
  std::span<const uint8_t> ChangedRows() const { return FChangedRows; }
  void ChangesEncoded() { std::fill(FChangedRows.begin(), FChangedRows.end(), uint8_t(0)); }

  // Places the picture; false when the canvas was already showing it. `flush` is called
  // before the canvas first changes, so the picture on it can be encoded first.
  template <typename TFlush>
  bool Place(const TRasterBitmap& picture, const TColorTable& palette, TFlush&& flush) {
    const int32_t w = std::min(picture.Width(), FContentWidth), h = std::min(picture.Height(), FContentHeight);
    const int32_t left = (FContentWidth - picture.Width()) / 2, top = (FContentHeight - picture.Height()) / 2;
    bool changed = false;
    const bool placed = left != FLeft || top != FTop || w != FPlacedWidth || h != FPlacedHeight;
    if (placed) {
      flush();
      changed = true;
      Fill();
      FLeft = left, FTop = top, FPlacedWidth = w, FPlacedHeight = h;
    }
    const bool indexed = picture.BitsPerPixel() == 8;
    uint32_t colors[256];
    if (indexed)
      for (int i = 0; i < 256; ++i)
        colors[i] = uint32_t{palette[size_t(i)].Blue} | uint32_t{palette[size_t(i)].Green} << 8 |
                    uint32_t{palette[size_t(i)].Red} << 16;
    std::vector<uint8_t>& row = FRow;
    row.resize(size_t(w) * 4);
    for (int32_t y = 0; y < h; ++y) {
      uint8_t* target = FPixels.data() + size_t(y + std::max(top, 0)) * size_t(FStride) + size_t(std::max(left, 0)) * 4;
      const uint8_t* source = picture.Row(y);
      if (indexed) {
        for (int32_t x = 0; x < w; ++x) std::memcpy(row.data() + size_t(x) * 4, &colors[source[x]], 4);
        source = row.data();
      } else if (picture.BitsPerPixel() != 32) {
        continue;  // the core composes 8- and 32-bit pictures only
      }
      // Every row is compared, so that only the rows that changed are converted again.
      if (!placed && std::memcmp(target, source, size_t(w) * 4) == 0) continue;
      if (!changed) flush();
      changed = true;
      std::memcpy(target, source, size_t(w) * 4);
      FChangedRows[size_t(y + std::max(top, 0))] = 1;
    }
    return changed;
  }

 private:
  void Fill() {
    for (size_t i = 0; i < FPixels.size(); i += 4) {
      FPixels[i] = FPixels[i + 1] = FPixels[i + 2] = kCanvasGrey;
      FPixels[i + 3] = 0;
    }
    std::fill(FChangedRows.begin(), FChangedRows.end(), uint8_t(1));
  }

  int32_t FContentWidth, FContentHeight;
  int64_t FStride;
  std::vector<uint8_t> FPixels;
  std::vector<uint8_t> FRow;
  int32_t FLeft = -1, FTop = -1, FPlacedWidth = -1, FPlacedHeight = -1;
  std::vector<uint8_t> FChangedRows;
};

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa {}, sb {};
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

// Removes the temporary file unless it has been moved into place.
class TTemporaryFile {
 public:
  explicit TTemporaryFile(const std::string& out) {
    const int fd = CreateFileBeside(out, ".export-XXXXXX.part", FPath);
    if (fd < 0) {
      const int error = errno;
      FPath.clear();
      Throw(TExportErrc::CannotCreate, FolderOf(out) + ": " + std::strerror(error));
    }
    ::close(fd);
  }
  ~TTemporaryFile() {
    if (!FPath.empty()) ::unlink(FPath.c_str());
  }
  TTemporaryFile(const TTemporaryFile&) = delete;
  TTemporaryFile& operator=(const TTemporaryFile&) = delete;
  const std::string& Path() const { return FPath; }
  void Kept() { FPath.clear(); }

 private:
  std::string FPath;
};

// Plays the segments from the start through a core of its own, the cursor drawn or not;
// `composed` hears of every composed picture and may stop the playing by returning false.
// A failure to play throws Playback, a cancel Cancelled.
void PlayThrough(TSegments segments, bool cursor, const std::atomic<bool>* cancel,
                 const std::function<bool(TPlaybackCore&)>& composed) {
  THeadlessHost host;
  TPlaybackCore core(host);
  host.Core = &core;
  core.SetCursorShown(cursor);
  core.TakeFilm(std::move(segments));
  if (core.AllocFrameBuffer(TPlaybackCore::kFrameBufferSize) != kResultOk)
    Throw(TExportErrc::Playback, "no memory for the frame buffer");
  bool more = true;
  host.OnComposed = [&] { more = composed(core); };
  try {
    const TResult started = core.SetCurSegment();
    if (started != kResultOk) Throw(TExportErrc::Playback, host.Report.empty() ? ResultText(started) : host.Report);
    while (more && !host.Stopped && host.Report.empty()) {
      if (cancel && cancel->load(std::memory_order_relaxed)) Throw(TExportErrc::Cancelled, "cancelled");
      core.TimerPlayTimer();
    }
  } catch (const EPlayback& e) {
    Throw(TExportErrc::Playback, e.what());
  }
  if (!host.Report.empty()) Throw(TExportErrc::Playback, host.Report);
}

// The colours of every picture an export places on its canvas, when there are no more than
// 256; nothing otherwise. Playing costs little against encoding, and one palette for the
// whole animation lets the GIF encoder store only what changed from picture to picture.
std::vector<uint32_t> GifColours(const TSegments& segments, const TPlan& plan, int32_t width, int32_t height,
                                 bool cursor, const std::atomic<bool>* cancel) {
  TCanvas canvas(plan.CanvasWidth, plan.CanvasHeight, width, height);
  std::unordered_set<uint32_t> colours;
  bool many = false;
  PlayThrough(ShareSegments(segments), cursor, cancel, [&](TPlaybackCore& core) {
    canvas.Place(*core.Picture(), core.Palette(), [] {});
    const std::span<const uint8_t> changed = canvas.ChangedRows();
    uint32_t last = UINT32_MAX;
    for (int32_t y = 0; y < plan.CanvasHeight && !many; ++y) {
      if (!changed[size_t(y)]) continue;
      const uint8_t* in = canvas.Bits() + y * canvas.Stride();
      for (int32_t x = 0; x < plan.CanvasWidth; ++x, in += 4) {
        const uint32_t color = uint32_t{in[0]} | uint32_t{in[1]} << 8 | uint32_t{in[2]} << 16;
        if (color == last) continue;
        last = color;
        colours.insert(color);
        if (colours.size() > 256) {
          many = true;
          break;
        }
      }
    }
    canvas.ChangesEncoded();
    return !many;
  });
  if (many) return {};
  std::vector<uint32_t> palette(colours.begin(), colours.end());
  std::sort(palette.begin(), palette.end());
  return palette;
}

TExportResult Run(const TSegments& film, const std::string& out, const TExportOptions& options, bool replace,
                  const TExportProgressFn& progress, const std::atomic<bool>* cancel, const std::string& filmPath) {
  TExportResult result;
  const TExportCodec codec = ResolveCodec(options);
  if (!CodecFitsFormat(codec, options.Format, options.Lossless))
    Throw(TExportErrc::Options, "the codec cannot be written in this format");

  // What is played: the whole film, or one segment.
  const int32_t count = int32_t(film.size());
  if (options.Segment < 0 || options.Segment > count)
    Throw(TExportErrc::NoSegment, "the film has " + std::to_string(count) + " segments");
  const int32_t first = options.Segment ? options.Segment - 1 : 0;
  const int32_t last = options.Segment ? options.Segment - 1 : count - 1;
  int64_t totalFrames = 0;
  int32_t width = 0, height = 0, maxRate = 1;
  for (int32_t i = first; i <= last; ++i) {
    const Segment& s = *film[size_t(i)];
    if (s.FrameCount <= 0) continue;
    totalFrames += s.FrameCount;
    width = std::max(width, s.Width);
    height = std::max(height, s.Height);
    maxRate = std::max<int32_t>(maxRate, s.FrameRate);
  }
  if (totalFrames == 0 || width <= 0 || height <= 0) Throw(TExportErrc::NoFrames, "there are no frames");
  // The canvas is held whole: no larger than the largest picture the player makes.
  if (int64_t{width} * height * 4 > TRasterBitmap::kMaxBytes || width > TRasterBitmap::kMaxSide ||
      height > TRasterBitmap::kMaxSide)
    Throw(TExportErrc::Playback, "pictures of " + std::to_string(width) + "x" + std::to_string(height) +
                                     " pixels are larger than the player shows");

  // Before anything is played: the file's name.
  if (!filmPath.empty() && SameFile(filmPath, out)) Throw(TExportErrc::IsFilm, out);
  struct stat existing {};
  if (::stat(out.c_str(), &existing) == 0) {
    if (S_ISDIR(existing.st_mode)) Throw(TExportErrc::CannotCreate, out + ": a folder");
    // A pipe or a device is never replaced by a file, not even when replacing was asked.
    if (!S_ISREG(existing.st_mode)) Throw(TExportErrc::CannotCreate, out + ": not a regular file");
    if (!replace) Throw(TExportErrc::Exists, out);
  }

  TPlan plan;
  plan.Gif = options.Format == TExportFormat::Gif;
  plan.Codec = avcodec_find_encoder_by_name(EncoderName(codec));
  if (!plan.Codec) Throw(TExportErrc::Encoder, std::string("the encoder ") + EncoderName(codec) + " is not available");
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
  plan.PixelFormat = codec == TExportCodec::Ffv1 ? AV_PIX_FMT_0RGB32
                     : plan.Gif                  ? AV_PIX_FMT_PAL8
                     : options.Chroma444         ? AV_PIX_FMT_YUV444P
                                                 : AV_PIX_FMT_YUV420P;
  // 4:2:0 needs even sides: an odd canvas gets a grey column or row at its right or bottom.
  const bool even = Subsampled(plan.PixelFormat);
  plan.CanvasWidth = even ? (width + 1) & ~1 : width;
  plan.CanvasHeight = even ? (height + 1) & ~1 : height;
  plan.OutputWidth = plan.CanvasWidth, plan.OutputHeight = plan.CanvasHeight;
  if (options.MaxWidth > 0 && plan.CanvasWidth > options.MaxWidth) {
    plan.OutputWidth = options.MaxWidth;
    plan.OutputHeight = std::max<int32_t>(
        1, int32_t(std::lround(double(plan.CanvasHeight) * options.MaxWidth / plan.CanvasWidth)));
    if (even) plan.OutputWidth &= ~1, plan.OutputHeight = std::max(2, plan.OutputHeight & ~1);
    if (plan.OutputWidth <= 0) Throw(TExportErrc::Options, "the width is too small");
  }

  // Chapters: the segments, for a whole film.
  std::vector<TWriter::TChapter> chapters;
  if (!options.Segment && !plan.Gif)
    for (int32_t i = 0; i < count; ++i) {
      const Segment& s = *film[size_t(i)];
      const int64_t start = SegmentStart(film, i);
      const int64_t end = start + SegmentMillis(s.FrameCount, s.FrameRate);
      if (end > start) chapters.push_back({s.Name, start, end});
    }

  TSegments played = ShareSegments(film);
  if (options.Segment) {
    // The segment alone, at its own clock.
    TSegments one;
    one.push_back(std::move(played[size_t(first)]));
    played = std::move(one);
  } else {
    played.resize(size_t(last) + 1);
  }
  const TSegments& clock = played;  // the clock reads only the segments' information
  // GIF: one exact palette when the whole export has no more than 256 colours (any scaling
  // makes new ones).
  if (plan.Gif && plan.OutputWidth == plan.CanvasWidth && plan.OutputHeight == plan.CanvasHeight)
    plan.Palette = GifColours(played, plan, width, height, options.Cursor, cancel);

  TTemporaryFile temporary(out);
  TWriter writer(plan, options);
  writer.Open(temporary.Path(), chapters, maxRate);


  TCanvas canvas(plan.CanvasWidth, plan.CanvasHeight, width, height);
  const int64_t end = FilmMillis(clock);
  int64_t shownAt = -1;  // when the picture on the canvas started; -1: nothing yet
  bool finished = false;
  auto encodeShown = [&](int64_t until) {
    if (shownAt < 0) return;
    // A segment without a frame rate lasts no time; its last picture still gets a moment.
    const int64_t minimum = TPlaybackCore::FrameInterval(uint8_t(maxRate));
    writer.Encode(canvas.Bits(), canvas.Stride(), canvas.ChangedRows(), shownAt,
                  std::max(until - shownAt, finished ? minimum : 1));
    canvas.ChangesEncoded();
    ++result.Encoded;
  };
  TExportProgress state;
  state.TotalFrames = totalFrames;
  PlayThrough(ShareSegments(played), options.Cursor, cancel, [&](TPlaybackCore& core) {
    const std::optional<TFramePos> pos = core.ComposedFrame();
    if (!pos) return true;
    const int64_t at = FrameTime(clock, *pos);
    ++result.Frames;
    const bool later = at > shownAt;
    canvas.Place(*core.Picture(), core.Palette(), [&] {
      // The picture shown so far is encoded before the canvas changes, unless the new one
      // comes at the same moment and replaces it.
      if (later) encodeShown(at);
      if (later || shownAt < 0) shownAt = at;
    });
    state.Frames = result.Frames;
    state.Encoded = result.Encoded;
    if (progress) progress(state);
    return true;
  });
  if (cancel && cancel->load()) Throw(TExportErrc::Cancelled, "cancelled");
  finished = true;
  encodeShown(end);
  writer.Finish();
  if (cancel && cancel->load()) Throw(TExportErrc::Cancelled, "cancelled");

  struct stat written {};
  if (::stat(temporary.Path().c_str(), &written) == 0) result.Bytes = written.st_size;
  if (!MoveIntoPlace(temporary.Path(), out, replace)) {
    if (errno == EEXIST) Throw(TExportErrc::Exists, out);
    Throw(TExportErrc::Write, out + ": " + std::strerror(errno));
  }
  temporary.Kept();
  state.Frames = result.Frames;
  state.Encoded = result.Encoded;
  if (progress) progress(state);
  return result;
}

}  // namespace

std::optional<TExportFormat> ParseExportFormat(std::string_view name) {
  const std::string n = Lower(name);
  if (n == "mp4") return TExportFormat::Mp4;
  if (n == "webm") return TExportFormat::WebM;
  if (n == "mkv") return TExportFormat::Mkv;
  if (n == "gif") return TExportFormat::Gif;
  return std::nullopt;
}

std::optional<TExportFormat> ExportFormatOfPath(std::string_view path) {
  const size_t dot = path.rfind('.');
  const size_t slash = path.rfind('/');
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) return std::nullopt;
  return ParseExportFormat(path.substr(dot + 1));
}

std::optional<TExportCodec> ParseExportCodec(std::string_view name) {
  const std::string n = Lower(name);
  if (n == "h264") return TExportCodec::H264;
  if (n == "vp9") return TExportCodec::Vp9;
  if (n == "av1") return TExportCodec::Av1;
  if (n == "ffv1") return TExportCodec::Ffv1;
  return std::nullopt;
}

const char* ExportExtension(TExportFormat format) {
  switch (format) {
    case TExportFormat::Mp4:
      return ".mp4";
    case TExportFormat::WebM:
      return ".webm";
    case TExportFormat::Mkv:
      return ".mkv";
    case TExportFormat::Gif:
      break;
  }
  return ".gif";
}

bool CodecFitsFormat(TExportCodec codec, TExportFormat format, bool lossless) {
  if (lossless) return format == TExportFormat::Mkv && (codec == TExportCodec::Default || codec == TExportCodec::Ffv1);
  switch (format) {
    case TExportFormat::Mp4:
      return codec == TExportCodec::Default || codec == TExportCodec::H264 || codec == TExportCodec::Av1;
    case TExportFormat::WebM:
      return codec == TExportCodec::Default || codec == TExportCodec::Vp9 || codec == TExportCodec::Av1;
    case TExportFormat::Mkv:
      return true;
    case TExportFormat::Gif:
      return codec == TExportCodec::Default;
  }
  return false;
}

TExportResult ExportFilm(const TSegments& segments, const std::string& out, const TExportOptions& options,
                         bool replace, const TExportProgressFn& progress, const std::atomic<bool>* cancel,
                         const std::string& filmPath) {
  av_log_set_callback(CatchLog);
  tLastLogged.clear();
  try {
    return Run(segments, out, options, replace, progress, cancel, filmPath);
  } catch (const EExport& e) {
    TExportResult failed;
    failed.Code = e.Code;
    failed.Details = e.Details;
    return failed;
  } catch (const std::bad_alloc&) {
    TExportResult failed;
    failed.Code = TExportErrc::Playback;
    failed.Details = "not enough memory";
    return failed;
  } catch (const std::exception& e) {
    TExportResult failed;
    failed.Code = TExportErrc::Playback;
    failed.Details = e.what();
    return failed;
  }
}
