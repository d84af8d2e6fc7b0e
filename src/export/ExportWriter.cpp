#include "export/ExportWriter.h"

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
}

#include <malloc.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "export/ExportError.h"

void TExportWriter::Open(const std::string& path) {
  AVFormatContext* format = nullptr;
  CheckAv(avformat_alloc_output_context2(&format, nullptr, FPlan.Muxer, nullptr), "output format");
  FFormat.reset(format);
  FFormat->url = av_strdup(("file:" + path).c_str());
  for (const TExportChapter& c : FPlan.Chapters) AddChapter(c);

  OpenEncoder();
  FStream = avformat_new_stream(FFormat.get(), nullptr);
  if (!FStream) ThrowExport(TExportErrc::NoMemory, "no memory for the stream");
  CheckAv(avcodec_parameters_from_context(FStream->codecpar, FEncoder.get()), "stream parameters");
  FStream->time_base = FPlan.TimeBase;
  FStream->avg_frame_rate = AVRational{0, 1};

  CheckAv(avio_open(&FFormat->pb, FFormat->url, AVIO_FLAG_WRITE), "opening the file");
  AVDictionary* muxing = nullptr;
  if (std::strcmp(FPlan.Muxer, "mp4") == 0) av_dict_set(&muxing, "movflags", "+faststart", 0);
  const int header = avformat_write_header(FFormat.get(), &muxing);
  av_dict_free(&muxing);
  CheckAv(header, "writing the header");
  FHeader = true;

  FPacket.reset(av_packet_alloc());
  FInput.reset(av_frame_alloc());
  if (!FPacket || !FInput) ThrowExport(TExportErrc::NoMemory, "no memory for frames");
  const bool indexed = !FPlan.Palette.empty();
  const AVPixelFormat input = indexed ? AV_PIX_FMT_PAL8 : FPlan.Gif ? AV_PIX_FMT_BGRA : FPlan.PixelFormat;
  FInput->format = input;
  FInput->width = FPlan.OutputWidth;
  FInput->height = FPlan.OutputHeight;
  CheckAv(av_frame_get_buffer(FInput.get(), 0), "frame buffer");
  if (indexed) {
    // Opaque entries: the encoder takes a clear one for transparency.
    auto* entries = reinterpret_cast<uint32_t*>(FInput->data[1]);
    for (size_t i = 0; i < 256; ++i)
      entries[i] = 0xFF000000u | (i < FPlan.Palette.size() ? FPlan.Palette[i] : FPlan.Palette[0]);
    for (size_t i = 0; i < FPlan.Palette.size(); ++i) FIndex.emplace(FPlan.Palette[i], uint8_t(i));
    return;
  }
  FScaled = FPlan.OutputWidth != FPlan.CanvasWidth || FPlan.OutputHeight != FPlan.CanvasHeight;
  // GIF's pictures of the canvas's own size take its bytes as they are (ConvertRowsBgra).
  if (FPlan.Gif && !FScaled) {
    FGifPalettes = std::make_unique<TGifPaletteFilter>(FPlan);
    return;
  }
  FSws = Conversion(FPlan.CanvasHeight, FPlan.OutputHeight);
  if (!FScaled) {
    FBand.reset(av_frame_alloc());
    if (!FBand) ThrowExport(TExportErrc::NoMemory, "no memory for frames");
    FBand->format = input;
    FBand->width = FPlan.OutputWidth;
    FBand->height = FPlan.OutputHeight;
    CheckAv(av_frame_get_buffer(FBand.get(), 0), "frame buffer");
  }
  if (FPlan.Gif) FGifPalettes = std::make_unique<TGifPaletteFilter>(FPlan);
}

// A GIF export that fails or is cancelled still completes its file (which is then removed):
// the GIF muxer frees the picture it holds back, waiting for the next one's time, only there.
TExportWriter::~TExportWriter() {
  if (FPlan.Gif && FHeader && !FTrailer) av_write_trailer(FFormat.get());
}

