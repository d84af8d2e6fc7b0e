// The film's clock: where each frame lies in the time of the whole film, and back.
//
// A segment lasts SegmentMillis(FrameCount, FrameRate), as listings show it, and the film's
// segments follow one another. Frame k of a segment starts SegmentMillis(k, FrameRate) after
// the segment's start, so the clock and the listed durations round alike. A segment without a
// frame rate lasts no time: its frames all lie at its start.
#pragma once

#include <compare>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "film/FilmFile.h"

// A frame of the film: a segment (from 0) and a frame of it (from 0).
struct TFramePos {
  int32_t Segment = 0;
  int32_t Frame = 0;
  friend bool operator==(const TFramePos&, const TFramePos&) = default;
  // Film order: by segment, then by frame.
  friend auto operator<=>(const TFramePos&, const TFramePos&) = default;
};

using TSegments = std::vector<std::unique_ptr<Segment>>;

// The length of the film: the listed durations added up.
int64_t FilmMillis(const TSegments& segments);
// When the segment starts, in milliseconds from the film's start.
int64_t SegmentStart(const TSegments& segments, int32_t segment);
// When a frame starts. Frames outside the film give the nearest end of its segment.
int64_t FrameTime(const TSegments& segments, TFramePos pos);
// The frame on screen at `millis`: the last frame that starts at or before it. Before the
// film, its first frame; at or after its end, its last frame. Nothing for a film without
// frames. Segments without frames are passed over.
std::optional<TFramePos> FrameAtTime(const TSegments& segments, int64_t millis);
// The first and last frames of the film (segments without frames passed over).
std::optional<TFramePos> FirstFrame(const TSegments& segments);
std::optional<TFramePos> LastFrame(const TSegments& segments);
// The frames next to `pos` in film order (segments without frames passed over); nothing at
// the film's ends or for a frame that is not in it.
std::optional<TFramePos> FrameAfter(const TSegments& segments, TFramePos pos);
std::optional<TFramePos> FrameBefore(const TSegments& segments, TFramePos pos);
// Frame `index` of the film counted over all its segments from 0, as the progress counts.
std::optional<TFramePos> FrameOfFilm(const TSegments& segments, int64_t index);

// A time as people type it: seconds ("83", "83.5") or h:mm:ss with optional hours and a
// fraction of up to three digits ("1:23", "0:01:23.250"). Minutes and seconds after a colon
// take two digits below 60. False for anything else, negative times and times beyond 100,000
// hours included.
bool ParseFilmTime(std::string_view text, int64_t& millis);
// A time on the clock display: "h:mm:ss" (whole seconds, rounded down).
std::string FormatClock(int64_t millis);
