// The name a picture of one frame of a film is saved under.
#pragma once

#include <cstdio>
#include <string>

#include "playback/FilmClock.h"

// "SSS-FFFFF": the segment counted from 1 and the frame within it from 0, in at least three and
// five digits, so that the names sort in film order.
inline std::string FramePictureName(TFramePos pos) {
  char name[32];
  std::snprintf(name, sizeof name, "%03d-%05d", int(pos.Segment) + 1, int(pos.Frame));
  return name;
}
