#include "support/MediaReader.h"

#include "export/AvHandles.h"

#include <cmath>
#include <cstring>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

namespace {

std::string AvError(int code) { return AvErrorText(code); }

int64_t ToMillis(int64_t value, AVRational timeBase) { return av_rescale_q(value, timeBase, AVRational{1, 1000}); }

// The picture of a decoded frame: RGB for RGB and palette formats, the Y plane for YUV.
void TakePixels(const AVFrame& frame, TMediaFrame& out) {
  const auto format = AVPixelFormat(frame.format);
  out.Rgb.clear();
  out.Luma.clear();
  const int w = frame.width, h = frame.height;
  switch (format) {
    case AV_PIX_FMT_BGR0:
    case AV_PIX_FMT_BGRA:
      out.Rgb.resize(size_t(w) * size_t(h));
      for (int y = 0; y < h; ++y) {
        const uint8_t* row = frame.data[0] + ptrdiff_t(y) * frame.linesize[0];
        for (int x = 0; x < w; ++x)
          out.Rgb[size_t(y) * size_t(w) + size_t(x)] =
              uint32_t(row[4 * x + 2]) << 16 | uint32_t(row[4 * x + 1]) << 8 | row[4 * x];
      }
      return;
    case AV_PIX_FMT_GBRP:
      out.Rgb.resize(size_t(w) * size_t(h));
      for (int y = 0; y < h; ++y) {
        const uint8_t* g = frame.data[0] + ptrdiff_t(y) * frame.linesize[0];
        const uint8_t* b = frame.data[1] + ptrdiff_t(y) * frame.linesize[1];
        const uint8_t* r = frame.data[2] + ptrdiff_t(y) * frame.linesize[2];
        for (int x = 0; x < w; ++x)
          out.Rgb[size_t(y) * size_t(w) + size_t(x)] = uint32_t(r[x]) << 16 | uint32_t(g[x]) << 8 | b[x];
      }
      return;
    case AV_PIX_FMT_PAL8: {
      // The palette is native-endian 0xAARRGGBB.
      const auto* palette = reinterpret_cast<const uint32_t*>(frame.data[1]);
      out.Rgb.resize(size_t(w) * size_t(h));
      for (int y = 0; y < h; ++y) {
        const uint8_t* row = frame.data[0] + ptrdiff_t(y) * frame.linesize[0];
        for (int x = 0; x < w; ++x) out.Rgb[size_t(y) * size_t(w) + size_t(x)] = palette[row[x]] & 0xFFFFFF;
      }
      return;
    }
    default:
      break;
  }
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format);
  if (d && !(d->flags & AV_PIX_FMT_FLAG_RGB) && (d->flags & AV_PIX_FMT_FLAG_PLANAR) && d->comp[0].depth == 8) {
    out.Luma.resize(size_t(w) * size_t(h));
    for (int y = 0; y < h; ++y)
      std::memcpy(out.Luma.data() + size_t(y) * size_t(w), frame.data[0] + ptrdiff_t(y) * frame.linesize[0], size_t(w));
  }
}

}  // namespace

