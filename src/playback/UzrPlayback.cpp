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
// green, red), then the repeat count (one byte, or a little-endian uint16). `at` is the
// record's first byte; a true-colour value is read as the low 24 bits of the record's first
// four bytes.
template <int Bits>
struct TRunRecord {
  static constexpr size_t kSize = Bits == 8 ? 2 : 5;

  static uint32_t Value(std::span<const uint8_t> runs, size_t at) {
    if constexpr (Bits == 8) {
      return runs[at];
    } else {
      uint32_t word;
      std::memcpy(&word, &runs[at], 4);
      return word & 0x00FFFFFFu;
    }
  }
  static uint32_t Count(std::span<const uint8_t> runs, size_t at) {
    if constexpr (Bits == 8) {
      return runs[at + 1];
    } else {
      uint16_t count;
      std::memcpy(&count, &runs[at + 3], 2);
      return count;
    }
  }
};

// Where the pixels of a frame go: Pixels pixels in rows of Width, Padding bytes after each
// row.
struct TRunTarget {
  int64_t Width = 0;
  int64_t Pixels = 0;
  int64_t Padding = 0;
};

// The one walk over a frame's runs. Runs are taken in pixel order and clipped to the frame;
// each stretch of equal pixels is handed to put(offset, n, value), offset being the byte
// position of its first pixel in a target of PixelBytes per pixel. With RowsApart the
// stretches are split at row ends and the padding is skipped (once, also after a run that
// ends exactly at a row end); without it the rows lie back to back and a run is one
// stretch. Positions are indices, so nothing points outside the runs or the target.
// Returns how many pixels the runs cover.
template <int Bits, int64_t PixelBytes, bool RowsApart, typename TPut>
int64_t WalkRuns(std::span<const uint8_t> runs, const TRunTarget& target, TPut&& put) {
  using TRecord = TRunRecord<Bits>;
  int64_t offset = 0;  // RowsApart: byte position of the next pixel
  int64_t column = 0;  // RowsApart: its column
  // Hands on the n pixels from pixel `first`.
  const auto emit = [&](int64_t first, int64_t n, uint32_t value) {
    if constexpr (!RowsApart) {
      put(first * PixelBytes, n, value);
    } else {
      while (n > 0) {
        const int64_t piece = std::min(n, target.Width - column);
        put(offset, piece, value);
        offset += piece * PixelBytes;
        n -= piece;
        column += piece;
        if (column == target.Width) {
          column = 0;
          offset += target.Padding;
        }
      }
    }
  };
  const size_t end = runs.size() - runs.size() % TRecord::kSize;
  int64_t index = 0;  // pixels covered so far
  for (size_t at = 0; at != end; at += TRecord::kSize) {
    const int64_t first = index;
    const uint32_t value = TRecord::Value(runs, at);
    // The chain from run to run is this one addition; the run that reaches the frame's end
    // is clipped off it (the worst frames are millions of one-pixel runs).
    index += TRecord::Count(runs, at);
    if (index >= target.Pixels) [[unlikely]] {
      emit(first, target.Pixels - first, value);
      return target.Pixels;
    }
    emit(first, index - first, value);
  }
  return index;
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

void StoreWord(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

void XorWord(uint8_t* p, uint32_t v) {
  uint32_t word;
  std::memcpy(&word, p, 4);
  word ^= v;
  std::memcpy(p, &word, 4);
}

}  // namespace

void TPlaybackCore::TFrameBufferDeleter::operator()(uint8_t* p) const { std::free(p); }

TPlaybackCore::TPlaybackCore(IPlaybackHost& host) : FHost(host) {}

TPlaybackCore::~TPlaybackCore() = default;

// ---- Frame decoder ----

TResult TPlaybackCore::AllocFrameBuffer(size_t size) {
  // calloc hands out zeroed pages that the system commits only when they are touched.
  FFrameBuffer.reset(static_cast<uint8_t*>(std::calloc(size ? size : 1, 1)));
  FLoadedSize = FDirtySize = 0;
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

TPlaybackCore::TFrameRuns TPlaybackCore::ScanFrame(int64_t frame) const {
  // A record that starts in the last bytes of the data, or past them, reads as zeros.
  const std::span<const uint8_t> data(FFrameBuffer.get(), FLoadedSize);
  TByteReader header(data);
  header.Seek(size_t(std::min<int64_t>(frame + 4, int64_t(data.size()))));
  const int32_t declared = header.ReadI32();
  TFrameRuns runs;
  runs.At = size_t(std::min<int64_t>(frame + 8, int64_t(data.size())));
  WithDepth(FFilmBits, [&](auto depth) {
    constexpr size_t kSize = TRunRecord<decltype(depth)::value>::kSize;
    // Only records wholly inside the data are runs.
    const size_t count =
        std::min<size_t>(size_t(std::max<int32_t>(declared, 0)), (data.size() - runs.At) / kSize);
    runs.Bytes = count * kSize;
    const int64_t pixels = int64_t(FFrameWidth) * FFrameHeight;
    const int64_t covered =
        WalkRuns<decltype(depth)::value, 0, false>(data.subspan(runs.At, runs.Bytes),
                                                   TRunTarget{FFrameWidth, pixels, 0},
                                                   [](int64_t, int64_t, uint32_t) {});
    runs.CoversFrame = covered == pixels;
  });
  return runs;
}

std::span<const uint8_t> TPlaybackCore::RunBytes(const TFrameRuns& runs) const {
  // Runs scanned before the data changed (frames loaded again, the buffer released) keep to
  // what the buffer holds now.
  const std::span<const uint8_t> data(FFrameBuffer.get(), FFrameBuffer ? FLoadedSize : 0);
  const size_t at = std::min(runs.At, data.size());
  return data.subspan(at, std::min(runs.Bytes, data.size() - at));
}

// Writes runs into the frame image, row by row, skipping each row's padding. Writing stops
// at the last pixel of the frame.
void TPlaybackCore::ExpandRuns(const TFrameRuns& runs) {
  WithDepth(FFilmBits, [&](auto depth) {
    constexpr int kBits = decltype(depth)::value;
    constexpr int64_t kPixelBytes = kBits / 8;
    uint8_t* image = FFrameImage->Bits();
    const int64_t width = FFrameWidth;
    const TRunTarget target{width, width * FFrameHeight,
                            FFrameImage->Stride() - width * kPixelBytes};
    const auto put = [image](int64_t offset, int64_t n, uint32_t value) {
      uint8_t* p = image + offset;
      if constexpr (kBits == 8) {
        std::memset(p, int(value), size_t(n));
      } else {
        // True-colour pixels go in as 32-bit words with a zero high byte. At 24 bits that
        // byte falls on the next pixel, the row padding or the spare row below the frame.
        for (int64_t k = 0; k < n; ++k) StoreWord(p + k * kPixelBytes, value);
      }
    };
    if (target.Padding)
      WalkRuns<kBits, kPixelBytes, true>(RunBytes(runs), target, put);
    else
      WalkRuns<kBits, kPixelBytes, false>(RunBytes(runs), target, put);
  });
}

// Combines runs with the picture directly: the same pixels as expanding them into the frame
// image and combining the whole image, for a frame whose runs cover every pixel. A run of
// zeros changes nothing.
void TPlaybackCore::XorRunsIntoPicture(const TFrameRuns& runs) {
  WithDepth(FFilmBits, [&](auto depth) {
    constexpr int kBits = decltype(depth)::value;
    uint8_t* picture = FPicture->Bits();
    const int64_t width = FFrameWidth;
    if constexpr (kBits == 8) {
      const TRunTarget target{width, width * FFrameHeight, FPicture->Stride() - width};
      const auto put = [picture](int64_t offset, int64_t n, uint32_t value) {
        if (value == 0) return;
        uint8_t* p = picture + offset;
        for (int64_t k = 0; k < n; ++k) p[k] ^= uint8_t(value);
      };
      if (target.Padding)
        WalkRuns<8, 1, true>(RunBytes(runs), target, put);
      else
        WalkRuns<8, 1, false>(RunBytes(runs), target, put);
    } else {
      // The screen-format picture has no row padding: pixel i is the i-th 32-bit word.
      const auto put = [picture](int64_t offset, int64_t n, uint32_t value) {
        if (value == 0) return;
        uint8_t* p = picture + offset;
        for (int64_t k = 0; k < n; ++k) XorWord(p + 4 * k, value);
      };
      WalkRuns<kBits, 4, false>(RunBytes(runs), TRunTarget{width, width * FFrameHeight, 0}, put);
    }
  });
}

void TPlaybackCore::ApplyPaletteRecord() {
  TMemoryStream* stream = CurrentSegment().PaletteStream.get();
  if (!stream) return;
  // A missing record changes nothing; entries past 255 are read over, never written.
  uint8_t count = 0, first = 0;
  if (stream->Read(&count, 1) != 1 || count == 0) return;
  if (stream->Read(&first, 1) != 1) return;
  uint8_t entries[255 * 4];
  const size_t got = stream->Read(entries, size_t(count) * 4);
  for (size_t i = 0; i < got; ++i) {
    const size_t entry = first + i / 4;
    if (entry > 255) break;
    uint8_t* bytes = &FPalette[entry].Blue;
    bytes[i % 4] = entries[i];
  }
}

void TPlaybackCore::FailDecode(TResult code) {
  FLastResult = code;
  ExecuteHostStop();
  FHost.ShowResult("DXTimerPlayTimer", code);
}

void TPlaybackCore::DecodeFrame() {
  FPendingRuns.reset();
  if (!HasCurrentSegment()) return;
  if (FCurFrame < 0 || !FFrameBuffer) return FailDecode(kResultFrameIsNil);
  if (!FFrameImage) return FailDecode(kResultNoFrameImage);
  if (FFilmBits != 8 && FFilmBits != 24 && FFilmBits != 32) return;

  const TFrameRuns runs = ScanFrame(FCurFrame);
  if (runs.CoversFrame && FStraightComposition) {
    // Combined with the picture in ComposeFrame; the frame image falls behind.
    FPendingRuns = runs;
    FFrameImageCurrent = false;
    FLastFullFrame = FCurFrame;
  } else {
    // Part of the frame image stays as it was, so it must be what the frames before made
    // of it: the last whole frame, then this one over it.
    CatchUpFrameImage();
    ExpandRuns(runs);
  }
  if (FFilmBits == 8) ApplyPaletteRecord();
}

void TPlaybackCore::CatchUpFrameImage() {
  // Only a decoded frame with an image to go to makes the image lag (DecodeFrame), and
  // every rebuild or clearing of the surfaces marks it current again.
  if (FFrameImageCurrent || !FFrameBuffer) return;
  // A whole frame writes every pixel, so the image after it depends on that frame alone.
  ExpandRuns(ScanFrame(FLastFullFrame));
  FFrameImageCurrent = true;
}

const TRasterBitmap* TPlaybackCore::FrameImage() {
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
}

void TPlaybackCore::ComposeFrame() {
  if (!HasCurrentSegment() || !FPicture || !FFrameImage) return;
  if (FFilmBits == 8) FPicture->SetColorTable(FPalette);
  else if (FFilmBits != 24 && FFilmBits != 32) return;

  RestoreCursorBackground();
  if (FPendingRuns) {
    XorRunsIntoPicture(*FPendingRuns);
  } else if (FFilmBits == 8) {
    // Four indices at a time, the row padding along with the pixels; not the spare row.
    const size_t bytes = size_t(FPicture->Stride()) * size_t(FFrameHeight);
    uint8_t* picture = FPicture->Bits();
    const uint8_t* frame = FFrameImage->Bits();
    for (size_t i = 0; i < bytes; i += 4) {
      uint32_t a, b;
      std::memcpy(&a, picture + i, 4);
      std::memcpy(&b, frame + i, 4);
      a ^= b;
      std::memcpy(picture + i, &a, 4);
    }
  } else {
    BitBlt(*FPicture, 0, 0, FFrameWidth, FFrameHeight, *FFrameImage, 0, 0, TRop::SrcInvert);
  }
  FPendingRuns.reset();
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
  // A short read at the end of the track replaces only the fields it reaches.
  uint8_t bytes[6] = {uint8_t(FCursorRec.Index), uint8_t(FCursorRec.Index >> 8),
                      uint8_t(FCursorRec.X),     uint8_t(FCursorRec.X >> 8),
                      uint8_t(FCursorRec.Y),     uint8_t(FCursorRec.Y >> 8)};
  FCursorStream->Read(bytes, sizeof bytes);
  FCursorRec.Index = uint16_t(bytes[0] | bytes[1] << 8);
  FCursorRec.X = uint16_t(bytes[2] | bytes[3] << 8);
  FCursorRec.Y = uint16_t(bytes[4] | bytes[5] << 8);

  if (!HasCurrentSegment() || !FPicture) return;
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
  FSegments = std::move(segments);
  FCurSegment = FSegments.empty() ? -1 : 0;
}

void TPlaybackCore::AddSegment(std::unique_ptr<Segment> segment) {
  FSegments.push_back(std::move(segment));
  if (FCurSegment < 0 || FSegments.size() == 1) FCurSegment = 0;
}

void TPlaybackCore::UnloadFilm() {
  ClearSegments();
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
  FCursorStream->SetPosition(0);
  if (segment.BitsPerPixel == 8 && segment.PaletteStream) segment.PaletteStream->SetPosition(0);
  return LoadFrames();
}

TResult TPlaybackCore::NextSegment() {
  if (!FFrameBuffer) return kResultSegmentIsNil;
  ++FCurSegment;
  if (int64_t(FCurSegment) + 1 > int64_t(FSegments.size())) return kResultOutOfIndexBound;
  return SetCurSegment();
}

void TPlaybackCore::TimerPlayTimer() {
  const int stops = FStops;
  DecodeFrame();
  // A decoder failure has stopped playback and been reported.
  if (FStops != stops || !HasCurrentSegment()) return;
  ComposeFrame();
  FHost.FrameComposed();
  FHost.SetProgress(PlayedFrames() + 1);
  const TResult r = NextFrame();
  if (r == kResultOk) return;
  if (r == kResultOutOfIndexBound) {
    if (NextSegment() == kResultOk) return;
    ExecuteHostStop();
    FHost.FilmFinished();
    return;
  }
  ExecuteHostStop();
  FHost.ShowResult("TimerPlayTimer", r);
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
  // The track borrowed from a segment goes with it.
  FCursorStream = &FEmptyTrack;
}
