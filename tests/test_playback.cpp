#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <tuple>

#include "shell/widgets/UzrPlacement.h"
#include "playback_support.h"
#include "support/PlaybackProbe.h"

namespace {

std::vector<uint8_t> Bytes(std::initializer_list<int> values) {
  std::vector<uint8_t> v;
  for (int b : values) v.push_back(uint8_t(b));
  return v;
}

std::vector<uint8_t> ImageRow(const TRasterBitmap& image, int32_t y) {
  return std::vector<uint8_t>(image.Row(y), image.Row(y) + image.Stride());
}

// Plays the first frame of a one-segment film and returns the core.
void PlayOne(TCoreFixture& f, const TRawSegment& segment) {
  f.LoadBytes(WriteFilmRaw(std::vector<TRawSegment>{segment}));
  ASSERT_EQ(f.Core.SetCurSegment(), kResultOk);
  TPlaybackProbe::DecodeFrame(f.Core);
  TPlaybackProbe::ComposeFrame(f.Core);
}

TEST(FrameDecoder, TheWorkedExamplesDecodeByteForByte) {
  TCoreFixture f;
  // A 24-bit 2 × 2 frame, all pure red: 6 bytes a row and 2 of padding.
  const auto red = Bytes({0x0D, 0, 0, 0, 1, 0, 0, 0, 0x00, 0x00, 0xFF, 0x04, 0x00});
  PlayOne(f, RawSegment("red", 2, 2, 24, 1, red));
  const TRasterBitmap* image = TPlaybackProbe::FrameImage(f.Core);
  EXPECT_EQ(ImageRow(*image, 0), Bytes({0, 0, 0xFF, 0, 0, 0xFF, 0, 0}));
  EXPECT_EQ(ImageRow(*image, 1), Bytes({0, 0, 0xFF, 0, 0, 0xFF, 0, 0}));
  EXPECT_EQ(ImageRow(*image, 2), Bytes({0, 0, 0, 0, 0, 0, 0, 0}));  // the spare row
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 2; ++x) EXPECT_EQ(f.Core.Picture()->PixelValue(x, y), 0x00FF0000u);

  // An 8-bit 3 × 1 frame 5, 5, 7 with the palette record that makes entry 7 pure red.
  TCoreFixture g;
  const auto frame = Bytes({0x0C, 0, 0, 0, 2, 0, 0, 0, 5, 2, 7, 1});
  const auto palette = Bytes({1, 7, 0, 0, 0xFF, 0});
  PlayOne(g, RawSegment("eight", 3, 1, 8, 1, frame, {}, palette));
  EXPECT_EQ(ImageRow(*TPlaybackProbe::FrameImage(g.Core), 0), Bytes({5, 5, 7, 0}));
  EXPECT_EQ(g.Core.Palette()[7], (TColorEntry{0, 0, 0xFF, 0}));
  EXPECT_EQ(g.Core.Picture()->PixelColor(2, 0), 0xFF0000u);
  EXPECT_EQ(g.Core.Picture()->ColorTable()[7], (TColorEntry{0, 0, 0xFF, 0}));
}

