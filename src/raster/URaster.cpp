#include "raster/URaster.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace {

bool SupportedDepth(int bits) {
  return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

uint32_t EntryColor(const TColorEntry& e) {
  return (uint32_t{e.Red} << 16) | (uint32_t{e.Green} << 8) | e.Blue;
}

// Expands a 5-bit channel to 8 bits by repeating its top bits.
uint32_t Expand5(uint32_t v) { return (v << 3) | (v >> 2); }

// A pixel value of the target format for a colour; `table` only for 8-bit targets.
uint32_t ColorToValue(const TRasterBitmap& dst, uint32_t color) {
  switch (dst.BitsPerPixel()) {
    case 1:
      return (color & 0x00FFFFFFu) == kRasterWhite ? 1 : 0;
    case 4:
    case 8:
      return NearestColorIndex(dst.ColorTable(), color);
    case 16:
      return (((color >> 19) & 0x1F) << 10) | (((color >> 11) & 0x1F) << 5) | ((color >> 3) & 0x1F);
    default:
      return color & 0x00FFFFFFu;
  }
}

uint32_t Combine(uint32_t dst, uint32_t src, TRop rop) {
  switch (rop) {
    case TRop::SrcCopy:
      return src;
    case TRop::SrcAnd:
      return dst & src;
    case TRop::SrcInvert:
      return dst ^ src;
  }
  return src;
}

void StoreValue(TRasterBitmap& bmp, int32_t x, int32_t y, uint32_t v) {
  uint8_t* row = bmp.Row(y);
  switch (bmp.BitsPerPixel()) {
    case 1: {
      const uint8_t bit = uint8_t(0x80u >> (x & 7));
      if (v & 1)
        row[x >> 3] |= bit;
      else
        row[x >> 3] &= uint8_t(~bit);
      break;
    }
    case 4: {
      uint8_t& b = row[x >> 1];
      b = (x & 1) ? uint8_t((b & 0xF0) | (v & 0x0F)) : uint8_t((b & 0x0F) | ((v & 0x0F) << 4));
      break;
    }
    case 8:
      row[x] = uint8_t(v);
      break;
    case 16:
      row[2 * x] = uint8_t(v);
      row[2 * x + 1] = uint8_t(v >> 8);
      break;
    case 24:
      row[3 * x] = uint8_t(v);
      row[3 * x + 1] = uint8_t(v >> 8);
      row[3 * x + 2] = uint8_t(v >> 16);
      break;
    case 32:
      row[4 * x] = uint8_t(v);
      row[4 * x + 1] = uint8_t(v >> 8);
      row[4 * x + 2] = uint8_t(v >> 16);
      row[4 * x + 3] = uint8_t(v >> 24);
      break;
  }
}

// Same layout and, for indexed bitmaps, same meaning of every value: values copy as they are.
bool SameFormat(const TRasterBitmap& a, const TRasterBitmap& b) {
  if (a.BitsPerPixel() != b.BitsPerPixel()) return false;
  if (a.BitsPerPixel() > 8) return true;
  if (a.HasColorTable() != b.HasColorTable()) return false;
  return !a.HasColorTable() || a.ColorTable() == b.ColorTable();
}

template <TRop R>
void CombineBytes(uint8_t* d, const uint8_t* s, size_t n) {
  if constexpr (R == TRop::SrcCopy) {
    std::memmove(d, s, n);
  } else {
    for (size_t i = 0; i < n; ++i) d[i] = R == TRop::SrcAnd ? uint8_t(d[i] & s[i]) : uint8_t(d[i] ^ s[i]);
  }
}

template <TRop R>
void BlitBytewise(TRasterBitmap& dst, int32_t dx, int32_t dy, int32_t w, int32_t h,
                  const TRasterBitmap& src, int32_t sx, int32_t sy) {
  const int bpp = dst.BitsPerPixel() / 8;
  for (int32_t y = 0; y < h; ++y)
    CombineBytes<R>(dst.Row(dy + y) + size_t(dx) * bpp, src.Row(sy + y) + size_t(sx) * bpp,
                    size_t(w) * bpp);
}

template <TRop R>
void Blit24To32(TRasterBitmap& dst, int32_t dx, int32_t dy, int32_t w, int32_t h,
                const TRasterBitmap& src, int32_t sx, int32_t sy) {
  for (int32_t y = 0; y < h; ++y) {
    uint8_t* d = dst.Row(dy + y) + size_t(dx) * 4;
    const uint8_t* s = src.Row(sy + y) + size_t(sx) * 3;
    for (int32_t x = 0; x < w; ++x, d += 4, s += 3) {
      if constexpr (R == TRop::SrcCopy) {
        d[0] = s[0], d[1] = s[1], d[2] = s[2], d[3] = 0;
      } else if constexpr (R == TRop::SrcAnd) {
        d[0] &= s[0], d[1] &= s[1], d[2] &= s[2], d[3] = 0;
      } else {
        d[0] ^= s[0], d[1] ^= s[1], d[2] ^= s[2];
      }
    }
  }
}

// Converts source pixel values to target values. Indexed sources have at most 256 values,
// so their conversions are worked out once per transfer; true-colour sources remember the
// last colour, which is what runs of equal pixels need.
class TValueConverter {
 public:
  TValueConverter(const TRasterBitmap& dst, const TRasterBitmap& src)
      : FDst(dst), FSrc(src), FRaw(SameFormat(dst, src)) {
    if (!FRaw && src.BitsPerPixel() <= 8) {
      FTable.resize(size_t(1) << src.BitsPerPixel());
      for (size_t v = 0; v < FTable.size(); ++v) FTable[v] = ColorToValue(dst, ValueColor(uint32_t(v)));
    }
  }

  // The target value of an indexed source value (indexed sources only).
  uint32_t Value(uint32_t v) const { return FRaw ? v : FTable[v]; }

  uint32_t operator()(int32_t x, int32_t y) {
    const uint32_t v = FSrc.PixelValue(x, y);
    if (FRaw) return v;
    if (!FTable.empty()) return FTable[v];
    if (!FHasLast || v != FLastValue) {
      FLastValue = v;
      FLastResult = ColorToValue(FDst, FSrc.PixelColor(x, y));
      FHasLast = true;
    }
    return FLastResult;
  }

 private:
  uint32_t ValueColor(uint32_t v) const {
    if (FSrc.BitsPerPixel() == 1 && !FSrc.HasColorTable()) return v ? kRasterWhite : kRasterBlack;
    return EntryColor(FSrc.ColorTable()[v]);
  }

  const TRasterBitmap& FDst;
  const TRasterBitmap& FSrc;
  const bool FRaw;
  std::vector<uint32_t> FTable;
  bool FHasLast = false;
  uint32_t FLastValue = 0;
  uint32_t FLastResult = 0;
};

void BlitGeneric(TRasterBitmap& dst, int32_t dx, int32_t dy, int32_t w, int32_t h,
                 const TRasterBitmap& src, int32_t sx, int32_t sy, TRop rop) {
  TValueConverter convert(dst, src);
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      const uint32_t s = convert(sx + x, sy + y);
      const uint32_t d = rop == TRop::SrcCopy ? 0 : dst.PixelValue(dx + x, dy + y);
      StoreValue(dst, dx + x, dy + y, Combine(d, s, rop));
    }
  }
}

