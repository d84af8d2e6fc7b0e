// The run decoder. A frame record is a uint32 length, an int32 count of runs and the runs; a
// run is a pixel value (one index byte, or blue, green, red) and a repeat count (one byte at
// 8 bits per pixel, a little-endian uint16 otherwise). The runs give the frame's pixels in
// order, row after row. A frame is an exclusive-or delta: its runs are expanded into the
// frame image, which is combined with the picture, or combined with the picture directly.
//
// Only 8, 24 and 32 bits per pixel decode; other depths locate no runs and change nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "raster/URaster.h"

// The frames of a segment: their bits per pixel and size.
struct TFrameFormat {
  int Bits = 0;
  int32_t Width = 0;
  int32_t Height = 0;
};

// The runs of one frame record: the record's offset, where its runs start in the loaded
// data and the bytes of the runs that lie wholly inside it.
struct TFrameRuns {
  int64_t Frame = -1;
  size_t At = 0;
  size_t Bytes = 0;
};

// How runs are walked. Every way gives the same bytes. Plain takes one record at a time; Sse2
// and Avx2 take the single-pixel runs that noise and anti-aliased text are made of a block of
// records at a time with those vector instructions. A path the machine lacks falls back to
// the best one below it. Playback uses the best path; Plain stays to check the others against.
enum class TRunPath { Plain, Sse2, Avx2 };
TRunPath BestRunPath();

// The runs of the record at offset `frame` of the loaded frame data `data`.
TFrameRuns LocateRuns(std::span<const uint8_t> data, int64_t frame, int bits);
// Writes runs into the frame image (FrameWidth × (FrameHeight + 1), rows padded to 4 bytes),
// stopping at the last pixel of the frame. `data` is the frame data as it is now.
void ExpandRuns(std::span<const uint8_t> data, const TFrameRuns& runs, const TFrameFormat& format,
                TRasterBitmap& image, TRunPath path = BestRunPath());
// Combines runs with the picture (indices at 8 bits, 32-bit screen words otherwise); returns
// how many pixels they cover.
int64_t XorRunsIntoPicture(std::span<const uint8_t> data, const TFrameRuns& runs,
                           const TFrameFormat& format, TRasterBitmap& picture,
                           TRunPath path = BestRunPath());
// Combines the frame image with the picture from pixel `first` to the end of the frame;
// false, and nothing done, when `first` lies past it.
bool XorImageIntoPicture(const TRasterBitmap& image, const TFrameFormat& format, int64_t first,
                         TRasterBitmap& picture);
