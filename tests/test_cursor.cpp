#include <gtest/gtest.h>

#include <random>

#include "cursor/UzrCursor.h"
#include "filmwriter/FilmWriter.h"

namespace {

constexpr uint32_t kBackground = 0x405060;

// A 32 × 32 arrow-like test pattern: pixel (x, y) takes one of the four mask combinations.
int Combination(int x, int y) { return (x + 2 * y) % 4; }  // bit 0: AND, bit 1: XOR

TWriterShape MonoShape(int32_t size = 32, int32_t hotX = 0, int32_t hotY = 0) {
  TWriterShape shape;
  shape.Width = shape.Height = size;
  shape.HotSpotX = hotX, shape.HotSpotY = hotY;
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) {
      shape.AndMask.push_back(uint8_t(Combination(x, y) & 1));
      shape.XorMask.push_back(uint8_t(Combination(x, y) >> 1));
    }
  return shape;
}

uint32_t ShapeColour(int x, int y) { return uint32_t(0x010000 * (x * 7) + 0x100 * (y * 5) + 0x33); }

TWriterShape ColourShape(int32_t w, int32_t h, int32_t hotX, int32_t hotY, uint8_t bits = 32) {
  TWriterShape shape;
  shape.Width = w, shape.Height = h;
  shape.HotSpotX = hotX, shape.HotSpotY = hotY;
  shape.ColorBits = bits;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      shape.AndMask.push_back(uint8_t((x + y) % 3 == 0));
      shape.Color.push_back(ShapeColour(x, y));
    }
  return shape;
}

// Expected colour of a target pixel after drawing over kBackground.
uint32_t AfterMono(int sx, int sy) {
  const int c = Combination(sx, sy);
  const uint32_t anded = (c & 1) ? kBackground : 0;
  return (c & 2) ? anded ^ kRasterWhite : anded;
}

uint32_t AfterColour(int sx, int sy) {
  const uint32_t anded = (sx + sy) % 3 == 0 ? kBackground : 0;
  return anded ^ ShapeColour(sx, sy);
}

std::unique_ptr<TRasterBitmap> Target(int32_t w, int32_t h) {
  auto bmp = TRasterBitmap::Create(w, h, 32);
  FillRect(*bmp, {0, 0, w, h}, kBackground);
  return bmp;
}

struct TLoaded {
  std::unique_ptr<TzrCursor> Shape;
  uint8_t Result = 0;
  size_t Consumed = 0;
  bool Overrun = false;
};

TLoaded Load(const std::vector<uint8_t>& bytes) {
  TLoaded loaded;
  loaded.Shape = std::make_unique<TzrCursor>();
  TByteReader reader(bytes);
  loaded.Result = loaded.Shape->LoadFromStream(reader);
  loaded.Consumed = reader.Position();
  loaded.Overrun = reader.Overrun();
  return loaded;
}

// Checks every pixel of a target against the drawing of a shape whose top-left corner
// landed on (left, top) with the given size; outside it the background stays.
template <typename Expected>
void ExpectDrawn(const TRasterBitmap& target, int left, int top, int w, int h, Expected expected) {
  for (int y = 0; y < target.Height(); ++y)
    for (int x = 0; x < target.Width(); ++x) {
      const int sx = x - left, sy = y - top;
      const bool inside = sx >= 0 && sx < w && sy >= 0 && sy < h;
      ASSERT_EQ(target.PixelValue(x, y), inside ? expected(sx, sy) : kBackground)
          << "pixel " << x << "," << y;
    }
}

TEST(CursorShape, WellFormedRecordsLoadAndAreConsumedExactly) {
  struct Case {
    const char* name;
    TWriterShape shape;
    size_t size;
    bool colour;
  };
  const Case cases[] = {
      {"mono 32x32", MonoShape(), 34 + 256, false},
      {"colour 32x32 at 32 bits", ColourShape(32, 32, 0, 0), 34 + 128 + 4096, true},
      {"colour 5x3 at 24 bits", ColourShape(5, 3, 0, 0, 24), 34 + 3 * 2 + 3 * 16, true},
  };
  for (const auto& c : cases) {
    auto bytes = EncodeShapeRecord(c.shape);
    ASSERT_EQ(bytes.size(), c.size) << c.name;
    bytes.push_back(0xEE);  // the next record's first byte
    auto loaded = Load(bytes);
    EXPECT_EQ(loaded.Result, TzrCursor::kLoadOk) << c.name;
    EXPECT_EQ(loaded.Consumed, c.size) << c.name;
    EXPECT_FALSE(loaded.Overrun) << c.name;
    EXPECT_EQ(loaded.Shape->IsColorShape(), c.colour) << c.name;
    EXPECT_EQ(bool(loaded.Shape->Handle), !c.colour) << c.name;
    EXPECT_EQ(bool(loaded.Shape->Color.Bitmap), c.colour) << c.name;
  }
}

