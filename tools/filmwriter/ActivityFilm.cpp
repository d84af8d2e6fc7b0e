#include "filmwriter/ActivityFilm.h"

#include <algorithm>
#include <stdexcept>

namespace {

// A mask shape: the AND mask clear over a square of `size` pixels, the XOR mask set there.
TWriterShape SquareShape(int32_t size) {
  TWriterShape shape;
  shape.AndMask.assign(32 * 32, 1);
  shape.XorMask.assign(32 * 32, 0);
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) shape.AndMask[size_t(y * 32 + x)] = 0, shape.XorMask[size_t(y * 32 + x)] = 1;
  return shape;
}

}  // namespace

TWriterSegment MakeActivitySegment(const TActivitySegmentPlan& plan, int32_t width, int32_t height) {
  if (width < 40 || height < 20) throw std::invalid_argument("an activity film is at least 40 x 20");
  TWriterSegment segment;
  segment.Name = plan.Name;
  segment.Width = width, segment.Height = height, segment.BitsPerPixel = 32;
  segment.FrameRate = plan.FrameRate;
  segment.Shapes = {SquareShape(4), SquareShape(8)};
  std::vector<uint32_t> picture(size_t(width) * size_t(height), 0x203040);
  const auto fill = [&](int x0, int y0, int w, int h, uint32_t value) {
    for (int y = std::max(0, y0); y < std::min(height, y0 + h); ++y)
      for (int x = std::max(0, x0); x < std::min(width, x0 + w); ++x) picture[size_t(y * width + x)] = value;
  };
  TWriterCursorRec cursor{0, 20, 10};
  uint32_t colour = 0x203040;
  int32_t frame = 0;
  const int64_t rate = plan.FrameRate ? plan.FrameRate : 10;
  for (const TScreenStep& step : plan.Steps) {
    for (int32_t k = 0; k < step.Frames; ++k, ++frame) {
      switch (step.Action) {
        case TScreenAction::Still:
          break;
        case TScreenAction::Scene:
          if (k == 0) fill(0, 0, width, height, colour = (colour * 7 + 0x351B2D) & 0xFFFFFF);
          break;
        case TScreenAction::Small:
          fill((k * 2) % (width - 2), 2, 2, 2, colour ^ uint32_t(0x808080 + k));
          break;
        case TScreenAction::CursorAlone:
          cursor.X = uint16_t(10 + k % (width - 20));
          break;
        case TScreenAction::Caret:
          // On in the first half of every 500 ms of film time, off in the second.
          fill(width / 2, 4, 1, 6, (frame * 1000 / rate) % 500 < 250 ? 0xFFFFFF : colour);
          break;
        case TScreenAction::Stripe:
          fill(0, (k % 20) * height / 20, width, (k % 20 + 1) * height / 20 - (k % 20) * height / 20,
               colour ^ 0x5A5A5A ^ uint32_t(k));
          break;
        case TScreenAction::Shape:
          if (k == 0) cursor.Index = uint16_t(1 - cursor.Index);
          break;
      }
      segment.Pictures.push_back(picture);
      segment.Track.push_back(cursor);
    }
  }
  return segment;
}
