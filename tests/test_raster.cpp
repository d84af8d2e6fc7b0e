#include <gtest/gtest.h>

#include <random>

#include "raster/URaster.h"

namespace {

std::unique_ptr<TRasterBitmap> Filled32(int32_t w, int32_t h, uint32_t color) {
  auto bmp = TRasterBitmap::Create(w, h, 32);
  FillRect(*bmp, {0, 0, w, h}, color);
  return bmp;
}

TEST(Raster, RowBytesFollowTheAlignment) {
  struct Case {
    int64_t width;
    int bits;
    int align;
    int64_t expected;
  };
  const Case cases[] = {
      {1, 1, 2, 2},     {16, 1, 2, 2},    {17, 1, 2, 4},  {32, 1, 4, 4},  {33, 1, 4, 8},
      {3, 8, 4, 4},     {798, 8, 4, 800}, {2, 24, 4, 8},  {801, 24, 4, 2404},
      {800, 24, 4, 2400}, {5, 32, 4, 20}, {3, 4, 4, 4},   {3, 16, 4, 8},
  };
  for (const auto& c : cases) {
    auto row = TRasterBitmap::RowBytes(c.width, c.bits, c.align);
    ASSERT_TRUE(row) << c.width << "x" << c.bits;
    EXPECT_EQ(*row, c.expected) << c.width << " px at " << c.bits << " bits";
  }
}

TEST(Raster, CreateRefusesWhatItCannotMake) {
  struct Case {
    int32_t w, h;
    int bits;
  };
  const Case bad[] = {{0, 1, 32},  {1, 0, 32},       {-1, 5, 8},          {5, -1, 8},
                      {4, 4, 2},   {4, 4, 12},       {70000, 1, 8},       {1, 70000, 8},
                      {65536, 65536, 32}};
  for (const auto& c : bad)
    EXPECT_EQ(TRasterBitmap::Create(c.w, c.h, c.bits), nullptr) << c.w << "x" << c.h << "@" << c.bits;
  auto ok = TRasterBitmap::Create(801, 601, 24);
  ASSERT_TRUE(ok);
  EXPECT_EQ(ok->SizeBytes(), 2404u * 601u);
  for (uint8_t b : ok->Pixels()) ASSERT_EQ(b, 0);
}

TEST(Raster, CopiesAreClippedToBothBitmaps) {
  struct Case {
    int32_t dx, dy;
    int changed;  // pixels of the 8 × 8 target that take the source colour
  };
  // A 4 × 4 source placed at various points of an 8 × 8 target.
  const Case cases[] = {{0, 0, 16}, {-2, 0, 8},  {-2, -2, 4}, {6, 6, 4},
                        {7, 0, 4},  {8, 0, 0},   {-4, 0, 0},  {2, 3, 16}};
  auto src = Filled32(4, 4, 0x123456);
  for (const auto& c : cases) {
    auto dst = Filled32(8, 8, 0x000000);
    BitBlt(*dst, c.dx, c.dy, 4, 4, *src, 0, 0, TRop::SrcCopy);
    int changed = 0;
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 8; ++x) {
        const bool inside = x >= c.dx && x < c.dx + 4 && y >= c.dy && y < c.dy + 4;
        EXPECT_EQ(dst->PixelColor(x, y), inside ? 0x123456u : 0u) << x << "," << y;
        changed += inside;
      }
    EXPECT_EQ(changed, c.changed);
  }
  // A source area reaching past the source's own edge transfers only what exists.
  auto dst = Filled32(8, 8, 0);
  BitBlt(*dst, 0, 0, 8, 8, *src, 2, 2, TRop::SrcCopy);
  EXPECT_EQ(dst->PixelColor(1, 1), 0x123456u);
  EXPECT_EQ(dst->PixelColor(2, 2), 0u);
}