TEST(CursorShape, MaskOnlyShapeDrawsAndThenXorHalvesAtTheEdges) {
  auto loaded = Load(EncodeShapeRecord(MonoShape(32, 5, 7)));
  ASSERT_EQ(loaded.Result, 0);
  struct Case {
    int x, y;  // hot spot position in a 40 × 30 target
  };
  const Case cases[] = {{20, 15}, {0, 0}, {39, 29}, {3, 28}, {-40, 10}};
  for (const auto& c : cases) {
    auto target = Target(40, 30);
    loaded.Shape->Draw(*target, c.x, c.y);
    ExpectDrawn(*target, c.x - 5, c.y - 7, 32, 32, AfterMono);
  }
}

TEST(CursorShape, SmallMaskOnlyShapesAreDrawnAtIconSize) {
  // A 16 × 16 cursor is drawn stretched to 32 × 32, every pixel doubled.
  auto loaded = Load(EncodeShapeRecord(MonoShape(16)));
  ASSERT_TRUE(loaded.Shape->Handle);
  auto target = Target(32, 32);
  loaded.Shape->Draw(*target, 0, 0);
  ExpectDrawn(*target, 0, 0, 32, 32, [](int x, int y) { return AfterMono(x / 2, y / 2); });
}

TEST(CursorShape, ColourShapeAndsTheMaskThenXorsTheColoursAtTheEdges) {
  for (uint8_t bits : {uint8_t(24), uint8_t(32)}) {
    auto loaded = Load(EncodeShapeRecord(ColourShape(12, 9, 3, 4, bits)));
    ASSERT_EQ(loaded.Result, 0);
    struct Case {
      int x, y;
    };
    const Case cases[] = {{10, 10}, {0, 0}, {19, 14}, {2, 14}, {500, 500}};
    for (const auto& c : cases) {
      auto target = Target(20, 15);
      loaded.Shape->Draw(*target, c.x, c.y);
      ExpectDrawn(*target, c.x - 3, c.y - 4, 12, 9, AfterColour);
    }
  }
}

// Record builder for shapes the writer would not make.
std::vector<uint8_t> Record(int32_t maskSize, int32_t maskW, int32_t maskH, uint8_t maskBits,
                            size_t maskBytes, int32_t colourSize, int32_t colourW,
                            int32_t colourH, uint8_t colourBits, size_t colourBytes,
                            uint8_t fill = 0xFF) {
  TByteWriter w;
  w.I32(1).I32(2);
  w.I32(maskSize).I32(maskW).I32(maskH).U8(maskBits);
  for (size_t i = 0; i < maskBytes; ++i) w.U8(fill);
  w.I32(colourSize).I32(colourW).I32(colourH).U8(colourBits);
  for (size_t i = 0; i < colourBytes; ++i) w.U8(fill);
  return w.Take();
}