// A 1-bit source into an 8- or 32-bit target (the masks of cursor shapes): each bit takes one
// of two target values, worked out once per transfer as the generic path does.
template <int DstBits, TRop R>
void BlitBits(TRasterBitmap& dst, int32_t dx, int32_t dy, int32_t w, int32_t h,
              const TRasterBitmap& src, int32_t sx, int32_t sy, const uint32_t values[2]) {
  for (int32_t y = 0; y < h; ++y) {
    uint8_t* d = dst.Row(dy + y) + size_t(dx) * (DstBits / 8);
    const uint8_t* s = src.Row(sy + y);
    for (int32_t x = 0; x < w; ++x) {
      const int32_t at = sx + x;
      const uint32_t v = values[(s[at >> 3] >> (7 - (at & 7))) & 1];
      if constexpr (DstBits == 8) {
        d[x] = uint8_t(Combine(d[x], v, R));
      } else {
        uint32_t word;
        std::memcpy(&word, d + 4 * size_t(x), 4);
        word = Combine(word, v, R);
        std::memcpy(d + 4 * size_t(x), &word, 4);
      }
    }
  }
}

// A 32-bit source into an 8-bit target (a colour cursor over an 8-bit picture): the nearest
// entry of each colour, remembered for the colours met in this transfer.
template <TRop R>
void BlitColorsToIndices(TRasterBitmap& dst, int32_t dx, int32_t dy, int32_t w, int32_t h,
                         const TRasterBitmap& src, int32_t sx, int32_t sy) {
  constexpr size_t kSlots = 256;
  std::array<uint32_t, kSlots> colors;
  std::array<uint8_t, kSlots> indices{};
  std::array<bool, kSlots> used{};
  for (int32_t y = 0; y < h; ++y) {
    uint8_t* d = dst.Row(dy + y) + dx;
    const uint8_t* s = src.Row(sy + y) + size_t(sx) * 4;
    for (int32_t x = 0; x < w; ++x) {
      uint32_t color;
      std::memcpy(&color, s + 4 * size_t(x), 4);
      color &= 0x00FFFFFFu;
      const size_t slot = (color * 0x9E3779B1u) >> 24;
      if (!used[slot] || colors[slot] != color) {
        colors[slot] = color;
        indices[slot] = NearestColorIndex(dst.ColorTable(), color);
        used[slot] = true;
      }
      d[x] = uint8_t(Combine(d[x], indices[slot], R));
    }
  }
}

