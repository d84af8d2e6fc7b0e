// Large films for measuring memory and loading speed: screen-recording-like frame data of a
// chosen size, made quickly and the same on every run.
//
// Each frame changes part of the picture: a band of anti-aliased text (short runs from a few
// grey levels), a strip of picture content (single pixels of slowly drifting colours) and a
// caret, with long runs of unchanged pixels between them; the first frame of a segment draws
// the whole desktop (a gradient). Such data packs about three to one with MSZIP, as real
// recordings of busy screens do. Segments are cut at SegmentBytes of frame data, so each one
// fits the player's frame buffer.
#pragma once

#include <cstdint>
#include <vector>

#include "filmwriter/FilmWriter.h"

struct TLargeFilmPlan {
  uint64_t FrameBytes = uint64_t(100) << 20;  // the film's frame data, about
  int32_t Width = 1280;
  int32_t Height = 800;
  uint8_t BitsPerPixel = 32;  // 24 or 32
  uint8_t FrameRate = 25;
  uint64_t SegmentBytes = uint64_t(48) << 20;
  uint32_t Seed = 1;
};

// The segments of such a film, as raw sections.
std::vector<TRawSegment> MakeLargeFilmSegments(const TLargeFilmPlan& plan);
