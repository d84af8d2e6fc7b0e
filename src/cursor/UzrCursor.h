// Recorded mouse-cursor shapes and the per-segment table that holds them.
//
// A shape record in the film: hot spot X and Y (int32 each), a 13-byte mask header
// (size, width, height as int32, bits per pixel as one byte), the mask pixels, a 13-byte
// colour header and the colour pixels. A record with a colour size above 0 is a colour
// shape (AND mask of the cursor's size, XOR colours); otherwise it is mask-only, and its
// mask holds the AND half above the XOR half.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "io/ByteReader.h"
#include "raster/URaster.h"

struct TCursorBitmap {
  int32_t Size = 0;  // bytes of pixel data stored in the film; <= 0: no image
  int32_t Width = 0;
  int32_t Height = 0;
  uint8_t BitsPixel = 0;
  std::unique_ptr<TRasterBitmap> Bitmap;
};

// What a mask-only shape is drawn from: its AND and XOR halves at the standard icon size.
struct TCursorHandle {
  std::unique_ptr<TRasterBitmap> AndMask;  // 32 × 32, 1 bit per pixel
  std::unique_ptr<TRasterBitmap> XorMask;  // 32 × 32, 1 bit per pixel
};

// The memory the shapes of one segment may take. Shapes are decoded into ready-to-draw
// bitmaps that can be far larger than their records (a 1-bit colour image becomes 32 bits a
// pixel, every bitmap carries its colour table), so without a limit a film could ask for
// many times the memory it fills. The limit grows with the record bytes read: kFactor bytes of
// images for each byte of record, plus kAllowance, and never more than kCeiling.
class TShapeBudget {
 public:
  // Above what real shapes need: a 32 × 32 mask-only cursor takes about 13 times its
  // record, a 32-bit colour one about 1.5 times. Only colour images of 1 bit a pixel, rare in
  // recorded cursors, take 16 to 33 times theirs; the allowance lets a
  // megabyte's worth of any shapes through.
  static constexpr int64_t kFactor = 16;
  static constexpr int64_t kAllowance = int64_t{1} << 20;  // 1 MiB
  static constexpr int64_t kCeiling = int64_t{256} << 20;  // 256 MiB

  // Adds the bytes of a record to what backs the shapes.
  void Back(int64_t recordBytes) { FBacked += recordBytes; }
  // Takes `bytes` for a shape's images; false, and nothing taken, when they do not fit. The
  // refused request is kept for the report.
  bool Take(int64_t bytes);

  int64_t Limit() const;
  int64_t Used() const { return FUsed; }
  int64_t Backed() const { return FBacked; }
  bool Exceeded() const { return FRefused > 0; }
  int64_t Refused() const { return FRefused; }

 private:
  int64_t FBacked = 0;
  int64_t FUsed = 0;
  int64_t FRefused = 0;
};

class TzrCursor {
 public:
  // Results of LoadFromStream.
  static constexpr uint8_t kLoadOk = 0;
  static constexpr uint8_t kLoadNoBuffer = 2;
  static constexpr uint8_t kLoadImageFailed = 4;

  // The size at which the platform draws icons and cursors.
  static constexpr int32_t kIconSize = 32;
  // Neither side of a shape's image may exceed this many pixels.
  static constexpr int32_t kMaxShapeSide = 4096;

  TzrCursor() = default;
  TzrCursor(const TzrCursor&) = delete;
  TzrCursor& operator=(const TzrCursor&) = delete;

  // Reads one shape record at the reader's position and builds the shape's images, taking
  // their memory from `budget` (the shapes of one segment share one budget).
  // The record is always consumed as its headers declare it, whatever the result, so the
  // next record starts where it should; a record that runs past the end of the data leaves
  // the reader's overrun flag set. Results: kLoadOk, kLoadNoBuffer (the images do not fit
  // the budget, or no memory for them: the shape then holds no images), kLoadImageFailed
  // (an image could not be made from the record: sizes that do not fit, too few pixel
  // bytes, an unsupported depth).
  uint8_t LoadFromStream(TByteReader& stream, TShapeBudget& budget);
  // The same with a budget of the shape's own, backed by its record alone.
  uint8_t LoadFromStream(TByteReader& stream);

  // Draws the shape so that its hot spot lands on (x, y); clipped to the target.
  // Colour shape: AND with the mask, then XOR with the colours. Mask-only shape: the AND
  // half, then the XOR half, at the 32 × 32 icon size.
  void Draw(TRasterBitmap& target, int32_t x, int32_t y,
            TBlitPath path = TBlitPath::Fast) const;

  // Releases the images and zeroes the descriptors.
  void Clear();

  bool IsColorShape() const { return Color.Size > 0; }

  std::unique_ptr<TCursorHandle> Handle;
  int32_t HotSpotX = 0;
  int32_t HotSpotY = 0;
  TCursorBitmap Mask;
  TCursorBitmap Color;

 private:
  // The bytes the images built from the headers read take, the shape itself included.
  int64_t Footprint(bool maskPresent, bool colorPresent) const;
  uint8_t LoadMask(std::span<const uint8_t> pixels);
  uint8_t LoadColor(std::span<const uint8_t> pixels);
  void MakeHandle();
};

// A segment's shapes, addressed by the 16-bit indices of its cursor track.
class TCursorList {
 public:
  static constexpr int32_t kCapacity = 65536;

  TCursorList() = default;
  TCursorList(const TCursorList&) = delete;
  TCursorList& operator=(const TCursorList&) = delete;

  // Stores the shape in slot Count and returns that slot's index. The list takes the
  // shape; when all 65,536 slots are in use it is destroyed and -1 returned.
  int32_t Add(std::unique_ptr<TzrCursor> shape);

  // The shape in slot index, or nothing for an empty slot or an index outside the table.
  TzrCursor* Items(int64_t index) const {
    return index >= 0 && index < int64_t(FItems.size()) ? FItems[size_t(index)].get() : nullptr;
  }

  int32_t Count() const { return int32_t(FItems.size()); }
  void Clear() { FItems.clear(); }

 private:
  std::vector<std::unique_ptr<TzrCursor>> FItems;
};
