// The FFmpeg side of an export: the container and the encoder set up for the plan, the
// canvas converted to the encoder's pictures (in bands around the changed rows, or as
// indices of one GIF palette), encoding and muxing; GIF's palettes are in GifPalette.h.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

extern "C" {
#include <libavfilter/avfilter.h>
#include <libavformat/avformat.h>
}

#include "export/AvHandles.h"
#include "export/ExportPlan.h"
#include "export/GifPalette.h"

// The conversion of `height` rows of the canvas to `outputHeight` rows of the plan's output
// width in `format` (scaled with Lanczos when the plan scales).
TAvSws CanvasConversion(const TExportPlan& plan, AVPixelFormat format, int32_t height, int32_t outputHeight);

// Encodes pictures placed on the canvas (32-bit B, G, R, unused) and writes the file.
class TExportWriter {
 public:
  explicit TExportWriter(const TExportPlan& plan) : FPlan(plan) {}
  ~TExportWriter();
  TExportWriter(const TExportWriter&) = delete;
  TExportWriter& operator=(const TExportWriter&) = delete;

  // Creates the file at `path`, with the plan's chapters, and sets up the encoder.
  void Open(const std::string& path);

  // Encodes the canvas as the picture from `pts` (milliseconds) for `duration` milliseconds,
  // as a key frame when `key` (GIF has none). `changed` tells for each row of the canvas
  // whether it changed since the picture encoded before.
  void Encode(const uint8_t* canvas, int64_t stride, std::span<const uint8_t> changed, int64_t pts,
              int64_t duration, bool key);

  // Flushes the encoder and completes the file.
  void Finish();

 private:
  void OpenEncoder();
  void StartEncoderAnew();
  TAvSws Conversion(int32_t height, int32_t outputHeight) const;
  void MakeInputWritable();
  void Convert(const uint8_t* canvas, int64_t stride, std::span<const uint8_t> changed);
  void ConvertIndexed(const uint8_t* canvas, int64_t stride, std::span<const uint8_t> changed);
  void ConvertRowsBgra(const uint8_t* canvas, int64_t stride, std::span<const uint8_t> changed);
  void ConvertBand(const uint8_t* canvas, int64_t stride, int32_t top, int32_t bottom);
  void AddChapter(const TExportChapter& c);
  AVDictionary* EncoderSettings() const;
  void CopyHeldPicture(int64_t end);
  void FlushHeldGif();
  void Send(const AVFrame* frame);

  const TExportPlan& FPlan;
  TAvOutput FFormat;  // the container and its file
  AVStream* FStream = nullptr;
  TAvCodecContext FEncoder;
  bool FSent = false;  // the encoder has been sent a picture
  bool FHeader = false, FTrailer = false;  // written
  // Pictures in a group for encoders told where key frames go: more than any export holds.
  static constexpr int kLongGop = 1 << 30;
  TAvPacket FPacket;
  TAvBufferPool FInputPool;  // GIF: the encoder's pictures drawn in turn
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
  std::unique_ptr<TGifPaletteFilter> FGifPalettes;  // GIF without one exact palette
  // Durations of the pictures sent, by their times, for the packets that come out.
  std::map<int64_t, int64_t> FDurations;
  int64_t FLastPts = INT64_MIN;
  int64_t FLastDuration = 0;  // of the last picture, in the stream's units
  // GIF: the picture held back until the next one shows it is not overtaken in its fiftieth.
  TAvFrame FHeld;
};