// The transfers with a way of their own for the formats; false for the others.
template <TRop R>
bool BlitFast(TRasterBitmap& dst, int32_t dx, int32_t dy, int32_t w, int32_t h,
              const TRasterBitmap& src, int32_t sx, int32_t sy) {
  const int bits = dst.BitsPerPixel(), srcBits = src.BitsPerPixel();
  if (bits >= 8 && SameFormat(dst, src)) {
    BlitBytewise<R>(dst, dx, dy, w, h, src, sx, sy);
    return true;
  }
  if (bits == 32 && srcBits == 24) {
    Blit24To32<R>(dst, dx, dy, w, h, src, sx, sy);
    return true;
  }
  if (srcBits == 1 && (bits == 8 || bits == 32)) {
    TValueConverter convert(dst, src);
    const uint32_t values[2] = {convert.Value(0), convert.Value(1)};
    if (bits == 8)
      BlitBits<8, R>(dst, dx, dy, w, h, src, sx, sy, values);
    else
      BlitBits<32, R>(dst, dx, dy, w, h, src, sx, sy, values);
    return true;
  }
  if (bits == 8 && srcBits == 32) {
    BlitColorsToIndices<R>(dst, dx, dy, w, h, src, sx, sy);
    return true;
  }
  return false;
}

// Clips the transfer to both bitmaps; false when nothing is left.
bool ClipTransfer(const TRasterBitmap& dst, int32_t& dx, int32_t& dy, int32_t& w, int32_t& h,
                  const TRasterBitmap& src, int32_t& sx, int32_t& sy) {
  int64_t x0 = dx, y0 = dy, s0 = sx, t0 = sy, ww = w, hh = h;
  if (ww <= 0 || hh <= 0) return false;
  auto clipAxis = [](int64_t& d, int64_t& s, int64_t& len, int64_t dLimit, int64_t sLimit) {
    int64_t shift = std::max<int64_t>({0, -d, -s});
    d += shift, s += shift, len -= shift;
    len = std::min({len, dLimit - d, sLimit - s});
    return len > 0;
  };
  if (!clipAxis(x0, s0, ww, dst.Width(), src.Width())) return false;
  if (!clipAxis(y0, t0, hh, dst.Height(), src.Height())) return false;
  dx = int32_t(x0), dy = int32_t(y0), sx = int32_t(s0), sy = int32_t(t0);
  w = int32_t(ww), h = int32_t(hh);
  return true;
}

}  // namespace

