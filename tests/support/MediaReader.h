// Reads a video file back through FFmpeg's libraries, for the export tests: the container's
// chapters and duration, the video stream's codec, size, pixel format and colour tags, its
// packets with their times and key frame flags, and every decoded picture with its time, as
// RGB or as its luma plane.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/codec_id.h>
#include <libavutil/pixfmt.h>
}

struct TMediaChapter {
  std::string Title;  // the "title" tag, UTF-8
  int64_t StartMs = 0;
  int64_t EndMs = 0;
};

struct TMediaFrame {
  int64_t Millis = 0;    // presentation time on the file's clock
  int64_t DurationMs = 0;  // as the container gives it; 0 when unknown
  AVPixelFormat Format = AV_PIX_FMT_NONE;
  int Width = 0;
  int Height = 0;
  // RGB (packed or planar) and palette pictures: each pixel as 0x00RRGGBB, the fourth byte
  // dropped.
  std::vector<uint32_t> Rgb;
  // Planar YUV pictures: the Y plane, Width × Height bytes without padding.
  std::vector<uint8_t> Luma;
  AVColorSpace ColorSpace = AVCOL_SPC_UNSPECIFIED;
  AVColorRange ColorRange = AVCOL_RANGE_UNSPECIFIED;
};

// A packet of the video stream as the container gives it.
struct TMediaPacket {
  int64_t Millis = 0;  // presentation time
  bool Key = false;    // the container marks it a key frame (a sync sample, a key block)
};

struct TMedia {
  std::string Error;           // empty when the file was read to its end
  std::string Container;       // the demuxer's names, e.g. "matroska,webm"
  int VideoStreams = 0;
  AVCodecID Codec = AV_CODEC_ID_NONE;
  int Width = 0;
  int Height = 0;
  AVPixelFormat Format = AV_PIX_FMT_NONE;  // of the stream, as the demuxer reports it
  AVColorSpace ColorSpace = AVCOL_SPC_UNSPECIFIED;
  AVColorRange ColorRange = AVCOL_RANGE_UNSPECIFIED;
  int64_t DurationMs = -1;     // the container's; -1 when it names none
  std::vector<TMediaChapter> Chapters;
  std::vector<TMediaPacket> Packets;  // in the file's order
  std::vector<TMediaFrame> Frames;  // in presentation order
  // Where the last picture ends: its time and its duration.
  int64_t EndMs() const { return Frames.empty() ? 0 : Frames.back().Millis + Frames.back().DurationMs; }
};

// Reads the file at `path`; with `pixels` false the pictures are decoded but not kept.
TMedia ReadMedia(const std::string& path, bool pixels = true);

// The luma plane an encoder is given for an RGB picture (0x00RRGGBB, width × height) when
// swscale converts it to `format` with the BT.709 matrix in limited range.
std::vector<uint8_t> ReferenceLuma(const std::vector<uint32_t>& rgb, int width, int height, AVPixelFormat format);

// Peak signal-to-noise ratio of two planes of equal size, in dB; 100 for equal planes.
double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b);