// The encoder for the plan, with the settings of EncoderSettings.
void TExportWriter::OpenEncoder() {
  FEncoder.reset(avcodec_alloc_context3(FPlan.Codec));
  if (!FEncoder) ThrowExport(TExportErrc::NoMemory, "no memory for the encoder");
  AVCodecContext* e = FEncoder.get();
  e->width = FPlan.OutputWidth;
  e->height = FPlan.OutputHeight;
  e->pix_fmt = FPlan.Gif ? AV_PIX_FMT_PAL8 : FPlan.PixelFormat;
  e->time_base = FPlan.TimeBase;
  e->framerate = AVRational{std::max(FPlan.MaxRate, 1), 1};
  e->sample_aspect_ratio = AVRational{1, 1};
  if (!FPlan.Gif && FPlan.PixelFormat != AV_PIX_FMT_0RGB32) {
    e->color_range = AVCOL_RANGE_MPEG;
    e->colorspace = AVCOL_SPC_BT709;
    e->color_primaries = AVCOL_PRI_BT709;
    e->color_trc = AVCOL_TRC_BT709;
  }
  // Key frames come where the export asks for them (KeyFrames.h), not by the encoder's count of
  // pictures: a group of pictures longer than any export, except FFV1's of one picture, which
  // makes every picture a key frame.
  if (FPlan.KeyInterval > 0) e->gop_size = std::strcmp(FPlan.Codec->name, "ffv1") == 0 ? 1 : kLongGop;
  if (FFormat->oformat->flags & AVFMT_GLOBALHEADER) e->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  AVDictionary* settings = EncoderSettings();
  const int opened = avcodec_open2(e, FPlan.Codec, &settings);
  av_dict_free(&settings);
  CheckAv(opened, FPlan.Codec->name);
  FSent = false;
}

// A key frame from an encoder that does not take the picture type asked for (SVT-AV1 through
// this FFmpeg): the pictures sent so far are written, and a new encoder starts with a key
// frame. It writes the same stream header, so the stream goes on as one. Starting anew costs
// little beside the key frame itself, but the old encoder's memory, freed by its many threads,
// stays with the C library unless it is handed back: a minute of the typical film with a key
// frame every 2 s held 973 MB instead of the 380 MB one encoder takes.
void TExportWriter::StartEncoderAnew() {
  Send(nullptr);
  FEncoder.reset();
  ::malloc_trim(0);
  OpenEncoder();
}

void TExportWriter::Encode(const uint8_t* canvas, int64_t stride, std::span<const uint8_t> changed, int64_t pts,
                           int64_t duration, bool key) {
  MakeInputWritable();
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
  FLastDuration = FDurations[start] = std::max<int64_t>(end - start, 1);
  FLastPts = start;
  if (FPlan.Gif) {
    FHeld.reset(av_frame_clone(FInput.get()));
    if (!FHeld) ThrowExport(TExportErrc::NoMemory, "no memory for a frame");
    return;
  }
  FInput->pict_type = key ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
  if (key && FSent && std::strcmp(FPlan.Codec->name, "libsvtav1") == 0) StartEncoderAnew();
  Send(FInput.get());
}

// The encoder's picture, ready to be drawn on. A GIF picture handed on stays with the palette
// filter until the next one (which it compares with it), and the one held back waits: the
// picture drawn next is a copy in a buffer of a pool, rather than in a new block of megabytes
// for every picture.
void TExportWriter::MakeInputWritable() {
  if (!FGifPalettes || av_frame_is_writable(FInput.get())) {
    CheckAv(av_frame_make_writable(FInput.get()), "frame buffer");
    return;
  }
  const size_t bytes = size_t(FInput->linesize[0]) * size_t(FInput->height);
  if (!FInputPool) FInputPool.reset(av_buffer_pool_init(bytes, av_buffer_alloc));
  TAvFrame next(av_frame_alloc());
  if (!FInputPool || !next) ThrowExport(TExportErrc::NoMemory, "no memory for a frame");
  next->format = FInput->format;
  next->width = FInput->width;
  next->height = FInput->height;
  next->buf[0] = av_buffer_pool_get(FInputPool.get());
  if (!next->buf[0]) ThrowExport(TExportErrc::NoMemory, "no memory for a frame");
  next->data[0] = next->buf[0]->data;
  next->linesize[0] = FInput->linesize[0];
  CheckAv(av_frame_copy(next.get(), FInput.get()), "frame buffer");
  FInput = std::move(next);
}

