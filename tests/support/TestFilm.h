// Films for tests, made by the writer: segments built in a few lines, pictures painted on
// them, and a film written and read back as the player reads it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "film/FilmFile.h"
#include "filmwriter/FilmWriter.h"

// The segments of a film file's bytes, read as the player reads them.
inline TSegments ReadTestFilm(const std::vector<uint8_t>& bytes) {
  TFilm film;
  TFilmError error;
  if (!ReadFilm(bytes, film, error)) throw std::runtime_error(error.Message);
  return std::move(film.Segments);
}

// A film made by the writer and read back: its source, its bytes and its segments.
struct TTestFilm {
  std::vector<TWriterSegment> Source;
  std::vector<uint8_t> Bytes;
  TSegments Segments;

  explicit TTestFilm(std::vector<TWriterSegment> source)
      : Source(std::move(source)), Bytes(WriteFilm(Source)), Segments(ReadTestFilm(Bytes)) {}
  // Fresh segments for the engine, which takes them by reference and only reads them.
  TSegments Read() const { return ReadTestFilm(Bytes); }
};

// A segment without pictures yet.
inline TWriterSegment NewSegment(std::string name, int32_t width, int32_t height, uint8_t bits = 32,
                                 uint8_t rate = 10) {
  TWriterSegment s;
  s.Name = std::move(name);
  s.Width = width, s.Height = height, s.BitsPerPixel = bits, s.FrameRate = rate;
  return s;
}

// A film of `count` segments, all without frames but the last, `last`: many segments in few
// bytes once packed, as a hostile film has them.
inline std::vector<TWriterSegment> EmptySegmentsThen(size_t count, TWriterSegment last) {
  std::vector<TWriterSegment> film(count - 1, NewSegment("", 2, 2));
  film.push_back(std::move(last));
  return film;
}

// `count` segments: copies of `segments` over and over, sharing their data, so that a million
// segments take little more than the copies themselves.
inline TSegments RepeatedSegments(const TSegments& segments, size_t count) {
  TSegments many;
  many.reserve(count);
  while (!segments.empty() && many.size() < count)
    for (auto& copy : ShareSegments(segments))
      if (many.size() < count) many.push_back(std::move(copy));
  return many;
}

// 0x00RRGGBB, each channel held within 0 to 255.
inline uint32_t Rgb(int r, int g, int b) {
  return uint32_t(std::clamp(r, 0, 255)) << 16 | uint32_t(std::clamp(g, 0, 255)) << 8 | uint32_t(std::clamp(b, 0, 255));
}

// Sets the pixels of a w × h rectangle at (x0, y0) of a picture `width` wide, within it.
inline void FillRect(std::vector<uint32_t>& picture, int32_t width, int x0, int y0, int w, int h, uint32_t value) {
  const int32_t height = int32_t(picture.size()) / width;
  for (int y = std::max(0, y0); y < std::min(height, y0 + h); ++y)
    for (int x = std::max(0, x0); x < std::min(width, x0 + w); ++x) picture[size_t(y * width + x)] = value;
}

// A picture whose pixel (x, y) is colour(x, y).
template <class TColour>
std::vector<uint32_t> Painted(int32_t width, int32_t height, TColour colour) {
  std::vector<uint32_t> p(size_t(width) * size_t(height));
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) p[size_t(y * width + x)] = colour(x, y);
  return p;
}

// A cursor shape: a white 6 × 6 square at the hot spot on a transparent 32 × 32 mask.
inline TWriterShape SquareCursor() {
  TWriterShape shape;
  shape.AndMask.assign(32 * 32, 1);
  shape.XorMask.assign(32 * 32, 0);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 6; ++x) shape.AndMask[size_t(y * 32 + x)] = 0, shape.XorMask[size_t(y * 32 + x)] = 1;
  return shape;
}
