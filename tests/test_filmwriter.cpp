// The film writer: byte-exact records, the film layout, packages and executable films.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "film/FilmFile.h"
#include "filmwriter/FilmWriter.h"
#include "filmwriter/LargeFilm.h"

namespace {

using TBytes = std::vector<uint8_t>;

int32_t I32At(const TBytes& bytes, size_t offset) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | bytes.at(offset + size_t(i));
  return int32_t(v);
}

uint16_t U16At(const TBytes& bytes, size_t offset) {
  return uint16_t(bytes.at(offset) | (bytes.at(offset + 1) << 8));
}

// ---------------------------------------------------------------------------------------------
// Frame records from pictures: DeltaRuns, then EncodeFrameRecord.

struct TFrameCase {
  const char* Name;
  int BitsPerPixel;
  std::vector<uint32_t> Previous;
  std::vector<uint32_t> Current;
  uint32_t MaxRun;
  TBytes Expected;
};

std::vector<uint32_t> Repeat(uint32_t value, size_t count) {
  return std::vector<uint32_t>(count, value);
}

const TFrameCase kFrameCases[] = {
    {"TrueColor2x2AllRed", 24, Repeat(0, 4), Repeat(0xFF0000, 4), 0,
     {0x0D, 0, 0, 0, 0x01, 0, 0, 0, 0x00, 0x00, 0xFF, 0x04, 0x00}},
    {"Indexed3x1", 8, Repeat(0, 3), {5, 5, 7}, 0,
     {0x0C, 0, 0, 0, 0x02, 0, 0, 0, 0x05, 0x02, 0x07, 0x01}},
    {"IndexedRunSplitAt255", 8, Repeat(0, 300), Repeat(1, 300), 0,
     {0x0C, 0, 0, 0, 0x02, 0, 0, 0, 0x01, 0xFF, 0x01, 0x2D}},
    {"TrueColorRunSplitAt65535", 32, Repeat(0, 70000), Repeat(0x010203, 70000), 0,
     {0x12, 0, 0, 0, 0x02, 0, 0, 0, 0x03, 0x02, 0x01, 0xFF, 0xFF, 0x03, 0x02, 0x01, 0x71, 0x11}},
    {"MaxRunGiven", 8, Repeat(0, 3), Repeat(9, 3), 2,
     {0x0C, 0, 0, 0, 0x02, 0, 0, 0, 0x09, 0x02, 0x09, 0x01}},
    {"ExclusiveOrOfPrevious", 32, {0x123456, 0xFFFFFF}, {0x123456, 0x00FFFF}, 0,
     {0x12, 0, 0, 0, 0x02, 0, 0, 0, 0, 0, 0, 0x01, 0x00, 0x00, 0x00, 0xFF, 0x01, 0x00}},
    {"UnchangedPictureIsOneZeroRun", 24, {0xABCDEF, 0xABCDEF}, {0xABCDEF, 0xABCDEF}, 0,
     {0x0D, 0, 0, 0, 0x01, 0, 0, 0, 0, 0, 0, 0x02, 0x00}},
};

class TFrameRecordTest : public testing::TestWithParam<TFrameCase> {};

TEST_P(TFrameRecordTest, EncodesDeltaAsRuns) {
  const TFrameCase& c = GetParam();
  const std::vector<TWriterRun> runs = DeltaRuns(c.Previous, c.Current, c.BitsPerPixel, c.MaxRun);
  EXPECT_EQ(EncodeFrameRecord(runs, c.BitsPerPixel), c.Expected);
}

