// Writes the seed corpora of the fuzz targets: small films and shape records made by the
// film writer. Usage: make_seeds FILM_DIR SHAPE_DIR
#include <cstdio>
#include <exception>
#include <string>

#include "filmwriter/FilmWriter.h"

namespace {

TWriterShape Shape(bool colour, int32_t size, uint8_t bits) {
  TWriterShape shape;
  shape.Width = shape.Height = size;
  shape.HotSpotX = size / 3;
  shape.HotSpotY = size / 4;
  shape.ColorBits = bits;
  for (int i = 0; i < size * size; ++i) {
    shape.AndMask.push_back(uint8_t(i % 3 == 0));
    if (colour)
      shape.Color.push_back(uint32_t(i) * 0x010203u & 0xFFFFFF);
    else
      shape.XorMask.push_back(uint8_t(i % 5 == 0));
  }
  return shape;
}

TWriterSegment Segment(uint8_t bits, int32_t w, int32_t h, int frames) {
  TWriterSegment s;
  s.Name = "Сегмент";
  s.Width = w, s.Height = h, s.BitsPerPixel = bits, s.FrameRate = 10;
  const uint32_t mask = bits == 8 ? 0xFF : 0xFFFFFF;
  for (int f = 0; f < frames; ++f) {
    std::vector<uint32_t> p(size_t(w * h));
    for (size_t i = 0; i < p.size(); ++i) p[i] = uint32_t((i / 4 + f) * 0x9E3779B1u) & mask;
    s.Pictures.push_back(std::move(p));
    s.Track.push_back({uint16_t(f % 3), uint16_t(f), uint16_t(f * 2)});
    if (bits == 8)
      s.PaletteChanges.push_back({uint8_t(f * 10), {{uint8_t(f), 1, 2, 0}, {3, 4, 5, 0}}});
  }
  s.Shapes = {Shape(false, 8, 0), Shape(true, 5, 24)};
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_seeds FILM_DIR SHAPE_DIR\n");
    return 2;
  }
  try {
    const std::string films = argv[1], shapes = argv[2];
    const std::vector<TWriterSegment> all = {Segment(8, 7, 3, 3), Segment(24, 5, 2, 2),
                                             Segment(32, 4, 4, 2)};
    WriteFileBytes(films + "/three-segments", WriteFilm(all));
    for (size_t i = 0; i < all.size(); ++i)
      WriteFileBytes(films + "/one-segment-" + std::to_string(i),
                     WriteFilm(std::span(&all[i], 1)));
    WriteFileBytes(films + "/no-segments", std::vector<uint8_t>{0, 0, 0, 0});
    WriteFileBytes(films + "/executable",
                   MakeExecutableFilm(std::vector<uint8_t>(64, 0x4D), WriteFilm(all)));

    WriteFileBytes(shapes + "/mono-32", EncodeShapeRecord(Shape(false, 32, 0)));
    WriteFileBytes(shapes + "/mono-16", EncodeShapeRecord(Shape(false, 16, 0)));
    WriteFileBytes(shapes + "/colour-32", EncodeShapeRecord(Shape(true, 32, 32)));
    WriteFileBytes(shapes + "/colour-24", EncodeShapeRecord(Shape(true, 7, 24)));
    auto two = EncodeShapeRecord(Shape(true, 3, 32));
    auto mono = EncodeShapeRecord(Shape(false, 4, 0));
    two.insert(two.end(), mono.begin(), mono.end());
    WriteFileBytes(shapes + "/two-records", two);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_seeds: %s\n", e.what());
    return 1;
  }
  return 0;
}
