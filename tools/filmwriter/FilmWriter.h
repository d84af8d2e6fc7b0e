// Writes film files from full pictures, for the tests, the fuzz seeds and the demo film.
//
// The writer is the reader's mirror: it computes each frame's exclusive-or delta against
// the picture before it (zero at the start of a segment), encodes the deltas as runs,
// writes the palette records of 8-bit segments, the cursor shape records and the cursor
// track, and lays the segments out as the film file holds them. For hostile or unusual
// fixtures the raw layer writes whatever sections and counts it is given.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "raster/URaster.h"

// Little-endian byte builder.
class TByteWriter {
 public:
  TByteWriter& U8(uint8_t v);
  TByteWriter& U16(uint16_t v);
  TByteWriter& I32(int32_t v);
  TByteWriter& U32(uint32_t v);
  TByteWriter& Bytes(std::span<const uint8_t> bytes);
  TByteWriter& Zeros(size_t n);
  // A 256-byte short string: length byte, the bytes as given (already in the code page),
  // zeros after them. Longer input is cut at 255 bytes.
  TByteWriter& ShortString(std::string_view bytes);

  const std::vector<uint8_t>& Data() const { return FData; }
  std::vector<uint8_t> Take() { return std::move(FData); }
  size_t Size() const { return FData.size(); }

 private:
  std::vector<uint8_t> FData;
};

// One run of a frame record: the pixel value (a palette index, or 0x00RRGGBB) and its count.
struct TWriterRun {
  uint32_t Value = 0;
  uint32_t Count = 0;
};

// One frame record from runs, for a segment of bitsPerPixel (8, 24 or 32; other values are
// written with the 24/32-bit run layout). extraBytes zero bytes follow the runs and are
// counted in the frame length. The run count field is runs.size() unless runCountOverride
// is given.
std::vector<uint8_t> EncodeFrameRecord(std::span<const TWriterRun> runs, int bitsPerPixel,
                                       size_t extraBytes = 0,
                                       std::optional<int32_t> runCountOverride = std::nullopt);

// The runs that turn the picture `previous` into `current` (both width × height values in
// row order): the exclusive-or delta, split into runs of equal values no longer than
// maxRun (255 for 8-bit, 65,535 otherwise, when 0 is given).
std::vector<TWriterRun> DeltaRuns(std::span<const uint32_t> previous, std::span<const uint32_t> current,
                                  int bitsPerPixel, uint32_t maxRun = 0);

// A palette record: entry count, first index, entries. An empty change is the one-byte record 0.
struct TWriterPaletteChange {
  uint8_t FirstIndex = 0;
  std::vector<TColorEntry> Entries;
};
std::vector<uint8_t> EncodePaletteRecord(const TWriterPaletteChange& change);

// A cursor shape from pixels. Width × Height is the cursor's size.
//   Mask-only shape (Color empty): AndMask and XorMask hold Width × Height values 0 or 1;
//     the record's mask is the AND half above the XOR half (Width × 2·Height, 1 bit per
//     pixel, rows padded to 2 bytes) and its colour size is 0.
//   Colour shape (Color not empty): AndMask is the Width × Height AND mask, Color the
//     Width × Height XOR colours as 0x00RRGGBB, stored with ColorBits (24 or 32) bits per
//     pixel, rows padded to 4 bytes, top row first.
struct TWriterShape {
  int32_t HotSpotX = 0;
  int32_t HotSpotY = 0;
  int32_t Width = 32;
  int32_t Height = 32;
  std::vector<uint8_t> AndMask;
  std::vector<uint8_t> XorMask;
  std::vector<uint32_t> Color;
  uint8_t ColorBits = 32;
};
std::vector<uint8_t> EncodeShapeRecord(const TWriterShape& shape);

struct TWriterCursorRec {
  uint16_t Index = 0;
  uint16_t X = 0;
  uint16_t Y = 0;
};

// A segment from full pictures.
struct TWriterSegment {
  std::string Name;  // UTF-8; written as Windows-1251
  int32_t Width = 0;
  int32_t Height = 0;
  uint8_t BitsPerPixel = 32;  // 8, 24 or 32
  uint8_t FrameRate = 10;
  // One picture per frame, Width × Height values in row order: palette indices for 8 bits,
  // 0x00RRGGBB otherwise.
  std::vector<std::vector<uint32_t>> Pictures;
  // 8-bit segments: one palette change per frame (missing entries are written as "no
  // change"). Ignored for other depths.
  std::vector<TWriterPaletteChange> PaletteChanges;
  std::vector<TWriterShape> Shapes;
  std::vector<TWriterCursorRec> Track;
};

// A segment as raw sections and fields, written exactly as given.
struct TRawSegment {
  // Segment list entry.
  std::string ListName;  // bytes in the code page
  int32_t ListFrameCount = 0;
  uint8_t ListFrameRate = 0;
  // Segment block.
  int32_t ShapeCount = 0;
  std::vector<uint8_t> ShapeRecords;  // the records, back to back
  int32_t FrameDataSize = 0;
  int32_t CursorDataSize = 0;
  int32_t Width = 0;
  int32_t Height = 0;
  uint8_t BitsPerPixel = 0;
  int32_t FrameCount = 0;
  uint8_t FrameRate = 0;
  std::string Name;  // bytes in the code page
  std::vector<uint8_t> CursorData;
  std::vector<uint8_t> FrameData;
  int32_t PaletteDataSize = 0;  // written only for BitsPerPixel 8
  std::vector<uint8_t> PaletteData;
};

// The raw form of a segment made from pictures: sizes and counts agree with the sections.
TRawSegment EncodeSegment(const TWriterSegment& segment);

// The film file: segment count, list, blocks. segmentCountOverride replaces the count field.
std::vector<uint8_t> WriteFilmRaw(std::span<const TRawSegment> segments,
                                  std::optional<int32_t> segmentCountOverride = std::nullopt);
std::vector<uint8_t> WriteFilm(std::span<const TWriterSegment> segments);

// Containers.
enum class TCabCompression { None, MsZip };
struct TCabFile {
  std::string Name;  // stored name
  std::vector<uint8_t> Bytes;
};
// A cabinet made by libgcab holding the files in one folder. Throws std::runtime_error when
// libgcab fails.
std::vector<uint8_t> MakeCabinet(std::span<const TCabFile> files,
                                 TCabCompression compression = TCabCompression::MsZip);
// A package holding one film file stored as "MyFilm.~zrflm".
std::vector<uint8_t> MakeFilmPackage(std::span<const uint8_t> film,
                                     TCabCompression compression = TCabCompression::MsZip);
// An executable film: prefix, package, and the package length as int32 (or the override).
std::vector<uint8_t> MakeExecutableFilm(std::span<const uint8_t> prefix,
                                        std::span<const uint8_t> package,
                                        std::optional<int32_t> lengthOverride = std::nullopt);
// The files of a cabinet as libgcab reads them back (stored names and contents, in the
// cabinet's order), to check the writer's own output. Throws std::runtime_error when
// libgcab cannot read the bytes.
std::vector<TCabFile> ReadCabinet(std::span<const uint8_t> cabinet);

// Writes bytes to a file; throws std::runtime_error on failure.
void WriteFileBytes(const std::string& path, std::span<const uint8_t> bytes);