TEST(CursorShape, OddRecordsAreConsumedAsDeclared) {
  struct Case {
    const char* defect;
    std::vector<uint8_t> record;
    uint8_t result;
    bool colour;
    bool drawable;
  };
  const Case cases[] = {
      {"colour size 0", Record(256, 32, 64, 1, 256, 0, 32, 32, 32, 0), 0, false, true},
      {"negative colour size", Record(256, 32, 64, 1, 256, -4096, 32, 32, 32, 0), 0, false, true},
      {"no mask pixels, mask-only", Record(0, 32, 64, 1, 0, 0, 0, 0, 0, 0), 0, false, false},
      {"negative mask size, colour", Record(-5, 4, 4, 1, 0, 64, 4, 4, 32, 64), 0, true, true},
      {"mask shorter than its rows", Record(100, 32, 64, 1, 100, 0, 0, 0, 0, 0), 4, false, false},
      {"mask of 4 bits per pixel", Record(256, 32, 16, 4, 256, 0, 0, 0, 0, 0), 4, false, false},
      {"mask of zero width", Record(8, 0, 4, 1, 8, 0, 0, 0, 0, 0), 4, false, false},
      {"mask far too tall", Record(8, 4, 100000, 1, 8, 0, 0, 0, 0, 0), 4, false, false},
      {"broken mask, colour after it", Record(4, 32, 32, 1, 4, 16, 2, 2, 32, 16), 4, true, false},
      {"colour shorter than its rows", Record(8, 4, 4, 1, 8, 40, 4, 4, 32, 40), 4, true, false},
      {"colour longer than its rows", Record(8, 4, 4, 1, 8, 100, 4, 4, 32, 100), 0, true, true},
      {"colour of 8 bits per pixel", Record(8, 4, 4, 1, 8, 16, 4, 4, 8, 16), 4, true, false},
      {"colour of 1 bit per pixel", Record(8, 4, 4, 1, 8, 16, 4, 4, 1, 16), 0, true, true},
      {"colour of 4 bits per pixel", Record(8, 4, 4, 1, 8, 16, 4, 4, 4, 16), 0, true, true},
      {"colour of 16 bits per pixel", Record(8, 4, 4, 1, 8, 32, 4, 4, 16, 32), 0, true, true},
      {"negative colour height", Record(8, 4, 4, 1, 8, 64, 4, -4, 32, 64), 4, true, false},
      {"colour of 7 bits per pixel", Record(8, 4, 4, 1, 8, 64, 4, 4, 7, 64), 4, true, false},
  };
  for (const auto& c : cases) {
    auto bytes = c.record;
    bytes.insert(bytes.end(), {0xEE, 0xEE});
    auto loaded = Load(bytes);
    EXPECT_EQ(loaded.Result, c.result) << c.defect;
    EXPECT_EQ(loaded.Consumed, c.record.size()) << c.defect;
    EXPECT_FALSE(loaded.Overrun) << c.defect;
    EXPECT_EQ(loaded.Shape->IsColorShape(), c.colour) << c.defect;
    const bool drawable = c.colour ? bool(loaded.Shape->Color.Bitmap) : bool(loaded.Shape->Handle);
    EXPECT_EQ(drawable, c.drawable) << c.defect;
    // Drawing never touches anything outside the target, whatever the shape holds.
    auto target = Target(8, 8);
    loaded.Shape->Draw(*target, 4, 4);
  }
}

TEST(CursorShape, RecordsCutShortLeaveTheOverrunFlag) {
  const auto full = EncodeShapeRecord(ColourShape(4, 4, 0, 0));
  for (size_t cut = 0; cut < full.size(); ++cut) {
    auto loaded = Load(std::vector<uint8_t>(full.begin(), full.begin() + long(cut)));
    EXPECT_TRUE(loaded.Overrun) << "cut at " << cut;
    EXPECT_EQ(loaded.Consumed, cut);
  }
}

TEST(CursorShape, ColourShapeWithoutMaskDrawsItsColoursOnly) {
  auto shape = ColourShape(4, 4, 0, 0);
  auto bytes = Record(0, 0, 0, 0, 0, 64, 4, 4, 32, 0);
  for (uint32_t c : shape.Color) bytes.insert(bytes.end(), {uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16), 0xFF});
  auto loaded = Load(bytes);
  ASSERT_EQ(loaded.Result, 0);
  auto target = Target(6, 6);
  loaded.Shape->Draw(*target, 1, 2);  // hot spot (1, 2) in the record
  ExpectDrawn(*target, 0, 0, 4, 4, [](int x, int y) { return kBackground ^ ShapeColour(x, y); });
}

TEST(CursorShape, ReloadingAndClearingStartFromEmpty) {
  TzrCursor shape;
  auto colour = EncodeShapeRecord(ColourShape(4, 4, 1, 1));
  TByteReader first(colour);
  ASSERT_EQ(shape.LoadFromStream(first), 0);
  auto mono = EncodeShapeRecord(MonoShape(32, 9, 9));
  TByteReader second(mono);
  ASSERT_EQ(shape.LoadFromStream(second), 0);
  EXPECT_FALSE(shape.IsColorShape());
  EXPECT_FALSE(shape.Color.Bitmap);
  EXPECT_EQ(shape.HotSpotX, 9);
  shape.Clear();
  EXPECT_FALSE(shape.Handle);
  EXPECT_FALSE(shape.Mask.Bitmap);
  EXPECT_EQ(shape.Mask.Size, 0);
  EXPECT_EQ(shape.HotSpotY, 0);
}

// A colour shape of side × side pixels at `bits` bits, with or without its 1-bit mask.
std::vector<uint8_t> Square(int32_t side, uint8_t bits, bool withMask) {
  const auto mask = withMask ? size_t(*TRasterBitmap::RowBytes(side, 1, 2) * side) : 0;
  const auto colour = size_t(*TRasterBitmap::RowBytes(side, bits, 4) * side);
  return Record(int32_t(mask), side, side, 1, mask, int32_t(colour), side, side, bits, colour, 0);
}

