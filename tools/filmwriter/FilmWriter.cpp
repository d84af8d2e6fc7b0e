#include "filmwriter/FilmWriter.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <stdexcept>

#include "io/Cp1251.h"

namespace {

constexpr size_t kShortStringBytes = 256;
constexpr size_t kMaxShortStringChars = 255;
constexpr uint32_t kMaxRun8 = 0xFF;
constexpr uint32_t kMaxRunTrueColor = 0xFFFF;
// Keeps a cursor shape small enough that its sizes cannot overflow; real cursors are 32 × 32.
constexpr int32_t kMaxShapeSide = 1024;

[[noreturn]] void Reject(const std::string& what) { throw std::invalid_argument(what); }

int32_t CheckedInt32(size_t value, const char* what) {
  if (value > size_t(std::numeric_limits<int32_t>::max())) {
    Reject(std::string(what) + " does not fit in an int32 field");
  }
  return int32_t(value);
}

uint32_t MaxRunCount(int bitsPerPixel) { return bitsPerPixel == 8 ? kMaxRun8 : kMaxRunTrueColor; }

// Frame values: palette indices for 8 bits, 0x00RRGGBB otherwise.
uint32_t ValueMask(int bitsPerPixel) { return bitsPerPixel == 8 ? 0xFFu : 0xFFFFFFu; }

// Rows of 1-bit device bitmaps are padded to 2 bytes, DIB rows to 4 bytes.
size_t MaskRowBytes(int32_t width) { return (size_t(width) + 15) / 16 * 2; }
size_t ColorRowBytes(int32_t width, int bitsPerPixel) {
  return (size_t(width) * size_t(bitsPerPixel) / 8 + 3) / 4 * 4;
}

// Packs 0/1 pixel values one bit each, most significant bit first, into `out` (zeroed rows).
void PackMaskRows(std::span<const uint8_t> bits, int32_t width, int32_t height, size_t rowBytes,
                  uint8_t* out) {
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* row = out + size_t(y) * rowBytes;
    for (int32_t x = 0; x < width; ++x) {
      if (bits[size_t(y) * size_t(width) + size_t(x)] != 0) {
        row[x / 8] |= uint8_t(0x80u >> (x % 8));
      }
    }
  }
}

void CheckMaskValues(std::span<const uint8_t> bits, const char* which) {
  for (uint8_t bit : bits) {
    if (bit > 1) Reject(std::string("EncodeShapeRecord: ") + which + " values must be 0 or 1");
  }
}

void WriteShapeHeader(TByteWriter& out, size_t size, int32_t width, int32_t height,
                      uint8_t bitsPerPixel) {
  out.I32(CheckedInt32(size, "shape pixel block")).I32(width).I32(height).U8(bitsPerPixel);
}

