#include "cursor/UzrCursor.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

// The colours of a 4-bit device image: the sixteen standard colours, since the record
// carries no colour table of its own.
constexpr uint32_t kStandard16[16] = {
    0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0xC0C0C0,
    0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF,
};

bool SideOk(int32_t side) { return side >= 1 && side <= TzrCursor::kMaxShapeSide; }

// Bytes of pixel data an image needs: rows padded to rowAlign, times the height.
int64_t NeededBytes(int32_t width, int32_t height, int bits, int rowAlign) {
  const auto row = TRasterBitmap::RowBytes(width, bits, rowAlign);
  return row ? *row * height : std::numeric_limits<int64_t>::max();
}

// What a bitmap of that size takes in memory.
int64_t BitmapBytes(int32_t width, int32_t height, int bits, int rowAlign) {
  return int64_t(sizeof(TRasterBitmap)) + NeededBytes(width, height, bits, rowAlign);
}

// The mask is a monochrome device bitmap: 1 bit per pixel, rows padded to 2 bytes.
bool MaskUsable(const TCursorBitmap& mask) {
  return mask.BitsPixel == 1 && SideOk(mask.Width) && SideOk(mask.Height) &&
         NeededBytes(mask.Width, mask.Height, 1, 2) <= mask.Size;
}

// Colour pixels are a top-down DIB without a colour table. Depths of 8 bits and fewer have
// no colours of their own then: 1 bit reads as black and white, 4 bits as the sixteen
// standard colours; 8 bits has no such convention and is not drawn.
bool ColorUsable(const TCursorBitmap& color) {
  const int bits = color.BitsPixel;
  if (bits != 1 && bits != 4 && bits != 16 && bits != 24 && bits != 32) return false;
  return SideOk(color.Width) && SideOk(color.Height) &&
         NeededBytes(color.Width, color.Height, bits, 4) <= color.Size;
}

// Reads a 13-byte image header: size, width, height, bits per pixel.
void ReadImageHeader(TByteReader& stream, TCursorBitmap& image) {
  image.Size = stream.ReadI32();
  image.Width = stream.ReadI32();
  image.Height = stream.ReadI32();
  image.BitsPixel = stream.ReadU8();
}

// The pixel bytes that follow a header; empty (and overrun set) when the data ends first.
std::span<const uint8_t> TakePixels(TByteReader& stream, int32_t size) {
  return size > 0 ? stream.Take(size_t(size)) : std::span<const uint8_t>{};
}

// Copies stored rows into a bitmap whose rows are laid out the same way.
void CopyRows(TRasterBitmap& bmp, std::span<const uint8_t> pixels) {
  const size_t bytes = size_t(bmp.Stride()) * size_t(bmp.Height());
  std::memcpy(bmp.Bits(), pixels.data(), bytes);
}

}  // namespace

bool TShapeBudget::Take(int64_t bytes) {
  if (bytes > Limit() - FUsed) {
    FRefused = bytes;
    return false;
  }
  FUsed += bytes;
  return true;
}

int64_t TShapeBudget::Limit() const {
  // Record bytes come from the film, so they are far below the point where this overflows.
  return std::min(FBacked * kFactor + kAllowance, kCeiling);
}

void TzrCursor::Clear() {
  Handle.reset();
  HotSpotX = 0;
  HotSpotY = 0;
  Mask = TCursorBitmap{};
  Color = TCursorBitmap{};
}

uint8_t TzrCursor::LoadFromStream(TByteReader& stream) {
  TShapeBudget budget;
  return LoadFromStream(stream, budget);
}

uint8_t TzrCursor::LoadFromStream(TByteReader& stream, TShapeBudget& budget) {
  if (Handle || Mask.Bitmap || Color.Bitmap) Clear();

  // The whole record is read before anything is built, so that its images are weighed
  // against the budget first.
  const size_t start = stream.Position();
  HotSpotX = stream.ReadI32();
  HotSpotY = stream.ReadI32();
  ReadImageHeader(stream, Mask);
  const auto maskPixels = TakePixels(stream, Mask.Size);
  ReadImageHeader(stream, Color);
  const auto colorPixels = TakePixels(stream, Color.Size);
  budget.Back(int64_t(stream.Position() - start));
  if (!budget.Take(Footprint(!maskPixels.empty(), !colorPixels.empty()))) return kLoadNoBuffer;

  const uint8_t maskResult = LoadMask(maskPixels);
  if (maskResult != kLoadOk) {
    Mask.Bitmap.reset();
    return maskResult;
  }
  if (Color.Size <= 0) {
    MakeHandle();
    return kLoadOk;
  }
  return LoadColor(colorPixels);
}

