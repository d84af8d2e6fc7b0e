// Plays arbitrary segments through the playback core: activation, decode, composition,
// cursor overlay, the step to the next segment and the end of the film.
//
// Input (little-endian; what is missing reads as zero):
//   u8  segment count - 1 (taken mod 3)
//   u8  options: bit 0 drives the core with TimerTimer instead of TimerPlayTimer,
//               bit 1 also checks the frame image after every frame,
//               bit 2 seeks after playing (see below),
//               bit 3 leaves the checkpoints only a few KiB
//   i8  frame buffer slack: the buffer holds the longest frame data plus this many bytes
//       (at least 1 byte; less than the data makes activation fail with "Segment is too big")
//   per segment, a 16-byte header:
//     u8 bits (mod 4: 8, 24, 32, or the byte itself, a depth the player refuses),
//     u8 width - 1 (mod 64), u8 height - 1 (mod 64),
//     u8 frame count - 1 (mod 8), u8 frame rate,
//     u8 shapes (bit 0: a 16 × 16 mask-only shape, bit 1: a colour shape; in that slot order),
//     i8 hot spot x, i8 hot spot y, u8 colour shape side - 1 (mod 48),
//     u8 colour shape depth (bit 0: 24, else 32),
//     u16 frame data length, u16 cursor track length, u16 palette data length
//   then that segment's frame data, cursor track and palette data (lengths clamped to what
//   is left);
//   then, with option bit 2, up to 16 seeks: u8 segment, u8 frame (each taken mod the count).
//
// Besides not crashing, the composed picture must match a plain model of the format: each
// frame's runs are expanded into a persistent frame image, which is combined into the
// picture by exclusive-or. Pixels under the cursor drawn for the frame are not compared.
// When the film played through without a fault, every seek must give exactly the picture
// playing gave for that frame, cursor and palette included. Each frame is also decoded on
// every path of the decoder (plain, SSE2, AVX2), which must give the same bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "playback/UzrPlayback.h"
#include "support/PlaybackProbe.h"

