#include "export/ExportPlan.h"

#include <algorithm>

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
