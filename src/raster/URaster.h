// Software raster: the bitmaps and block transfers the player draws with.
//
// A TRasterBitmap is a top-down pixel buffer of 1, 4, 8, 16, 24 or 32 bits per pixel
// whose rows start on a 2- or 4-byte boundary (device bitmaps and DIB sections).
// "Compatible with the screen" means 32 bits per pixel laid out as B, G, R, X.
//
// Transfers convert the source to the target's format, then combine with the raster
// operation, and are clipped to both bitmaps. Conversion follows the display rules:
//   - 1-bit source without a colour table (a monochrome device bitmap): bit 1 is white,
//     bit 0 black;
//   - 1-, 4- and 8-bit sources with a colour table: the table's colour;
//   - colour into an 8-bit target: the nearest entry of the target's colour table
//     (least squared distance, lowest index on a tie), unless both bitmaps are 8-bit
//     with equal tables, in which case the indices are copied unchanged;
//   - colour into a 32-bit target: B, G, R and a zero fourth byte.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

struct TColorEntry {
  uint8_t Blue = 0;
  uint8_t Green = 0;
  uint8_t Red = 0;
  uint8_t Reserved = 0;

  friend bool operator==(const TColorEntry&, const TColorEntry&) = default;
};

using TColorTable = std::array<TColorEntry, 256>;

struct TRect {
  int32_t Left = 0;
  int32_t Top = 0;
  int32_t Width = 0;
  int32_t Height = 0;
};

enum class TRop { SrcCopy, SrcAnd, SrcInvert };

// White and black as they sit in a 32-bit compatible bitmap.
inline constexpr uint32_t kRasterWhite = 0x00FFFFFFu;
inline constexpr uint32_t kRasterBlack = 0x00000000u;

class TRasterBitmap {
 public:
  // The largest bitmap the module makes: 2^28 bytes of pixels (256 MiB).
  static constexpr int64_t kMaxBytes = int64_t{1} << 28;
  // Width and height are each limited as well, so row arithmetic stays in range.
  static constexpr int32_t kMaxSide = 1 << 16;

  // Returns nothing when the size is not positive, too large, the depth unsupported
  // or the memory cannot be had. Pixels start zeroed; the colour table starts all zero.
  static std::unique_ptr<TRasterBitmap> Create(int32_t width, int32_t height, int bitsPerPixel,
                                               int rowAlign = 4);

  // Bytes per row for a width, depth and row alignment; nothing on overflow.
  static std::optional<int64_t> RowBytes(int64_t width, int bitsPerPixel, int rowAlign);

  int32_t Width() const { return FWidth; }
  int32_t Height() const { return FHeight; }
  int BitsPerPixel() const { return FBitsPerPixel; }
  int64_t Stride() const { return FStride; }
  size_t SizeBytes() const { return FPixels.size(); }

  uint8_t* Bits() { return FPixels.data(); }
  const uint8_t* Bits() const { return FPixels.data(); }
  std::span<uint8_t> Pixels() { return FPixels; }
  std::span<const uint8_t> Pixels() const { return FPixels; }
  uint8_t* Row(int32_t y) { return FPixels.data() + y * FStride; }
  const uint8_t* Row(int32_t y) const { return FPixels.data() + y * FStride; }

  // Indexed bitmaps (1, 4 and 8 bits) may carry a colour table; a 1-bit bitmap without
  // one is monochrome (0 black, 1 white).
  bool HasColorTable() const { return FHasColorTable; }
  const TColorTable& ColorTable() const { return FColorTable; }
  void SetColorTable(const TColorTable& table);
  void SetColorTable(std::span<const TColorEntry> entries, int firstIndex = 0);
  void DropColorTable() { FHasColorTable = false; }

  // The colour of pixel (x, y) as 0x00RRGGBB; (x, y) must lie inside.
  uint32_t PixelColor(int32_t x, int32_t y) const;
  // The raw value of pixel (x, y): an index, or the 24/32-bit word; (x, y) must lie inside.
  uint32_t PixelValue(int32_t x, int32_t y) const;

 private:
  TRasterBitmap() = default;

  int32_t FWidth = 0;
  int32_t FHeight = 0;
  int FBitsPerPixel = 0;
  int64_t FStride = 0;
  std::span<uint8_t> FPixels;
  std::unique_ptr<uint8_t[]> FStorage;
  bool FHasColorTable = false;
  TColorTable FColorTable{};
};

// How a transfer is carried out: in a way of its own where the formats have one (equal
// formats, 24 into 32 bits, 1-bit masks into 8 and 32 bits, colours into 8 bits), or pixel by
// pixel, the way every transfer can take. The pixels are the same; PerPixel is for comparisons.
enum class TBlitPath { Fast, PerPixel };

// Copies or combines the w × h area of src at (sx, sy) into dst at (dx, dy), clipped to
// both bitmaps. Areas partly outside either bitmap transfer their inside part only.
void BitBlt(TRasterBitmap& dst, int32_t dx, int32_t dy, int32_t w, int32_t h,
            const TRasterBitmap& src, int32_t sx, int32_t sy, TRop rop,
            TBlitPath path = TBlitPath::Fast);

// A drawing coordinate computed in 64 bits, brought into a range where transfers cannot
// overflow; anything that far out lies outside every bitmap anyway.
inline int32_t ClampCoordinate(int64_t v) {
  constexpr int64_t kLimit = int64_t{1} << 30;
  return int32_t(v < -kLimit ? -kLimit : v > kLimit ? kLimit : v);
}

// Nearest-neighbour stretch of the sw × sh area of src at (sx, sy) onto the dw × dh area of
// dst at (dx, dy), then combined with the raster operation; clipped to dst.
void StretchBlt(TRasterBitmap& dst, int32_t dx, int32_t dy, int32_t dw, int32_t dh,
                const TRasterBitmap& src, int32_t sx, int32_t sy, int32_t sw, int32_t sh,
                TRop rop);

// Fills a rectangle, clipped to the bitmap, with a colour (0x00RRGGBB) converted to the
// bitmap's format.
void FillRect(TRasterBitmap& dst, const TRect& rect, uint32_t color);

// Index of the entry of `table` nearest to colour (0x00RRGGBB).
uint8_t NearestColorIndex(const TColorTable& table, uint32_t color);
