// Writes the seed corpora of the fuzz targets: small films and shape records made by the
// film writer, segments laid out for the playback target, and packages and cabinet sets.
// Usage: make_seeds FILM_DIR SHAPE_DIR [PLAYBACK_DIR [CABINET_DIR]]
#include <cstdio>
#include <exception>
#include <optional>
#include <string>

#include "FuzzCabinetSet.h"
#include "filmwriter/FilmWriter.h"
#include "support/SpannedCabinet.h"

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

// One segment of a playback input (the layout is described in fuzz_playback.cpp).
struct TPlaybackSeedSegment {
  TWriterSegment Pictures;
  uint8_t Shapes = 0;  // bit 0: mask-only shape, bit 1: colour shape
  int8_t HotX = 0, HotY = 0;
  uint8_t ColourSide = 32;
  uint8_t ColourBits = 32;
  std::optional<uint8_t> BitsByte;  // written instead of the segment's own depth
};

std::vector<uint8_t> PlaybackInput(const std::vector<TPlaybackSeedSegment>& segments,
                                   uint8_t options, int8_t slack) {
  TByteWriter out;
  out.U8(uint8_t(segments.size() - 1)).U8(options).U8(uint8_t(slack));
  std::vector<TRawSegment> raws;
  for (const auto& s : segments) {
    const TRawSegment raw = EncodeSegment(s.Pictures);
    const uint8_t bits = s.Pictures.BitsPerPixel;
    out.U8(s.BitsByte.value_or(bits == 8 ? 0 : bits == 24 ? 1 : 2))
        .U8(uint8_t(s.Pictures.Width - 1))
        .U8(uint8_t(s.Pictures.Height - 1))
        .U8(uint8_t(s.Pictures.Pictures.size() - 1))
        .U8(s.Pictures.FrameRate)
        .U8(s.Shapes)
        .U8(uint8_t(s.HotX))
        .U8(uint8_t(s.HotY))
        .U8(uint8_t(s.ColourSide - 1))
        .U8(s.ColourBits == 24 ? 1 : 0)
        .U16(uint16_t(raw.FrameData.size()))
        .U16(uint16_t(raw.CursorData.size()))
        .U16(uint16_t(raw.PaletteData.size()));
    out.Bytes(raw.FrameData).Bytes(raw.CursorData).Bytes(raw.PaletteData);
  }
  return out.Take();
}

// Pictures for the playback target: a few rectangles change from frame to frame, so that
// the deltas are mostly zeros; the cursor moves and names the slots 0, 1 and an empty 2.
TPlaybackSeedSegment PlaybackSegment(uint8_t bits, int32_t w, int32_t h, int frames,
                                     uint8_t shapes) {
  TPlaybackSeedSegment seed;
  TWriterSegment& s = seed.Pictures;
  s.Width = w, s.Height = h, s.BitsPerPixel = bits, s.FrameRate = 25;
  const uint32_t mask = bits == 8 ? 0xFF : 0xFFFFFF;
  std::vector<uint32_t> picture(size_t(w * h), 0);
  for (int f = 0; f < frames; ++f) {
    for (int32_t y = f % h; y < h && y < f % h + 3; ++y)
      for (int32_t x = (f * 3) % w; x < w && x < (f * 3) % w + 5; ++x)
        picture[size_t(y * w + x)] = uint32_t((f + 1) * 0x3C5A17u) & mask;
    s.Pictures.push_back(picture);
    s.Track.push_back({uint16_t(f % 3), uint16_t(f * 5 % (w + 8)), uint16_t(f * 3 % (h + 8))});
    if (bits == 8) s.PaletteChanges.push_back({uint8_t(f * 16), {{uint8_t(f * 30), 200, 7, 0}}});
  }
  seed.Shapes = shapes;
  seed.HotX = 2, seed.HotY = 3;
  return seed;
}

// Noise: every pixel changes in every frame, by a value that its neighbours' changes seldom
// share, so nearly every run is a single pixel (the runs the decoder takes in blocks).
TPlaybackSeedSegment NoiseSegment(uint8_t bits, int32_t w, int32_t h, int frames) {
  TPlaybackSeedSegment seed;
  TWriterSegment& s = seed.Pictures;
  s.Width = w, s.Height = h, s.BitsPerPixel = bits, s.FrameRate = 25;
  const uint32_t mask = bits == 8 ? 0xFF : 0xFFFFFF;
  uint32_t random = 0x9E3779B9u;
  std::vector<uint32_t> picture(size_t(w * h), 0);
  for (int f = 0; f < frames; ++f) {
    for (auto& p : picture) {
      random = random * 1664525u + 1013904223u;
      p ^= (random >> 8) & mask;
    }
    s.Pictures.push_back(picture);
    s.Track.push_back({0, uint16_t(f * 7 % w), uint16_t(f * 5 % h)});
    if (bits == 8) s.PaletteChanges.push_back({});
  }
  return seed;
}

}  // namespace