TEST(Raster, MonochromeIntoColourIsBlackAndWhite) {
  // One row of four pixels: bits 1 0 1 0.
  auto mono = TRasterBitmap::Create(4, 1, 1, 2);
  mono->Bits()[0] = 0xA0;
  struct Case {
    TRop rop;
    uint32_t background;
    uint32_t expected[4];
  };
  const Case cases[] = {
      {TRop::SrcCopy, 0x102030, {kRasterWhite, 0, kRasterWhite, 0}},
      {TRop::SrcAnd, 0x102030, {0x102030, 0, 0x102030, 0}},
      {TRop::SrcInvert, 0x102030, {0xEFDFCF, 0x102030, 0xEFDFCF, 0x102030}},
  };
  for (const auto& c : cases) {
    auto dst = Filled32(4, 1, c.background);
    BitBlt(*dst, 0, 0, 4, 1, *mono, 0, 0, c.rop);
    for (int x = 0; x < 4; ++x) {
      EXPECT_EQ(dst->PixelValue(x, 0), c.expected[x]) << "rop " << int(c.rop) << " x " << x;
    }
  }
}

TEST(Raster, TrueColourIntoScreenFormatHasAZeroFourthByte) {
  auto src = TRasterBitmap::Create(3, 2, 24);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) {
      uint8_t* p = src->Row(y) + 3 * x;
      p[0] = uint8_t(x), p[1] = uint8_t(y), p[2] = 0xFF;
    }
  auto dst = TRasterBitmap::Create(3, 2, 32);
  std::fill(dst->Bits(), dst->Bits() + dst->SizeBytes(), 0xAA);
  BitBlt(*dst, 0, 0, 3, 2, *src, 0, 0, TRop::SrcCopy);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_EQ(dst->PixelValue(x, y), 0x00FF0000u | (y << 8) | x);
  // XOR twice gives the picture back.
  BitBlt(*dst, 0, 0, 3, 2, *src, 0, 0, TRop::SrcInvert);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_EQ(dst->PixelValue(x, y), 0u);
}

TEST(Raster, IndexedTargetsTakeTheNearestEntryUnlessTablesAgree) {
  TColorTable table{};
  table[3] = {0xFF, 0xFF, 0xFF, 0};  // white
  table[9] = {0x00, 0x00, 0xF0, 0};  // nearly pure red
  // Index 0 is black, and so are all others: the tie goes to the lowest index.
  EXPECT_EQ(NearestColorIndex(table, 0x000000), 0);
  EXPECT_EQ(NearestColorIndex(table, 0xFFFFFF), 3);
  EXPECT_EQ(NearestColorIndex(table, 0xFF0000), 9);

  auto mono = TRasterBitmap::Create(2, 1, 1, 2);
  mono->Bits()[0] = 0x80;  // white, black
  auto dst = TRasterBitmap::Create(2, 1, 8);
  dst->SetColorTable(table);
  BitBlt(*dst, 0, 0, 2, 1, *mono, 0, 0, TRop::SrcCopy);
  EXPECT_EQ(dst->PixelValue(0, 0), 3u);
  EXPECT_EQ(dst->PixelValue(1, 0), 0u);

  // Equal tables copy indices as they are, even indices whose colour repeats an earlier one.
  auto src = TRasterBitmap::Create(2, 1, 8);
  src->SetColorTable(table);
  src->Bits()[0] = 200, src->Bits()[1] = 9;
  BitBlt(*dst, 0, 0, 2, 1, *src, 0, 0, TRop::SrcCopy);
  EXPECT_EQ(dst->PixelValue(0, 0), 200u);
  EXPECT_EQ(dst->PixelValue(1, 0), 9u);
  // With another table the colours are matched instead.
  TColorTable other = table;
  other[200] = {0xFE, 0xFE, 0xFE, 0};
  src->SetColorTable(other);
  BitBlt(*dst, 0, 0, 2, 1, *src, 0, 0, TRop::SrcCopy);
  EXPECT_EQ(dst->PixelValue(0, 0), 3u);
}

