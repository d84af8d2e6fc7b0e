// What an export writes, decided from the segments and the options before anything is
// played: which segments are played, the codec and container, the stream's clock, the canvas
// the pictures are placed on and the size that is encoded, and the chapters.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "export/FilmExport.h"

struct TExportChapter {
  std::string Title;
  int64_t Start = 0, End = 0;  // milliseconds
};

struct TExportPlan {
  // What is played: segments First to Last of the film (from 0), with their frames, their
  // largest width and height (the pictures' room on the canvas) and their highest frame rate.
  int32_t First = 0, Last = -1;
  int64_t TotalFrames = 0;
  int32_t Width = 0, Height = 0;
  int32_t MaxRate = 1;

  // How it is written.
  const AVCodec* Codec = nullptr;
  const char* Muxer = nullptr;
  AVPixelFormat PixelFormat = AV_PIX_FMT_YUV420P;
  bool Gif = false;
  AVRational TimeBase{1, 1000};
  int Quality = kDefaultQuality;                // 0 to 100
  int32_t CanvasWidth = 0, CanvasHeight = 0;    // what the pictures are placed on
  int32_t OutputWidth = 0, OutputHeight = 0;    // what is encoded
  std::vector<TExportChapter> Chapters;        // the segments, for a whole film
  // Milliseconds of film time between key frames, at most; 0: none (GIF). Chapters start on one.
  int64_t KeyInterval = 0;
  // GIF: the colours (0x00RRGGBB) of every picture of the export, when there are no more than
  // 256; then every picture is written with this one palette, exactly, and the encoder stores
  // only what changed.
  std::vector<uint32_t> Palette;
  // GIF of more colours with one palette for the film: its 256 entries (0xAARRGGBB, one of them
  // clear for the parts of a picture that stay as they were), made from the film's pictures and
  // applied with error diffusion. Both empty: a palette made for each picture.
  std::vector<uint32_t> FilmPalette;

  // GIF looks for one exact palette unless the pictures are scaled (scaling makes new colours).
  bool WantsOnePalette() const {
    return Gif && OutputWidth == CanvasWidth && OutputHeight == CanvasHeight;
  }
};

// What is played. Throws Options for a codec that does not fit the format or a key interval
// out of range, NoSegment,
// NoFrames, and Playback for pictures larger than the player shows.
TExportPlan PlanPlaying(const TSegments& film, const TExportOptions& options);

// How it is written, for the plan of what is played. Throws Encoder when the encoder is
// missing, Options when the width asked for leaves nothing.
void PlanWriting(TExportPlan& plan, const TSegments& film, const TExportOptions& options);

// The segments played, copies sharing the film's data: the film up to the last segment
// played, or the segment asked for alone, at its own clock.
TSegments PlayedSegments(const TSegments& film, const TExportPlan& plan, const TExportOptions& options);
