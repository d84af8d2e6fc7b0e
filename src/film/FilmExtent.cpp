#include "film/FilmExtent.h"

#include <algorithm>
#include <cstring>

namespace {

// A shape record: the hot spot (8 bytes), the mask's 13-byte header (size, width, height,
// bits), its pixels, the colour image's header and its pixels. A size of 0 or less has no
// pixels after it (see TzrCursor::LoadFromStream).
constexpr size_t kHotSpotAndHeaderSize = 8 + 13;
constexpr size_t kImageHeaderSize = 13;

int32_t FieldI32(const uint8_t* bytes) {
  return int32_t(uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 |
                 uint32_t(bytes[3]) << 24);
}

}  // namespace

bool TFilmExtent::Feed(std::span<const uint8_t> bytes) {
  while (!Complete() && !bytes.empty()) {
    const size_t n = size_t(std::min<uint64_t>(FLeft, bytes.size()));
    if (FFieldSize > 0) std::memcpy(FField + (FFieldSize - FLeft), bytes.data(), n);
    FLeft -= n;
    FPos += n;
    bytes = bytes.subspan(n);
    // A step of no bytes is done as soon as it starts.
    while (FLeft == 0 && !Complete()) Next();
  }
  return Complete();
}

void TFilmExtent::Gather(TStep step, size_t size) {
  FStep = step;
  FFieldSize = size;
  FLeft = size;
}

void TFilmExtent::Pass(TStep step, int64_t size) {
  FStep = step;
  FFieldSize = 0;
  FLeft = uint64_t(std::max<int64_t>(size, 0));
}

void TFilmExtent::NextShapeOrInfo() {
  if (FShapesLeft > 0) {
    --FShapesLeft;
    Gather(TStep::ShapeHead, kHotSpotAndHeaderSize);
  } else {
    Gather(TStep::Info, kSegInfoSize);
  }
}

void TFilmExtent::EndSegment() {
  if (FSegment >= FSegments || (FLast && FLast(FSegment, FInfo))) {
    Pass(TStep::Complete, 0);
    return;
  }
  ++FSegment;
  Gather(TStep::ShapeCount, 4);
}

void TFilmExtent::Next() {
  switch (FStep) {
    case TStep::Count:
      FSegments = FieldI32(FField);
      // No segments: the count is all there is.
      if (FSegments <= 0) return Pass(TStep::Complete, 0);
      return Pass(TStep::List, int64_t(FSegments) * int64_t(kSegmentListEntrySize));
    case TStep::List:
      FSegment = 1;
      return Gather(TStep::ShapeCount, 4);
    case TStep::ShapeCount:
      // A count of 0 or less reads as no shapes.
      FShapesLeft = std::max(FieldI32(FField), 0);
      return NextShapeOrInfo();
    case TStep::ShapeHead:
      return Pass(TStep::MaskPixels, FieldI32(FField + 8));
    case TStep::MaskPixels:
      return Gather(TStep::ColorHead, kImageHeaderSize);
    case TStep::ColorHead:
      return Pass(TStep::ColorPixels, FieldI32(FField));
    case TStep::ColorPixels:
      return NextShapeOrInfo();
    case TStep::Info:
      FInfo = DecodeSegInfo(std::span<const uint8_t, kSegInfoSize>(FField, kSegInfoSize));
      // The cursor track comes first in the file. A negative size stops the reader there.
      if (FInfo.CursorDataSize < 0) return Pass(TStep::Complete, 0);
      return Pass(TStep::CursorTrack, FInfo.CursorDataSize);
    case TStep::CursorTrack:
      if (FInfo.FrameDataSize < 0) return Pass(TStep::Complete, 0);
      return Pass(TStep::FrameData, FInfo.FrameDataSize);
    case TStep::FrameData:
      if (FInfo.BitsPerPixel == 8) return Gather(TStep::PaletteSize, 4);
      return EndSegment();
    case TStep::PaletteSize: {
      const int32_t size = FieldI32(FField);
      if (size < 0) return Pass(TStep::Complete, 0);
      return Pass(TStep::Palette, size);
    }
    case TStep::Palette:
      return EndSegment();
    case TStep::Complete:
      return;
  }
}