int64_t TzrCursor::Footprint(bool maskPresent, bool colorPresent) const {
  // The shape and its slot in the list.
  int64_t bytes = int64_t(sizeof(TzrCursor)) + int64_t(sizeof(std::unique_ptr<TzrCursor>));
  const bool maskBuilt = Mask.Size > 0 && maskPresent && MaskUsable(Mask);
  if (maskBuilt) bytes += BitmapBytes(Mask.Width, Mask.Height, 1, 2);
  if (Color.Size <= 0) {
    if (maskBuilt && Mask.Height >= 2)
      bytes += int64_t(sizeof(TCursorHandle)) + 2 * BitmapBytes(kIconSize, kIconSize, 1, 2);
  } else if ((Mask.Size <= 0 || maskBuilt) && colorPresent && ColorUsable(Color)) {
    // Kept in the screen's format; the stored image is released once converted.
    bytes += BitmapBytes(Color.Width, Color.Height, 32, 4);
  }
  return bytes;
}

uint8_t TzrCursor::LoadMask(std::span<const uint8_t> pixels) {
  if (Mask.Size <= 0) return kLoadOk;
  if (pixels.empty() || !MaskUsable(Mask)) return kLoadImageFailed;
  Mask.Bitmap = TRasterBitmap::Create(Mask.Width, Mask.Height, 1, 2);
  if (!Mask.Bitmap) return kLoadNoBuffer;
  CopyRows(*Mask.Bitmap, pixels);
  return kLoadOk;
}

uint8_t TzrCursor::LoadColor(std::span<const uint8_t> pixels) {
  if (pixels.empty() || !ColorUsable(Color)) return kLoadImageFailed;
  const int bits = Color.BitsPixel;
  auto stored = TRasterBitmap::Create(Color.Width, Color.Height, bits, 4);
  auto screen = TRasterBitmap::Create(Color.Width, Color.Height, 32, 4);
  if (!stored || !screen) return kLoadImageFailed;
  CopyRows(*stored, pixels);
  if (bits == 4) {
    TColorTable table{};
    for (int i = 0; i < 16; ++i)
      table[i] = TColorEntry{uint8_t(kStandard16[i]), uint8_t(kStandard16[i] >> 8),
                             uint8_t(kStandard16[i] >> 16), 0};
    stored->SetColorTable(table);
  }
  BitBlt(*screen, 0, 0, Color.Width, Color.Height, *stored, 0, 0, TRop::SrcCopy);
  if (bits == 32) {
    // The screen format has no alpha: the fourth byte is always 0.
    for (int32_t y = 0; y < screen->Height(); ++y) {
      uint8_t* row = screen->Row(y);
      for (int32_t x = 0; x < screen->Width(); ++x) row[4 * x + 3] = 0;
    }
  }
  Color.Bitmap = std::move(screen);
  return kLoadOk;
}

void TzrCursor::MakeHandle() {
  // A monochrome cursor: the AND half above the XOR half, drawn at the icon size.
  if (!Mask.Bitmap || Mask.Height < 2) return;
  const int32_t width = Mask.Width;
  const int32_t height = Mask.Height / 2;
  auto handle = std::make_unique<TCursorHandle>();
  handle->AndMask = TRasterBitmap::Create(kIconSize, kIconSize, 1, 2);
  handle->XorMask = TRasterBitmap::Create(kIconSize, kIconSize, 1, 2);
  if (!handle->AndMask || !handle->XorMask) return;
  StretchBlt(*handle->AndMask, 0, 0, kIconSize, kIconSize, *Mask.Bitmap, 0, 0, width, height,
             TRop::SrcCopy);
  StretchBlt(*handle->XorMask, 0, 0, kIconSize, kIconSize, *Mask.Bitmap, 0, height, width, height,
             TRop::SrcCopy);
  Handle = std::move(handle);
}

void TzrCursor::Draw(TRasterBitmap& target, int32_t x, int32_t y, TBlitPath path) const {
  const int32_t left = ClampCoordinate(int64_t{x} - HotSpotX);
  const int32_t top = ClampCoordinate(int64_t{y} - HotSpotY);
  if (IsColorShape()) {
    // A colour shape without mask pixels has nothing to clear: its colours alone are drawn.
    if (Mask.Bitmap)
      BitBlt(target, left, top, Mask.Width, Mask.Height, *Mask.Bitmap, 0, 0, TRop::SrcAnd, path);
    if (Color.Bitmap)
      BitBlt(target, left, top, Color.Width, Color.Height, *Color.Bitmap, 0, 0, TRop::SrcInvert,
             path);
    return;
  }
  if (!Handle) return;
  BitBlt(target, left, top, kIconSize, kIconSize, *Handle->AndMask, 0, 0, TRop::SrcAnd, path);
  BitBlt(target, left, top, kIconSize, kIconSize, *Handle->XorMask, 0, 0, TRop::SrcInvert, path);
}

int32_t TCursorList::Add(std::unique_ptr<TzrCursor> shape) {
  if (FItems.size() >= size_t(kCapacity)) return -1;
  FItems.push_back(std::move(shape));
  return int32_t(FItems.size() - 1);
}