void TExportWriter::Finish() {
  if (FHeld) FlushHeldGif();
  if (FGifPalettes) FGifPalettes->Finish([this](const AVFrame* picture) { Send(picture); });
  Send(nullptr);
  if (FPlan.Gif) {
    // The muxer times each picture by the next one; the last lasts what is left of the film,
    // in hundredths of a second.
    if (FLastDuration > 0) {
      const int64_t delay = av_rescale_q(FLastDuration, FPlan.TimeBase, AVRational{1, 100});
      CheckAv(av_opt_set_int(FFormat->priv_data, "final_delay", std::clamp<int64_t>(delay, 1, 65535), 0),
            "the last picture's delay");
    }
  }
  FTrailer = true;
  CheckAv(av_write_trailer(FFormat.get()), "completing the file");
  avio_flush(FFormat->pb);
  if (FFormat->pb->error < 0) ThrowAv(FFormat->pb->error, "writing the file");
  CheckAv(avio_closep(&FFormat->pb), "closing the file");
}

TAvSws CanvasConversion(const TExportPlan& plan, AVPixelFormat format, int32_t height, int32_t outputHeight) {
  const bool scaled = plan.OutputWidth != plan.CanvasWidth || plan.OutputHeight != plan.CanvasHeight;
  TAvSws sws(sws_getContext(plan.CanvasWidth, height, AV_PIX_FMT_BGR0, plan.OutputWidth, outputHeight, format,
                          (scaled ? SWS_LANCZOS : SWS_BICUBIC) | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, nullptr,
                          nullptr, nullptr));
  if (!sws) ThrowExport(TExportErrc::Encoder, "no picture conversion to " + std::string(av_get_pix_fmt_name(format)));
  if (format != AV_PIX_FMT_BGRA && format != AV_PIX_FMT_0RGB32) {
    const int* bt709 = sws_getCoefficients(SWS_CS_ITU709);
    sws_setColorspaceDetails(sws.get(), bt709, 1, bt709, 0, 0, 1 << 16, 1 << 16);
  }
  return sws;
}

// The conversion of the canvas's `height` rows to `outputHeight` rows in the encoder's format.
TAvSws TExportWriter::Conversion(int32_t height, int32_t outputHeight) const {
  return CanvasConversion(FPlan, FPlan.Gif ? AV_PIX_FMT_BGRA : FPlan.PixelFormat, height, outputHeight);
}

