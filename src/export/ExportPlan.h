// What an export writes: the codec and container, the stream's clock, the canvas the
// pictures are placed on and the size that is encoded, the chapters.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "export/FilmExport.h"

struct TExportPlan {
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

struct TExportChapter {
  std::string Title;
  int64_t Start = 0, End = 0;  // milliseconds
};

bool Subsampled(AVPixelFormat format);
const char* EncoderName(TExportCodec codec);
TExportCodec ResolveCodec(const TExportOptions& o);
int Quality(const TExportOptions& o);
