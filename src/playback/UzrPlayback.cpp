#include "playback/UzrPlayback.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <type_traits>

#include "film/Messages.h"

namespace {

// Run values and true-colour pixels are handled as 32-bit words holding 0x00RRGGBB, which lie
// in memory as blue, green, red and a fourth byte.
static_assert(std::endian::native == std::endian::little);

// A run record as each video mode lays it out: the pixel value (one index byte, or blue,
// green, red), then the repeat count (one byte, or a little-endian uint16).
template <int Bits>
struct TRunRecord {
  static constexpr size_t kSize = Bits == 8 ? 2 : 5;
  static constexpr uint32_t kValueMask = Bits == 8 ? 0xFFu : 0x00FFFFFFu;

  // `p` points at a whole record. A true-colour value is read as the record's first four
  // bytes: its high byte is the count's low byte, which kValueMask takes off.
  static void Read(const uint8_t* p, uint32_t& rawValue, uint32_t& count) {
    if constexpr (Bits == 8) {
      rawValue = p[0];
      count = p[1];
    } else {
      uint16_t count16;
      std::memcpy(&rawValue, p, 4);
      std::memcpy(&count16, p + 3, 2);
      count = count16;
    }
  }
};

// How a depth's pixels are gathered before they go to their target: index bytes at 8 bits,
// 0x00RRGGBB words otherwise.
template <int Bits>
using TPixelValue = std::conditional_t<Bits == 8, uint8_t, uint32_t>;

// Where the pixels of a frame go: rows of Width pixels, Stride bytes apart, PixelBytes bytes a
// pixel. With RowsApart the rows end in padding that no pixel reaches; without it they lie
// back to back, so pixel i starts at byte i * PixelBytes.
template <int64_t PixelBytes, bool RowsApart>
struct TRunTarget {
  int64_t Width = 0;
  int64_t Stride = 0;

