// GIF's colours. A GIF picture has at most 256 colours. An export finds them for the whole
// film in a first playing: the film's own colours when there are no more than 256 (written
// exactly), else a palette made by FFmpeg's palettegen from the histogram of all its pictures.
// While writing, FFmpeg's paletteuse maps each picture onto that palette with error diffusion,
// anew only in the rectangle that changed, so the encoder stores only what changed; or, for
// films that need it, a palette is made for each picture alone.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <unordered_set>

#include "export/AvHandles.h"
#include "export/ExportPlan.h"

// Learns the film's palette from its pictures placed on the canvas, one after another.
class TGifPaletteMaker {
 public:
  // `generate`: a palette is made from the pictures when their colours are too many; otherwise
  // only the film's own colours are looked for.
  TGifPaletteMaker(const TExportPlan& plan, bool generate);

  // Takes the picture on the canvas (32-bit B, G, R, unused); `changed` marks the rows that
  // changed since the picture taken before. False once there is nothing more to learn: the
  // colours are too many, and no palette is to be made.
  bool Add(const uint8_t* canvas, int64_t stride, std::span<const uint8_t> changed);

  // Sets the plan's Palette (the film's own colours), or its FilmPalette (a palette made), or
  // neither (a palette for each picture).
  void Finish(TExportPlan& plan);

 private:
  void CountColours(const uint8_t* canvas, int64_t stride, std::span<const uint8_t> changed);

  const TExportPlan& FPlan;
  bool FExact;  // the film's own colours are looked for
  bool FMany = false;  // more than 256
  std::unordered_set<uint32_t> FColours;
  TAvSws FSws;  // the canvas to the encoder's size, in palettegen's BGRA
  TAvFrame FPicture;
  TAvGraph FGraph;  // buffer -> palettegen -> buffersink; none when no palette is made
  AVFilterContext* FSource = nullptr;
  AVFilterContext* FSink = nullptr;
  int64_t FPts = 0;
};

// Maps the pictures (BGRA) onto GIF palettes: the plan's FilmPalette, or one made for each
// picture when the plan has none.
class TGifPaletteFilter {
 public:
  explicit TGifPaletteFilter(const TExportPlan& plan);

  // Hands the picture on (its references are taken), then each picture that comes out (PAL8)
  // to `take`.
  void Push(AVFrame* picture, const std::function<void(const AVFrame*)>& take);
  // No more pictures: the last ones come out.
  void Finish(const std::function<void(const AVFrame*)>& take);

 private:
  void Drain(const std::function<void(const AVFrame*)>& take);

  TAvGraph FGraph;
  AVFilterContext* FSource = nullptr;
  AVFilterContext* FSink = nullptr;
  TAvFrame FOut;
};
