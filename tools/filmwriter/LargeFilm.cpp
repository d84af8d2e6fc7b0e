#include "filmwriter/LargeFilm.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "filmwriter/WriterRandom.h"

namespace {

using TRandom = TWriterRandom;

// Appends `count` pixels of one value as runs of at most 65,535.
void Fill(std::vector<TWriterRun>& runs, uint32_t value, uint64_t count) {
  while (count > 0) {
    const auto n = uint32_t(std::min<uint64_t>(count, 65535));
    runs.push_back({value, n});
    count -= n;
  }
}

// The runs of one frame: `pixels` in all, changed in a text band, a picture strip and a caret.
std::vector<TWriterRun> FrameRuns(uint64_t pixels, int32_t width, uint32_t frame, TRandom& random) {
  static constexpr uint32_t kGreys[] = {0x101010, 0x303030, 0x606060, 0x909090,
                                        0xC0C0C0, 0xE0E0E0, 0xF8F8F8, 0x000000};
  std::vector<TWriterRun> runs;
  uint64_t at = 0;
  auto skip = [&](uint64_t n) {
    n = std::min(n, pixels - at);
    Fill(runs, 0, n);
    at += n;
  };
  // Text: a band of rows, short runs of grey levels between letters.
  skip(uint64_t(random.Below(uint32_t(pixels / 4))));
  const uint64_t textEnd = std::min(pixels, at + uint64_t(width) * (40 + random.Below(80)));
  while (at < textEnd) {
    const uint32_t n = std::min<uint64_t>(1 + random.Below(6), textEnd - at);
    runs.push_back({kGreys[random.Below(8)], n});
    at += n;
  }
  // Picture content: single pixels of a drifting colour.
  skip(uint64_t(width) * random.Below(60));
  const uint64_t stripEnd = std::min(pixels, at + uint64_t(width) * (4 + random.Below(16)));
  uint32_t colour = random.Next() & 0xFFFFFF;
  while (at < stripEnd) {
    colour = (colour + 0x010203 + (random.Below(4) == 0 ? 0x010101 : 0)) & 0xFFFFFF;
    runs.push_back({colour | 1, 1});
    ++at;
  }
  // A caret blinking in the next line.
  skip(uint64_t(width) * 16 + (frame * 7) % uint64_t(width));
  for (int row = 0; row < 14 && at < pixels; ++row) {
    const uint64_t n = std::min<uint64_t>(2, pixels - at);
    runs.push_back({0xFFFFFF, uint32_t(n)});
    at += n;
    skip(uint64_t(width) - n);
  }
  skip(pixels - at);
  return runs;
}

// The first frame of a segment: a vertical gradient desktop, row by row.
std::vector<TWriterRun> DesktopRuns(int32_t width, int32_t height) {
  std::vector<TWriterRun> runs;
  for (int32_t y = 0; y < height; ++y) {
    const auto v = uint32_t(y * 255 / std::max(height - 1, 1));
    Fill(runs, 0x204060 + (v >> 2) * 0x010101, uint64_t(width));
  }
  return runs;
}

void Append(std::vector<uint8_t>& out, const std::vector<uint8_t>& bytes) {
  out.insert(out.end(), bytes.begin(), bytes.end());
}

}  // namespace

std::vector<TRawSegment> MakeLargeFilmSegments(const TLargeFilmPlan& plan) {
  if (plan.Width <= 0 || plan.Height <= 0 || (plan.BitsPerPixel != 24 && plan.BitsPerPixel != 32))
    throw std::invalid_argument("MakeLargeFilmSegments: 24- or 32-bit pictures of some size only");
  TRandom random{0x9E3779B97F4A7C15ull ^ plan.Seed};
  const uint64_t pixels = uint64_t(plan.Width) * uint64_t(plan.Height);
  std::vector<TRawSegment> segments;
  uint64_t made = 0;
  while (made < plan.FrameBytes) {
    TRawSegment seg;
    seg.Name = seg.ListName = "Segment " + std::to_string(segments.size() + 1);
    seg.Width = plan.Width;
    seg.Height = plan.Height;
    seg.BitsPerPixel = plan.BitsPerPixel;
    seg.FrameRate = seg.ListFrameRate = plan.FrameRate;
    const uint64_t limit = std::min(plan.SegmentBytes, plan.FrameBytes - made);
    Append(seg.FrameData, EncodeFrameRecord(DesktopRuns(plan.Width, plan.Height), plan.BitsPerPixel));
    uint32_t frames = 1;
    while (seg.FrameData.size() < limit) {
      const auto record = EncodeFrameRecord(FrameRuns(pixels, plan.Width, frames, random), plan.BitsPerPixel);
      if (seg.FrameData.size() + record.size() > plan.SegmentBytes) break;
      Append(seg.FrameData, record);
      ++frames;
    }
    // The cursor stays on shape 0 and moves a little every frame.
    TByteWriter track;
    for (uint32_t f = 0; f < frames; ++f)
      track.U16(0).U16(uint16_t(100 + f % 500)).U16(uint16_t(100 + (f * 3) % 400));
    TWriterShape arrow;
    arrow.AndMask.assign(32 * 32, 1);
    arrow.XorMask.assign(32 * 32, 0);
    for (int i = 0; i < 16; ++i) arrow.AndMask[size_t(i * 32 + i / 2)] = 0;
    seg.ShapeCount = 1;
    seg.ShapeRecords = EncodeShapeRecord(arrow);
    seg.CursorData = track.Take();
    seg.FrameCount = seg.ListFrameCount = int32_t(frames);
    seg.FrameDataSize = int32_t(seg.FrameData.size());
    seg.CursorDataSize = int32_t(seg.CursorData.size());
    made += seg.FrameData.size();
    segments.push_back(std::move(seg));
  }
  return segments;
}