namespace {

void PutLE(std::vector<uint8_t>& out, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

int64_t RowBytes(int64_t width, int bits, int align) {
  const int64_t row = (width * bits + 7) / 8;
  return (row + align - 1) / align * align;
}

// A shape record with its headers and pixels, loaded as the film reader would.
std::unique_ptr<TzrCursor> LoadShape(const std::vector<uint8_t>& record) {
  TByteReader reader(record);
  auto shape = std::make_unique<TzrCursor>();
  shape->LoadFromStream(reader);
  return shape;
}

// A mask-only shape: 16 pixels wide, the AND half above the XOR half.
std::unique_ptr<TzrCursor> MaskShape(int32_t hotX, int32_t hotY) {
  std::vector<uint8_t> r;
  PutLE(r, uint32_t(hotX), 4), PutLE(r, uint32_t(hotY), 4);
  PutLE(r, 64, 4), PutLE(r, 16, 4), PutLE(r, 32, 4), r.push_back(1);
  for (int y = 0; y < 32; ++y) {
    const uint16_t bits = y < 16 ? uint16_t(0xFFFF >> (y / 2 + 1)) : uint16_t(0x5555 << (y % 2));
    r.push_back(uint8_t(bits >> 8)), r.push_back(uint8_t(bits));
  }
  PutLE(r, 0, 4), PutLE(r, 0, 4), PutLE(r, 0, 4), r.push_back(0);
  return LoadShape(r);
}

// A colour shape of side × side pixels, possibly larger than the saved cursor area.
std::unique_ptr<TzrCursor> ColourShape(int32_t hotX, int32_t hotY, int32_t side, int bits) {
  std::vector<uint8_t> r;
  PutLE(r, uint32_t(hotX), 4), PutLE(r, uint32_t(hotY), 4);
  const int64_t maskRow = RowBytes(side, 1, 2), colourRow = RowBytes(side, bits, 4);
  PutLE(r, uint32_t(maskRow * side), 4), PutLE(r, uint32_t(side), 4), PutLE(r, uint32_t(side), 4);
  r.push_back(1);
  for (int64_t i = 0; i < maskRow * side; ++i) r.push_back(uint8_t(0xF0 ^ i));
  PutLE(r, uint32_t(colourRow * side), 4), PutLE(r, uint32_t(side), 4), PutLE(r, uint32_t(side), 4);
  r.push_back(uint8_t(bits));
  for (int64_t i = 0; i < colourRow * side; ++i) r.push_back(uint8_t(i * 37 + 11));
  return LoadShape(r);
}

// A plain model of the format, one pixel at a time: what the picture must show.
struct TModel {
  const Segment* Seg = nullptr;
  int Bits = 0, PixelBytes = 0, ValueBytes = 0, CountBytes = 0;
  int64_t Width = 0, Height = 0, Stride = 0;
  std::vector<uint8_t> Image;     // the frame image: Height + 1 rows of Stride bytes
  std::vector<uint32_t> Picture;  // an index, or 0x00RRGGBB, per pixel

  void Activate(const Segment& segment) {
    Seg = &segment;
    Bits = segment.BitsPerPixel;
    PixelBytes = Bits == 8 ? 1 : Bits == 24 ? 3 : 4;
    ValueBytes = Bits == 8 ? 1 : 3;
    CountBytes = Bits == 8 ? 1 : 2;
    Width = segment.Width, Height = segment.Height;
    Stride = RowBytes(Width, Bits, 4);
    Image.assign(size_t(Stride * (Height + 1)), 0);
    Picture.assign(size_t(Width * Height), 0);
  }

  // Decodes the record at `frame` of the loaded frame data and combines it with the picture.
  void Compose(int64_t frame) {
    TByteReader data(Seg->SegStream.Bytes());
    const int64_t loaded = int64_t(data.Size());
    data.Seek(size_t(std::min(frame + 4, loaded)));
    const int32_t declared = data.ReadI32();
    // Only runs wholly inside the loaded data are read.
    const int64_t runsAt = frame + 8, recordSize = ValueBytes + CountBytes;
    const int64_t available = runsAt < loaded ? (loaded - runsAt) / recordSize : 0;
    const int64_t runCount = std::clamp<int64_t>(declared, 0, available);
    data.Seek(size_t(std::min(runsAt, loaded)));

    const int64_t pixels = Width * Height;
    int64_t index = 0;
    for (int64_t i = 0; i < runCount && index < pixels; ++i) {
      uint8_t value[3] = {};
      data.Read(value, size_t(ValueBytes));
      const uint32_t count = CountBytes == 1 ? data.ReadU8() : data.ReadU16();
      for (uint32_t k = 0; k < count && index < pixels; ++k, ++index) {
        const size_t at = size_t((index / Width) * Stride + (index % Width) * PixelBytes);
        for (int b = 0; b < ValueBytes; ++b) Image[at + size_t(b)] = value[b];
        // True-colour pixels go in as 32-bit words with a zero high byte, which in 24 bits
        // lands on the next pixel, the row padding or the spare row.
        if (Bits != 8 && at + 3 < Image.size()) Image[at + 3] = 0;
      }
    }
    for (int64_t p = 0; p < pixels; ++p) Picture[size_t(p)] ^= ImagePixel(p);
  }

  uint32_t ImagePixel(int64_t p) const {
    const uint8_t* at = Image.data() + (p / Width) * Stride + (p % Width) * PixelBytes;
    return Bits == 8 ? at[0] : uint32_t(at[0] | at[1] << 8 | at[2] << 16);
  }
};

// The picture's pixels and, for 8 bits, its colour table.
std::vector<uint8_t> PictureBytes(const TRasterBitmap& picture) {
  std::vector<uint8_t> bytes(picture.Pixels().begin(), picture.Pixels().end());
  if (picture.BitsPerPixel() == 8) {
    const auto* table = reinterpret_cast<const uint8_t*>(picture.ColorTable().data());
    bytes.insert(bytes.end(), table, table + sizeof(TColorTable));
  }
  return bytes;
}

struct TFuzzHost : IPlaybackHost {
  TPlaybackCore* Core = nullptr;
  TModel Model;
  bool CheckFrameImage = false;
  int Results = 0;
  int Stops = 0;
  // The pictures played until playback first stopped (ticks after the end of the film play
  // on without a segment activated), by segment and frame.
  std::map<std::pair<int32_t, int32_t>, std::vector<uint8_t>> Played;

  void ExecuteStop() override {
    ++Stops;
    Core->Stop();
  }
  void ShowResult(const char*, TResult) override { ++Results; }
  void SegmentActivated(const Segment& segment, int) override { Model.Activate(segment); }
  void SetProgress(int64_t) override {}
  void FrameComposed() override {
    Check();
    if (const auto pos = Core->ComposedFrame(); pos && Core->Picture() && Stops == 0)
      Played[{pos->Segment, pos->Frame}] = PictureBytes(*Core->Picture());
  }

  // The frame image and the picture one path of the decoder makes of the record at `frame`,
  // over bytes that are not zero, and the pixels the runs cover.
  std::vector<uint8_t> DecodeOn(TRunPath path, int64_t frame) const {
    const int bits = Model.Bits;
    const int32_t width = int32_t(Model.Width), height = int32_t(Model.Height);
    auto image = TRasterBitmap::Create(width, height + 1, bits);
    auto picture = TRasterBitmap::Create(width, height, bits == 8 ? 8 : 32);
    if (!image || !picture) return {};
    std::fill(image->Pixels().begin(), image->Pixels().end(), uint8_t(0xA5));
    std::fill(picture->Pixels().begin(), picture->Pixels().end(), uint8_t(0x3C));
    const auto data = Model.Seg->SegStream.Bytes();
    const TFrameRuns runs = LocateRuns(data, frame, bits);
    ExpandRuns(data, runs, {bits, width, height}, *image, path);
    const int64_t covered = XorRunsIntoPicture(data, runs, {bits, width, height}, *picture, path);
    std::vector<uint8_t> bytes(image->Pixels().begin(), image->Pixels().end());
    bytes.insert(bytes.end(), picture->Pixels().begin(), picture->Pixels().end());
    PutLE(bytes, uint32_t(covered), 4);
    return bytes;
  }

  void Check() {
    TPlaybackCore& core = *Core;
    if (!Model.Seg) __builtin_trap();  // composed without an activation
    Model.Compose(TPlaybackProbe::CurFrame(core));
    const auto plain = DecodeOn(TRunPath::Plain, TPlaybackProbe::CurFrame(core));
    if (DecodeOn(TRunPath::Sse2, TPlaybackProbe::CurFrame(core)) != plain ||
        DecodeOn(TRunPath::Avx2, TPlaybackProbe::CurFrame(core)) != plain)
      __builtin_trap();

    const TRasterBitmap* picture = core.Picture();
    if (!picture || picture->Width() != Model.Width || picture->Height() != Model.Height ||
        picture->BitsPerPixel() != (Model.Bits == 8 ? 8 : 32) ||
        int64_t(picture->SizeBytes()) < picture->Stride() * Model.Height)
      __builtin_trap();

    // The area that holds the cursor drawn for this frame.
    int64_t cursorLeft = 0, cursorTop = 0, cursorRight = 0, cursorBottom = 0;
    if (core.HasCurrentSegment()) {
      const auto& list = *core.Segments()[size_t(core.CurSegment())]->CursorList;
      if (const TzrCursor* shape = list.Items(TPlaybackProbe::CursorRec(core).Index)) {
        int32_t w = TPlaybackProbe::kCursorSize, h = TPlaybackProbe::kCursorSize;
        if (shape->IsColorShape()) {
          w = std::max({w, shape->Mask.Width, shape->Color.Width});
          h = std::max({h, shape->Mask.Height, shape->Color.Height});
        }
        cursorLeft = TPlaybackProbe::CursorLeft(core), cursorTop = TPlaybackProbe::CursorTop(core);
        cursorRight = cursorLeft + w, cursorBottom = cursorTop + h;
      }
    }
    for (int64_t y = 0; y < Model.Height; ++y)
      for (int64_t x = 0; x < Model.Width; ++x) {
        if (x >= cursorLeft && x < cursorRight && y >= cursorTop && y < cursorBottom) continue;
        const uint32_t expected = Model.Picture[size_t(y * Model.Width + x)];
        const uint32_t got = picture->PixelValue(int32_t(x), int32_t(y));
        if (got != expected) __builtin_trap();
      }

    if (!CheckFrameImage) return;
    const TRasterBitmap* image = TPlaybackProbe::FrameImage(core);
    if (!image || image->Width() != Model.Width || image->Height() != Model.Height + 1 ||
        image->Stride() != Model.Stride)
      __builtin_trap();
    for (int64_t p = 0; p < Model.Width * Model.Height; ++p)
      if (image->PixelValue(int32_t(p % Model.Width), int32_t(p / Model.Width)) !=
          Model.ImagePixel(p))
        __builtin_trap();
  }
};

// The bytes of one section: up to `length` of what is left.
std::vector<uint8_t> TakeSection(TByteReader& in, size_t length) {
  const auto bytes = in.Take(std::min(length, in.Remaining()));
  return {bytes.begin(), bytes.end()};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TByteReader in(std::span<const uint8_t>(data, size));
  const int segmentCount = 1 + in.ReadU8() % 3;
  const uint8_t options = in.ReadU8();
  const int8_t slack = int8_t(in.ReadU8());

  TFuzzHost host;
  host.CheckFrameImage = options & 2;
  TPlaybackCore core(host);
  host.Core = &core;
  if (options & 8) TPlaybackProbe::SetCheckpointBudget(core, 6 << 10);

  int64_t totalFrames = 0;
  size_t longest = 0;
  for (int i = 0; i < segmentCount; ++i) {
    static constexpr uint8_t kBits[] = {8, 24, 32};
    auto segment = std::make_unique<Segment>();
    const uint8_t bits = in.ReadU8();
    segment->BitsPerPixel = bits % 4 < 3 ? kBits[bits % 4] : bits;
    segment->Width = 1 + in.ReadU8() % 64;
    segment->Height = 1 + in.ReadU8() % 64;
    segment->FrameCount = 1 + in.ReadU8() % 8;
    segment->FrameRate = in.ReadU8();
    const uint8_t shapes = in.ReadU8();
    const int32_t hotX = int8_t(in.ReadU8()), hotY = int8_t(in.ReadU8());
    const int32_t side = 1 + in.ReadU8() % 48;
    const int colourBits = in.ReadU8() & 1 ? 24 : 32;
    const size_t frameLength = in.ReadU16(), cursorLength = in.ReadU16(),
                 paletteLength = in.ReadU16();

    if (shapes & 1) segment->CursorList->Add(MaskShape(hotX, hotY));
    if (shapes & 2) segment->CursorList->Add(ColourShape(hotX, hotY, side, colourBits));
    segment->SegStream.Assign(TakeSection(in, frameLength));
    segment->CursStream.Assign(TakeSection(in, cursorLength));
    const auto palette = TakeSection(in, paletteLength);
    if (segment->BitsPerPixel == 8) {
      segment->PaletteStream = std::make_unique<TMemoryStream>();
      segment->PaletteStream->Assign(palette);
    }
    segment->FrameDataSize = int32_t(segment->SegStream.Size());
    segment->CursorDataSize = int32_t(segment->CursStream.Size());
    totalFrames += segment->FrameCount;
    longest = std::max(longest, segment->SegStream.Size());
    TPlaybackProbe::AddSegment(core, std::move(segment));
  }

  const int64_t bufferSize = std::max<int64_t>(1, int64_t(longest) + slack);
  if (core.AllocFrameBuffer(size_t(bufferSize)) != kResultOk) return 0;
  // Play from the first segment; when the player refuses something (the user is told and
  // playback stops), Play once more, as the user would.
  core.SelectSegment(0);
  for (int attempt = 0; attempt < 2; ++attempt) {
    try {
      if (core.SetCurSegment() != kResultOk) return 0;
      // Every frame of every segment, then past the end of the film.
      for (int64_t tick = 0; tick < totalFrames + 2; ++tick) {
        if (options & 1)
          core.TimerTimer();
        else
          core.TimerPlayTimer();
        if (TPlaybackProbe::PlayedFrames(core) < 0) __builtin_trap();
      }
      if (attempt > 0 || host.Results || !(options & 4)) return 0;
      // Seeks to frames played.
      const int32_t segments = int32_t(core.Segments().size());
      for (int seek = 0; seek < 16 && in.Remaining() >= 2; ++seek) {
        const int32_t s = in.ReadU8() % segments;
        const int32_t k = in.ReadU8() % core.Segments()[size_t(s)]->FrameCount;
        const auto played = host.Played.find({s, k});
        if (played == host.Played.end()) continue;
        if (core.SeekFrame({s, k}) != kResultOk || core.ComposedFrame() != TFramePos{s, k} ||
            PictureBytes(*core.Picture()) != played->second)
          __builtin_trap();
      }
      return 0;
    } catch (const EPlayback&) {
      host.ExecuteStop();
      host.Model.Seg = nullptr;  // composing before the next activation would be a fault
    }
  }
  return 0;
}