std::optional<int64_t> TRasterBitmap::RowBytes(int64_t width, int bitsPerPixel, int rowAlign) {
  if (width <= 0 || width > kMaxSide || !SupportedDepth(bitsPerPixel)) return std::nullopt;
  if (rowAlign != 2 && rowAlign != 4) return std::nullopt;
  const int64_t alignBits = int64_t{rowAlign} * 8;
  return (width * bitsPerPixel + alignBits - 1) / alignBits * rowAlign;
}

std::unique_ptr<TRasterBitmap> TRasterBitmap::Create(int32_t width, int32_t height,
                                                     int bitsPerPixel, int rowAlign) {
  if (height <= 0 || height > kMaxSide) return nullptr;
  const auto stride = RowBytes(width, bitsPerPixel, rowAlign);
  if (!stride) return nullptr;
  const int64_t bytes = *stride * height;
  if (bytes > kMaxBytes) return nullptr;
  std::unique_ptr<TRasterBitmap> bmp(new (std::nothrow) TRasterBitmap());
  if (!bmp) return nullptr;
  bmp->FStorage.reset(new (std::nothrow) uint8_t[size_t(bytes)]());
  if (!bmp->FStorage) return nullptr;
  bmp->FWidth = width;
  bmp->FHeight = height;
  bmp->FBitsPerPixel = bitsPerPixel;
  bmp->FStride = *stride;
  bmp->FPixels = std::span<uint8_t>(bmp->FStorage.get(), size_t(bytes));
  return bmp;
}

void TRasterBitmap::SetColorTable(const TColorTable& table) {
  FColorTable = table;
  FHasColorTable = true;
}

void TRasterBitmap::SetColorTable(std::span<const TColorEntry> entries, int firstIndex) {
  for (size_t i = 0; i < entries.size() && firstIndex + i < FColorTable.size(); ++i)
    FColorTable[firstIndex + i] = entries[i];
  FHasColorTable = true;
}

uint32_t TRasterBitmap::PixelValue(int32_t x, int32_t y) const {
  const uint8_t* row = Row(y);
  switch (FBitsPerPixel) {
    case 1:
      return (row[x >> 3] >> (7 - (x & 7))) & 1;
    case 4:
      return (x & 1) ? row[x >> 1] & 0x0F : row[x >> 1] >> 4;
    case 8:
      return row[x];
    case 16:
      return row[2 * x] | (uint32_t{row[2 * x + 1]} << 8);
    case 24:
      return row[3 * x] | (uint32_t{row[3 * x + 1]} << 8) | (uint32_t{row[3 * x + 2]} << 16);
    case 32:
      return row[4 * x] | (uint32_t{row[4 * x + 1]} << 8) | (uint32_t{row[4 * x + 2]} << 16) |
             (uint32_t{row[4 * x + 3]} << 24);
  }
  return 0;
}

uint32_t TRasterBitmap::PixelColor(int32_t x, int32_t y) const {
  const uint32_t v = PixelValue(x, y);
  switch (FBitsPerPixel) {
    case 1:
      if (!FHasColorTable) return v ? kRasterWhite : kRasterBlack;
      [[fallthrough]];
    case 4:
    case 8:
      return EntryColor(FColorTable[v]);
    case 16:
      return (Expand5((v >> 10) & 0x1F) << 16) | (Expand5((v >> 5) & 0x1F) << 8) | Expand5(v & 0x1F);
    default:
      return v & 0x00FFFFFFu;
  }
}

