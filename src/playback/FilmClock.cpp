#include "playback/FilmClock.h"

#include <algorithm>
#include <cstdio>

#include "film/SegmentDuration.h"

namespace {

int64_t SegmentLength(const Segment& segment) {
  return SegmentMillis(segment.FrameCount, segment.FrameRate);
}

bool HasFrames(const Segment& segment) { return segment.FrameCount > 0; }

}  // namespace

int64_t FilmMillis(const TSegments& segments) {
  int64_t total = 0;
  for (const auto& segment : segments) total += SegmentLength(*segment);
  return total;
}

int64_t SegmentStart(const TSegments& segments, int32_t segment) {
  int64_t start = 0;
  const size_t before = std::min(size_t(std::max(segment, 0)), segments.size());
  for (size_t i = 0; i < before; ++i) start += SegmentLength(*segments[i]);
  return start;
}

int64_t FrameTime(const TSegments& segments, TFramePos pos) {
  const int64_t start = SegmentStart(segments, pos.Segment);
  if (pos.Segment < 0 || size_t(pos.Segment) >= segments.size()) return start;
  const Segment& segment = *segments[size_t(pos.Segment)];
  const int32_t frame = std::clamp(pos.Frame, 0, std::max(segment.FrameCount, 0));
  return start + SegmentMillis(frame, segment.FrameRate);
}

std::optional<TFramePos> FirstFrame(const TSegments& segments) {
  for (size_t i = 0; i < segments.size(); ++i)
    if (HasFrames(*segments[i])) return TFramePos{int32_t(i), 0};
  return std::nullopt;
}

std::optional<TFramePos> LastFrame(const TSegments& segments) {
  for (size_t i = segments.size(); i-- > 0;)
    if (HasFrames(*segments[i])) return TFramePos{int32_t(i), segments[i]->FrameCount - 1};
  return std::nullopt;
}

std::optional<TFramePos> FrameAfter(const TSegments& segments, TFramePos pos) {
  if (pos.Segment < 0 || size_t(pos.Segment) >= segments.size()) return std::nullopt;
  if (pos.Frame + 1 < segments[size_t(pos.Segment)]->FrameCount) return TFramePos{pos.Segment, pos.Frame + 1};
  for (size_t i = size_t(pos.Segment) + 1; i < segments.size(); ++i)
    if (HasFrames(*segments[i])) return TFramePos{int32_t(i), 0};
  return std::nullopt;
}

std::optional<TFramePos> FrameBefore(const TSegments& segments, TFramePos pos) {
  if (pos.Segment < 0 || size_t(pos.Segment) >= segments.size()) return std::nullopt;
  if (pos.Frame > 0) return TFramePos{pos.Segment, pos.Frame - 1};
  for (int32_t i = pos.Segment - 1; i >= 0; --i)
    if (HasFrames(*segments[size_t(i)])) return TFramePos{i, segments[size_t(i)]->FrameCount - 1};
  return std::nullopt;
}

std::optional<TFramePos> FrameOfFilm(const TSegments& segments, int64_t index) {
  if (index < 0) return std::nullopt;
  for (size_t i = 0; i < segments.size(); ++i) {
    const int32_t count = std::max(segments[i]->FrameCount, 0);
    if (index < count) return TFramePos{int32_t(i), int32_t(index)};
    index -= count;
  }
  return std::nullopt;
}

std::optional<TFramePos> FrameAtTime(const TSegments& segments, int64_t millis) {
  if (millis < 0) return FirstFrame(segments);
  int64_t start = 0;
  for (size_t i = 0; i < segments.size(); ++i) {
    const Segment& segment = *segments[i];
    const int64_t length = SegmentLength(segment);
    // A segment that lasts no time holds no instant of the film.
    if (HasFrames(segment) && length > 0 && millis < start + length) {
      const int64_t offset = millis - start;
      // The estimate is within one frame of the answer; the rounding of SegmentMillis decides.
      int64_t frame = std::min<int64_t>(offset * segment.FrameRate / 1000, segment.FrameCount - 1);
      while (frame + 1 < segment.FrameCount &&
             SegmentMillis(int32_t(frame + 1), segment.FrameRate) <= offset)
        ++frame;
      while (frame > 0 && SegmentMillis(int32_t(frame), segment.FrameRate) > offset) --frame;
      return TFramePos{int32_t(i), int32_t(frame)};
    }
    start += length;
  }
  return LastFrame(segments);
}

namespace {

// Reads 1 or more digits at `at` into `value` (at most `maxDigits`).
bool ReadNumber(std::string_view text, size_t& at, int64_t& value, size_t maxDigits) {
  const size_t first = at;
  value = 0;
  while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
    if (at - first == maxDigits) return false;
    value = value * 10 + (text[at] - '0');
    ++at;
  }
  return at > first;
}

}  // namespace

bool ParseFilmTime(std::string_view text, int64_t& millis) {
  constexpr int64_t kMaxHours = 100000;
  // Up to three parts split by colons; the last may carry a fraction.
  int64_t parts[3] = {};
  size_t digits[3] = {};
  int count = 0;
  size_t at = 0;
  while (true) {
    if (count == 3) return false;
    const size_t first = at;
    if (!ReadNumber(text, at, parts[count], 10)) return false;
    digits[count] = at - first;
    ++count;
    if (at == text.size() || text[at] != ':') break;
    ++at;
  }
  int64_t fraction = 0;
  if (at < text.size() && text[at] == '.') {
    ++at;
    const size_t first = at;
    if (!ReadNumber(text, at, fraction, 3)) return false;
    for (size_t n = at - first; n < 3; ++n) fraction *= 10;
  }
  if (at != text.size()) return false;
  // After a colon, minutes and seconds are two digits below 60.
  for (int i = 1; i < count; ++i)
    if (digits[i] != 2 || parts[i] >= 60) return false;
  int64_t seconds = 0;
  for (int i = 0; i < count; ++i) seconds = seconds * 60 + parts[i];
  if (seconds >= kMaxHours * 3600) return false;
  millis = seconds * 1000 + fraction;
  return true;
}

std::string FormatClock(int64_t millis) {
  const int64_t seconds = std::max<int64_t>(millis, 0) / 1000;
  char text[32];
  std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
  return text;
}