// Brings the encoder's picture up to date with the canvas. Most pictures of a screen
// recording change a few rows (a cursor, a line of text, a clock), and converting whole
// pictures took more than a quarter of an export's time; so, unless the picture is scaled,
// only bands around the changed rows are converted.
void TExportWriter::Convert(const uint8_t* canvas, int64_t stride, std::span<const uint8_t> changed) {
  const int32_t height = FPlan.CanvasHeight;
  if (!FPlan.Palette.empty()) {
    ConvertIndexed(canvas, stride, changed);
    return;
  }
  if (FPlan.Gif && !FScaled) {
    ConvertRowsBgra(canvas, stride, changed);
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
void TExportWriter::ConvertIndexed(const uint8_t* canvas, int64_t stride, std::span<const uint8_t> changed) {
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

// GIF of the canvas's size: the changed rows as they are, opaque, with no conversion to keep
// (a conversion of bands needs as much memory again as the picture).
void TExportWriter::ConvertRowsBgra(const uint8_t* canvas, int64_t stride, std::span<const uint8_t> changed) {
  for (int32_t y = 0; y < FPlan.CanvasHeight; ++y) {
    if (FConverted && !changed[size_t(y)]) continue;
    const uint8_t* in = canvas + y * stride;
    uint8_t* out = FInput->data[0] + y * FInput->linesize[0];
    for (int32_t x = 0; x < FPlan.CanvasWidth; ++x, in += 4, out += 4) {
      std::memcpy(out, in, 3);
      out[3] = 0xFF;
    }
  }
  FConverted = true;
}

// Converts the rows `top` to `bottom` (excluded) of the canvas within a band reaching far
// enough beyond them that the rows taken from it have all their filter taps inside it, and
// come out as converting the whole picture makes them.
void TExportWriter::ConvertBand(const uint8_t* canvas, int64_t stride, int32_t top, int32_t bottom) {
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

void TExportWriter::AddChapter(const TExportChapter& c) {
  auto* chapter = static_cast<AVChapter*>(av_mallocz(sizeof(AVChapter)));
  if (!chapter) ThrowExport(TExportErrc::NoMemory, "no memory for a chapter");
  chapter->id = FFormat->nb_chapters + 1;
  chapter->time_base = AVRational{1, 1000};
  chapter->start = c.Start;
  chapter->end = c.End;
  av_dict_set(&chapter->metadata, "title", c.Title.c_str(), 0);
  int count = int(FFormat->nb_chapters);
  av_dynarray_add(&FFormat->chapters, &count, chapter);
  if (!FFormat->chapters) ThrowExport(TExportErrc::NoMemory, "no memory for a chapter");
  FFormat->nb_chapters = unsigned(count);
}

// Each encoder's own settings, chosen for screen content: sharp text, flat areas, little
// motion; --quality mapped onto the encoder's quality scale.
AVDictionary* TExportWriter::EncoderSettings() const {
  // x264 makes key frames (IDR) where they are asked for and nowhere else: a scene cut of its
  // own would cost a key frame's bytes where a forced one is due soon anyway.
  static constexpr const char* kX264KeyFrames = "keyint=infinite:min-keyint=1:scenecut=0";
  AVDictionary* d = nullptr;
  const int q = FPlan.Quality;
  char value[32];
  const std::string name = FPlan.Codec->name;
  if (name == "libx264") {
    // CRF 40 (0) to 10 (100); 22 by default.
    std::snprintf(value, sizeof value, "%.1f", 40.0 - 0.3 * q);
    av_dict_set(&d, "crf", value, 0);
    av_dict_set(&d, "preset", "veryfast", 0);
    av_dict_set(&d, "x264-params", kX264KeyFrames, 0);
    av_dict_set(&d, "forced-idr", "1", 0);
  } else if (name == "libx264rgb") {
    // Lossless: the canvas's own R, G and B planes at QP 0.
    av_dict_set(&d, "qp", "0", 0);
    av_dict_set(&d, "preset", "veryfast", 0);
    av_dict_set(&d, "x264-params", kX264KeyFrames, 0);
    av_dict_set(&d, "forced-idr", "1", 0);
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

// The held picture takes the newer one's pixels; its time stays, and it lasts to `end`.
void TExportWriter::CopyHeldPicture(int64_t end) {
  CheckAv(av_frame_make_writable(FHeld.get()), "frame buffer");
  av_image_copy(FHeld->data, FHeld->linesize, const_cast<const uint8_t**>(FInput->data), FInput->linesize,
                AVPixelFormat(FInput->format), FInput->width, FInput->height);
  FLastDuration = FDurations[FLastPts] = std::max<int64_t>(end - FLastPts, 1);
}

void TExportWriter::FlushHeldGif() {
  if (!FGifPalettes) {
    Send(FHeld.get());
    FHeld.reset();
    return;
  }
  FGifPalettes->Push(FHeld.get(), [this](const AVFrame* picture) { Send(picture); });
  FHeld.reset();
}

void TExportWriter::Send(const AVFrame* frame) {
  CheckAv(avcodec_send_frame(FEncoder.get(), frame), "encoding");
  FSent = true;
  for (;;) {
    const int r = avcodec_receive_packet(FEncoder.get(), FPacket.get());
    if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return;
    CheckAv(r, "encoding");
    const auto found = FDurations.find(FPacket->pts);
    if (found != FDurations.end()) {
      FPacket->duration = found->second;
      FDurations.erase(found);
    }
    av_packet_rescale_ts(FPacket.get(), FEncoder->time_base, FStream->time_base);
    FPacket->stream_index = FStream->index;
    CheckAv(av_interleaved_write_frame(FFormat.get(), FPacket.get()), "writing the file");
    if (FFormat->pb->error < 0) ThrowAv(FFormat->pb->error, "writing the file");
  }
}
