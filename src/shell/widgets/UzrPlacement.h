// Where the picture goes: centred in the main window's free client area (shrunk to fit when
// it is larger, enlarged to fill it only when asked), or in the display window, which is sized to the film.
// Halvings are integer divisions that round toward zero; the fitted size is rounded to the
// nearest integer, halves to even.
#pragma once

#include <array>
#include <cstdint>

#include "raster/URaster.h"

struct TPlacement {
  bool Scaled = false;
  int32_t FitWidth = 0;  // the shrunk or enlarged size, when Scaled
  int32_t FitHeight = 0;
  int32_t Left = 0;  // top-left corner of the picture in the client area
  int32_t Top = 0;
  // The grey bands around the picture: top, left, bottom, right.
  std::array<TRect, 4> Bands{};
};

// The picture in the main window. availableWidth × availableHeight is the client area less
// the control panel when it is visible; segmentWidth × segmentHeight the current segment's
// size, frameWidth × frameHeight the size of the surfaces built for it. With `enlarge` a
// smaller picture is enlarged to fill the area, keeping its proportions (full screen, and
// "По размеру окна").
TPlacement PlaceInMainWindow(int32_t segmentWidth, int32_t segmentHeight, int32_t frameWidth,
                             int32_t frameHeight, int32_t availableWidth,
                             int32_t availableHeight, bool enlarge = false);

struct TDisplayPlacement {
  bool Borderless = false;  // false: a dialog border
  TRect Bounds;             // outer bounds of the display window on the screen
  bool Scaled = false;
  int32_t FitWidth = 0;
  int32_t FitHeight = 0;
  // The picture always sits at the top-left corner of this window.
};

// The display window for a segment. current is the window's outer bounds now; decoration
// the outer size less the client size once it has a dialog border.
TDisplayPlacement PlaceDisplayWindow(int32_t segmentWidth, int32_t segmentHeight,
                                     int32_t frameWidth, int32_t frameHeight,
                                     int32_t screenWidth, int32_t screenHeight,
                                     const TRect& current, int32_t decorationWidth,
                                     int32_t decorationHeight);