// Kept indexes (IndexSeeds.cpp).
void WriteIndexSeeds(const std::string& dir);

int main(int argc, char** argv) {
  if (argc < 3 || argc > 6) {
    std::fprintf(stderr, "usage: make_seeds FILM_DIR SHAPE_DIR [PLAYBACK_DIR [CABINET_DIR [INDEX_DIR]]]\n");
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

    if (argc == 6) WriteIndexSeeds(argv[5]);
    if (argc >= 5) {
      const std::string cabinets = argv[4];
      const auto film = WriteFilm(all);
      const std::vector<TCabFile> files = {{"MyFilm.~zrflm", film},
                                           {"docs\\readme.txt", {'r', 'e', 'a', 'd'}},
                                           {"empty", {}}};
      WriteFileBytes(cabinets + "/stored", MakeCabinet(files, TCabCompression::None));
      WriteFileBytes(cabinets + "/mszip", MakeCabinet(files, TCabCompression::MsZip));
      WriteFileBytes(cabinets + "/film-only", MakeFilmPackage(film));
      // Sets whose folder runs across cabinets, split blocks included: stored, and the
      // MSZIP cabinet's blocks laid out again.
      std::vector<TSpanFile> spanFiles;
      for (const TCabFile& f : files) spanFiles.push_back({f.Name, f.Bytes});
      TSpanOptions options;
      options.MaxCabinetSize = 400;
      options.BlockSize = 96;
      auto setBytes = [](const std::vector<TSpanCabinet>& set) {
        std::vector<std::vector<uint8_t>> bytes;
        for (const TSpanCabinet& c : set) bytes.push_back(c.Bytes);
        return JoinCabinetSet(bytes);
      };
      WriteFileBytes(cabinets + "/stored-set", setBytes(MakeSpannedCabinets(spanFiles, options)));
      options.MaxCabinetSize = 256;
      WriteFileBytes(cabinets + "/mszip-set",
                     setBytes(ResplitCabinet(MakeCabinet(files, TCabCompression::MsZip), options)));
    }
    if (argc >= 4) {
      const std::string playback = argv[3];
      WriteFileBytes(playback + "/mode8", PlaybackInput({PlaybackSegment(8, 13, 7, 5, 1)}, 0, 0));
      WriteFileBytes(playback + "/mode24-padded",
                     PlaybackInput({PlaybackSegment(24, 5, 9, 6, 3)}, 2, 0));
      WriteFileBytes(playback + "/mode32", PlaybackInput({PlaybackSegment(32, 16, 16, 8, 2)}, 0, 4));
      WriteFileBytes(playback + "/three-modes",
                     PlaybackInput({PlaybackSegment(32, 8, 6, 3, 1), PlaybackSegment(8, 7, 3, 4, 2),
                                    PlaybackSegment(24, 7, 3, 2, 3)},
                                   1, 16));
      // Seeks back and forth after playing, with room for checkpoints and with a few KiB.
      for (const uint8_t budget : {uint8_t(0), uint8_t(8)}) {
        auto input = PlaybackInput({PlaybackSegment(8, 9, 5, 8, 1), PlaybackSegment(32, 6, 7, 8, 3)},
                                   uint8_t(4 | budget), 16);
        for (const uint8_t b : {1, 7, 0, 3, 1, 6, 0, 0, 1, 2, 0, 5, 1, 4}) input.push_back(b);
        WriteFileBytes(playback + (budget ? "/seeks-tight" : "/seeks"), input);
      }
      // Rows with and without padding (2 bytes at 8 bits, 1 at 24, none at 32).
      WriteFileBytes(playback + "/noise",
                     PlaybackInput({NoiseSegment(8, 30, 20, 4), NoiseSegment(24, 17, 9, 4),
                                    NoiseSegment(32, 16, 16, 4)},
                                   2, 0));
      WriteFileBytes(playback + "/too-big", PlaybackInput({PlaybackSegment(24, 4, 4, 2, 0)}, 0, -1));
      auto refused = PlaybackSegment(32, 6, 5, 2, 0);
      refused.BitsByte = 15;  // a depth the player refuses, after a segment it plays
      WriteFileBytes(playback + "/unsupported-depth",
                     PlaybackInput({PlaybackSegment(8, 6, 5, 3, 1), refused}, 0, 0));
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_seeds: %s\n", e.what());
    return 1;
  }
  return 0;
}
