// A segment's duration as listings show it: FrameCount / FrameRate seconds as a time of day,
// "hh:mm:ss.zzz", to the nearest millisecond, hours modulo 24. Empty when FrameRate is 0.
#pragma once

#include <cstdint>
#include <string>

std::string FormatSegmentDuration(int32_t frameCount, uint8_t frameRate);
