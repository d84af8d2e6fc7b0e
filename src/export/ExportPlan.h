// What an export writes, decided from the segments and the options before anything is
// played: which segments are played, the codec and container, the stream's clock, the canvas
// the pictures are placed on and the size that is encoded, and the chapters.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
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

// Time left out of an export: what the segments played show from From to To (exclusive) is
// not written, and what comes after To is written that much earlier.
struct TExportCut {
  int64_t From = 0, To = 0;
  int64_t Removed = 0;  // by this cut and all before it
};

struct TExportPlan {
  // What is played: segments First to Last of the film (from 0), with their frames, their
  // largest width and height (the pictures' room on the canvas) and their highest frame rate.
  int32_t First = 0, Last = -1;
  int64_t TotalFrames = 0;
  int32_t Width = 0, Height = 0;
  int32_t MaxRate = 1;
  // The clock of what is played, from one pass over the segments: when each segment played
  // starts, in milliseconds (the film's clock, or the one segment's own from 0), and last the
  // end of the last one. Adding up the segments before each one anew took minutes for a film
  // of a million segments.
  std::vector<int64_t> Starts;
  // The film's index when the options want it, checked against the film.
  std::shared_ptr<const TFilmIndex> Index;
  // The idle stretches cut short, on the clock of Starts, in time order and apart.
  std::vector<TExportCut> Cuts;

  // A moment of the clock of Starts in the file: earlier by what the cuts before it left out;
  // a moment inside a cut, at the cut's start.
  int64_t Written(int64_t at) const;
  // When a frame of the segments played starts in the file: as FrameTime on them gives it,
  // less the cuts before it.
  int64_t FrameTime(const TSegments& played, TFramePos pos) const;
  // When the file ends.
  int64_t End() const { return Written(Starts.empty() ? 0 : Starts.back()); }

  // How it is written.
  const AVCodec* Codec = nullptr;
  const char* Muxer = nullptr;
  AVPixelFormat PixelFormat = AV_PIX_FMT_YUV420P;
  bool Gif = false;
  AVRational TimeBase{1, 1000};
  int Quality = kDefaultQuality;                // 0 to 100
  int32_t CanvasWidth = 0, CanvasHeight = 0;    // what the pictures are placed on
  int32_t OutputWidth = 0, OutputHeight = 0;    // what is encoded
  // The segments, for a whole film, and the index's automatic chapters inside them when all
  // are asked for (then for one segment too); each from its start to the next one's.
  std::vector<TExportChapter> Chapters;
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

// What is played, and the idle stretches cut. Throws Options for a codec that does not fit
// the format, a key interval or a longest idle stretch out of range, or an index that is
// wanted but missing, incomplete or of another film; NoSegment,
// NoFrames, and Playback for pictures larger than the player shows; Cancelled when `cancel`
// is set meanwhile. Takes time in proportion to the segments.
TExportPlan PlanPlaying(const TSegments& film, const TExportOptions& options,
                        const std::atomic<bool>* cancel = nullptr);

// How it is written, for the plan of what is played. Throws Encoder when the encoder is
// missing, Options when the width asked for leaves nothing; Cancelled when `cancel` is set
// meanwhile. Takes time in proportion to the segments.
void PlanWriting(TExportPlan& plan, const TSegments& film, const TExportOptions& options,
                 const std::atomic<bool>* cancel = nullptr);

// The segments played, copies sharing the film's data: the film up to the last segment
// played, or the segment asked for alone, at its own clock.
TSegments PlayedSegments(const TSegments& film, const TExportPlan& plan, const TExportOptions& options);