TEST(CursorShape, ImagesAreWeighedAgainstTheBudgetBeforeTheyAreBuilt) {
  struct Case {
    const char* name;
    std::vector<uint8_t> record;
    uint8_t result;
  };
  const Case cases[] = {
      {"32 x 32 at 32 bits", EncodeShapeRecord(ColourShape(32, 32, 0, 0)), TzrCursor::kLoadOk},
      {"mask-only 32 x 32", EncodeShapeRecord(MonoShape()), TzrCursor::kLoadOk},
      {"300 x 300 at 1 bit with its mask", Square(300, 1, true), TzrCursor::kLoadOk},
      // 2 MiB of record for a 64 MiB image.
      {"4096 x 4096 at 1 bit without a mask", Square(4096, 1, false), TzrCursor::kLoadNoBuffer},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto loaded = Load(c.record);
    EXPECT_EQ(loaded.Result, c.result);
    EXPECT_EQ(loaded.Consumed, c.record.size());
    EXPECT_FALSE(loaded.Overrun);
    // A refused shape builds nothing at all.
    const bool built = loaded.Shape->Mask.Bitmap || loaded.Shape->Color.Bitmap || loaded.Shape->Handle;
    EXPECT_EQ(built, c.result == TzrCursor::kLoadOk);
  }

  // Shapes that share a budget: each fits alone, together they do not.
  const auto medium = Square(256, 1, false);
  TShapeBudget budget;
  int loadedCount = 0;
  for (int i = 0; i < 40; ++i) {
    TzrCursor shape;
    TByteReader reader(medium);
    if (shape.LoadFromStream(reader, budget) != TzrCursor::kLoadOk) break;
    ++loadedCount;
    ASSERT_LE(budget.Used(), budget.Limit());
  }
  EXPECT_GT(loadedCount, 1);
  EXPECT_LT(loadedCount, 40);
  EXPECT_TRUE(budget.Exceeded());
  EXPECT_GT(budget.Refused(), 256 * 256 * 4);
  EXPECT_EQ(budget.Backed(), int64_t(medium.size()) * (loadedCount + 1));
}

// A record of a colour shape with random mask and colour bytes: mask maskW × maskH (none for
// 0), colours colourW × colourH at colourBits.
std::vector<uint8_t> RandomColourRecord(std::mt19937& rng, int32_t maskW, int32_t maskH,
                                        int32_t colourW, int32_t colourH, uint8_t colourBits,
                                        int32_t hotX, int32_t hotY) {
  const int64_t maskBytes = maskW ? *TRasterBitmap::RowBytes(maskW, 1, 2) * maskH : 0;
  const int64_t colourBytes = *TRasterBitmap::RowBytes(colourW, colourBits, 4) * colourH;
  TByteWriter w;
  w.I32(hotX).I32(hotY);
  w.I32(int32_t(maskBytes)).I32(maskW).I32(maskH).U8(1);
  for (int64_t i = 0; i < maskBytes; ++i) w.U8(uint8_t(rng()));
  w.I32(int32_t(colourBytes)).I32(colourW).I32(colourH).U8(colourBits);
  for (int64_t i = 0; i < colourBytes; ++i) w.U8(uint8_t(rng()));
  return w.Take();
}

