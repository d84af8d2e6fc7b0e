// The canvas an export places the film's pictures on: centred, grey around smaller
// segments, with the rows that changed since the last encoded picture marked.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "export/FilmExport.h"
#include "raster/URaster.h"

// The pictures of the film placed on the canvas; a picture is handed on only when it differs
// from the one before, at the time of the frame that made it.
class TExportCanvas {
 public:
  // A canvas of width × height whose pictures are centred in its top left contentWidth ×
  // contentHeight (4:2:0 rounds the canvas up to even sides; the extra column and row stay grey).
  TExportCanvas(int32_t width, int32_t height, int32_t contentWidth, int32_t contentHeight)
      : FContentWidth(contentWidth),
        FContentHeight(contentHeight),
        FStride(int64_t(width) * 4),
        FPixels(size_t(FStride) * size_t(height)),
        FChangedRows(size_t(height), 1) {
    Fill();
  }

  const uint8_t* Bits() const { return FPixels.data(); }
  int64_t Stride() const { return FStride; }
  // For each row, whether it changed since the rows were last taken as encoded.
  std::span<const uint8_t> ChangedRows() const { return FChangedRows; }
  void ChangesEncoded() { std::fill(FChangedRows.begin(), FChangedRows.end(), uint8_t(0)); }

  // Places the picture; false when the canvas was already showing it. `flush` is called
  // before the canvas first changes, so the picture on it can be encoded first.
  template <typename TFlush>
  bool Place(const TRasterBitmap& picture, const TColorTable& palette, TFlush&& flush) {
    const int32_t w = std::min(picture.Width(), FContentWidth), h = std::min(picture.Height(), FContentHeight);
    const int32_t left = (FContentWidth - picture.Width()) / 2, top = (FContentHeight - picture.Height()) / 2;
    bool changed = false;
    const bool placed = left != FLeft || top != FTop || w != FPlacedWidth || h != FPlacedHeight;
    if (placed) {
      flush();
      changed = true;
      Fill();
      FLeft = left, FTop = top, FPlacedWidth = w, FPlacedHeight = h;
    }
    const bool indexed = picture.BitsPerPixel() == 8;
    uint32_t colors[256];
    if (indexed)
      for (int i = 0; i < 256; ++i)
        colors[i] = uint32_t{palette[size_t(i)].Blue} | uint32_t{palette[size_t(i)].Green} << 8 |
                    uint32_t{palette[size_t(i)].Red} << 16;
    std::vector<uint8_t>& row = FRow;
    row.resize(size_t(w) * 4);
    for (int32_t y = 0; y < h; ++y) {
      uint8_t* target = FPixels.data() + size_t(y + std::max(top, 0)) * size_t(FStride) + size_t(std::max(left, 0)) * 4;
      const uint8_t* source = picture.Row(y);
      if (indexed) {
        for (int32_t x = 0; x < w; ++x) std::memcpy(row.data() + size_t(x) * 4, &colors[source[x]], 4);
        source = row.data();
      } else if (picture.BitsPerPixel() != 32) {
        continue;  // the core composes 8- and 32-bit pictures only
      }
      // Every row is compared, so that only the rows that changed are converted again.
      if (!placed && std::memcmp(target, source, size_t(w) * 4) == 0) continue;
      if (!changed) flush();
      changed = true;
      std::memcpy(target, source, size_t(w) * 4);
      FChangedRows[size_t(y + std::max(top, 0))] = 1;
    }
    return changed;
  }

 private:
  void Fill() {
    for (size_t i = 0; i < FPixels.size(); i += 4) {
      FPixels[i] = FPixels[i + 1] = FPixels[i + 2] = kCanvasGrey;
      FPixels[i + 3] = 0;
    }
    std::fill(FChangedRows.begin(), FChangedRows.end(), uint8_t(1));
  }

  int32_t FContentWidth, FContentHeight;
  int64_t FStride;
  std::vector<uint8_t> FPixels;
  std::vector<uint8_t> FRow;
  int32_t FLeft = -1, FTop = -1, FPlacedWidth = -1, FPlacedHeight = -1;
  std::vector<uint8_t> FChangedRows;
};
