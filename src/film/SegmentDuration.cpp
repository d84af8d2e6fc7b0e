#include "film/SegmentDuration.h"

#include <cmath>
#include <cstdio>

int64_t SegmentMillis(int32_t frameCount, uint8_t frameRate) {
  if (frameRate == 0 || frameCount <= 0) return 0;
  const int64_t scaled = int64_t(frameCount) * 1000;
  int64_t millis = scaled / frameRate;
  const int64_t twice = 2 * (scaled % frameRate);
  if (twice > frameRate || (twice == frameRate && (millis & 1))) ++millis;
  return millis;
}

std::string FormatFilmDuration(int64_t millis) {
  if (millis < 0) millis = 0;
  char text[48];
  std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld.%03lld", static_cast<long long>(millis / 3600000),
                static_cast<long long>(millis / 60000 % 60), static_cast<long long>(millis / 1000 % 60),
                static_cast<long long>(millis % 1000));
  return text;
}

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