TMedia ReadMedia(const std::string& path, bool pixels) {
  TMedia media;
  AVFormatContext* raw = nullptr;
  if (int r = avformat_open_input(&raw, path.c_str(), nullptr, nullptr); r < 0) {
    media.Error = "cannot open: " + AvError(r);
    return media;
  }
  TAvInput input(raw);
  if (int r = avformat_find_stream_info(input.get(), nullptr); r < 0) {
    media.Error = "no stream information: " + AvError(r);
    return media;
  }
  media.Container = input->iformat->name;
  if (input->duration != AV_NOPTS_VALUE) media.DurationMs = ToMillis(input->duration, AV_TIME_BASE_Q);
  for (unsigned i = 0; i < input->nb_chapters; ++i) {
    const AVChapter& c = *input->chapters[i];
    TMediaChapter chapter;
    if (const AVDictionaryEntry* title = av_dict_get(c.metadata, "title", nullptr, 0)) chapter.Title = title->value;
    chapter.StartMs = ToMillis(c.start, c.time_base);
    chapter.EndMs = ToMillis(c.end, c.time_base);
    media.Chapters.push_back(std::move(chapter));
  }
  for (unsigned i = 0; i < input->nb_streams; ++i)
    media.VideoStreams += input->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;

  const AVCodec* decoder = nullptr;
  const int index = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
  if (index < 0 || !decoder) {
    media.Error = "no video stream that can be decoded";
    return media;
  }
  const AVStream& stream = *input->streams[index];
  const AVCodecParameters& par = *stream.codecpar;
  media.Codec = par.codec_id;
  media.Width = par.width;
  media.Height = par.height;
  media.Format = AVPixelFormat(par.format);
  media.ColorSpace = par.color_space;
  media.ColorRange = par.color_range;

  TAvCodecContext codec(avcodec_alloc_context3(decoder));
  avcodec_parameters_to_context(codec.get(), &par);
  codec->thread_count = 1;
  codec->pkt_timebase = stream.time_base;
  if (int r = avcodec_open2(codec.get(), decoder, nullptr); r < 0) {
    media.Error = "cannot open the decoder: " + AvError(r);
    return media;
  }
  TAvFrame frame(av_frame_alloc());
  TAvPacket packet(av_packet_alloc());
  auto drain = [&]() -> bool {
    for (;;) {
      const int r = avcodec_receive_frame(codec.get(), frame.get());
      if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
      if (r < 0) {
        media.Error = "decoding failed: " + AvError(r);
        return false;
      }
      TMediaFrame out;
      int64_t pts = frame->best_effort_timestamp;
      if (pts == AV_NOPTS_VALUE) pts = frame->pts;
      out.Millis = pts == AV_NOPTS_VALUE ? -1 : ToMillis(pts, stream.time_base);
      out.DurationMs = frame->pkt_duration > 0 ? ToMillis(frame->pkt_duration, stream.time_base) : 0;
      out.Format = AVPixelFormat(frame->format);
      out.Width = frame->width;
      out.Height = frame->height;
      out.ColorSpace = frame->colorspace;
      out.ColorRange = frame->color_range;
      if (pixels) TakePixels(*frame, out);
      media.Frames.push_back(std::move(out));
      av_frame_unref(frame.get());
    }
  };
  for (;;) {
    const int r = av_read_frame(input.get(), packet.get());
    if (r == AVERROR_EOF) break;
    if (r < 0) {
      media.Error = "reading failed: " + AvError(r);
      return media;
    }
    if (packet->stream_index == index) {
      media.Packets.push_back({packet->pts == AV_NOPTS_VALUE ? -1 : ToMillis(packet->pts, stream.time_base),
                               (packet->flags & AV_PKT_FLAG_KEY) != 0});
      const int sent = avcodec_send_packet(codec.get(), packet.get());
      av_packet_unref(packet.get());
      if (sent < 0) {
        media.Error = "decoding failed: " + AvError(sent);
        return media;
      }
      if (!drain()) return media;
    } else {
      av_packet_unref(packet.get());
    }
  }
  avcodec_send_packet(codec.get(), nullptr);
  drain();
  return media;
}

std::vector<uint8_t> ReferenceLuma(const std::vector<uint32_t>& rgb, int width, int height, AVPixelFormat format) {
  TAvSws sws(
      sws_getContext(width, height, AV_PIX_FMT_0RGB32, width, height, format, SWS_BILINEAR, nullptr, nullptr, nullptr));
  if (!sws) return {};
  // RGB in full range in, BT.709 limited range out.
  const int* matrix = sws_getCoefficients(SWS_CS_ITU709);
  sws_setColorspaceDetails(sws.get(), matrix, 1, matrix, 0, 0, 1 << 16, 1 << 16);
  uint8_t* dst[4] = {};
  int dstStride[4] = {};
  if (av_image_alloc(dst, dstStride, width, height, format, 32) < 0) return {};
  // AV_PIX_FMT_0RGB32 is the native-endian 0x00RRGGBB word.
  const uint8_t* src[4] = {reinterpret_cast<const uint8_t*>(rgb.data()), nullptr, nullptr, nullptr};
  const int srcStride[4] = {width * 4, 0, 0, 0};
  sws_scale(sws.get(), src, srcStride, 0, height, dst, dstStride);
  std::vector<uint8_t> luma(size_t(width) * size_t(height));
  for (int y = 0; y < height; ++y)
    std::memcpy(luma.data() + size_t(y) * size_t(width), dst[0] + ptrdiff_t(y) * dstStride[0], size_t(width));
  av_freep(&dst[0]);
  return luma;
}

double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  if (a.size() != b.size() || a.empty()) return 0;
  double sum = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    const double d = double(a[i]) - double(b[i]);
    sum += d * d;
  }
  if (sum == 0) return 100;
  return 10 * std::log10(255.0 * 255.0 * double(a.size()) / sum);
}
