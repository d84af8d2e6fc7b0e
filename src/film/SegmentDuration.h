// A segment's duration as listings show it: FrameCount / FrameRate seconds as a time of day,
// "hh:mm:ss.zzz", to the nearest millisecond, hours modulo 24. Empty when FrameRate is 0.
#pragma once

#include <cstdint>
#include <string>

std::string FormatSegmentDuration(int32_t frameCount, uint8_t frameRate);

// A segment's length in milliseconds, FrameCount × 1000 / FrameRate to the nearest
// millisecond, half to even as the listing rounds; 0 when FrameRate is 0 or FrameCount is not
// positive. Film totals add these up.
int64_t SegmentMillis(int32_t frameCount, uint8_t frameRate);

// A length of time as "hh:mm:ss.zzz", hours not wrapped (a film's total).
std::string FormatFilmDuration(int64_t millis);
