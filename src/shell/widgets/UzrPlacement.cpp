#include "shell/widgets/UzrPlacement.h"

#include <algorithm>
#include <cmath>

namespace {

// Rounds to the nearest integer, halves to even.
int32_t RoundEven(double v) { return int32_t(std::nearbyint(v)); }

}  // namespace

TPlacement PlaceInMainWindow(int32_t segmentWidth, int32_t segmentHeight, int32_t frameWidth,
                             int32_t frameHeight, int32_t availableWidth,
                             int32_t availableHeight, bool enlarge) {
  TPlacement p;
  const int32_t w = availableWidth, h = availableHeight;
  const bool shrink = w < segmentWidth || h < segmentHeight;
  // Enlarged only when there is room on both sides: a picture that fits one side exactly
  // stays at its own size, pixel for pixel.
  const bool grow = enlarge && w > segmentWidth && h > segmentHeight;
  if ((shrink || grow) && frameWidth != 0 && frameHeight != 0) {
    p.Scaled = true;
    const double k = std::min(double(w) / frameWidth, double(h) / frameHeight);
    p.FitWidth = RoundEven(frameWidth * k);
    p.FitHeight = RoundEven(frameHeight * k);
    p.Left = (w - p.FitWidth) / 2;
    p.Top = (h - p.FitHeight) / 2;
  } else {
    p.Left = (w - segmentWidth) / 2;
    p.Top = (h - segmentHeight) / 2;
  }
  p.Bands = {TRect{0, 0, w, p.Top}, TRect{0, 0, p.Left, h}, TRect{0, h - p.Top, w, p.Top},
             TRect{w - p.Left, 0, p.Left, h}};
  return p;
}

TDisplayPlacement PlaceDisplayWindow(int32_t segmentWidth, int32_t segmentHeight,
                                     int32_t frameWidth, int32_t frameHeight,
                                     int32_t screenWidth, int32_t screenHeight,
                                     const TRect& current, int32_t decorationWidth,
                                     int32_t decorationHeight) {
  TDisplayPlacement p;
  if (screenWidth == segmentWidth && screenHeight == segmentHeight) {
    p.Borderless = true;
    p.Bounds = {0, 0, segmentWidth, segmentHeight};
  } else if (screenWidth < segmentWidth || screenHeight < segmentHeight) {
    p.Borderless = true;
    p.Bounds = {0, 0, screenWidth, screenHeight};
    p.Scaled = true;
    if (frameWidth != 0 && frameHeight != 0) {
      const double k = std::min(double(screenWidth) / frameWidth, double(screenHeight) / frameHeight);
      p.FitWidth = RoundEven(frameWidth * k);
      p.FitHeight = RoundEven(frameHeight * k);
    }
  } else {
    // A dialog border and a client area the size of the frame, centred where the window
    // was and kept on the screen.
    const int32_t cx = current.Left + current.Width / 2;
    const int32_t cy = current.Top + current.Height / 2;
    const int32_t w = segmentWidth + decorationWidth;
    const int32_t h = segmentHeight + decorationHeight;
    int32_t left = cx - w / 2, top = cy - h / 2;
    if (left + w > screenWidth) left = screenWidth - w;
    if (top + h > screenHeight) top = screenHeight - h;
    p.Bounds = {std::max(left, 0), std::max(top, 0), w, h};
  }
  return p;
}