TEST(CursorShape, DrawingEqualsThePerPixelPath) {
  // Every kind of shape over 8-, 24- and 32-bit pictures of random pixels (the fourth byte of
  // 32-bit pixels included), at every edge and corner, must leave the bytes the per-pixel
  // transfers leave.
  std::mt19937 rng(20261208);
  struct Shape {
    const char* name;
    std::vector<uint8_t> record;
  };
  const Shape shapes[] = {
      {"mask-only 32 x 32", EncodeShapeRecord(MonoShape(32, 5, 7))},
      {"mask-only 16 x 16, stretched", EncodeShapeRecord(MonoShape(16, 3, 3))},
      {"mask-only 48 x 48, shrunk", EncodeShapeRecord(MonoShape(48, 0, 0))},
      {"colour at 32 bits", EncodeShapeRecord(ColourShape(12, 9, 3, 4, 32))},
      {"colour at 24 bits, odd width", EncodeShapeRecord(ColourShape(33, 17, 30, 2, 24))},
      {"random colour at 32 bits", RandomColourRecord(rng, 32, 32, 32, 32, 32, 16, 16)},
      {"random colour at 16 bits", RandomColourRecord(rng, 21, 11, 21, 11, 16, 0, 10)},
      {"random colour at 4 bits", RandomColourRecord(rng, 13, 13, 13, 13, 4, 6, 6)},
      {"random colour at 1 bit", RandomColourRecord(rng, 19, 5, 19, 5, 1, 2, 2)},
      {"mask wider, colour taller", RandomColourRecord(rng, 20, 7, 9, 13, 24, 1, 1)},
      {"colour without a mask", RandomColourRecord(rng, 0, 0, 7, 6, 32, 3, 3)},
  };
  // Palettes of 8-bit pictures: all black (a film's palette before any record), a grey ramp,
  // random entries, and entries that tie.
  std::vector<TColorTable> palettes(4);
  for (int i = 0; i < 256; ++i) {
    palettes[1][size_t(i)] = {uint8_t(i), uint8_t(i), uint8_t(i), 0};
    palettes[2][size_t(i)] = {uint8_t(rng()), uint8_t(rng()), uint8_t(rng()), uint8_t(rng())};
    const uint8_t level = uint8_t(i / 64 * 85);
    palettes[3][size_t(i)] = {level, level, level, 0};
  }
  struct Picture {
    int bits;
    int palette;  // 8 bits: which palette
  };
  const Picture pictures[] = {{32, 0}, {24, 0}, {8, 0}, {8, 1}, {8, 2}, {8, 3}};
  // Hot spot positions on a 40 × 30 picture: inside, across each edge and corner, outside.
  const std::pair<int, int> positions[] = {{20, 15}, {1, 15},  {39, 15}, {20, 0},  {20, 29},
                                           {0, 0},   {39, 29}, {-3, 31}, {70, 70}, {-60, -60}};
  for (const auto& shape : shapes) {
    auto loaded = Load(shape.record);
    ASSERT_EQ(loaded.Result, TzrCursor::kLoadOk) << shape.name;
    for (const auto& picture : pictures)
      for (const auto& [x, y] : positions) {
        SCOPED_TRACE(std::string(shape.name) + ", " + std::to_string(picture.bits) + " bits, palette " +
                     std::to_string(picture.palette) + ", at " + std::to_string(x) + "," +
                     std::to_string(y));
        auto fast = TRasterBitmap::Create(40, 30, picture.bits);
        for (auto& b : fast->Pixels()) b = uint8_t(rng());
        if (picture.bits == 8) fast->SetColorTable(palettes[size_t(picture.palette)]);
        auto slow = TRasterBitmap::Create(40, 30, picture.bits);
        std::copy(fast->Pixels().begin(), fast->Pixels().end(), slow->Pixels().begin());
        if (picture.bits == 8) slow->SetColorTable(palettes[size_t(picture.palette)]);
        loaded.Shape->Draw(*fast, x, y);
        loaded.Shape->Draw(*slow, x, y, TBlitPath::PerPixel);
        ASSERT_TRUE(std::equal(fast->Pixels().begin(), fast->Pixels().end(), slow->Pixels().begin()));
      }
  }
}

TEST(ShapeBudget, GrowsWithTheRecordsUpToTheCeiling) {
  struct Case {
    int64_t backed;
    int64_t limit;
  };
  const Case cases[] = {
      {0, TShapeBudget::kAllowance},
      {1000, 1000 * TShapeBudget::kFactor + TShapeBudget::kAllowance},
      {int64_t{1} << 30, TShapeBudget::kCeiling},
  };
  for (const auto& c : cases) {
    TShapeBudget budget;
    budget.Back(c.backed);
    EXPECT_EQ(budget.Limit(), c.limit) << c.backed;
    EXPECT_TRUE(budget.Take(c.limit - 10));
    EXPECT_FALSE(budget.Take(11));
    EXPECT_EQ(budget.Refused(), 11);
    EXPECT_EQ(budget.Used(), c.limit - 10);
    EXPECT_TRUE(budget.Take(10));
    EXPECT_EQ(budget.Used(), c.limit);
  }
}

TEST(CursorList, SlotsAreFilledInOrderAndLookupsNeverFail) {
  TCursorList list;
  EXPECT_EQ(list.Items(0), nullptr);
  auto* first = new TzrCursor;
  EXPECT_EQ(list.Add(std::unique_ptr<TzrCursor>(first)), 0);
  EXPECT_EQ(list.Add(std::make_unique<TzrCursor>()), 1);
  EXPECT_EQ(list.Items(0), first);
  for (int64_t index : {int64_t{2}, int64_t{65535}, int64_t{65536}, int64_t{-1}})
    EXPECT_EQ(list.Items(index), nullptr) << index;
  while (list.Count() < TCursorList::kCapacity) list.Add(std::make_unique<TzrCursor>());
  EXPECT_NE(list.Items(65535), nullptr);
  EXPECT_EQ(list.Add(std::make_unique<TzrCursor>()), -1);
  EXPECT_EQ(list.Count(), 65536);
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.Items(0), nullptr);
}

}  // namespace
