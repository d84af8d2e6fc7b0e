#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <numeric>
#include <optional>

#include "io/Cp1251.h"
#include "film/FilmExtent.h"
#include "film/FilmFile.h"
#include "film/SegmentDuration.h"
#include "filmwriter/FilmWriter.h"

namespace {

std::vector<uint32_t> Picture(int32_t w, int32_t h, uint32_t seed, uint32_t mask) {
  std::vector<uint32_t> p(size_t(w) * size_t(h));
  for (size_t i = 0; i < p.size(); ++i) p[i] = uint32_t((i / 3 + seed) * 2654435761u) & mask;
  return p;
}

TWriterShape SmallShape(bool colour) {
  TWriterShape shape;
  shape.Width = shape.Height = 4;
  shape.HotSpotX = 1;
  shape.AndMask.assign(16, 1);
  if (colour)
    shape.Color.assign(16, 0x00FF00);
  else
    shape.XorMask.assign(16, 0);
  return shape;
}

// Three segments: 8 bits with palette changes, 24 bits with two shapes, 32 bits without any.
std::vector<TWriterSegment> SampleSegments() {
  std::vector<TWriterSegment> segments(3);
  auto& s8 = segments[0];
  s8.Name = "Палитра";
  s8.Width = 7, s8.Height = 3, s8.BitsPerPixel = 8, s8.FrameRate = 5;
  for (uint32_t k = 0; k < 3; ++k) s8.Pictures.push_back(Picture(7, 3, k, 0xFF));
  s8.PaletteChanges = {{250, {{1, 2, 3, 0}, {4, 5, 6, 0}}}, {}, {0, {{9, 9, 9, 0}}}};
  s8.Track = {{0, 1, 1}, {0, 2, 2}, {1, 3, 3}};
  s8.Shapes = {SmallShape(false)};

  auto& s24 = segments[1];
  s24.Name = "Рабочий стол";
  s24.Width = 5, s24.Height = 2, s24.BitsPerPixel = 24, s24.FrameRate = 0;
  for (uint32_t k = 0; k < 2; ++k) s24.Pictures.push_back(Picture(5, 2, k, 0xFFFFFF));
  s24.Shapes = {SmallShape(false), SmallShape(true)};
  s24.Track = {{1, 0, 0}, {0, 4, 1}};

  auto& s32 = segments[2];
  s32.Name = "Third";
  s32.Width = 4, s32.Height = 4, s32.BitsPerPixel = 32, s32.FrameRate = 25;
  s32.Pictures.push_back(Picture(4, 4, 7, 0xFFFFFF));
  return segments;
}

std::vector<uint8_t> Bytes(std::span<const uint8_t> s) { return {s.begin(), s.end()}; }

TEST(FilmFile, WrittenFilmsReadBackExactly) {
  const auto segments = SampleSegments();
  std::vector<TRawSegment> raw;
  for (const auto& s : segments) raw.push_back(EncodeSegment(s));
  const auto bytes = WriteFilmRaw(raw);

  TFilm film;
  TFilmError error;
  ASSERT_TRUE(ReadFilm(bytes, film, error)) << error.Message;
  ASSERT_EQ(film.List.size(), 3u);
  ASSERT_EQ(film.Segments.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    const auto& in = segments[i];
    const auto& r = raw[i];
    const auto& entry = film.List[i];
    const auto& seg = *film.Segments[i];
    SCOPED_TRACE(in.Name);
    EXPECT_EQ(entry.Name, in.Name);
    EXPECT_EQ(entry.FrameCount, int32_t(in.Pictures.size()));
    EXPECT_EQ(entry.FrameRate, in.FrameRate);
    EXPECT_EQ(seg.Name, in.Name);
    EXPECT_EQ(seg.Width, in.Width);
    EXPECT_EQ(seg.Height, in.Height);
    EXPECT_EQ(seg.BitsPerPixel, in.BitsPerPixel);
    EXPECT_EQ(seg.FrameCount, int32_t(in.Pictures.size()));
    EXPECT_EQ(seg.FrameRate, in.FrameRate);
    EXPECT_EQ(seg.FrameDataSize, int32_t(r.FrameData.size()));
    EXPECT_EQ(seg.CursorDataSize, int32_t(in.Track.size() * 6));
    EXPECT_EQ(Bytes(seg.SegStream.Bytes()), r.FrameData);
    EXPECT_EQ(Bytes(seg.CursStream.Bytes()), r.CursorData);
    EXPECT_EQ(seg.CursorList->Count(), int32_t(in.Shapes.size()));
    EXPECT_EQ(bool(seg.PaletteStream), in.BitsPerPixel == 8);
    if (seg.PaletteStream) {
      EXPECT_EQ(Bytes(seg.PaletteStream->Bytes()), r.PaletteData);
    }
  }
  EXPECT_EQ(TotalFrames(film.Segments), 6);
  // The 8-bit segment's palette records: 2 entries at 250, none, 1 entry at 0.
  EXPECT_EQ(raw[0].PaletteData.size(), size_t(2 + 8 + 1 + 2 + 4));
  EXPECT_TRUE(film.Segments[1]->CursorList->Items(1)->IsColorShape());
}

// Read in place, the sections are views of the owner's bytes, which they keep alive once the
// caller has let them go; copied, they owe nothing to the bytes. A film cut short keeps its
// complete segments either way.
TEST(FilmFile, SectionsReadInPlaceShareTheBytesAndKeepThemAlive) {
  std::vector<TRawSegment> raw;
  for (const auto& s : SampleSegments()) raw.push_back(EncodeSegment(s));
  const auto whole = WriteFilmRaw(raw);
  struct Case {
    const char* name;
    bool inPlace;
    size_t cut;       // bytes dropped from the end
    size_t segments;  // complete segments read
  };
  const Case cases[] = {
      {"copied", false, 0, 3},
      {"in place", true, 0, 3},
      {"copied, cut short", false, 3, 2},
      {"in place, cut short", true, 3, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto bytes = std::make_shared<std::vector<uint8_t>>(whole.begin(), whole.end() - ptrdiff_t(c.cut));
    const std::span<const uint8_t> span(*bytes);
    std::weak_ptr<std::vector<uint8_t>> watch = bytes;
    TFilm film;
    TFilmError error;
    const bool read = c.inPlace ? ReadFilm(span, bytes, film, error) : ReadFilm(span, film, error);
    EXPECT_EQ(read, c.cut == 0) << error.Message;
    ASSERT_EQ(film.Segments.size(), c.segments);
    const auto inside = [&](const TMemoryStream& stream) {
      return stream.Size() > 0 && stream.Data() >= span.data() &&
             stream.Data() + stream.Size() <= span.data() + span.size();
    };
    for (size_t i = 0; i < c.segments; ++i) {
      const Segment& seg = *film.Segments[i];
      EXPECT_EQ(inside(seg.SegStream), c.inPlace) << i;
      EXPECT_EQ(inside(seg.CursStream), c.inPlace && !raw[i].CursorData.empty()) << i;
      if (seg.PaletteStream) {
        EXPECT_EQ(inside(*seg.PaletteStream), c.inPlace) << i;
      }
      EXPECT_EQ(seg.SegStream.Position(), seg.SegStream.Size()) << "as after writing";
    }
    // Overwritten and let go by the caller: copies keep their bytes, views keep the owner.
    std::fill(bytes->begin(), bytes->end(), c.inPlace ? bytes->front() : 0xEE);
    if (c.inPlace) std::copy(whole.begin(), whole.end() - ptrdiff_t(c.cut), bytes->begin());
    bytes.reset();
    EXPECT_EQ(watch.expired(), !c.inPlace);
    for (size_t i = 0; i < c.segments; ++i) {
      EXPECT_EQ(Bytes(film.Segments[i]->SegStream.Bytes()), raw[i].FrameData) << i;
      EXPECT_EQ(Bytes(film.Segments[i]->CursStream.Bytes()), raw[i].CursorData) << i;
      // A stream copied from another reads on its own.
      TMemoryStream copy = film.Segments[i]->SegStream;
      copy.SetPosition(0);
      uint8_t first[4] = {};
      EXPECT_EQ(copy.Read(first, 4), 4u);
      EXPECT_EQ(copy.Position(), 4u);
      EXPECT_EQ(std::memcmp(first, raw[i].FrameData.data(), 4), 0);
      EXPECT_EQ(film.Segments[i]->SegStream.Position(), raw[i].FrameData.size());
    }
    film = TFilm{};
    EXPECT_TRUE(watch.expired()) << "the last section lets the bytes go";
  }
}

TEST(FilmFile, SegmentInformationHasItsOddOffsets) {
  TByteWriter w;
  w.I32(1000).I32(60).I32(1024).I32(768).U8(24).I32(0x01020304).U8(15).ShortString("seg");
  ASSERT_EQ(w.Size(), kSegInfoSize);
  const auto info = DecodeSegInfo(std::span<const uint8_t, kSegInfoSize>(w.Data().data(), kSegInfoSize));
  EXPECT_EQ(info.FrameDataSize, 1000);
  EXPECT_EQ(info.CursorDataSize, 60);
  EXPECT_EQ(info.Width, 1024);
  EXPECT_EQ(info.Height, 768);
  EXPECT_EQ(info.BitsPerPixel, 24);
  EXPECT_EQ(info.FrameCount, 0x01020304);
  EXPECT_EQ(info.FrameRate, 15);
  EXPECT_EQ(info.Name, "seg");
}

TEST(FilmFile, ShortStringsAreWindows1251) {
  struct Case {
    std::string bytes;
    std::string utf8;
  };
  const Case cases[] = {
      {"", ""},
      {"Lesson 1", "Lesson 1"},
      {"\xC2\xE2\xE5\xE4\xE5\xED\xE8\xE5", "Введение"},
      {"\xA8\xB8\xB9\x96\x98", "Ёё№–\xEF\xBF\xBD"},
      {std::string(255, '\xFF'), [] {
         std::string s;
         for (int i = 0; i < 255; ++i) s += "я";
         return s;
       }()},
  };
  for (const auto& c : cases) {
    TByteWriter w;
    w.ShortString(c.bytes);
    ASSERT_EQ(w.Size(), kShortStringSize);
    EXPECT_EQ(w.Data()[0], c.bytes.size());
    EXPECT_EQ(DecodeShortString(std::span<const uint8_t, 256>(w.Data().data(), 256)), c.utf8);
    if (c.utf8.find("\xEF\xBF\xBD") == std::string::npos) {
      EXPECT_EQ(Utf8ToCp1251(c.utf8), c.bytes);
    }
  }
  // Bytes after the declared length are not part of the name.
  std::vector<uint8_t> raw(256, 'x');
  raw[0] = 2;
  EXPECT_EQ(DecodeShortString(std::span<const uint8_t, 256>(raw.data(), 256)), "xx");
}

TEST(FilmFile, CountsOfNoneReadNothingFurther) {
  for (int32_t count : {0, -1, INT32_MIN}) {
    TByteWriter w;
    w.I32(count).Bytes(std::vector<uint8_t>(7, 0xAB));
    TFilm film;
    TFilmError error;
    ASSERT_TRUE(ReadFilm(w.Data(), film, error)) << count;
    EXPECT_TRUE(film.List.empty());
    EXPECT_TRUE(film.Segments.empty());
  }
}

TEST(FilmFile, SectionsOfSizeZeroAndNoShapesGiveEmptyStreams) {
  TRawSegment seg;
  seg.ListName = seg.Name = "empty";
  seg.BitsPerPixel = 8;  // palette size field present, 0
  seg.ShapeCount = 0;
  TRawSegment next = seg;
  next.BitsPerPixel = 32;
  next.Name = "next";
  const auto bytes = WriteFilmRaw(std::vector<TRawSegment>{seg, next});
  EXPECT_EQ(bytes.size(), 4 + 2 * 261 + (4 + 278 + 4) + (4 + 278));
  TFilm film;
  TFilmError error;
  ASSERT_TRUE(ReadFilm(bytes, film, error)) << error.Message;
  EXPECT_EQ(film.Segments[0]->SegStream.Size(), 0u);
  EXPECT_EQ(film.Segments[0]->CursStream.Size(), 0u);
  ASSERT_TRUE(film.Segments[0]->PaletteStream);
  EXPECT_EQ(film.Segments[0]->PaletteStream->Size(), 0u);
  EXPECT_EQ(film.Segments[1]->Name, "next");
  EXPECT_FALSE(film.Segments[1]->PaletteStream);
}

TEST(FilmFile, ShapesBeyondTheTableAreReadOverAndDropped) {
  TRawSegment seg;
  seg.ListName = seg.Name = "many";
  seg.BitsPerPixel = 32;
  seg.ShapeCount = 65537;
  TByteWriter shapes;
  for (int i = 0; i < seg.ShapeCount; ++i)
    shapes.I32(i).I32(0).I32(0).I32(0).I32(0).U8(0).I32(0).I32(0).I32(0).U8(0);
  seg.ShapeRecords = shapes.Take();
  seg.CursorData = {1, 0, 2, 0, 3, 0};
  seg.CursorDataSize = 6;
  const auto bytes = WriteFilmRaw(std::vector<TRawSegment>{seg});
  TFilm film;
  TFilmError error;
  ASSERT_TRUE(ReadFilm(bytes, film, error)) << error.Message;
  const auto& list = *film.Segments[0]->CursorList;
  EXPECT_EQ(list.Count(), 65536);
  EXPECT_EQ(list.Items(65535)->HotSpotX, 65535);
  EXPECT_EQ(film.Segments[0]->Name, "many");
  EXPECT_EQ(film.Segments[0]->CursStream.Size(), 6u);
}

// A colour shape record of side × side pixels at `bits` bits, with or without its 1-bit
// mask; every pixel byte zero.
std::vector<uint8_t> ColourRecord(int32_t side, uint8_t bits, bool withMask) {
  const int64_t mask = withMask ? *TRasterBitmap::RowBytes(side, 1, 2) * side : 0;
  const int64_t colour = *TRasterBitmap::RowBytes(side, bits, 4) * side;
  TByteWriter w;
  w.I32(0).I32(0);
  w.I32(int32_t(mask)).I32(withMask ? side : 0).I32(withMask ? side : 0).U8(withMask ? 1 : 0).Zeros(size_t(mask));
  w.I32(int32_t(colour)).I32(side).I32(side).U8(bits).Zeros(size_t(colour));
  return w.Take();
}

TWriterShape SquareShape(int32_t side, bool colour, uint8_t bits = 32) {
  TWriterShape shape;
  shape.Width = shape.Height = side;
  shape.ColorBits = bits;
  shape.AndMask.assign(size_t(side * side), 1);
  if (colour)
    shape.Color.assign(size_t(side * side), 0x102030);
  else
    shape.XorMask.assign(size_t(side * side), 0);
  return shape;
}

TEST(FilmFile, CursorShapesKeepToAMemoryBudgetTiedToTheirRecords) {
  struct Case {
    const char* name;
    std::vector<std::vector<uint8_t>> records;
    bool loads;
    std::string message;  // a part of it, for the films that fail
  };
  auto times = [](std::vector<uint8_t> record, int n) { return std::vector<std::vector<uint8_t>>(size_t(n), record); };
  auto concat = [](std::vector<std::vector<uint8_t>> a, const std::vector<std::vector<uint8_t>>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  const auto huge = ColourRecord(4096, 1, false);
  // The film's segment block starts after the count and one list entry; the shape after its count.
  const size_t shapeAt = 4 + 261 + 4;
  const Case cases[] = {
      {"32 x 32 mask-only and colour cursors",
       concat(times(EncodeShapeRecord(SquareShape(32, false)), 40), times(EncodeShapeRecord(SquareShape(32, true)), 40)),
       true, ""},
      {"48 x 48 colour cursors at 24 bits", times(EncodeShapeRecord(SquareShape(48, true, 24)), 60), true, ""},
      {"a few hundred pixels a side at 32 bits", times(EncodeShapeRecord(SquareShape(300, true)), 4), true, ""},
      {"256 x 256 at 1 bit with their masks", times(ColourRecord(256, 1, true), 20), true, ""},
      {"one 4096 x 4096 shape at 1 bit from 2 MiB of film", {huge}, false,
       // 64 MiB of pixels and a little more.
       "segment 1: cursor shape 1 at offset " + std::to_string(shapeAt) + " would need 671"},
      {"the budget in the message", {huge}, false,
       "but the segment's shapes may take " +
           std::to_string(int64_t(huge.size()) * TShapeBudget::kFactor + TShapeBudget::kAllowance) + " bytes"},
      {"many 256 x 256 shapes at 1 bit, each fitting alone", times(ColourRecord(256, 1, false), 40), false,
       " would need 263"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TRawSegment seg;
    seg.ListName = seg.Name = "shapes";
    seg.BitsPerPixel = 32;
    seg.ShapeCount = int32_t(c.records.size());
    for (const auto& r : c.records) seg.ShapeRecords.insert(seg.ShapeRecords.end(), r.begin(), r.end());
    const auto bytes = WriteFilmRaw(std::vector<TRawSegment>{seg});
    TFilm film;
    TFilmError error;
    ASSERT_EQ(ReadFilm(bytes, film, error), c.loads) << error.Message;
    if (c.loads) {
      const auto& list = *film.Segments[0]->CursorList;
      ASSERT_EQ(list.Count(), int32_t(c.records.size()));
      for (int32_t i = 0; i < list.Count(); ++i)
        EXPECT_TRUE(list.Items(i)->IsColorShape() ? bool(list.Items(i)->Color.Bitmap) : bool(list.Items(i)->Handle)) << i;
    } else {
      EXPECT_EQ(error.Code, TFilmErrc::Unsupported);
      EXPECT_NE(error.Message.find(c.message), std::string::npos) << error.Message;
      EXPECT_GE(error.Offset, int64_t(shapeAt));
    }
  }
}

// A small valid film whose every prefix must fail cleanly.
std::vector<uint8_t> SmallFilm() {
  std::vector<TRawSegment> raw;
  for (const auto& s : SampleSegments()) raw.push_back(EncodeSegment(s));
  return WriteFilmRaw(raw);
}

TEST(FilmFile, EveryTruncationFailsWithAnOffset) {
  const auto full = SmallFilm();
  for (size_t cut = 0; cut < full.size(); ++cut) {
    std::vector<uint8_t> bytes(full.begin(), full.begin() + long(cut));
    TFilm film;
    TFilmError error;
    ASSERT_FALSE(ReadFilm(bytes, film, error)) << "cut at " << cut;
    EXPECT_EQ(error.Code, TFilmErrc::Corrupt);
    EXPECT_GE(error.Offset, 0);
    EXPECT_LE(error.Offset, int64_t(cut));
    EXPECT_NE(error.Message.find("offset"), std::string::npos) << error.Message;
  }
}

struct TDefect {
  const char* name;
  std::function<void(std::vector<TRawSegment>&)> change;
  std::optional<int32_t> countOverride;
  size_t truncateBy;
  std::string message;
};

TEST(FilmFile, ContradictoryFilmsFailWithTheirMessage) {
  // Offsets in the sample film: list at 4, segment 1 at 4 + 3 * 261 = 787.
  const TDefect defects[] = {
      {"film ends inside the count", nullptr, std::nullopt, 0, ""},
      {"more list entries than bytes", nullptr, 1000000, 0,
       "the segment list of 1000000 entries at offset 4 needs 261000000 bytes"},
      {"huge shape count", [](auto& s) { s[0].ShapeCount = 0x7FFFFFFF; }, std::nullopt, 0,
       "segment 1: 2147483647 cursor shapes (count at offset 787) cannot fit"},
      {"negative frame data size", [](auto& s) { s[1].FrameDataSize = -1; }, std::nullopt, 0,
       "segment 2: the frame data size at offset"},
      {"negative cursor track size", [](auto& s) { s[0].CursorDataSize = -6; }, std::nullopt, 0,
       "segment 1: the cursor track size at offset"},
      {"negative palette size", [](auto& s) { s[0].PaletteDataSize = INT32_MIN; }, std::nullopt, 0,
       "segment 1: the palette data size at offset"},
      {"frame data larger than the file", [](auto& s) { s[2].FrameDataSize = 0x7FFFFFFF; },
       std::nullopt, 0, "segment 3: the film ends inside the frame data at offset"},
      {"palette data larger than the file", [](auto& s) { s[0].PaletteDataSize += 1000; },
       std::nullopt, 0, "segment 1: the film ends inside"},
      {"last block cut in its frame data", nullptr, std::nullopt, 3,
       "segment 3: the film ends inside the frame data"},
  };
  for (const auto& d : defects) {
    std::vector<TRawSegment> raw;
    for (const auto& s : SampleSegments()) raw.push_back(EncodeSegment(s));
    if (d.change) d.change(raw);
    auto bytes = WriteFilmRaw(raw, d.countOverride);
    if (std::string(d.name) == "film ends inside the count") bytes.resize(3);
    bytes.resize(bytes.size() - d.truncateBy);
    TFilm film;
    TFilmError error;
    EXPECT_FALSE(ReadFilm(bytes, film, error)) << d.name;
    EXPECT_EQ(error.Code, TFilmErrc::Corrupt) << d.name;
    EXPECT_NE(error.Message.find(d.message), std::string::npos)
        << d.name << ": got \"" << error.Message << "\"";
  }
}

TEST(FilmFile, AFaultKeepsTheListAndTheCompleteSegmentsBeforeIt) {
  std::vector<TRawSegment> raw;
  for (const auto& s : SampleSegments()) raw.push_back(EncodeSegment(s));
  const auto full = WriteFilmRaw(raw);
  struct {
    size_t keep;  // bytes of the film kept
    size_t list, segments;
  } cases[] = {
      {full.size() - 1, 3, 2},  // the last block cut short
      {4 + 3 * 261 + 2, 3, 0},  // the first block cut in its shape count
      {4 + 261, 0, 0},          // the list cut short
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.keep);
    const std::vector<uint8_t> bytes(full.begin(), full.begin() + long(c.keep));
    TFilm film;
    TFilmError error;
    ASSERT_FALSE(ReadFilm(bytes, film, error));
    EXPECT_EQ(film.List.size(), c.list);
    ASSERT_EQ(film.Segments.size(), c.segments);
    for (size_t i = 0; i < c.segments; ++i) EXPECT_EQ(film.Segments[i]->Name, film.List[i].Name);
  }
}

// Fed in pieces of any size, with bytes after the film, the extent of the first segments
// ends where ReadFilm given the same last segment stops: the bytes before it read as the
// whole file does, and one byte fewer does not suffice. A film that runs out first never
// completes.
TEST(FilmExtent, EndsWhereTheReaderOfTheFirstSegmentsStops) {
  TByteWriter odd;  // a mask of negative size and a colour image of none: no pixels
  odd.I32(3).I32(4).I32(-5).I32(4).I32(4).U8(1).I32(0).I32(1).I32(1).U8(32);
  const struct {
    const char* name;
    std::function<void(std::vector<TRawSegment>&)> change;
    int32_t reachable;  // up to this segment the extent completes (4: whatever is wanted)
  } cases[] = {
      {"shapes, palettes, no shapes", nullptr, 4},
      {"a negative shape count", [](auto& s) { s[1].ShapeCount = -5, s[1].ShapeRecords.clear(); }, 4},
      {"shapes without pixels", [&](auto& s) { s[2].ShapeCount = 2, s[2].ShapeRecords = odd.Data(), s[2].ShapeRecords.insert(s[2].ShapeRecords.end(), odd.Data().begin(), odd.Data().end()); }, 4},
      // The reader stops at a negative size, and so does the extent.
      {"a negative cursor track size", [](auto& s) { s[1].CursorDataSize = -6; }, 4},
      {"a negative palette size", [](auto& s) { s[0].PaletteDataSize = INT32_MIN; }, 4},
      {"frame data beyond the file", [](auto& s) { s[2].FrameDataSize = 0x7FFFFFFF; }, 2},
      {"more shapes than the file holds", [](auto& s) { s[1].ShapeCount = 0x7FFFFFFF; }, 1},
      {"no segments", [](auto& s) { s.clear(); }, 4},
  };
  for (const auto& c : cases) {
    std::vector<TRawSegment> raw;
    for (const auto& s : SampleSegments()) raw.push_back(EncodeSegment(s));
    if (c.change) c.change(raw);
    auto bytes = WriteFilmRaw(raw);
    const size_t filmSize = bytes.size();
    bytes.resize(filmSize + 5000, 0xEE);
    for (int32_t wanted = 1; wanted <= 4; ++wanted) {
      // 4: every segment, none named.
      const TLastSegment last = [wanted](int32_t n, const TSegInfo&) { return n == wanted; };
      for (size_t piece : {size_t(1), size_t(4096)}) {
        SCOPED_TRACE(std::string(c.name) + ", up to segment " + std::to_string(wanted) + ", pieces of " +
                     std::to_string(piece));
        TFilmExtent extent(last);
        for (size_t at = 0; at < bytes.size() && !extent.Feed(std::span(bytes).subspan(at, std::min(piece, bytes.size() - at)));)
          at += piece;
        ASSERT_EQ(extent.Complete(), wanted <= c.reachable);
        if (!extent.Complete()) continue;
        TFilm whole, part;
        TFilmError wholeError, partError;
        const bool read = ReadFilm(bytes, nullptr, whole, wholeError, last);
        ASSERT_LE(extent.End(), filmSize);
        const auto needed = std::span(bytes).first(size_t(extent.End()));
        EXPECT_EQ(ReadFilm(needed, nullptr, part, partError, last), read);
        EXPECT_EQ(part.Segments.size(), whole.Segments.size());
        EXPECT_EQ(partError.Message, wholeError.Message);
        if (read) {
          EXPECT_FALSE(ReadFilm(needed.first(needed.size() - 1), nullptr, part, partError, last));
        }
      }
    }
  }
}

TEST(ExecutableFilm, PackageIsLocatedFromTheLastFourBytes) {
  struct Case {
    int64_t size;
    int32_t length;
    bool ok;
    int64_t offset;
    std::string message;
  };
  const Case cases[] = {
      {5000, 1000, true, 3996, ""},
      {1004, 1000, true, 0, ""},
      {1003, 1000, false, 0, "the package length 1000 at offset 999 is larger than the 999 bytes"},
      {5000, 0, false, 0, "the package length 0 at offset 4996 is not positive"},
      {5000, -7, false, 0, "the package length -7 at offset 4996 is not positive"},
      {3, 1, false, 0, "too short (3 bytes)"},
  };
  for (const auto& c : cases) {
    TPackageSpan span;
    TFilmError error;
    EXPECT_EQ(LocatePackage(c.size, c.length, span, error), c.ok) << c.size << "/" << c.length;
    if (c.ok) {
      EXPECT_EQ(span.Offset, c.offset);
      EXPECT_EQ(span.Length, c.length);
    } else {
      EXPECT_NE(error.Message.find(c.message), std::string::npos) << error.Message;
    }
  }
  // From the bytes of an executable film made by the writer.
  const std::vector<uint8_t> prefix(3000, 0x4D);
  const std::vector<uint8_t> package(1000, 0x11);
  const auto exe = MakeExecutableFilm(prefix, package);
  TPackageSpan span;
  TFilmError error;
  ASSERT_TRUE(LocatePackage(exe, span, error)) << error.Message;
  EXPECT_EQ(span.Offset, int64_t(exe.size()) - 1004);
  EXPECT_EQ(span.Length, 1000);
}

TEST(SegmentDuration, ATimeOfDayToTheNearestMillisecond) {
  struct Case {
    int32_t frames;
    uint8_t rate;
    const char* text;
    int64_t millis = -1;  // the film clock's length (SegmentMillis), in the rows that give it
  };
  const Case cases[] = {
      {0, 10, "00:00:00.000"},         {50, 10, "00:00:05.000"},      {1, 3, "00:00:00.333"},
      {2, 3, "00:00:00.667"},          {100, 0, ""},                  {36000, 10, "01:00:00.000"},
      {863999, 10, "23:59:59.900"},    {864000, 10, "00:00:00.000"},  {900000, 10, "01:00:00.000"},
      {1, 255, "00:00:00.004"},        {-50, 10, "00:00:05.000"},     {2147483647, 1, "03:14:07.000"},
      // Halves of a millisecond go to the even one, in the listing and on the clock alike.
      {1, 16, "00:00:00.062", 62},     {3, 16, "00:00:00.188", 188},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FormatSegmentDuration(c.frames, c.rate), c.text) << c.frames << "/" << int(c.rate);
    if (c.millis >= 0) {
      EXPECT_EQ(SegmentMillis(c.frames, c.rate), c.millis) << c.frames << "/" << int(c.rate);
    }
  }
}

TEST(ExecutableFilm, ChosenByTheLastExtensionInAnyCase) {
  struct Case {
    const char* path;
    bool executable;
  };
  const Case cases[] = {
      {"film.exe", true},          {"/films/FILM.EXE", true},     {"a.Exe", true},
      {"film.exe.zrcab", false},   {"dir.exe/film.zrcab", false}, {"film.zrcab", false},
      {"exe", false},              {"film.exe2", false},          {"film.", false},
      {"/x.y/archive", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsExecutableFilmPath(c.path), c.executable) << c.path;
}

}  // namespace