void CheckPicture(const TWriterSegment& segment, size_t frame, size_t pixelCount) {
  const std::vector<uint32_t>& picture = segment.Pictures[frame];
  if (picture.size() != pixelCount) {
    Reject("EncodeSegment: picture " + std::to_string(frame) + " has " +
           std::to_string(picture.size()) + " values, expected width × height = " +
           std::to_string(pixelCount));
  }
  const uint32_t mask = ValueMask(segment.BitsPerPixel);
  for (uint32_t value : picture) {
    if ((value & ~mask) != 0) {
      Reject("EncodeSegment: picture " + std::to_string(frame) +
             (segment.BitsPerPixel == 8 ? " holds an index above 255"
                                        : " holds a value above 0x00FFFFFF"));
    }
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TByteWriter

TByteWriter& TByteWriter::U8(uint8_t v) {
  FData.push_back(v);
  return *this;
}

TByteWriter& TByteWriter::U16(uint16_t v) {
  FData.push_back(uint8_t(v));
  FData.push_back(uint8_t(v >> 8));
  return *this;
}

TByteWriter& TByteWriter::I32(int32_t v) { return U32(uint32_t(v)); }

TByteWriter& TByteWriter::U32(uint32_t v) {
  for (int shift = 0; shift < 32; shift += 8) FData.push_back(uint8_t(v >> shift));
  return *this;
}

TByteWriter& TByteWriter::Bytes(std::span<const uint8_t> bytes) {
  FData.insert(FData.end(), bytes.begin(), bytes.end());
  return *this;
}

TByteWriter& TByteWriter::Zeros(size_t n) {
  FData.resize(FData.size() + n, 0);
  return *this;
}

TByteWriter& TByteWriter::ShortString(std::string_view bytes) {
  const size_t length = std::min(bytes.size(), kMaxShortStringChars);
  U8(uint8_t(length));
  FData.insert(FData.end(), bytes.begin(), bytes.begin() + ptrdiff_t(length));
  return Zeros(kShortStringBytes - 1 - length);
}

// ---------------------------------------------------------------------------------------------
// Frames and palettes

std::vector<uint8_t> EncodeFrameRecord(std::span<const TWriterRun> runs, int bitsPerPixel,
                                       size_t extraBytes, std::optional<int32_t> runCountOverride) {
  const bool indexed = bitsPerPixel == 8;
  const size_t runBytes = indexed ? 2 : 5;
  const size_t length = 8 + runs.size() * runBytes + extraBytes;
  if (length > std::numeric_limits<uint32_t>::max()) {
    Reject("EncodeFrameRecord: frame record longer than 4 GiB");
  }
  const uint32_t maxCount = MaxRunCount(bitsPerPixel);
  const uint32_t valueMask = ValueMask(bitsPerPixel);

  TByteWriter out;
  out.U32(uint32_t(length));
  out.I32(runCountOverride.value_or(CheckedInt32(runs.size(), "EncodeFrameRecord: run count")));
  for (const TWriterRun& run : runs) {
    if (run.Count > maxCount) {
      Reject("EncodeFrameRecord: run of " + std::to_string(run.Count) + " pixels exceeds " +
             std::to_string(maxCount));
    }
    if ((run.Value & ~valueMask) != 0) {
      Reject(indexed ? "EncodeFrameRecord: palette index above 255"
                     : "EncodeFrameRecord: colour above 0x00FFFFFF");
    }
    if (indexed) {
      out.U8(uint8_t(run.Value)).U8(uint8_t(run.Count));
    } else {
      // Blue, green, red: the low three bytes of the little-endian value.
      out.U8(uint8_t(run.Value)).U8(uint8_t(run.Value >> 8)).U8(uint8_t(run.Value >> 16));
      out.U16(uint16_t(run.Count));
    }
  }
  out.Zeros(extraBytes);
  return out.Take();
}

std::vector<TWriterRun> DeltaRuns(std::span<const uint32_t> previous,
                                  std::span<const uint32_t> current, int bitsPerPixel,
                                  uint32_t maxRun) {
  if (previous.size() != current.size()) {
    Reject("DeltaRuns: the pictures differ in size (" + std::to_string(previous.size()) +
           " and " + std::to_string(current.size()) + " values)");
  }
  const uint32_t fieldMax = MaxRunCount(bitsPerPixel);
  if (maxRun == 0) maxRun = fieldMax;
  if (maxRun > fieldMax) {
    Reject("DeltaRuns: maxRun " + std::to_string(maxRun) + " does not fit the run count field");
  }
  const uint32_t mask = ValueMask(bitsPerPixel);

  std::vector<TWriterRun> runs;
  for (size_t i = 0; i < current.size(); ++i) {
    const uint32_t value = (previous[i] ^ current[i]) & mask;
    if (!runs.empty() && runs.back().Value == value && runs.back().Count < maxRun) {
      ++runs.back().Count;
    } else {
      runs.push_back({value, 1});
    }
  }
  return runs;
}

std::vector<uint8_t> EncodePaletteRecord(const TWriterPaletteChange& change) {
  const size_t n = change.Entries.size();
  if (n == 0) return {0};
  if (n > 255) {
    Reject("EncodePaletteRecord: " + std::to_string(n) +
           " entries; one record changes at most 255");
  }
  if (change.FirstIndex + n > 256) {
    Reject("EncodePaletteRecord: entries " + std::to_string(change.FirstIndex) + " to " +
           std::to_string(change.FirstIndex + n - 1) + " reach past entry 255");
  }
  TByteWriter out;
  out.U8(uint8_t(n)).U8(change.FirstIndex);
  for (const TColorEntry& entry : change.Entries) {
    out.U8(entry.Blue).U8(entry.Green).U8(entry.Red).U8(entry.Reserved);
  }
  return out.Take();
}

// ---------------------------------------------------------------------------------------------
// Cursor shapes

std::vector<uint8_t> EncodeShapeRecord(const TWriterShape& shape) {
  const int32_t width = shape.Width;
  const int32_t height = shape.Height;
  if (width <= 0 || height <= 0 || width > kMaxShapeSide || height > kMaxShapeSide) {
    Reject("EncodeShapeRecord: size " + std::to_string(width) + " × " + std::to_string(height) +
           " outside 1 to " + std::to_string(kMaxShapeSide));
  }
  const size_t pixelCount = size_t(width) * size_t(height);
  if (shape.AndMask.size() != pixelCount) {
    Reject("EncodeShapeRecord: AndMask has " + std::to_string(shape.AndMask.size()) +
           " values, expected width × height = " + std::to_string(pixelCount));
  }
  CheckMaskValues(shape.AndMask, "AndMask");

  TByteWriter out;
  out.I32(shape.HotSpotX).I32(shape.HotSpotY);
  const size_t maskRow = MaskRowBytes(width);

  if (shape.Color.empty()) {
    // Mask-only: the system's monochrome cursor layout, AND half above the XOR half.
    if (shape.XorMask.size() != pixelCount) {
      Reject("EncodeShapeRecord: a mask-only shape needs a XorMask of width × height values");
    }
    CheckMaskValues(shape.XorMask, "XorMask");
    std::vector<uint8_t> mask(maskRow * size_t(height) * 2, 0);
    PackMaskRows(shape.AndMask, width, height, maskRow, mask.data());
    PackMaskRows(shape.XorMask, width, height, maskRow, mask.data() + maskRow * size_t(height));
    WriteShapeHeader(out, mask.size(), width, 2 * height, 1);
    out.Bytes(mask);
    WriteShapeHeader(out, 0, 0, 0, 0);
    return out.Take();
  }

  if (!shape.XorMask.empty()) {
    Reject("EncodeShapeRecord: a colour shape takes its XOR pixels from Color; XorMask must "
           "be empty");
  }
  if (shape.Color.size() != pixelCount) {
    Reject("EncodeShapeRecord: Color has " + std::to_string(shape.Color.size()) +
           " values, expected width × height = " + std::to_string(pixelCount));
  }
  if (shape.ColorBits != 24 && shape.ColorBits != 32) {
    Reject("EncodeShapeRecord: ColorBits must be 24 or 32, not " +
           std::to_string(shape.ColorBits));
  }
  std::vector<uint8_t> mask(maskRow * size_t(height), 0);
  PackMaskRows(shape.AndMask, width, height, maskRow, mask.data());
  WriteShapeHeader(out, mask.size(), width, height, 1);
  out.Bytes(mask);

  const size_t pixelBytes = shape.ColorBits / 8;
  const size_t colorRow = ColorRowBytes(width, shape.ColorBits);
  std::vector<uint8_t> color(colorRow * size_t(height), 0);
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* p = color.data() + size_t(y) * colorRow;
    for (int32_t x = 0; x < width; ++x, p += pixelBytes) {
      const uint32_t value = shape.Color[size_t(y) * size_t(width) + size_t(x)];
      p[0] = uint8_t(value);        // blue
      p[1] = uint8_t(value >> 8);   // green
      p[2] = uint8_t(value >> 16);  // red; a 32-bit pixel's fourth byte stays 0
    }
  }
  WriteShapeHeader(out, color.size(), width, height, shape.ColorBits);
  out.Bytes(color);
  return out.Take();
}

// ---------------------------------------------------------------------------------------------
// Segments and films

TRawSegment EncodeSegment(const TWriterSegment& segment) {
  const int bits = segment.BitsPerPixel;
  if (bits != 8 && bits != 24 && bits != 32) {
    Reject("EncodeSegment: BitsPerPixel must be 8, 24 or 32, not " + std::to_string(bits));
  }
  if (segment.Width <= 0 || segment.Height <= 0) {
    Reject("EncodeSegment: frame size " + std::to_string(segment.Width) + " × " +
           std::to_string(segment.Height) + " is not positive");
  }
  const size_t pixelCount = size_t(segment.Width) * size_t(segment.Height);
  if (bits == 8 && segment.PaletteChanges.size() > segment.Pictures.size()) {
    Reject("EncodeSegment: " + std::to_string(segment.PaletteChanges.size()) +
           " palette changes for " + std::to_string(segment.Pictures.size()) + " frames");
  }
  const std::string name = Utf8ToCp1251(segment.Name);
  if (name.size() > kMaxShortStringChars) {
    Reject("EncodeSegment: the name is longer than 255 characters");
  }

  TRawSegment raw;
  raw.ListName = name;
  raw.Name = name;
  raw.Width = segment.Width;
  raw.Height = segment.Height;
  raw.BitsPerPixel = segment.BitsPerPixel;
  raw.FrameRate = segment.FrameRate;
  raw.ListFrameRate = segment.FrameRate;
  raw.FrameCount = CheckedInt32(segment.Pictures.size(), "EncodeSegment: frame count");
  raw.ListFrameCount = raw.FrameCount;

  raw.ShapeCount = CheckedInt32(segment.Shapes.size(), "EncodeSegment: shape count");
  for (const TWriterShape& shape : segment.Shapes) {
    const std::vector<uint8_t> record = EncodeShapeRecord(shape);
    raw.ShapeRecords.insert(raw.ShapeRecords.end(), record.begin(), record.end());
  }

  // The first frame is the delta against a picture of zeros, so it carries the whole picture.
  const std::vector<uint32_t> zeros(pixelCount, 0);
  for (size_t frame = 0; frame < segment.Pictures.size(); ++frame) {
    CheckPicture(segment, frame, pixelCount);
    const std::vector<uint32_t>& previous = frame == 0 ? zeros : segment.Pictures[frame - 1];
    const std::vector<TWriterRun> runs = DeltaRuns(previous, segment.Pictures[frame], bits);
    const std::vector<uint8_t> record = EncodeFrameRecord(runs, bits);
    raw.FrameData.insert(raw.FrameData.end(), record.begin(), record.end());
  }
  raw.FrameDataSize = CheckedInt32(raw.FrameData.size(), "EncodeSegment: frame data size");

  TByteWriter track;
  for (const TWriterCursorRec& rec : segment.Track) track.U16(rec.Index).U16(rec.X).U16(rec.Y);
  raw.CursorData = track.Take();
  raw.CursorDataSize = CheckedInt32(raw.CursorData.size(), "EncodeSegment: cursor track size");

  if (bits == 8) {
    // The reader takes one palette record per decoded frame; frames without a change get
    // the one-byte record "no change".
    for (size_t frame = 0; frame < segment.Pictures.size(); ++frame) {
      const std::vector<uint8_t> record = frame < segment.PaletteChanges.size()
                                              ? EncodePaletteRecord(segment.PaletteChanges[frame])
                                              : std::vector<uint8_t>{0};
      raw.PaletteData.insert(raw.PaletteData.end(), record.begin(), record.end());
    }
    raw.PaletteDataSize = CheckedInt32(raw.PaletteData.size(), "EncodeSegment: palette size");
  }
  return raw;
}

std::vector<uint8_t> WriteFilmRaw(std::span<const TRawSegment> segments,
                                  std::optional<int32_t> segmentCountOverride) {
  TByteWriter out;
  out.I32(segmentCountOverride.value_or(CheckedInt32(segments.size(), "WriteFilmRaw: count")));
  for (const TRawSegment& segment : segments) {
    out.ShortString(segment.ListName).I32(segment.ListFrameCount).U8(segment.ListFrameRate);
  }
  for (const TRawSegment& segment : segments) {
    out.I32(segment.ShapeCount).Bytes(segment.ShapeRecords);
    // SegInfo: packed, so FrameCount sits at offset 17 and FrameRate at 21.
    out.I32(segment.FrameDataSize).I32(segment.CursorDataSize);
    out.I32(segment.Width).I32(segment.Height).U8(segment.BitsPerPixel);
    out.I32(segment.FrameCount).U8(segment.FrameRate).ShortString(segment.Name);
    // The track comes first in the file although SegInfo gives the frame data size first.
    out.Bytes(segment.CursorData).Bytes(segment.FrameData);
    if (segment.BitsPerPixel == 8) out.I32(segment.PaletteDataSize).Bytes(segment.PaletteData);
  }
  return out.Take();
}

std::vector<uint8_t> WriteFilm(std::span<const TWriterSegment> segments) {
  std::vector<TRawSegment> raw;
  raw.reserve(segments.size());
  for (const TWriterSegment& segment : segments) raw.push_back(EncodeSegment(segment));
  return WriteFilmRaw(raw);
}

// ---------------------------------------------------------------------------------------------
// Files

void WriteFileBytes(const std::string& path, std::span<const uint8_t> bytes) {
  struct TFileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  std::unique_ptr<std::FILE, TFileCloser> file(std::fopen(path.c_str(), "wb"));
  auto fail = [&path](const char* what) {
    throw std::runtime_error("WriteFileBytes: cannot " + std::string(what) + " " + path + ": " +
                             std::strerror(errno));
  };
  if (!file) fail("create");
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) {
    fail("write");
  }
  if (std::fclose(file.release()) != 0) fail("close");
}
