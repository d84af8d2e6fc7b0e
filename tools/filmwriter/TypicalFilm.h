// A typical screen recording, for measuring export: a person working at a desktop, made in
// seconds and the same on every run.
//
// The screen holds a wallpaper with a slight grain, a task bar whose clock shows the seconds
// and an editor window. Within each minute anti-aliased text is typed into the editor (a
// glyph or two a frame, with pauses), the text scrolls now and then, a menu is opened and
// walked, a dialog opens, is dragged about and closed, and idle stretches change nothing but
// the clock once a second. The mouse cursor, a mask shape (an arrow, or an I-beam over the
// text), moves in some stretches and rests in others. The pattern of a minute repeats with
// seeded variation. Each minute of the film is a segment named "Минута N"; its first frame
// carries the whole picture, the others the changes only.
#pragma once

#include <cstdint>
#include <vector>

#include "filmwriter/FilmWriter.h"

struct TTypicalFilmPlan {
  int32_t Minutes = 10;
  int32_t Width = 1024;  // 320 or more
  int32_t Height = 768;  // 240 or more
  uint8_t BitsPerPixel = 32;  // 24 or 32
  uint8_t FrameRate = 10;
  uint32_t Seed = 1;
};

// What a made film holds, for reports.
struct TTypicalFilmStats {
  int64_t Frames = 0;
  // Frames that change no pixel of the recorded picture (a segment's first frame, which
  // carries the whole picture, is never counted).
  int64_t StillFrames = 0;
  int64_t QuietFrames = 0;      // still frames where the cursor stays as it was, too
  uint64_t ChangedPixels = 0;   // over all frames but the first of each segment
};

// The segments of such a film, as raw sections. Throws std::invalid_argument for a plan out
// of range, and std::runtime_error when a minute's frame data would not fit a segment
// (48 MiB; only for very large pictures).
std::vector<TRawSegment> MakeTypicalFilmSegments(const TTypicalFilmPlan& plan,
                                                 TTypicalFilmStats* stats = nullptr);
