#include "film/SegmentDuration.h"

#include <cmath>
#include <cstdio>

std::string FormatSegmentDuration(int32_t frameCount, uint8_t frameRate) {
  if (frameRate == 0) return {};
  // The seconds become a fraction of a day, whose fractional part is the time of day; its
  // milliseconds are rounded half to even.
  const double days = double(frameCount) / frameRate / 60 / 60 / 24;
  const double fraction = std::fabs(days - std::trunc(days));
  auto ms = int64_t(std::nearbyint(fraction * 86400000.0)) % 86400000;
  const int hours = int(ms / 3600000), minutes = int(ms / 60000 % 60);
  const int seconds = int(ms / 1000 % 60), millis = int(ms % 1000);
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", hours, minutes, seconds, millis);
  return text;
}