uint8_t NearestColorIndex(const TColorTable& table, uint32_t color) {
  const int r = int((color >> 16) & 0xFF), g = int((color >> 8) & 0xFF), b = int(color & 0xFF);
  int best = 0;
  int bestDistance = INT32_MAX;
  for (int i = 0; i < 256; ++i) {
    const int dr = table[i].Red - r, dg = table[i].Green - g, db = table[i].Blue - b;
    const int distance = dr * dr + dg * dg + db * db;
    if (distance < bestDistance) {
      bestDistance = distance;
      best = i;
      if (distance == 0) break;
    }
  }
  return uint8_t(best);
}

void BitBlt(TRasterBitmap& dst, int32_t dx, int32_t dy, int32_t w, int32_t h,
            const TRasterBitmap& src, int32_t sx, int32_t sy, TRop rop, TBlitPath path) {
  if (!ClipTransfer(dst, dx, dy, w, h, src, sx, sy)) return;
  if (path == TBlitPath::Fast) {
    switch (rop) {
      case TRop::SrcCopy:
        if (BlitFast<TRop::SrcCopy>(dst, dx, dy, w, h, src, sx, sy)) return;
        break;
      case TRop::SrcAnd:
        if (BlitFast<TRop::SrcAnd>(dst, dx, dy, w, h, src, sx, sy)) return;
        break;
      case TRop::SrcInvert:
        if (BlitFast<TRop::SrcInvert>(dst, dx, dy, w, h, src, sx, sy)) return;
        break;
    }
  }
  BlitGeneric(dst, dx, dy, w, h, src, sx, sy, rop);
}

void StretchBlt(TRasterBitmap& dst, int32_t dx, int32_t dy, int32_t dw, int32_t dh,
                const TRasterBitmap& src, int32_t sx, int32_t sy, int32_t sw, int32_t sh,
                TRop rop) {
  if (dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0) return;
  TValueConverter convert(dst, src);
  for (int32_t y = std::max(0, -dy); y < dh && int64_t{dy} + y < dst.Height(); ++y) {
    const int64_t srcY = sy + int64_t{y} * sh / dh;
    if (srcY < 0 || srcY >= src.Height()) continue;
    for (int32_t x = std::max(0, -dx); x < dw && int64_t{dx} + x < dst.Width(); ++x) {
      const int64_t srcX = sx + int64_t{x} * sw / dw;
      if (srcX < 0 || srcX >= src.Width()) continue;
      const int32_t px = dx + x, py = dy + y;
      const uint32_t s = convert(int32_t(srcX), int32_t(srcY));
      const uint32_t d = rop == TRop::SrcCopy ? 0 : dst.PixelValue(px, py);
      StoreValue(dst, px, py, Combine(d, s, rop));
    }
  }
}

void FillRect(TRasterBitmap& dst, const TRect& rect, uint32_t color) {
  const int64_t x0 = std::max<int64_t>(rect.Left, 0);
  const int64_t y0 = std::max<int64_t>(rect.Top, 0);
  const int64_t x1 = std::min<int64_t>(int64_t{rect.Left} + rect.Width, dst.Width());
  const int64_t y1 = std::min<int64_t>(int64_t{rect.Top} + rect.Height, dst.Height());
  if (x0 >= x1 || y0 >= y1) return;
  const uint32_t v = ColorToValue(dst, color);
  if (dst.BitsPerPixel() == 8 || dst.BitsPerPixel() == 32) {
    for (int64_t y = y0; y < y1; ++y) {
      uint8_t* row = dst.Row(int32_t(y));
      if (dst.BitsPerPixel() == 8) {
        std::memset(row + x0, int(v), size_t(x1 - x0));
      } else if (v == 0) {
        std::memset(row + 4 * x0, 0, size_t(x1 - x0) * 4);
      } else {
        for (int64_t x = x0; x < x1; ++x) std::memcpy(row + 4 * x, &v, 4);
      }
    }
    return;
  }
  for (int64_t y = y0; y < y1; ++y)
    for (int64_t x = x0; x < x1; ++x) StoreValue(dst, int32_t(x), int32_t(y), v);
}