TEST(Raster, TransfersOfTheirOwnEqualThePerPixelPath) {
  // Sources with a way of their own into 8- and 32-bit targets, every raster operation,
  // source columns off byte boundaries and areas cut at the targets' edges.
  std::mt19937 rng(77);
  const auto randomBitmap = [&](int32_t w, int32_t h, int bits) {
    auto bmp = TRasterBitmap::Create(w, h, bits);
    for (auto& b : bmp->Pixels()) b = uint8_t(rng());
    return bmp;
  };
  TColorTable table{};
  for (auto& e : table) e = {uint8_t(rng()), uint8_t(rng()), uint8_t(rng()), 0};
  auto mono = randomBitmap(45, 20, 1);
  auto tabled = randomBitmap(45, 20, 1);
  tabled->SetColorTable(table);
  auto colours = randomBitmap(45, 20, 32);
  const std::pair<const char*, const TRasterBitmap*> sources[] = {
      {"monochrome", mono.get()}, {"1 bit with a table", tabled.get()}, {"32 bits", colours.get()}};
  struct Area {
    int32_t dx, dy, w, h, sx, sy;
  };
  const Area areas[] = {{0, 0, 45, 20, 0, 0}, {3, 2, 30, 9, 5, 3},   {-4, -2, 20, 20, 11, 0},
                        {25, 15, 40, 40, 7, 1}, {1, 1, 1, 1, 44, 19}};
  for (int bits : {8, 32})
    for (const auto& [name, src] : sources)
      for (TRop rop : {TRop::SrcCopy, TRop::SrcAnd, TRop::SrcInvert})
        for (const Area& a : areas) {
          SCOPED_TRACE(std::string(name) + " into " + std::to_string(bits) + " bits, rop " +
                       std::to_string(int(rop)) + ", at " + std::to_string(a.dx) + "," + std::to_string(a.dy));
          auto fast = randomBitmap(30, 17, bits);
          if (bits == 8) fast->SetColorTable(table);
          auto slow = TRasterBitmap::Create(30, 17, bits);
          std::copy(fast->Pixels().begin(), fast->Pixels().end(), slow->Pixels().begin());
          if (bits == 8) slow->SetColorTable(table);
          BitBlt(*fast, a.dx, a.dy, a.w, a.h, *src, a.sx, a.sy, rop);
          BitBlt(*slow, a.dx, a.dy, a.w, a.h, *src, a.sx, a.sy, rop, TBlitPath::PerPixel);
          ASSERT_TRUE(std::equal(fast->Pixels().begin(), fast->Pixels().end(), slow->Pixels().begin()));
        }
}

TEST(Raster, StretchPicksTheNearestSourcePixel) {
  auto src = TRasterBitmap::Create(2, 2, 32);
  const uint32_t colours[4] = {0x11, 0x22, 0x33, 0x44};
  for (int i = 0; i < 4; ++i) FillRect(*src, {i % 2, i / 2, 1, 1}, colours[i]);
  auto dst = TRasterBitmap::Create(4, 4, 32);
  StretchBlt(*dst, 0, 0, 4, 4, *src, 0, 0, 2, 2, TRop::SrcCopy);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(dst->PixelValue(x, y), colours[(y / 2) * 2 + x / 2]);
  // Off the target's edge nothing is written and nothing breaks.
  StretchBlt(*dst, -3, 2, 4, 4, *src, 0, 0, 2, 2, TRop::SrcInvert);
  // Target column 0 is the stretch's column 3, from source column 1; column 1 lies past it.
  EXPECT_EQ(dst->PixelValue(0, 2), 0x33u ^ 0x22u);
  EXPECT_EQ(dst->PixelValue(1, 2), 0x33u);
}

TEST(Raster, FillIsClipped) {
  auto dst = TRasterBitmap::Create(4, 4, 32);
  FillRect(*dst, {-2, -2, 4, 4}, 0xABCDEF);
  FillRect(*dst, {3, 3, 100, 100}, 0x010101);
  FillRect(*dst, {10, 10, 2, 2}, 0x999999);
  EXPECT_EQ(dst->PixelValue(0, 0), 0xABCDEFu);
  EXPECT_EQ(dst->PixelValue(1, 1), 0xABCDEFu);
  EXPECT_EQ(dst->PixelValue(2, 2), 0u);
  EXPECT_EQ(dst->PixelValue(3, 3), 0x010101u);
}

}  // namespace