  // Hands the n pixels from pixel `first` to f(byte offset, index among the n, count), one
  // piece per row they touch.
  template <typename TFunc>
  void Pieces(int64_t first, int64_t n, TFunc&& f) const {
    if constexpr (!RowsApart) {
      f(first * PixelBytes, int64_t{0}, n);
    } else {
      int64_t row = first / Width, column = first % Width;
      for (int64_t done = 0; done < n; ++row, column = 0) {
        const int64_t piece = std::min(n - done, Width - column);
        f(row * Stride + column * PixelBytes, done, piece);
        done += piece;
      }
    }
  }
};

// The one walk over a frame's runs. Runs are taken in pixel order and clipped to the frame's
// `pixels`; the sink receives them as
//   Put(first, values, n): n gathered values from pixel `first`, whose bits outside the
//     record's value mask are to be ignored, and
//   Fill(first, n, value): n equal pixels from pixel `first`.
// Short runs, which is what noisy pictures and anti-aliased text are made of, are gathered
// into a small buffer with one store of a few copies of the value whatever the count (the next
// run overwrites what lies past the count), and the buffer is handed on in one piece; long
// runs go to the sink directly, so the long runs of zeros of an ordinary frame cost nothing.
// Returns how many pixels the runs cover.
template <int Bits, typename TSink>
int64_t WalkRuns(std::span<const uint8_t> runs, int64_t pixels, TSink& sink) {
  using TRecord = TRunRecord<Bits>;
  using TValue = TPixelValue<Bits>;
  constexpr size_t kSize = TRecord::kSize;
  // Values one store covers (32 bytes of words, 16 of indices: counts up to that are common
  // in text and take no branch of their own), a run from which on is handed on by itself,
  // and the buffer's size.
  constexpr int64_t kStore = Bits == 8 ? 16 : 8;
  constexpr int64_t kLong = 64;
  constexpr int64_t kBatch = 2048;
  // A run shorter than kLong may start anywhere below kBatch and store whole kStore blocks;
  // so may two short ones in a row.
  TValue batch[kBatch + kLong + kStore];

  int64_t start = 0;   // the pixel of batch[0]
  int64_t filled = 0;  // values gathered; below `limit` between records
  int64_t limit = std::min(kBatch, pixels);
  // Hands the gathered values on; false when they reach the frame's end.
  const auto flush = [&]() {
    const int64_t n = std::min(filled, pixels - start);
    if (n > 0) sink.Put(start, batch, n);
    start += n;
    filled = 0;
    limit = std::min(kBatch, pixels - start);
    return start < pixels;
  };
  const auto store = [&](int64_t at, uint32_t value) {
    TValue block[kStore];
    std::fill_n(block, kStore, TValue(value));
    std::memcpy(batch + at, block, sizeof block);
  };
  // One record of any count; false when the frame is full.
  const auto take = [&](const uint8_t* record) {
    uint32_t value, count;
    TRecord::Read(record, value, count);
    if (count < uint32_t(kLong)) {
      for (int64_t k = 0; k < count; k += kStore) store(filled + k, value);
      filled += count;
      return filled < limit || flush();
    }
    if (filled && !flush()) return false;
    const int64_t n = std::min(int64_t{count}, pixels - start);
    sink.Fill(start, n, value & TRecord::kValueMask);
    start += n;
    limit = std::min(kBatch, pixels - start);
    return start < pixels;
  };

  if (pixels <= 0) return 0;
  const size_t end = runs.size() - runs.size() % kSize;
  size_t at = 0;
  while (at + 2 * kSize <= end) {
    // Two records at a time while both are short (a count of 0 is not: it wraps). Two
    // single pixels, all that noise is made of, take one store.
    uint32_t value1, count1, value2, count2;
    TRecord::Read(&runs[at], value1, count1);
    TRecord::Read(&runs[at + kSize], value2, count2);
    if (((count1 ^ 1) | (count2 ^ 1)) == 0) {
      const TValue pair[2] = {TValue(value1), TValue(value2)};
      std::memcpy(batch + filled, pair, sizeof pair);
      filled += 2;
      at += 2 * kSize;
      if (filled >= limit && !flush()) return pixels;
    } else if (((count1 - 1) | (count2 - 1)) < uint32_t(kStore)) {
      store(filled, value1);
      filled += count1;
      store(filled, value2);
      filled += count2;
      at += 2 * kSize;
      if (filled >= limit && !flush()) return pixels;
    } else {
      if (!take(&runs[at])) return pixels;
      at += kSize;
    }
  }
  for (; at != end; at += kSize)
    if (!take(&runs[at])) return pixels;
  flush();
  return start;
}

// Calls f with the video mode as a compile-time constant: the 8/24/32-bit path is chosen
// once per frame. Other depths do nothing.
template <typename TFunc>
void WithDepth(int bits, TFunc&& f) {
  switch (bits) {
    case 8:
      return f(std::integral_constant<int, 8>{});
    case 24:
      return f(std::integral_constant<int, 24>{});
    case 32:
      return f(std::integral_constant<int, 32>{});
  }
}

// Calls f with whether the target's rows are apart as a compile-time constant.
template <typename TFunc>
void WithRows(bool apart, TFunc&& f) {
  if (apart) return f(std::true_type{});
  f(std::false_type{});
}

constexpr uint32_t kTrueColorMask = TRunRecord<32>::kValueMask;

// The work of a frame besides its runs and pictures: the cursor taken out and drawn, the
// track and palette records read, the frame's record located.
constexpr int64_t kFrameStepWork = int64_t{16} << 10;

void StoreWord(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

void XorWord(uint8_t* p, uint32_t v) {
  uint32_t word;
  std::memcpy(&word, p, 4);
  word ^= v;
  std::memcpy(p, &word, 4);
}

// Writes runs into the frame image. True-colour pixels go in as 32-bit words with a zero high
// byte; at 24 bits that byte falls on the next pixel, the row padding or the spare row below
// the frame, so a piece of 24-bit pixels leaves a zero byte after it.
template <int Bits, bool RowsApart>
struct TImageSink {
  static constexpr int64_t kPixelBytes = Bits / 8;
  uint8_t* Image;
  TRunTarget<kPixelBytes, RowsApart> Target;

  void Put(int64_t first, const TPixelValue<Bits>* values, int64_t n) {
    Target.Pieces(first, n, [&](int64_t offset, int64_t from, int64_t count) {
      uint8_t* p = Image + offset;
      if constexpr (Bits == 8) {
        std::memcpy(p, values + from, size_t(count));
      } else {
        for (int64_t k = 0; k < count; ++k)
          StoreWord(p + kPixelBytes * k, values[from + k] & kTrueColorMask);
      }
    });
  }
  void Fill(int64_t first, int64_t n, uint32_t value) {
    Target.Pieces(first, n, [&](int64_t offset, int64_t, int64_t count) {
      uint8_t* p = Image + offset;
      if constexpr (Bits == 8) {
        std::memset(p, int(value), size_t(count));
      } else {
        for (int64_t k = 0; k < count; ++k) StoreWord(p + kPixelBytes * k, value);
      }
    });
  }
};

// Combines runs with the picture: indices at 8 bits, 32-bit screen words otherwise. The
// screen-format picture has no row padding; an 8-bit picture's rows are padded like the frame
// image's.
template <int Bits, bool RowsApart>
struct TPictureSink {
  static constexpr int64_t kPixelBytes = Bits == 8 ? 1 : 4;
  uint8_t* Picture;
  TRunTarget<kPixelBytes, RowsApart> Target;

  void Put(int64_t first, const TPixelValue<Bits>* values, int64_t n) {
    Target.Pieces(first, n, [&](int64_t offset, int64_t from, int64_t count) {
      uint8_t* p = Picture + offset;
      if constexpr (Bits == 8) {
        for (int64_t k = 0; k < count; ++k) p[k] ^= values[from + k];
      } else {
        for (int64_t k = 0; k < count; ++k) XorWord(p + 4 * k, values[from + k] & kTrueColorMask);
      }
    });
  }
  void Fill(int64_t first, int64_t n, uint32_t value) {
    // A run of zeros changes nothing.
    if (value == 0) return;
    Target.Pieces(first, n, [&](int64_t offset, int64_t, int64_t count) {
      uint8_t* p = Picture + offset;
      if constexpr (Bits == 8) {
        for (int64_t k = 0; k < count; ++k) p[k] ^= uint8_t(value);
      } else {
        for (int64_t k = 0; k < count; ++k) XorWord(p + 4 * k, value);
      }
    });
  }
};

}  // namespace

void TPlaybackCore::TFrameBufferDeleter::operator()(uint8_t* p) const { std::free(p); }

TPlaybackCore::TPlaybackCore(IPlaybackHost& host) : FHost(host) {}

TPlaybackCore::~TPlaybackCore() = default;

// ---- Frame decoder ----

TResult TPlaybackCore::AllocFrameBuffer(size_t size) {
  // calloc hands out zeroed pages that the system commits only when they are touched.
  FFrameBuffer.reset(static_cast<uint8_t*>(std::calloc(size ? size : 1, 1)));
  FLoadedSize = FDirtySize = 0;
  // The buffer's size bounds where frames lie, so a new buffer may decode otherwise.
  FCheckpoints.Reset(FSegments.size());
  if (!FFrameBuffer) {
    FFrameBufferSize = 0;
    return kResultSegmentIsNil;
  }
  FFrameBufferSize = size;
  return kResultOk;
}

TResult TPlaybackCore::FreeFrameBuffer() {
  FFrameBuffer.reset();
  FFrameBufferSize = FLoadedSize = FDirtySize = 0;
  FCheckpoints.Reset(FSegments.size());
  return kResultOk;
}

TResult TPlaybackCore::LoadFrames() {
  if (!FFrameBuffer) return kResultSegmentIsNil;
  if (!HasCurrentSegment()) return kResultOutOfIndexBound;
  const TMemoryStream& stream = CurrentSegment().SegStream;
  const size_t size = stream.Size();
  if (size > FFrameBufferSize) throw EPlayback("Segment is too big");
  // The buffer holds the segment's data from its first byte and zeros after it. Only the
  // part that an earlier, longer segment left behind needs clearing: the rest is zero.
  if (FDirtySize > size) std::memset(FFrameBuffer.get() + size, 0, FDirtySize - size);
  if (size) std::memcpy(FFrameBuffer.get(), stream.Data(), size);
  FLoadedSize = FDirtySize = size;
  return kResultOk;
}

TResult TPlaybackCore::Rewind() {
  FCurFrame = FFrameBuffer ? 0 : -1;
  FFrameIndex = 0;
  FComposed.reset();
  FSegmentEnded = false;
  return kResultOk;
}

TResult TPlaybackCore::NextFrame() {
  if (FCurFrame < 0) return kResultFrameIsNil;
  if (!FFrameBuffer) return kResultSegmentIsNil;
  if (FSegments.empty()) return kResultOutOfIndexBound;
  ++FFrameIndex;
  if (!HasCurrentSegment() || FFrameIndex >= CurrentSegment().FrameCount)
    return kResultOutOfIndexBound;
  // A record past the loaded data reads as zeros: its length is 0.
  TByteReader data(std::span<const uint8_t>(FFrameBuffer.get(), FLoadedSize));
  data.Seek(size_t(std::min<int64_t>(FCurFrame, int64_t(FLoadedSize))));
  const uint32_t length = data.ReadU32();
  FCurFrame = std::min<int64_t>(FCurFrame + length, int64_t(FFrameBufferSize));
  return kResultOk;
}

void TPlaybackCore::SelectVideoMode(int bitsPerPixel) {
  switch (bitsPerPixel) {
    case 8:
      FPixelBytes = 1, FValueBytes = 1, FRunCountBytes = 1;
      break;
    case 24:
      FPixelBytes = 3, FValueBytes = 3, FRunCountBytes = 2;
      break;
    case 32:
      FPixelBytes = 4, FValueBytes = 3, FRunCountBytes = 2;
      break;
    default:
      // Reported to the user and playback stops; the player goes on running.
      throw EPlayback(kLbMessages[0]);
  }
}

TPlaybackCore::TFrameRuns TPlaybackCore::LocateRuns(int64_t frame) const {
  // A record that starts in the last bytes of the data, or past them, reads as zeros.
  const std::span<const uint8_t> data(FFrameBuffer.get(), FLoadedSize);
  TByteReader header(data);
  header.Seek(size_t(std::min<int64_t>(frame + 4, int64_t(data.size()))));
  const int32_t declared = header.ReadI32();
  TFrameRuns runs;
  runs.Frame = frame;
  runs.At = size_t(std::min<int64_t>(frame + 8, int64_t(data.size())));
  WithDepth(FFilmBits, [&](auto depth) {
    constexpr size_t kSize = TRunRecord<decltype(depth)::value>::kSize;
    // Only records wholly inside the data are runs.
    const size_t count =
        std::min<size_t>(size_t(std::max<int32_t>(declared, 0)), (data.size() - runs.At) / kSize);
    runs.Bytes = count * kSize;
  });
  return runs;
}

std::span<const uint8_t> TPlaybackCore::RunBytes(const TFrameRuns& runs) const {
  // Runs located before the data changed (frames loaded again, the buffer released) keep to
  // what the buffer holds now.
  const std::span<const uint8_t> data(FFrameBuffer.get(), FFrameBuffer ? FLoadedSize : 0);
  const size_t at = std::min(runs.At, data.size());
  return data.subspan(at, std::min(runs.Bytes, data.size() - at));
}

// Writes runs into the frame image, row by row, skipping each row's padding. Writing stops
// at the last pixel of the frame.
void TPlaybackCore::ExpandRuns(const TFrameRuns& runs) {
  FFrameWork += int64_t(runs.Bytes);
  WithDepth(FFilmBits, [&](auto depth) {
    constexpr int kBits = decltype(depth)::value;
    const int64_t width = FFrameWidth;
    WithRows(FFrameImage->Stride() != width * (kBits / 8), [&](auto apart) {
      TImageSink<kBits, decltype(apart)::value> sink{FFrameImage->Bits(),
                                                     {width, FFrameImage->Stride()}};
      WalkRuns<kBits>(RunBytes(runs), width * FFrameHeight, sink);
    });
  });
}

int64_t TPlaybackCore::XorRunsIntoPicture(const TFrameRuns& runs) {
  FFrameWork += int64_t(runs.Bytes);
  int64_t covered = 0;
  WithDepth(FFilmBits, [&](auto depth) {
    constexpr int kBits = decltype(depth)::value;
    const int64_t width = FFrameWidth;
    // Only an 8-bit picture pads its rows.
    WithRows(kBits == 8 && FPicture->Stride() != width, [&](auto apart) {
      TPictureSink<kBits, decltype(apart)::value> sink{FPicture->Bits(),
                                                       {width, FPicture->Stride()}};
      covered = WalkRuns<kBits>(RunBytes(runs), width * FFrameHeight, sink);
    });
  });
  return covered;
}

void TPlaybackCore::XorImageIntoPicture(int64_t first) {
  const int32_t row = int32_t(first / FFrameWidth), column = int32_t(first % FFrameWidth);
  if (row >= FFrameHeight) return;
  FFrameWork += int64_t(FPicture->SizeBytes());
  if (FFilmBits == 8) {
    // One pass over the bytes, the row padding (always zero in the frame image) along with the
    // pixels; not the spare row.
    const size_t from = size_t(row) * size_t(FPicture->Stride()) + size_t(column);
    const size_t bytes = size_t(FPicture->Stride()) * size_t(FFrameHeight);
    uint8_t* picture = FPicture->Bits();
    const uint8_t* frame = FFrameImage->Bits();
    for (size_t i = from; i < bytes; ++i) picture[i] ^= frame[i];
  } else {
    BitBlt(*FPicture, column, row, FFrameWidth - column, 1, *FFrameImage, column, row,
           TRop::SrcInvert);
    BitBlt(*FPicture, 0, row + 1, FFrameWidth, FFrameHeight - row - 1, *FFrameImage, 0, row + 1,
           TRop::SrcInvert);
  }
}

namespace {

// Reads the palette record at the stream's position into `palette`. A missing record changes
// nothing; entries past 255 are read over, never written.
void ReadPaletteRecord(TMemoryStream& stream, TColorTable& palette) {
  uint8_t count = 0, first = 0;
  if (stream.Read(&count, 1) != 1 || count == 0) return;
  if (stream.Read(&first, 1) != 1) return;
  uint8_t entries[255 * 4];
  const size_t got = stream.Read(entries, size_t(count) * 4);
  for (size_t i = 0; i < got; ++i) {
    const size_t entry = first + i / 4;
    if (entry > 255) break;
    uint8_t* entryBytes = &palette[entry].Blue;
    entryBytes[i % 4] = entries[i];
  }
}

// Reads the cursor record at the track's position into `rec`. A short read at the end of the
// track replaces only the fields it reaches.
void ReadCursorRecord(TMemoryStream& track, TCursorRec& rec) {
  uint8_t bytes[6] = {uint8_t(rec.Index), uint8_t(rec.Index >> 8), uint8_t(rec.X),
                      uint8_t(rec.X >> 8),     uint8_t(rec.Y),     uint8_t(rec.Y >> 8)};
  track.Read(bytes, sizeof bytes);
  rec.Index = uint16_t(bytes[0] | bytes[1] << 8);
  rec.X = uint16_t(bytes[2] | bytes[3] << 8);
  rec.Y = uint16_t(bytes[4] | bytes[5] << 8);
}

}  // namespace

void TPlaybackCore::ApplyPaletteRecord() {
  TMemoryStream* stream = CurrentSegment().PaletteStream.get();
  if (stream) ReadPaletteRecord(*stream, FPalette);
}

const TPlaybackCore::TSegmentStart& TPlaybackCore::StartState(int32_t index) {
  // Playing the film from its start, every frame of an 8-bit segment reads one palette record
  // and every frame reads one cursor record. Copies of the streams read them, so the
  // segments' own positions stay.
  if (FSegmentStarts.size() != FSegments.size()) {
    FSegmentStarts.clear();
    TSegmentStart start{FFilmPalette, TCursorRec{}};
    for (const auto& segment : FSegments) {
      FSegmentStarts.push_back(start);
      TMemoryStream track = segment->CursStream;
      track.SetPosition(0);
      for (int32_t frame = 0; frame < segment->FrameCount && track.Remaining(); ++frame)
        ReadCursorRecord(track, start.Cursor);
      if (segment->BitsPerPixel != 8 || !segment->PaletteStream) continue;
      TMemoryStream records = *segment->PaletteStream;
      records.SetPosition(0);
      for (int32_t frame = 0; frame < segment->FrameCount && records.Remaining(); ++frame)
        ReadPaletteRecord(records, start.Palette);
    }
  }
  return FSegmentStarts[size_t(index)];
}

bool TPlaybackCore::AtSegmentStart() {
  const TSegmentStart& start = StartState(FCurSegment);
  return start.Palette == FPalette && start.Cursor == FCursorRec;
}

void TPlaybackCore::TakeStartState() {
  const TSegmentStart& start = StartState(FCurSegment);
  FPalette = start.Palette;
  FCursorRec = start.Cursor;
  FCanonical = true;
}

void TPlaybackCore::FailDecode(TResult code) {
  FLastResult = code;
  ExecuteHostStop();
  FHost.ShowResult("DXTimerPlayTimer", code);
}

void TPlaybackCore::DecodeFrame() {
  FPendingRuns.reset();
  FFrameWork = kFrameStepWork;
  if (!HasCurrentSegment()) return;
  if (FCurFrame < 0 || !FFrameBuffer) return FailDecode(kResultFrameIsNil);
  if (!FFrameImage) return FailDecode(kResultNoFrameImage);
  if (FFilmBits != 8 && FFilmBits != 24 && FFilmBits != 32) return;

  // Combined with the picture in ComposeFrame, or expanded into the frame image now.
  FPendingRuns = LocateRuns(FCurFrame);
  if (!FStraightComposition) ExpandPendingRuns();
  if (FFilmBits == 8) ApplyPaletteRecord();
}

void TPlaybackCore::ExpandPendingRuns() {
  // Part of the frame image may stay as it was, so it must be what the frames before made
  // of it: the last whole frame, then this one over it.
  CatchUpFrameImage();
  ExpandRuns(*FPendingRuns);
  FPendingRuns.reset();
}

void TPlaybackCore::CatchUpFrameImage() {
  // Only a frame combined straight with the picture makes the image lag (ComposeFrame), and
  // every rebuild or clearing of the surfaces marks it current again.
  if (FFrameImageCurrent || !FFrameBuffer) return;
  // A whole frame writes every pixel, so the image after it depends on that frame alone.
  ExpandRuns(LocateRuns(FLastFullFrame));
  FFrameImageCurrent = true;
}

const TRasterBitmap* TPlaybackCore::FrameImage() {
  if (FPendingRuns && FFrameImage) ExpandPendingRuns();
  CatchUpFrameImage();
  return FFrameImage.get();
}

// ---- Display surfaces ----

bool TPlaybackCore::GetDisplaySettings() {
  const int screenBits = FHost.ScreenBits();
  if (!HasCurrentSegment()) return false;
  const Segment& segment = CurrentSegment();
  bool changed = false;
  if (segment.BitsPerPixel != FFilmBits) {
    FFilmBits = segment.BitsPerPixel;
    changed = true;
  }
  SelectVideoMode(FFilmBits);
  if (segment.Width != FFrameWidth || segment.Height != FFrameHeight) {
    FFrameWidth = segment.Width;
    FFrameHeight = segment.Height;
    changed = true;
  }
  FRowBytes = int64_t(FFrameWidth) * FPixelBytes;
  if (changed || FFilmBits != FScreenBits) {
    FScreenBits = screenBits;
    CreateSurfaces();
  }
  return true;
}

void TPlaybackCore::CreateSurfaces() {
  FFrameImage.reset();
  FPicture.reset();
  FCursorArea.reset();
  FCursorDrawn = false;
  FPendingRuns.reset();
  FFrameImageCurrent = true;
  FLastFullFrame = -1;
  FComposed.reset();  // the picture no longer shows it
  ++FSurfaceBuilds;

  const bool indexed = FFilmBits == 8;
  // The frame image has one spare row below the frame.
  if (FFrameHeight >= 1 && FFrameHeight < TRasterBitmap::kMaxSide)
    FFrameImage = TRasterBitmap::Create(FFrameWidth, FFrameHeight + 1, FFilmBits);
  FPicture = TRasterBitmap::Create(FFrameWidth, FFrameHeight, indexed ? 8 : 32);
  if (!FFrameImage || !FPicture) {
    const int32_t width = FFrameWidth, height = FFrameHeight;
    FFrameImage.reset();
    FPicture.reset();
    // Forget the geometry, so that the next activation builds afresh.
    FFilmBits = 0;
    FFrameWidth = FFrameHeight = 0;
    char message[160];
    std::snprintf(message, sizeof message,
                  "GetDisplaySettings: a frame of %d x %d pixels cannot be shown", width, height);
    throw EPlayback(message);
  }
  if (indexed) {
    FFrameImage->SetColorTable(TColorTable{});
    FPicture->SetColorTable(TColorTable{});
  }
  FSavedWidth = FCursorWidth;
  FSavedHeight = FCursorHeight;
  FCursorArea = TRasterBitmap::Create(FCursorWidth, FCursorHeight, indexed ? 8 : 32);
  if (!FCursorArea) throw EPlayback("GetDisplaySettings: hbmCursor = 0");
  if (indexed) FCursorArea->SetColorTable(TColorTable{});
}

void TPlaybackCore::ClearSurfaces() {
  if (FPicture && FFilmBits != 8) FillRect(*FPicture, {0, 0, FFrameWidth, FFrameHeight}, 0);
  if (FCursorArea) FillRect(*FCursorArea, {0, 0, FCursorWidth, FCursorHeight}, 0);
  if (FFrameImage) std::memset(FFrameImage->Bits(), 0, FFrameImage->SizeBytes());
  if (FPicture && FFilmBits == 8) std::memset(FPicture->Bits(), 0, FPicture->SizeBytes());
  FCursorDrawn = false;
  FPendingRuns.reset();
  FFrameImageCurrent = true;
  FLastFullFrame = -1;
  FComposed.reset();  // the picture no longer shows it
}

void TPlaybackCore::ComposeFrame() {
  if (!HasCurrentSegment() || !FPicture || !FFrameImage) return;
  if (FFilmBits == 8) FPicture->SetColorTable(FPalette);
  else if (FFilmBits != 24 && FFilmBits != 32) return;

  RestoreCursorBackground();
  if (FPendingRuns) {
    // The runs go straight into the picture: the pixels they cover change exactly as the
    // frame image would change them. When they cover the whole frame, the frame image is
    // left behind and rebuilt only if a later frame needs it.
    const int64_t covered = XorRunsIntoPicture(*FPendingRuns);
    if (covered == int64_t(FFrameWidth) * FFrameHeight) {
      FFrameImageCurrent = false;
      FLastFullFrame = FPendingRuns->Frame;
      FPendingRuns.reset();
    } else {
      // The rest of the picture takes the frame image as the frames before left it.
      ExpandPendingRuns();
      XorImageIntoPicture(covered);
    }
  } else {
    CatchUpFrameImage();
    XorImageIntoPicture(0);
  }
  DrawCursor();
}

// ---- Cursor overlay ----

void TPlaybackCore::EnsureCursorArea(int32_t width, int32_t height) {
  if (FCursorArea && FCursorArea->Width() >= width && FCursorArea->Height() >= height) return;
  auto area = TRasterBitmap::Create(std::max(width, FCursorWidth), std::max(height, FCursorHeight),
                                    FFilmBits == 8 ? 8 : 32);
  if (area) FCursorArea = std::move(area);
}

void TPlaybackCore::DrawCursor() {
  if (FSegments.empty()) return;
  ReadCursorRecord(*FCursorStream, FCursorRec);

  if (!HasCurrentSegment() || !FPicture || !FCursorShown) return;
  const TzrCursor* shape = CurrentSegment().CursorList->Items(FCursorRec.Index);
  if (!shape) return;

  const int32_t left = ClampCoordinate(int64_t{FCursorRec.X} - shape->HotSpotX);
  const int32_t top = ClampCoordinate(int64_t{FCursorRec.Y} - shape->HotSpotY);
  // The saved area is the system cursor size, or larger for a larger colour shape, so that
  // the restore takes every pixel the shape drew.
  int32_t width = FCursorWidth, height = FCursorHeight;
  if (shape->IsColorShape()) {
    width = std::max({width, shape->Mask.Width, shape->Color.Width});
    height = std::max({height, shape->Mask.Height, shape->Color.Height});
  }
  EnsureCursorArea(width, height);
  if (!FCursorArea || FCursorArea->Width() < width || FCursorArea->Height() < height) return;
  if (FFilmBits == 8) FCursorArea->SetColorTable(FPalette);
  BitBlt(*FCursorArea, 0, 0, width, height, *FPicture, left, top, TRop::SrcCopy);
  shape->Draw(*FPicture, FCursorRec.X, FCursorRec.Y);
  FCursorLeft = left;
  FCursorTop = top;
  FSavedWidth = width;
  FSavedHeight = height;
  FCursorDrawn = true;
}

void TPlaybackCore::RestoreCursorBackground() {
  // Only a cursor that is in the picture is taken out: putting back an area saved before
  // later frames changed it would leave stale pixels for the next delta.
  if (!FCursorDrawn || !FCursorArea || !FPicture) return;
  if (FFilmBits == 8) FCursorArea->SetColorTable(FPalette);
  BitBlt(*FPicture, FCursorLeft, FCursorTop, FSavedWidth, FSavedHeight, *FCursorArea, 0, 0,
         TRop::SrcCopy);
  FCursorDrawn = false;
}

// ---- Activation and the playback step ----

void TPlaybackCore::ExecuteHostStop() {
  ++FStops;
  FHost.ExecuteStop();
}

void TPlaybackCore::TakeFilm(std::vector<std::unique_ptr<Segment>> segments) {
  UnloadFilm();
  FFilmPalette = FPalette;
  FSegments = std::move(segments);
  FCheckpoints.Reset(FSegments.size());
  FCurSegment = FSegments.empty() ? -1 : 0;
}

void TPlaybackCore::AddSegment(std::unique_ptr<Segment> segment) {
  if (FSegments.empty()) FFilmPalette = FPalette;
  FSegments.push_back(std::move(segment));
  // The segments before keep their checkpoints and the palettes they start from.
  FCheckpoints.Resize(FSegments.size());
  FSegmentStarts.clear();
  if (FCurSegment < 0 || FSegments.size() == 1) FCurSegment = 0;
}

void TPlaybackCore::UnloadFilm() {
  ClearSegments();
  FLoadedSegment = -1;
  Rewind();
  FCurSegment = -1;
}

bool TPlaybackCore::SelectSegment(int32_t index) {
  if (index < 0 || size_t(index) >= FSegments.size()) return false;
  FCurSegment = index;
  return true;
}

TResult TPlaybackCore::SetCurSegment() {
  if (!FFrameBuffer) return kResultSegmentIsNil;
  if (FCurSegment < 0 || size_t(FCurSegment) >= FSegments.size()) FCurSegment = 0;
  if (FSegments.empty()) return kResultNoSegments;
  GetDisplaySettings();
  Rewind();
  ClearSurfaces();
  Segment& segment = CurrentSegment();
  FHost.SegmentActivated(segment, FrameInterval(segment.FrameRate));
  FCursorStream = &segment.CursStream;
  RestartTracks();
  // Playing on from the segment before, or from a seek in it, the segment starts from the
  // palette and cursor record seeks start it from; Play after Stop or a chosen segment may not.
  FCanonical = AtSegmentStart();
  FLoadedSegment = -1;
  const TResult r = LoadFrames();
  if (r == kResultOk) FLoadedSegment = FCurSegment;
  return r;
}

void TPlaybackCore::RestartTracks() {
  Segment& segment = CurrentSegment();
  FCursorStream->SetPosition(0);
  if (segment.BitsPerPixel == 8 && segment.PaletteStream) segment.PaletteStream->SetPosition(0);
  FWork = 0;
}

void TPlaybackCore::RestartSegment() {
  Rewind();
  ClearSurfaces();
  RestartTracks();
  TakeStartState();
}

TResult TPlaybackCore::NextSegment() {
  if (!FFrameBuffer) return kResultSegmentIsNil;
  ++FCurSegment;
  if (int64_t(FCurSegment) + 1 > int64_t(FSegments.size())) return kResultOutOfIndexBound;
  return SetCurSegment();
}

void TPlaybackCore::TimerPlayTimer() {
  if (FSegmentEnded) {
    // A seek composed the segment's last frame: playing on starts the next segment.
    FSegmentEnded = false;
    return EndSegment();
  }
  const int stops = FStops;
  DecodeFrame();
  // A decoder failure has stopped playback and been reported.
  if (FStops != stops || !HasCurrentSegment()) return;
  ComposeFrame();
  FComposed = TFramePos{FCurSegment, FFrameIndex};
  NoteComposed();
  FHost.FrameComposed();
  FHost.SetProgress(PlayedFrames() + 1);
  const TResult r = NextFrame();
  if (r == kResultOk) return;
  if (r == kResultOutOfIndexBound) return EndSegment();
  ExecuteHostStop();
  FHost.ShowResult("TimerPlayTimer", r);
}

void TPlaybackCore::EndSegment() {
  if (NextSegment() == kResultOk) return;
  ExecuteHostStop();
  FHost.FilmFinished();
}

TResult TPlaybackCore::SeekFrame(TFramePos pos) {
  if (pos.Segment < 0 || size_t(pos.Segment) >= FSegments.size()) return kResultOutOfIndexBound;
  const int32_t frameCount = FSegments[size_t(pos.Segment)]->FrameCount;
  if (pos.Frame < 0 || pos.Frame >= frameCount) return kResultOutOfIndexBound;
  if (!FFrameBuffer) return kResultSegmentIsNil;
  const bool loaded =
      FLoadedSegment == pos.Segment && FCurSegment == pos.Segment && FPicture && FFrameImage;
  // The frame sought is shown, and the step to the frame after it has been taken.
  if (loaded && FCanonical && FComposed == pos &&
      (FSegmentEnded || (FFrameIndex == pos.Frame + 1 && FFrameIndex < frameCount))) {
    FHost.SetProgress(PlayedFrames());
    return kResultOk;
  }
  if (!loaded) {
    FCurSegment = pos.Segment;
    const TResult r = SetCurSegment();
    if (r != kResultOk) return r;
    TakeStartState();
  }
  // Frames are deltas and only play forwards: from the picture shown when the frame lies
  // ahead of it, from the last checkpoint before the frame when that is nearer, or from the
  // segment's start.
  const bool ahead = FCanonical && !FSegmentEnded &&
                     (FComposed ? FComposed->Frame < pos.Frame : FFrameIndex == 0);
  const int32_t shown = FComposed ? FComposed->Frame : -1;
  const TCheckpoint* checkpoint = FCheckpoints.Before(pos.Segment, pos.Frame);
  bool restored = false;
  if (checkpoint && (!ahead || checkpoint->FrameIndex > shown))
    restored = RestoreCheckpoint(*checkpoint);
  if (!restored && !ahead) RestartSegment();
  for (bool composed = restored;; composed = false) {
    if (!composed) {
      const int stops = FStops;
      DecodeFrame();
      if (FStops != stops || !HasCurrentSegment()) {
        // Reported by the decoder; the next seek starts the segment afresh.
        FLoadedSegment = -1;
        return FLastResult != kResultOk ? FLastResult : kResultFrameIsNil;
      }
      ComposeFrame();
      FComposed = TFramePos{FCurSegment, FFrameIndex};
      NoteComposed();
    }
    const bool reached = FFrameIndex >= pos.Frame;
    const TResult r = NextFrame();
    if (r == kResultOutOfIndexBound) {
      FSegmentEnded = true;
      break;
    }
    if (r != kResultOk) return r;
    if (reached) break;
  }
  FHost.SetProgress(PlayedFrames());
  return kResultOk;
}

void TPlaybackCore::NoteComposed() {
  const int64_t before = FWork;
  FWork += FFrameWork;
  // Only a segment played as seeks play it, whose frames are in the buffer and whose frame
  // went all the way into the picture, has checkpoints taken; not the ticks that play on past
  // its last frame when a film that ended is not started again.
  if (!FCanonical || FLoadedSegment != FCurSegment || !HasCurrentSegment() || FPendingRuns ||
      !FPicture || !FFrameImage || !FCursorArea || FFrameIndex >= CurrentSegment().FrameCount)
    return;
  if (FCheckpoints.Wanted(FCurSegment, FPicture->SizeBytes(), before, FWork, FFrameIndex))
    TakeCheckpoint(before);
}

void TPlaybackCore::TakeCheckpoint(int64_t workBefore) {
  try {
    auto c = std::make_unique<TCheckpoint>();
    c->FrameIndex = FFrameIndex;
    c->CurFrame = FCurFrame;
    c->Work = FWork;
    c->FrameWork = FWork - workBefore;
    c->Palette = FPalette;
    const Segment& segment = CurrentSegment();
    c->PalettePosition = segment.PaletteStream ? segment.PaletteStream->Position() : 0;
    c->CursorPosition = FCursorStream->Position();
    c->CursorIndex = FCursorRec.Index, c->CursorX = FCursorRec.X, c->CursorY = FCursorRec.Y;
    c->CursorLeft = FCursorLeft, c->CursorTop = FCursorTop;
    c->SavedWidth = FSavedWidth, c->SavedHeight = FSavedHeight;
    c->CursorDrawn = FCursorDrawn;
    c->CursorAreaWidth = FCursorArea->Width(), c->CursorAreaHeight = FCursorArea->Height();
    c->CursorArea.assign(FCursorArea->Pixels().begin(), FCursorArea->Pixels().end());
    c->Picture.Pack(FPicture->Pixels(), FCheckpoints.Reference(FCurSegment, FPicture->Pixels()));
    c->FrameImageCurrent = FFrameImageCurrent;
    c->LastFullFrame = FLastFullFrame;
    if (FFrameImageCurrent) c->FrameImage.Pack(FFrameImage->Pixels(), {});
    FCheckpoints.Add(FCurSegment, std::move(c));
  } catch (const std::bad_alloc&) {
    // Without this checkpoint seeks only cost more.
  }
}

bool TPlaybackCore::RestoreCheckpoint(const TCheckpoint& c) {
  if (!HasCurrentSegment() || !FPicture || !FFrameImage) return false;
  const bool indexed = FFilmBits == 8;
  if (!FCursorArea || FCursorArea->Width() != c.CursorAreaWidth ||
      FCursorArea->Height() != c.CursorAreaHeight) {
    auto area = TRasterBitmap::Create(c.CursorAreaWidth, c.CursorAreaHeight, indexed ? 8 : 32);
    if (!area) return false;
    if (indexed) area->SetColorTable(FPalette);
    FCursorArea = std::move(area);
  }
  if (FCursorArea->SizeBytes() != c.CursorArea.size() ||
      !c.Picture.Unpack(FPicture->Pixels(), FCheckpoints.Reference(FCurSegment)) ||
      (c.FrameImageCurrent && !c.FrameImage.Unpack(FFrameImage->Pixels(), {})))
    return false;
  std::memcpy(FCursorArea->Bits(), c.CursorArea.data(), c.CursorArea.size());
  FCurFrame = c.CurFrame;
  FFrameIndex = c.FrameIndex;
  FComposed = TFramePos{FCurSegment, c.FrameIndex};
  FSegmentEnded = false;
  FPendingRuns.reset();
  FPalette = c.Palette;
  if (indexed) FPicture->SetColorTable(FPalette);
  Segment& segment = CurrentSegment();
  if (segment.PaletteStream) segment.PaletteStream->SetPosition(c.PalettePosition);
  FCursorStream->SetPosition(c.CursorPosition);
  FCursorRec = {c.CursorIndex, c.CursorX, c.CursorY};
  FCursorLeft = c.CursorLeft, FCursorTop = c.CursorTop;
  FSavedWidth = c.SavedWidth, FSavedHeight = c.SavedHeight;
  FCursorDrawn = c.CursorDrawn;
  FFrameImageCurrent = c.FrameImageCurrent;
  FLastFullFrame = c.LastFullFrame;
  FWork = c.Work;
  FCanonical = true;
  return true;
}

void TPlaybackCore::TimerTimer() {
  const int stops = FStops;
  if (FFrameIndex == 0) {
    TimerPlayTimer();
    // A film that ended in that step is not played on from its first segment.
    if (FStops != stops) return;
  }
  FHost.PresentPicture();
  TimerPlayTimer();
}

int64_t TPlaybackCore::PlayedFrames() const {
  if (FSegments.empty() || FCurSegment < 0) return 0;
  int64_t played = FFrameIndex;
  const size_t before = std::min(size_t(FCurSegment), FSegments.size());
  for (size_t i = 0; i < before; ++i) played += FSegments[i]->FrameCount;
  return played;
}

void TPlaybackCore::ClearSegments() {
  FSegments.clear();
  FCheckpoints.Reset(0);
  FSegmentStarts.clear();
  // The track borrowed from a segment goes with it.
  FCursorStream = &FEmptyTrack;
}