TEST(FrameDecoder, RunsCrossRowsAndSkipThePaddingOnce) {
  struct Case {
    const char* name;
    int32_t width, height;
    uint8_t bits;
    std::vector<TWriterRun> runs;
    // Expected pixels that the runs set, as (x, y, value); every other pixel stays 0.
    std::vector<std::tuple<int, int, uint32_t>> set;
  };
  const std::vector<Case> cases = {
      {"24-bit, 801 wide: 1000 pixels fill row 0 and 199 of row 1", 801, 3, 24,
       {{0x0A0B0C, 1000}}, {{800, 0, 0x0A0B0C}, {0, 1, 0x0A0B0C}, {198, 1, 0x0A0B0C}}},
      {"8-bit, 798 wide: 255 pixels from column 700", 798, 2, 8,
       {{0, 255}, {0, 255}, {0, 190}, {9, 255}}, {{700, 0, 9}, {797, 0, 9}, {0, 1, 9}, {156, 1, 9}}},
      {"a run that ends at the row end", 3, 2, 24, {{1, 3}, {2, 1}}, {{2, 0, 1}, {0, 1, 2}}},
      {"a count of zero writes nothing", 3, 1, 32, {{5, 0}, {6, 1}}, {{0, 0, 6}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TCoreFixture f;
    PlayOne(f, RawSegment("s", c.width, c.height, c.bits, 1, EncodeFrameRecord(c.runs, c.bits)));
    const TRasterBitmap* image = TPlaybackProbe::FrameImage(f.Core);
    const int64_t rowBytes = int64_t(c.width) * (c.bits / 8);
    // Count the pixels each run wrote and check the padding stayed zero.
    int64_t written = 0;
    for (int32_t y = 0; y < c.height + 1; ++y) {
      const uint8_t* row = image->Row(y);
      for (int64_t b = rowBytes; b < image->Stride(); ++b) ASSERT_EQ(row[b], 0) << "padding of row " << y;
      for (int32_t x = 0; x < c.width; ++x) written += image->PixelValue(x, y) != 0;
    }
    int64_t expected = 0;
    for (const auto& r : c.runs) expected += r.Value ? r.Count : 0;
    EXPECT_EQ(written, expected);
    for (const auto& [x, y, v] : c.set) EXPECT_EQ(image->PixelValue(x, y), v) << x << "," << y;
  }
  // The last pixel of the 801-wide frame's row 1 run: pixel 199 of row 1 is untouched.
  TCoreFixture f;
  PlayOne(f, RawSegment("s", 801, 3, 24, 1, EncodeFrameRecord(std::vector<TWriterRun>{{0x0A0B0C, 1000}}, 24)));
  EXPECT_EQ(TPlaybackProbe::FrameImage(f.Core)->PixelValue(199, 1), 0u);
}

TEST(FrameDecoder, RowPaddingOfOneTwoAndThreeBytes) {
  // 24-bit widths 1, 2 and 3 pad their rows by 1, 2 and 3 bytes; a 32-bit frame never pads.
  struct Case {
    int32_t width;
    uint8_t bits;
    int64_t stride;
  };
  const Case cases[] = {{1, 24, 4}, {2, 24, 8}, {3, 24, 12}, {5, 8, 8}, {6, 8, 8}, {7, 8, 8}, {3, 32, 12}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + " px at " + std::to_string(c.bits));
    TWriterSegment s;
    s.Name = "pad";
    s.Width = c.width, s.Height = 4, s.BitsPerPixel = c.bits;
    const uint32_t mask = c.bits == 8 ? 0xFF : 0xFFFFFF;
    for (uint32_t k = 0; k < 3; ++k) {
      std::vector<uint32_t> p(size_t(c.width) * 4);
      for (size_t i = 0; i < p.size(); ++i) p[i] = uint32_t((i + 1) * (k + 3) * 0x01030507u) & mask;
      s.Pictures.push_back(p);
    }
    TCoreFixture f;
    f.Load(std::span(&s, 1));
    ASSERT_EQ(f.Core.SetCurSegment(), kResultOk);
    EXPECT_EQ(TPlaybackProbe::FrameImage(f.Core)->Stride(), c.stride);
    for (size_t k = 0; k < s.Pictures.size(); ++k) {
      f.Core.TimerPlayTimer();
      for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < c.width; ++x)
          ASSERT_EQ(f.Core.Picture()->PixelValue(x, y) & mask, s.Pictures[k][size_t(y * c.width + x)])
              << "frame " << k << " pixel " << x << "," << y;
    }
  }
}

TEST(FrameDecoder, FramesWithoutRunsApplyTheLastDeltaAgain) {
  // The frame image keeps the last delta; a frame with no runs combines it once more.
  for (int32_t runCount : {0, -3}) {
    TCoreFixture f;
    const auto first = EncodeFrameRecord(std::vector<TWriterRun>{{0x112233, 4}}, 32);
    const auto empty = EncodeFrameRecord({}, 32, 0, runCount);
    PlayOne(f, RawSegment("s", 2, 2, 32, 3, Concat({first, empty, empty})));
    EXPECT_EQ(f.Core.Picture()->PixelValue(1, 1), 0x112233u);
    TPlaybackProbe::NextFrame(f.Core);
    TPlaybackProbe::DecodeFrame(f.Core);
    TPlaybackProbe::ComposeFrame(f.Core);
    EXPECT_EQ(f.Core.Picture()->PixelValue(1, 1), 0u) << runCount;
    TPlaybackProbe::NextFrame(f.Core);
    TPlaybackProbe::DecodeFrame(f.Core);
    TPlaybackProbe::ComposeFrame(f.Core);
    EXPECT_EQ(f.Core.Picture()->PixelValue(1, 1), 0x112233u) << runCount;
  }
}