INSTANTIATE_TEST_SUITE_P(Writer, TFrameRecordTest, testing::ValuesIn(kFrameCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(FrameRecord, ExtraBytesCountInTheLengthAndTheRunCountCanBeForged) {
  const TWriterRun run{7, 1};
  EXPECT_EQ(EncodeFrameRecord(std::span(&run, 1), 8, 3, -1),
            (TBytes{0x0D, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0x07, 0x01, 0, 0, 0}));
}

// ---------------------------------------------------------------------------------------------
// Palette records.

TColorEntry Bgr(uint8_t blue, uint8_t green, uint8_t red) { return {blue, green, red, 0}; }

TEST(PaletteRecord, Layouts) {
  EXPECT_EQ(EncodePaletteRecord({7, {Bgr(0, 0, 0xFF)}}), (TBytes{0x01, 0x07, 0, 0, 0xFF, 0}));
  EXPECT_EQ(EncodePaletteRecord({}), TBytes{0x00});

  const TBytes three = EncodePaletteRecord({250, {Bgr(1, 2, 3), Bgr(4, 5, 6), Bgr(7, 8, 9)}});
  EXPECT_EQ(three.size(), 14u);
  EXPECT_EQ(three[0], 3);
  EXPECT_EQ(three[1], 250);
  EXPECT_EQ(three[13], 0);  // reserved byte of entry 252

  const TBytes widest = EncodePaletteRecord({1, std::vector<TColorEntry>(255)});
  EXPECT_EQ(widest.size(), 2u + 255u * 4u);
}

// ---------------------------------------------------------------------------------------------
// Cursor shape records.

TWriterShape MonoShape(int32_t width, int32_t height) {
  TWriterShape shape;
  shape.Width = width;
  shape.Height = height;
  shape.AndMask.assign(size_t(width * height), 1);
  shape.XorMask.assign(size_t(width * height), 0);
  return shape;
}

TWriterShape ColorShape(int32_t width, int32_t height, uint8_t bits) {
  TWriterShape shape;
  shape.Width = width;
  shape.Height = height;
  shape.AndMask.assign(size_t(width * height), 1);
  shape.Color.assign(size_t(width * height), 0);
  shape.ColorBits = bits;
  return shape;
}

struct TShapeCase {
  const char* Name;
  TWriterShape Shape;
  int32_t MaskSize, MaskWidth, MaskHeight;
  int32_t ColorSize, ColorWidth, ColorHeight;
  uint8_t ColorBits;
};

const TShapeCase kShapeCases[] = {
    {"Mono32x32", MonoShape(32, 32), 256, 32, 64, 0, 0, 0, 0},
    {"Color32x32At32Bits", ColorShape(32, 32, 32), 128, 32, 32, 4096, 32, 32, 32},
    {"Color32x32At24Bits", ColorShape(32, 32, 24), 128, 32, 32, 3072, 32, 32, 24},
    // 20 pixels: mask rows of 3 bytes padded to 4; colour rows of 60 bytes.
    {"Mono20x3RowsPadded", MonoShape(20, 3), 24, 20, 6, 0, 0, 0, 0},
    {"Color3x2At24BitsRowsPadded", ColorShape(3, 2, 24), 4, 3, 2, 24, 3, 2, 24},
};

class TShapeRecordTest : public testing::TestWithParam<TShapeCase> {};

TEST_P(TShapeRecordTest, HeadersAndSizes) {
  const TShapeCase& c = GetParam();
  const TBytes record = EncodeShapeRecord(c.Shape);
  ASSERT_EQ(record.size(), 34u + size_t(c.MaskSize) + size_t(c.ColorSize));
  EXPECT_EQ(I32At(record, 8), c.MaskSize);
  EXPECT_EQ(I32At(record, 12), c.MaskWidth);
  EXPECT_EQ(I32At(record, 16), c.MaskHeight);
  EXPECT_EQ(record[20], 1);
  const size_t color = 21 + size_t(c.MaskSize);
  EXPECT_EQ(I32At(record, color), c.ColorSize);
  EXPECT_EQ(I32At(record, color + 4), c.ColorWidth);
  EXPECT_EQ(I32At(record, color + 8), c.ColorHeight);
  EXPECT_EQ(record[color + 12], c.ColorBits);
}

INSTANTIATE_TEST_SUITE_P(Writer, TShapeRecordTest, testing::ValuesIn(kShapeCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(ShapeRecord, MonoMaskBitsAndHalf) {
  TWriterShape shape = MonoShape(20, 3);
  shape.HotSpotX = 4;
  shape.HotSpotY = -2;
  shape.AndMask[0] = 0;           // row 0, column 0
  shape.AndMask[2 * 20 + 19] = 0;  // row 2, column 19
  shape.XorMask[1] = 1;           // XOR half, row 0, column 1
  shape.XorMask[20 + 8] = 1;      // XOR half, row 1, column 8
  const TBytes record = EncodeShapeRecord(shape);
  EXPECT_EQ(I32At(record, 0), 4);
  EXPECT_EQ(I32At(record, 4), -2);
  const TBytes mask(record.begin() + 21, record.begin() + 21 + 24);
  const TBytes expected = {
      0x7F, 0xFF, 0xF0, 0x00,  // AND row 0: bit 0 clear, padding zero
      0xFF, 0xFF, 0xF0, 0x00,  // AND row 1
      0xFF, 0xFF, 0xE0, 0x00,  // AND row 2: bit 19 clear
      0x40, 0x00, 0x00, 0x00,  // XOR row 0
      0x00, 0x80, 0x00, 0x00,  // XOR row 1
      0x00, 0x00, 0x00, 0x00,  // XOR row 2
  };
  EXPECT_EQ(mask, expected);
}

TEST(ShapeRecord, ColorPixelsAreBlueGreenRedRowsPadded) {
  TWriterShape shape = ColorShape(3, 2, 24);
  shape.Color = {0x112233, 0x445566, 0x778899, 0xAABBCC, 0xDDEEFF, 0x010203};
  const TBytes record = EncodeShapeRecord(shape);
  const TBytes color(record.begin() + 21 + 4 + 13, record.end());
  const TBytes expected = {
      0x33, 0x22, 0x11, 0x66, 0x55, 0x44, 0x99, 0x88, 0x77, 0, 0, 0,
      0xCC, 0xBB, 0xAA, 0xFF, 0xEE, 0xDD, 0x03, 0x02, 0x01, 0, 0, 0,
  };
  EXPECT_EQ(color, expected);

  shape = ColorShape(1, 1, 32);
  shape.Color = {0x123456};
  const TBytes wide = EncodeShapeRecord(shape);
  EXPECT_EQ(TBytes(wide.end() - 4, wide.end()), (TBytes{0x56, 0x34, 0x12, 0x00}));
}

// ---------------------------------------------------------------------------------------------
// The film layout.

TEST(FilmLayout, ListBlocksAndSegInfoOffsets) {
  TWriterSegment indexed;
  indexed.Name = "Палитра";
  indexed.Width = 3;
  indexed.Height = 1;
  indexed.BitsPerPixel = 8;
  indexed.FrameRate = 15;
  indexed.Pictures = {{5, 5, 7}, {5, 5, 7}};
  indexed.PaletteChanges = {{7, {Bgr(0, 0, 0xFF)}}};  // frame 1 gets "no change"
  indexed.Track = {{0, 1, 0}, {0, 2, 0}};

  TWriterSegment trueColor;
  trueColor.Name = "A";
  trueColor.Width = 2;
  trueColor.Height = 2;
  trueColor.BitsPerPixel = 24;
  trueColor.FrameRate = 10;
  trueColor.Pictures = {Repeat(0xFF0000, 4)};
  trueColor.Shapes = {MonoShape(32, 32)};
  trueColor.PaletteChanges = {{0, {Bgr(1, 1, 1)}}};  // ignored: not an 8-bit segment

  const TWriterSegment segments[] = {indexed, trueColor};
  const TBytes film = WriteFilm(segments);

  EXPECT_EQ(I32At(film, 0), 2);
  // List entry 0: the name in Windows-1251, FrameCount, FrameRate.
  const TBytes name = {7, 0xCF, 0xE0, 0xEB, 0xE8, 0xF2, 0xF0, 0xE0, 0};
  EXPECT_EQ(TBytes(film.begin() + 4, film.begin() + 4 + 9), name);
  EXPECT_EQ(I32At(film, 4 + 256), 2);
  EXPECT_EQ(film[4 + 260], 15);
  EXPECT_EQ(film[4 + 261], 1);  // list entry 1's name length
  EXPECT_EQ(I32At(film, 4 + 261 + 256), 1);
  EXPECT_EQ(film[4 + 261 + 260], 10);

  // Block 0: no shapes, then SegInfo.
  size_t at = 4 + 2 * 261;
  EXPECT_EQ(I32At(film, at), 0);
  const size_t info = at + 4;
  EXPECT_EQ(I32At(film, info + 0), 22);  // FrameDataSize: frames of 12 and 10 bytes
  EXPECT_EQ(I32At(film, info + 4), 12);  // CursorDataSize: two track records
  EXPECT_EQ(I32At(film, info + 8), 3);
  EXPECT_EQ(I32At(film, info + 12), 1);
  EXPECT_EQ(film[info + 16], 8);
  EXPECT_EQ(I32At(film, info + 17), 2);  // FrameCount
  EXPECT_EQ(film[info + 21], 15);        // FrameRate
  EXPECT_EQ(TBytes(film.begin() + ptrdiff_t(info) + 22, film.begin() + ptrdiff_t(info) + 31),
            name);
  at = info + 278;
  // The track comes before the frames.
  EXPECT_EQ(U16At(film, at + 2), 1);
  EXPECT_EQ(U16At(film, at + 8), 2);
  at += 12;
  EXPECT_EQ(TBytes(film.begin() + ptrdiff_t(at), film.begin() + ptrdiff_t(at) + 12),
            (TBytes{0x0C, 0, 0, 0, 0x02, 0, 0, 0, 0x05, 0x02, 0x07, 0x01}));
  // The second frame repeats the picture: one zero run.
  EXPECT_EQ(TBytes(film.begin() + ptrdiff_t(at) + 12, film.begin() + ptrdiff_t(at) + 22),
            (TBytes{0x0A, 0, 0, 0, 0x01, 0, 0, 0, 0x00, 0x03}));
  at += 22;
  EXPECT_EQ(I32At(film, at), 7);  // PaletteDataSize: 6 + 1
  EXPECT_EQ(TBytes(film.begin() + ptrdiff_t(at) + 4, film.begin() + ptrdiff_t(at) + 11),
            (TBytes{0x01, 0x07, 0, 0, 0xFF, 0, 0x00}));
  at += 11;

  // Block 1: one shape record, SegInfo, no track, one frame, no palette section.
  EXPECT_EQ(I32At(film, at), 1);
  at += 4 + 34 + 256;
  EXPECT_EQ(I32At(film, at + 0), 13);
  EXPECT_EQ(I32At(film, at + 4), 0);
  EXPECT_EQ(film[at + 16], 24);
  EXPECT_EQ(I32At(film, at + 17), 1);
  EXPECT_EQ(film[at + 21], 10);
  EXPECT_EQ(film.size(), at + 278 + 13);
}

TEST(FilmLayout, RawSegmentIsWrittenAsGiven) {
  TRawSegment raw;
  raw.BitsPerPixel = 8;
  raw.FrameDataSize = 1000;  // disagrees with the section on purpose
  raw.FrameData = {0xAA};
  raw.PaletteDataSize = -1;
  const TBytes film = WriteFilmRaw(std::span(&raw, 1), 7);
  EXPECT_EQ(I32At(film, 0), 7);
  const size_t info = 4 + 261 + 4;
  EXPECT_EQ(I32At(film, info), 1000);
  EXPECT_EQ(film.size(), info + 278 + 1 + 4);
  EXPECT_EQ(film[info + 278], 0xAA);
  EXPECT_EQ(I32At(film, info + 279), -1);
}

// ---------------------------------------------------------------------------------------------
// Rejected input.

struct TRejectCase {
  const char* Name;
  std::function<void()> Call;
  const char* Message;  // a part of the message
};

TWriterSegment SmallSegment(uint8_t bits) {
  TWriterSegment segment;
  segment.Width = 2;
  segment.Height = 1;
  segment.BitsPerPixel = bits;
  segment.Pictures = {{0, 1}};
  return segment;
}

const TRejectCase kRejectCases[] = {
    {"PictureOfWrongSize",
     [] {
       TWriterSegment s = SmallSegment(24);
       s.Pictures.push_back({1, 2, 3});
       EncodeSegment(s);
     },
     "picture 1 has 3 values, expected width × height = 2"},
    {"UnsupportedDepth", [] { EncodeSegment(SmallSegment(16)); },
     "BitsPerPixel must be 8, 24 or 32"},
    {"IndexAbove255",
     [] {
       TWriterSegment s = SmallSegment(8);
       s.Pictures[0][1] = 256;
       EncodeSegment(s);
     },
     "picture 0 holds an index above 255"},
    {"MorePaletteChangesThanFrames",
     [] {
       TWriterSegment s = SmallSegment(8);
       s.PaletteChanges.resize(2);
       EncodeSegment(s);
     },
     "2 palette changes for 1 frames"},
    {"PaletteOf256Entries",
     [] { EncodePaletteRecord({0, std::vector<TColorEntry>(256)}); },
     "one record changes at most 255"},
    {"PalettePastEntry255",
     [] { EncodePaletteRecord({255, std::vector<TColorEntry>(2)}); },
     "entries 255 to 256 reach past entry 255"},
    {"RunTooLongForIndexedCount",
     [] {
       const TWriterRun run{1, 256};
       EncodeFrameRecord(std::span(&run, 1), 8);
     },
     "run of 256 pixels exceeds 255"},
    {"MaxRunTooLong", [] { DeltaRuns({}, {}, 8, 256); }, "does not fit the run count field"},
    {"ShapeMaskOfWrongSize",
     [] {
       TWriterShape s = MonoShape(32, 32);
       s.AndMask.pop_back();
       EncodeShapeRecord(s);
     },
     "AndMask has 1023 values"},
    {"ShapeMaskValueNotABit",
     [] {
       TWriterShape s = MonoShape(2, 2);
       s.XorMask[0] = 2;
       EncodeShapeRecord(s);
     },
     "XorMask values must be 0 or 1"},
    {"ShapeColorBits16", [] { EncodeShapeRecord(ColorShape(2, 2, 16)); },
     "ColorBits must be 24 or 32"},
};

class TRejectTest : public testing::TestWithParam<TRejectCase> {};

TEST_P(TRejectTest, ThrowsInvalidArgument) {
  const TRejectCase& c = GetParam();
  try {
    c.Call();
    FAIL() << "no exception";
  } catch (const std::invalid_argument& e) {
    EXPECT_NE(std::string(e.what()).find(c.Message), std::string::npos) << e.what();
  }
}

INSTANTIATE_TEST_SUITE_P(Writer, TRejectTest, testing::ValuesIn(kRejectCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// ---------------------------------------------------------------------------------------------
// Containers.

TEST(Package, HoldsTheFilmFileAndIsReproducible) {
  TBytes film(100000);
  for (size_t i = 0; i < film.size(); ++i) film[i] = uint8_t(i * 7 / 5);
  for (TCabCompression compression : {TCabCompression::None, TCabCompression::MsZip}) {
    const TBytes package = MakeFilmPackage(film, compression);
    ASSERT_GE(package.size(), 4u);
    EXPECT_EQ(TBytes(package.begin(), package.begin() + 4), (TBytes{'M', 'S', 'C', 'F'}));
    const std::vector<TCabFile> files = ReadCabinet(package);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].Name, "MyFilm.~zrflm");
    EXPECT_EQ(files[0].Bytes, film);
    EXPECT_EQ(MakeFilmPackage(film, compression), package);
  }
  EXPECT_LT(MakeFilmPackage(film, TCabCompression::MsZip).size(),
            MakeFilmPackage(film, TCabCompression::None).size());
}

TEST(Package, CabinetWithSeveralFiles) {
  const TCabFile files[] = {{"MyFilm.~zrflm", {1, 2, 3}}, {"readme.txt", {'h', 'i'}}};
  const std::vector<TCabFile> back = ReadCabinet(MakeCabinet(files, TCabCompression::None));
  ASSERT_EQ(back.size(), 2u);
  for (const TCabFile& file : files) {
    bool found = false;
    for (const TCabFile& other : back) {
      found |= other.Name == file.Name && other.Bytes == file.Bytes;
    }
    EXPECT_TRUE(found) << file.Name;
  }
}

TEST(Package, ExecutableFilmEndsWithThePackageAndItsLength) {
  const TBytes prefix = {'M', 'Z', 0x90, 0x00};
  const TBytes package = {0x10, 0x20, 0x30};
  EXPECT_EQ(MakeExecutableFilm(prefix, package),
            (TBytes{'M', 'Z', 0x90, 0x00, 0x10, 0x20, 0x30, 0x03, 0, 0, 0}));
  EXPECT_EQ(MakeExecutableFilm({}, package, 1000),
            (TBytes{0x10, 0x20, 0x30, 0xE8, 0x03, 0, 0}));
}

TEST(Files, WriteFileBytes) {
  const std::filesystem::path path =
      std::filesystem::temp_directory_path() / ("filmwriter-" + std::to_string(::getpid()));
  const TBytes bytes = {0, 1, 2, 0xFF};
  WriteFileBytes(path.string(), bytes);
  std::ifstream in(path, std::ios::binary);
  const TBytes back{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  EXPECT_EQ(back, bytes);
  std::filesystem::remove(path);
  EXPECT_THROW(WriteFileBytes((path / "no" / "such").string(), bytes), std::runtime_error);
}


// The large films the benchmarks and memory measurements play: every frame record covers the
// picture exactly, segments keep to their size, and the same plan gives the same film.
TEST(LargeFilm, FramesCoverThePictureAndSegmentsKeepToTheirSize) {
  struct Case {
    int32_t width, height;
    uint8_t bits;
    uint64_t frameBytes, segmentBytes;
  };
  const Case cases[] = {
      {64, 40, 32, 300000, 100000},
      {97, 31, 24, 200000, 64000},
      {1280, 800, 32, 2000000, 1500000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
    TLargeFilmPlan plan;
    plan.Width = c.width, plan.Height = c.height, plan.BitsPerPixel = c.bits;
    plan.FrameBytes = c.frameBytes, plan.SegmentBytes = c.segmentBytes;
    const TBytes bytes = WriteFilmRaw(MakeLargeFilmSegments(plan));
    EXPECT_EQ(WriteFilmRaw(MakeLargeFilmSegments(plan)), bytes);
    TFilm film;
    TFilmError error;
    ASSERT_TRUE(ReadFilm(bytes, film, error)) << error.Message;
    ASSERT_GE(film.Segments.size(), 2u);
    uint64_t total = 0;
    for (const auto& seg : film.Segments) {
      EXPECT_EQ(seg->BitsPerPixel, c.bits);
      EXPECT_LE(uint64_t(seg->FrameDataSize), c.segmentBytes);
      EXPECT_EQ(seg->CursorDataSize, seg->FrameCount * 6);
      EXPECT_EQ(seg->CursorList->Count(), 1);
      TByteReader records(seg->SegStream.Bytes());
      int32_t frames = 0;
      while (records.Remaining() > 0) {
        const size_t start = records.Position();
        const uint32_t length = records.ReadU32();
        const int32_t runs = records.ReadI32();
        ASSERT_EQ(length, 8 + uint32_t(runs) * 5) << "frame " << frames;
        uint64_t pixels = 0;
        for (int32_t r = 0; r < runs; ++r) {
          records.Skip(3);
          const uint16_t count = records.ReadU16();
          EXPECT_GT(count, 0);
          pixels += count;
        }
        ASSERT_FALSE(records.Overrun());
        ASSERT_EQ(records.Position(), start + length);
        EXPECT_EQ(pixels, uint64_t(c.width) * uint64_t(c.height)) << "frame " << frames;
        ++frames;
      }
      EXPECT_EQ(frames, seg->FrameCount);
      total += uint64_t(seg->FrameDataSize);
    }
    EXPECT_GE(total, c.frameBytes);
    plan.Seed = 2;
    EXPECT_NE(WriteFilmRaw(MakeLargeFilmSegments(plan)), bytes) << "the seed counts";
  }
  TLargeFilmPlan eight;
  eight.BitsPerPixel = 8;
  EXPECT_THROW(MakeLargeFilmSegments(eight), std::invalid_argument);
}

}  // namespace
