// How much of a film file a reader of its first segments needs, told while the file's bytes
// come out of the package, so that what lies after them is neither inflated nor written: a
// package a few megabytes long may hold a film padded to gigabytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "film/FilmFile.h"

// Follows the film file's records front to back over its bytes given piece by piece, and
// looks only at counts and sizes: the segment count, the shape count, each shape's two image
// sizes, the segment information and the palette size. Complete once the segments a reader
// wants are whole (up to the first that `last` names, else every listed one), or where the
// film cannot go on (a negative section size, which stops the reader there too): End() then
// says how many bytes ReadFilm, given the same `last`, reads of the film. A film whose bytes
// end first never completes; whatever it holds is then all there is to read.
class TFilmExtent {
 public:
  // `last` is held by reference: it must outlive the extent. Empty: every listed segment.
  explicit TFilmExtent(const TLastSegment& last) : FLast(last) {}

  // Takes the next bytes of the film file; true once complete (bytes after the end are not
  // looked at).
  bool Feed(std::span<const uint8_t> bytes);
  bool Complete() const { return FStep == TStep::Complete; }
  // Where the bytes a reader needs end, once complete; else the bytes taken so far.
  uint64_t End() const { return FPos; }

 private:
  enum class TStep { Count, List, ShapeCount, ShapeHead, MaskPixels, ColorHead, ColorPixels,
                     Info, CursorTrack, FrameData, PaletteSize, Palette, Complete };
  // Starts a step that gathers a field of `size` bytes, or one that passes over `size` bytes.
  void Gather(TStep step, size_t size);
  void Pass(TStep step, int64_t size);
  // What follows once the current step is done.
  void Next();
  void NextShapeOrInfo();
  void EndSegment();

  const TLastSegment& FLast;
  TStep FStep = TStep::Count;
  uint64_t FPos = 0;     // bytes taken
  uint64_t FLeft = 4;    // bytes the current step still takes
  uint8_t FField[kSegInfoSize] = {};
  size_t FFieldSize = 4;  // of the field being gathered
  int32_t FSegments = 0;  // listed
  int32_t FSegment = 0;   // the one being walked, from 1
  int64_t FShapesLeft = 0;
  TSegInfo FInfo;
};