TEST(FrameDecoder, PaletteRecordsChangeTheirEntriesOnly) {
  struct Case {
    const char* name;
    std::vector<uint8_t> palette;
    size_t consumed;
    std::vector<std::pair<int, TColorEntry>> entries;
  };
  const TColorEntry zero{};
  const std::vector<Case> cases = {
      {"no change", Bytes({0, 0xEE}), 1, {{0, zero}}},
      {"three at 250", Bytes({3, 250, 1, 1, 1, 0, 2, 2, 2, 0, 3, 3, 3, 0}), 14,
       {{249, zero}, {250, {1, 1, 1, 0}}, {252, {3, 3, 3, 0}}, {253, zero}}},
      {"top of the table", Bytes({2, 254, 9, 9, 9, 9, 8, 8, 8, 8}), 10,
       {{254, {9, 9, 9, 9}}, {255, {8, 8, 8, 8}}}},
      {"reaching past entry 255", Bytes({3, 255, 7, 7, 7, 0, 6, 6, 6, 0, 5, 5, 5, 0}), 14,
       {{255, {7, 7, 7, 0}}, {0, zero}}},
      {"cut short", Bytes({2, 10, 4, 4, 4, 0, 5, 5}), 8, {{10, {4, 4, 4, 0}}, {11, {5, 5, 0, 0}}}},
      {"missing", {}, 0, {{0, zero}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TCoreFixture f;
    const auto frame = EncodeFrameRecord(std::vector<TWriterRun>{{0, 1}}, 8);
    PlayOne(f, RawSegment("p", 1, 1, 8, 1, frame, {}, c.palette));
    EXPECT_EQ(f.Core.Segments()[0]->PaletteStream->Position(), c.consumed);
    for (const auto& [index, entry] : c.entries) EXPECT_EQ(f.Core.Palette()[size_t(index)], entry) << index;
  }
}

TEST(FrameDecoder, ThePaletteSurvivesSegmentsAndFilms) {
  TCoreFixture f;
  const auto frame = EncodeFrameRecord(std::vector<TWriterRun>{{1, 1}}, 8);
  const auto first = RawSegment("a", 1, 1, 8, 1, frame, {}, Bytes({1, 1, 10, 20, 30, 0}));
  const auto second = RawSegment("b", 1, 1, 8, 1, frame, {}, Bytes({0}));
  f.LoadBytes(WriteFilmRaw(std::vector<TRawSegment>{first, second}));
  ASSERT_EQ(f.Core.SetCurSegment(), kResultOk);
  f.Core.TimerPlayTimer();  // plays segment a and activates b
  EXPECT_EQ(f.Core.CurSegment(), 1);
  f.Core.TimerPlayTimer();
  EXPECT_EQ(f.Core.Palette()[1], (TColorEntry{10, 20, 30, 0}));
  EXPECT_EQ(f.Core.Picture()->PixelColor(0, 0), 0x1E140Au);
  f.LoadBytes(WriteFilmRaw(std::vector<TRawSegment>{second}));
  ASSERT_EQ(f.Core.SetCurSegment(), kResultOk);
  EXPECT_EQ(f.Core.Palette()[1], (TColorEntry{10, 20, 30, 0}));
}

TEST(FrameDecoder, NextFrameStopsAtTheSegmentsEnd) {
  TCoreFixture f;
  const auto a = EncodeFrameRecord(std::vector<TWriterRun>{{1, 1}}, 32, 3);  // 3 bytes after the runs
  const auto b = EncodeFrameRecord(std::vector<TWriterRun>{{2, 1}}, 32);
  f.LoadBytes(WriteFilmRaw(std::vector<TRawSegment>{RawSegment("s", 1, 1, 32, 3, Concat({a, b, b}))}));
  ASSERT_EQ(f.Core.SetCurSegment(), kResultOk);
  EXPECT_EQ(TPlaybackProbe::CurFrame(f.Core), 0);
  EXPECT_EQ(TPlaybackProbe::NextFrame(f.Core), kResultOk);
  EXPECT_EQ(TPlaybackProbe::CurFrame(f.Core), int64_t(a.size()));
  EXPECT_EQ(TPlaybackProbe::NextFrame(f.Core), kResultOk);
  EXPECT_EQ(TPlaybackProbe::NextFrame(f.Core), kResultOutOfIndexBound);
  EXPECT_EQ(f.Core.FrameIndex(), 3);
  EXPECT_EQ(TPlaybackProbe::CurFrame(f.Core), int64_t(a.size() + b.size()));
}

TEST(FrameDecoder, DataThatEndsEarlyReadsAsZeros) {
  // A frame past the data, runs reaching past it, runs adding up to more than the frame.
  TCoreFixture f;
  auto cut = EncodeFrameRecord(std::vector<TWriterRun>{{7, 2}, {8, 2}}, 32);
  cut.resize(cut.size() - 2);  // the second run is cut
  const auto over = EncodeFrameRecord(std::vector<TWriterRun>{{9, 60000}}, 32);
  f.LoadBytes(WriteFilmRaw(std::vector<TRawSegment>{RawSegment("s", 2, 2, 32, 4, Concat({over, cut}))}));
  ASSERT_EQ(f.Core.SetCurSegment(), kResultOk);
  for (int k = 0; k < 4; ++k) {
    TPlaybackProbe::DecodeFrame(f.Core);
    TPlaybackProbe::ComposeFrame(f.Core);
    if (k == 0) {
      for (int i = 0; i < 4; ++i) EXPECT_EQ(f.Core.Picture()->PixelValue(i % 2, i / 2), 9u);
    }
    if (k == 1) {
      EXPECT_EQ(f.Core.Picture()->PixelValue(0, 0), 9u ^ 7u);
      EXPECT_EQ(f.Core.Picture()->PixelValue(0, 1), 0u);  // 9 combined twice
    }
    ASSERT_EQ(TPlaybackProbe::NextFrame(f.Core), k < 3 ? kResultOk : kResultOutOfIndexBound);
  }
  // The cut record still declares its full length; the frames after it lie past the data.
  EXPECT_EQ(TPlaybackProbe::CurFrame(f.Core), int64_t(over.size() + cut.size() + 2));
}

TEST(FrameDecoder, TheFrameBufferTakes64MiBAndNotAByteMore) {
  for (size_t extra : {size_t{0}, size_t{1}}) {
    TCoreFixture f;
    auto segment = std::make_unique<Segment>();
    segment->Width = segment->Height = 1;
    segment->BitsPerPixel = 32;
    segment->FrameCount = 1;
    segment->SegStream.Assign(std::vector<uint8_t>(TPlaybackCore::kFrameBufferSize + extra, 0));
    TPlaybackProbe::AddSegment(f.Core, std::move(segment));
    if (extra) {
      try {
        f.Core.SetCurSegment();
        ADD_FAILURE() << "no exception";
      } catch (const EPlayback& e) {
        EXPECT_STREQ(e.what(), "Segment is too big");
      }
    } else {
      EXPECT_EQ(f.Core.SetCurSegment(), kResultOk);
    }
  }
}

TEST(FrameDecoder, NoSegmentNoDecodingAndNoReports) {
  TCoreFixture f;
  const auto frame = EncodeFrameRecord(std::vector<TWriterRun>{{1, 1}}, 32);
  f.LoadBytes(WriteFilmRaw(std::vector<TRawSegment>{RawSegment("s", 1, 1, 32, 1, frame)}));
  ASSERT_EQ(f.Core.SetCurSegment(), kResultOk);
  for (int32_t index : {-1, 1}) {
    f.Core.SelectSegment(index);
    TPlaybackProbe::DecodeFrame(f.Core);
    TPlaybackProbe::ComposeFrame(f.Core);
  }
  EXPECT_TRUE(f.Host.Results.empty());
  EXPECT_EQ(f.Host.Stops, 0);
  // Without a frame buffer the decoder stops playback and reports it.
  f.Core.SelectSegment(0);
  f.Core.FreeFrameBuffer();
  f.Core.TimerPlayTimer();
  ASSERT_EQ(f.Host.Results.size(), 1u);
  EXPECT_EQ(f.Host.Results[0], (std::pair<std::string, int>{"DXTimerPlayTimer", 12}));
  EXPECT_EQ(f.Core.LastResult(), 12);
  EXPECT_EQ(f.Host.Stops, 1);
}

TEST(FrameDecoder, VideoModesOtherThan8_24_32AreRefused) {
  struct Case {
    int bits, pixel, value, count;
  };
  const Case modes[] = {{8, 1, 1, 1}, {24, 3, 3, 2}, {32, 4, 3, 2}};
  TCoreFixture f;
  for (const auto& m : modes) {
    TPlaybackProbe::SelectVideoMode(f.Core, m.bits);
    EXPECT_EQ(TPlaybackProbe::PixelBytes(f.Core), m.pixel);
    EXPECT_EQ(TPlaybackProbe::ValueBytes(f.Core), m.value);
    EXPECT_EQ(TPlaybackProbe::RunCountBytes(f.Core), m.count);
  }
  for (int bits : {0, 1, 4, 15, 16, 31, 255}) {
    EXPECT_THROW(TPlaybackProbe::SelectVideoMode(f.Core, bits), EPlayback) << bits;
  }
  // A segment of such a depth fails its activation with the code the front ends tell it by.
  const auto frame = EncodeFrameRecord(std::vector<TWriterRun>{{1, 1}}, 16);
  f.LoadBytes(WriteFilmRaw(std::vector<TRawSegment>{RawSegment("s", 1, 1, 16, 1, frame)}));
  try {
    f.Core.SetCurSegment();
    ADD_FAILURE() << "no exception";
  } catch (const EPlayback& e) {
    EXPECT_EQ(e.Code(), TPlaybackErrc::UnsupportedVideoMode);
    EXPECT_STREQ(e.what(), "SelectVideoMode: 16 bits per pixel cannot be played");
  }
}

TEST(FrameDecoder, FrameSizesThatCannotBeShownAreRefused) {
  for (auto [w, h] : {std::pair{0, 10}, std::pair{10, -1}, std::pair{100000, 2}, std::pair{30000, 30000}}) {
    TCoreFixture f;
    f.LoadBytes(WriteFilmRaw(std::vector<TRawSegment>{RawSegment("s", w, h, 32, 1, {})}));
    EXPECT_THROW(f.Core.SetCurSegment(), EPlayback) << w << "x" << h;
    // The next activation of a good segment works.
    const auto frame = EncodeFrameRecord(std::vector<TWriterRun>{{1, 1}}, 32);
    f.LoadBytes(WriteFilmRaw(std::vector<TRawSegment>{RawSegment("t", 1, 1, 32, 1, frame)}));
    EXPECT_EQ(f.Core.SetCurSegment(), kResultOk);
    f.Core.TimerPlayTimer();
    EXPECT_EQ(f.Core.Picture()->PixelValue(0, 0), 1u);
  }
}

// ---- The straight path and the frame-image path give the same pictures ----

// The frame image and picture as the format defines them, one frame at a time: expand the
// runs into the padded frame image (a 24-bit pixel as a 32-bit word), combine it all.
struct TReferenceDecoder {
  int32_t Width, Height;
  int Bits, PixelBytes, RecordSize;
  int64_t Stride;
  std::vector<uint8_t> Frame, Picture;

  TReferenceDecoder(int32_t w, int32_t h, int bits)
      : Width(w), Height(h), Bits(bits), PixelBytes(bits / 8), RecordSize(bits == 8 ? 2 : 5),
        Stride((int64_t(w) * (bits / 8) + 3) / 4 * 4),
        Frame(size_t(Stride * (h + 1)), 0),
        Picture(size_t(bits == 8 ? Stride * h : int64_t(w) * h * 4), 0) {}

  void Apply(std::span<const uint8_t> data, size_t at) {
    auto byte = [&](size_t i) -> uint32_t { return i < data.size() ? data[i] : 0; };
    const int32_t declared = int32_t(byte(at + 4) | byte(at + 5) << 8 | byte(at + 6) << 16 | byte(at + 7) << 24);
    size_t p = at + 8;
    int64_t pixel = 0, column = 0, offset = 0;
    const int64_t total = int64_t(Width) * Height;
    for (int32_t r = 0; r < declared && p + RecordSize <= data.size() && pixel < total; ++r, p += RecordSize) {
      int64_t n = Bits == 8 ? byte(p + 1) : byte(p + 3) | byte(p + 4) << 8;
      while (n > 0 && pixel < total) {
        for (int k = 0; k < PixelBytes; ++k) Frame[size_t(offset + k)] = k < 3 ? uint8_t(byte(p + size_t(k))) : 0;
        if (Bits == 24) Frame[size_t(offset + 3)] = 0;
        offset += PixelBytes, ++pixel, --n;
        if (++column == Width) {
          column = 0;
          offset += Stride - int64_t(Width) * PixelBytes;
        }
      }
    }
    if (Bits == 8) {
      for (size_t i = 0; i < Picture.size(); ++i) Picture[i] ^= Frame[i];
    } else {
      for (int32_t y = 0; y < Height; ++y)
        for (int32_t x = 0; x < Width; ++x)
          for (int k = 0; k < 3; ++k)
            Picture[size_t((int64_t(y) * Width + x) * 4 + k)] ^= Frame[size_t(y * Stride + x * PixelBytes + k)];
    }
  }
};

// Random runs: short ones (1 to 9 pixels), ones of a single pixel, now and then a count of 0
// and, one in longEvery (0: never), runs up to 300 pixels long. With `singles`, all but one
// run in that many are single pixels, as in noise; half the others count 257, whose low byte
// alone reads as a single pixel.
std::vector<TWriterRun> RandomRuns(std::mt19937& rng, int bits, int64_t pixels, int kind,
                                   uint32_t longEvery = 0, uint32_t singles = 0) {
  std::vector<TWriterRun> runs;
  const uint32_t maxCount = bits == 8 ? 255 : 65535;
  const uint32_t valueMask = bits == 8 ? 0xFF : 0xFFFFFF;
  // kind 0: exactly the frame; 1: fewer pixels; 2: more pixels; 3: no runs.
  const int64_t target = kind == 0 ? pixels : kind == 1 ? pixels / 2 : kind == 2 ? pixels + 7 : 0;
  int64_t sum = 0;
  while (sum < target) {
    uint32_t count = std::min<uint32_t>(1 + rng() % 9, maxCount);
    if (rng() % 3 == 0) count = 1;
    if (rng() % 7 == 0) count = 0;
    if (longEvery && rng() % longEvery == 0) count = std::min<uint32_t>(rng() % 301, maxCount);
    if (singles) count = rng() % singles ? 1 : rng() % 2 ? std::min<uint32_t>(257, maxCount) : count;
    if (kind != 2) count = uint32_t(std::min<int64_t>(count, target - sum));
    const uint32_t value = rng() % 3 == 0 ? 0 : rng() & valueMask;
    runs.push_back({value, count});
    sum += count;
  }
  return runs;
}

TEST(FrameDecoder, StraightCompositionEqualsTheFrameImagePath) {
  // Small frames, and frames whose rows and runs are long enough that short runs are
  // gathered across rows, a few or thousands at a time, between long ones; and noise, single
  // pixels taken in blocks that stop at any record, row end or the frame's end, with and
  // without row padding. The frame image is also expanded the plain way, one record at a
  // time, and must give the same bytes.
  struct Shape {
    std::vector<int32_t> widths;
    int32_t maxHeight;
    uint32_t longEvery;
    uint32_t singles = 0;
  };
  const Shape shapes[] = {{{1, 2, 3, 5, 8, 9}, 5, 0},
                          {{1021, 2050}, 3, 12},
                          {{1023, 4099}, 3, 700},
                          {{1, 3, 6, 7, 17}, 9, 0, 5000},
                          {{1917, 1918, 1920}, 3, 0, 40},
                          {{1919, 1924}, 3, 90, 300}};
  std::mt19937 rng(20261207);
  for (const Shape& shape : shapes)
    for (int bits : {8, 24, 32}) {
      for (int32_t width : shape.widths) {
        const int32_t height = 1 + int32_t(rng() % uint32_t(shape.maxHeight));
        const int64_t pixels = int64_t(width) * height;
        std::vector<uint8_t> data;
        std::vector<size_t> starts;
        const int frames = 14;
        for (int k = 0; k < frames; ++k) {
          starts.push_back(data.size());
          const int kind = k == 0 ? 0 : int(rng() % 4);
          auto record = EncodeFrameRecord(
              RandomRuns(rng, bits, pixels, kind, shape.longEvery, shape.singles), bits, rng() % 3);
          data.insert(data.end(), record.begin(), record.end());
        }
        data.resize(data.size() - rng() % 4);  // the last frame may be cut short
        TCoreFixture f;
        f.LoadBytes(WriteFilmRaw(
            std::vector<TRawSegment>{RawSegment("r", width, height, uint8_t(bits), frames, data)}));
        ASSERT_EQ(f.Core.SetCurSegment(), kResultOk);
        TReferenceDecoder reference(width, height, bits);
        for (int k = 0; k < frames; ++k) {
          SCOPED_TRACE("bits " + std::to_string(bits) + " width " + std::to_string(width) +
                       " frame " + std::to_string(k));
          const TFrameFormat format{bits, width, height};
          const auto runs = LocateRuns(data, int64_t(starts[size_t(k)]), bits);
          // Into a frame image and a picture, over bytes that are not zero so that a stray
          // write shows.
          const auto decode = [&](TRunPath path) {
            auto image = TRasterBitmap::Create(width, height + 1, bits);
            auto picture = TRasterBitmap::Create(width, height, bits == 8 ? 8 : 32);
            std::ranges::fill(image->Pixels(), uint8_t(k * 37 + 1));
            std::ranges::fill(picture->Pixels(), uint8_t(k * 53 + 2));
            ExpandRuns(data, runs, format, *image, path);
            const int64_t covered = XorRunsIntoPicture(data, runs, format, *picture, path);
            return std::tuple(std::vector<uint8_t>(image->Pixels().begin(), image->Pixels().end()),
                              std::vector<uint8_t>(picture->Pixels().begin(), picture->Pixels().end()),
                              covered);
          };
          const auto plain = decode(TRunPath::Plain);
          ASSERT_TRUE(decode(TRunPath::Sse2) == plain);
          ASSERT_TRUE(decode(TRunPath::Avx2) == plain);
          TPlaybackProbe::DecodeFrame(f.Core);
          // The frame image asked for between decoding and composing holds the frame already.
          if (k % 5 == 4) {
            reference.Apply(data, starts[size_t(k)]);
            const auto image = TPlaybackProbe::FrameImage(f.Core)->Pixels();
            ASSERT_TRUE(std::equal(image.begin(), image.end(), reference.Frame.begin(), reference.Frame.end()));
            TPlaybackProbe::ComposeFrame(f.Core);
          } else {
            TPlaybackProbe::ComposeFrame(f.Core);
            reference.Apply(data, starts[size_t(k)]);
          }
          const auto picture = f.Core.Picture()->Pixels();
          ASSERT_TRUE(std::equal(picture.begin(), picture.end(), reference.Picture.begin(), reference.Picture.end()));
          if (k % 3 == 2) {
            const auto image = TPlaybackProbe::FrameImage(f.Core)->Pixels();
            ASSERT_TRUE(std::equal(image.begin(), image.end(), reference.Frame.begin(), reference.Frame.end()));
          }
          TPlaybackProbe::NextFrame(f.Core);
        }
      }
    }
}

// A frame record whose length field says `length`.
std::vector<uint8_t> WithLength(std::vector<uint8_t> record, uint32_t length) {
  for (int i = 0; i < 4; ++i) record[size_t(i)] = uint8_t(length >> (8 * i));
  return record;
}

TEST(FrameDecoder, RunsThatEndAtOrPastTheEndOfTheirBuffers) {
  // The frame buffer is exactly as large as the frame data (plus `slack`), so whatever is read
  // past the data is read past the buffer; and runs whose pixels reach the frame's last pixel
  // or go beyond it. Every frame must give the literal decoder's picture and frame image.
  const std::vector<TWriterRun> whole24 = {{0x010203, 4}, {0x0A0B0C, 2}};  // 3 × 2 pixels
  const auto record24 = EncodeFrameRecord(whole24, 24);
  const uint32_t size24 = uint32_t(record24.size());
  struct Case {
    const char* name;
    int bits;
    int32_t width, height;
    std::vector<uint8_t> data;
    size_t slack;
    std::vector<int64_t> positions;  // where each frame record is found
  };
  const std::vector<Case> cases = {
      {"the last run ends at the buffer's last byte", 24, 3, 2, record24, 0, {0}},
      {"the last run is cut by the buffer's end", 24, 3, 2,
       std::vector<uint8_t>(record24.begin(), record24.end() - 2), 0, {0}},
      {"the run count reaches past the buffer's end", 24, 3, 2,
       EncodeFrameRecord(whole24, 24, 0, 1000), 0, {0}},
      {"the next frame starts at the buffer's end", 24, 3, 2, record24, 0, {0, size24, size24}},
      {"the next frame starts past the data, inside the buffer", 24, 3, 2,
       WithLength(record24, size24 + 1), 3, {0, size24 + 1, size24 + 1}},
      {"a frame length that leaps past the buffer", 24, 3, 2, WithLength(record24, 0xFFFFFFF0u), 3,
       {0, size24 + 3, size24 + 3}},
      {"a frame header that straddles the buffer's end", 24, 3, 2, WithLength(record24, size24 - 6),
       0, {0, size24 - 6}},
      {"8-bit runs past the frame's last pixel", 8, 5, 1,
       EncodeFrameRecord(std::vector<TWriterRun>{{7, 3}, {9, 255}}, 8), 0, {0}},
      {"32-bit runs that end at the frame's last pixel", 32, 2, 2,
       EncodeFrameRecord(std::vector<TWriterRun>{{5, 1}, {6, 3}}, 32), 0, {0}},
      {"24-bit runs past the last pixel, the spare row takes the high byte", 24, 3, 2,
       EncodeFrameRecord(std::vector<TWriterRun>{{0x112233, 1}, {0x445566, 60000}}, 24), 0, {0}},
      {"8-bit runs of a padded frame cut inside a record", 8, 3, 3,
       std::vector<uint8_t>{0x40, 0, 0, 0, 9, 0, 0, 0, 1, 4, 2, 4, 3}, 0, {0}},
  };
  for (const auto& c : cases) {
    for (bool straight : {true, false}) {
      SCOPED_TRACE(std::string(c.name) + (straight ? "" : ", through the frame image"));
      TCoreFixture f(c.data.size() + c.slack);
      f.LoadBytes(WriteFilmRaw(std::vector<TRawSegment>{
          RawSegment("end", c.width, c.height, uint8_t(c.bits), int32_t(c.positions.size()), c.data)}));
      TPlaybackProbe::SetStraightComposition(f.Core, straight);
      ASSERT_EQ(f.Core.SetCurSegment(), kResultOk);
      TReferenceDecoder reference(c.width, c.height, c.bits);
      for (size_t k = 0; k < c.positions.size(); ++k) {
        ASSERT_EQ(TPlaybackProbe::CurFrame(f.Core), c.positions[k]) << "frame " << k;
        TPlaybackProbe::DecodeFrame(f.Core);
        TPlaybackProbe::ComposeFrame(f.Core);
        reference.Apply(c.data, size_t(c.positions[k]));
        const auto picture = f.Core.Picture()->Pixels();
        EXPECT_TRUE(std::equal(picture.begin(), picture.end(), reference.Picture.begin(),
                               reference.Picture.end()))
            << "frame " << k;
        const auto image = TPlaybackProbe::FrameImage(f.Core)->Pixels();
        EXPECT_TRUE(std::equal(image.begin(), image.end(), reference.Frame.begin(), reference.Frame.end()))
            << "frame " << k;
        EXPECT_EQ(TPlaybackProbe::NextFrame(f.Core), k + 1 < c.positions.size() ? kResultOk : kResultOutOfIndexBound);
      }
      EXPECT_TRUE(f.Host.Results.empty());
    }
  }
}

// ---- Surfaces ----

TEST(Surfaces, RebuiltOnlyWhenModeSizeOrScreenDepthRequire) {
  struct Case {
    const char* name;
    uint8_t firstBits;
    int32_t firstWidth;
    uint8_t secondBits;
    int32_t secondWidth;
    int builds;  // after activating first, second, second again
  };
  const Case cases[] = {
      {"32-bit film, same size", 32, 4, 32, 4, 1},
      {"32-bit film, another size", 32, 4, 32, 5, 2},
      {"32 then 8 bits", 32, 4, 8, 4, 3},  // 8 differs from the screen: rebuilt each time
      {"24-bit film on a 32-bit screen", 24, 4, 24, 4, 3},
  };
  for (const auto& c : cases) {
    TCoreFixture f;
    const auto frameA = EncodeFrameRecord(std::vector<TWriterRun>{{1, uint32_t(c.firstWidth * 2)}}, c.firstBits);
    const auto frameB = EncodeFrameRecord(std::vector<TWriterRun>{{1, uint32_t(c.secondWidth * 2)}}, c.secondBits);
    f.LoadBytes(WriteFilmRaw(std::vector<TRawSegment>{RawSegment("a", c.firstWidth, 2, c.firstBits, 1, frameA),
                                                      RawSegment("b", c.secondWidth, 2, c.secondBits, 1, frameB)}));
    for (int32_t index : {0, 1, 1}) {
      f.Core.SelectSegment(index);
      ASSERT_EQ(f.Core.SetCurSegment(), kResultOk);
    }
    EXPECT_EQ(TPlaybackProbe::SurfaceBuilds(f.Core), c.builds) << c.name;
  }
}

TEST(Surfaces, FrameImageHasASpareRowAndThePictureTheScreenFormat) {
  TCoreFixture f;
  f.LoadBytes(WriteFilmRaw(std::vector<TRawSegment>{RawSegment("s", 801, 600, 24, 0, {})}));
  ASSERT_EQ(f.Core.SetCurSegment(), kResultOk);
  const TRasterBitmap* image = TPlaybackProbe::FrameImage(f.Core);
  EXPECT_EQ(image->Stride(), 2404);
  EXPECT_EQ(image->Height(), 601);
  EXPECT_EQ(image->SizeBytes(), 2404u * 601u);
  EXPECT_EQ(f.Core.Picture()->Width(), 801);
  EXPECT_EQ(f.Core.Picture()->Height(), 600);
  EXPECT_EQ(f.Core.Picture()->BitsPerPixel(), 32);
  EXPECT_EQ(TPlaybackProbe::RowBytes(f.Core), 2403);
  // No segment current: nothing is built and the answer is no.
  TCoreFixture g;
  g.Core.UnloadFilm();
  EXPECT_FALSE(g.Core.GetDisplaySettings());
  EXPECT_EQ(TPlaybackProbe::SurfaceBuilds(g.Core), 0);
}

// ---- Placement ----

TEST(Placement, CentredShrunkOrEnlargedInTheMainWindow) {
  struct Case {
    int32_t film[2], available[2];
    bool scaled;
    int32_t fit[2], at[2];
    bool enlarge = false;
  };
  const Case cases[] = {
      {{1024, 768}, {792, 522}, true, {696, 522}, {48, 0}},
      {{640, 480}, {793, 506}, false, {0, 0}, {76, 13}},
      {{640, 480}, {640, 480}, false, {0, 0}, {0, 0}},
      {{800, 600}, {400, 600}, true, {400, 300}, {0, 150}},
      // Enlarged: full screen, or by the window's size.
      {{640, 480}, {1600, 1000}, true, {1333, 1000}, {133, 0}, true},
      {{1024, 768}, {792, 522}, true, {696, 522}, {48, 0}, true},
      {{640, 480}, {640, 600}, false, {0, 0}, {0, 60}, true},  // one side fits: pixel for pixel
  };
  for (const auto& c : cases) {
    const auto p = PlaceInMainWindow(c.film[0], c.film[1], c.film[0], c.film[1], c.available[0], c.available[1],
                                     c.enlarge);
    EXPECT_EQ(p.Scaled, c.scaled);
    if (c.scaled) {
      EXPECT_EQ(p.FitWidth, c.fit[0]);
      EXPECT_EQ(p.FitHeight, c.fit[1]);
    }
    EXPECT_EQ(p.Left, c.at[0]);
    EXPECT_EQ(p.Top, c.at[1]);
  }
  // The bands of an exact fit are all empty; those of a centred picture frame it.
  for (const auto& band : PlaceInMainWindow(640, 480, 640, 480, 640, 480).Bands)
    EXPECT_TRUE(band.Width == 0 || band.Height == 0);
  const auto p = PlaceInMainWindow(640, 480, 640, 480, 793, 506);
  EXPECT_EQ(p.Bands[2].Top, 506 - 13);
  EXPECT_EQ(p.Bands[3].Left, 793 - 76);
}

TEST(Placement, DisplayWindowCoversOrCentresOnTheScreen) {
  const TRect current{100, 100, 400, 300};
  auto exact = PlaceDisplayWindow(1024, 768, 1024, 768, 1024, 768, current, 8, 30);
  EXPECT_TRUE(exact.Borderless);
  EXPECT_FALSE(exact.Scaled);
  EXPECT_EQ(exact.Bounds.Width, 1024);
  auto larger = PlaceDisplayWindow(2048, 1536, 2048, 1536, 1024, 768, current, 8, 30);
  EXPECT_TRUE(larger.Borderless && larger.Scaled);
  EXPECT_EQ(larger.FitWidth, 1024);
  EXPECT_EQ(larger.FitHeight, 768);
  auto smaller = PlaceDisplayWindow(640, 480, 640, 480, 1024, 768, current, 8, 30);
  EXPECT_FALSE(smaller.Borderless);
  EXPECT_EQ(smaller.Bounds.Width, 648);
  EXPECT_EQ(smaller.Bounds.Height, 510);
  EXPECT_EQ(smaller.Bounds.Left, 0);  // centred at 300: 300 - 324 < 0
  EXPECT_EQ(smaller.Bounds.Top, 0);   // centred at 250: 250 - 255 < 0
  auto nearEdge = PlaceDisplayWindow(640, 480, 640, 480, 1024, 768, TRect{900, 600, 400, 300}, 8, 30);
  EXPECT_EQ(nearEdge.Bounds.Left, 1024 - 648);
  EXPECT_EQ(nearEdge.Bounds.Top, 768 - 510);
}

}  // namespace
