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

  // Reads one shape record at the reader's position and builds the shape's images.
  // The record is always consumed as its headers declare it, whatever the result, so the
  // next record starts where it should; a record that runs past the end of the data leaves
  // the reader's overrun flag set. Results: kLoadOk, kLoadNoBuffer (no memory for the
  // mask pixels), kLoadImageFailed (an image could not be made from the record: sizes
  // that do not fit, too few pixel bytes, an unsupported depth).
  uint8_t LoadFromStream(TByteReader& stream);

  // Draws the shape so that its hot spot lands on (x, y); clipped to the target.
  // Colour shape: AND with the mask, then XOR with the colours. Mask-only shape: the AND
  // half, then the XOR half, at the 32 × 32 icon size.
  void Draw(TRasterBitmap& target, int32_t x, int32_t y) const;

  // Releases the images and zeroes the descriptors.
  void Clear();

  bool IsColorShape() const { return Color.Size > 0; }

  std::unique_ptr<TCursorHandle> Handle;
  int32_t HotSpotX = 0;
  int32_t HotSpotY = 0;
  TCursorBitmap Mask;
  TCursorBitmap Color;

 private:
  uint8_t LoadMask(TByteReader& stream);
  uint8_t LoadColor(TByteReader& stream);
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
