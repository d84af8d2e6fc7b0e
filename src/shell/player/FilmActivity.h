// What the seek bar shows of the film's index: how busy each frame's screen was, where the
// chapters start and where the screen stood still, each counted in frames of the film (over all
// segments, from 0) as the bar's scale counts; and which of the index's previews shows a moment.
#pragma once

#include <cstdint>
#include <vector>

#include "index/FilmIndex.h"
#include "playback/FilmClock.h"

struct TSeekBarMarks {
  struct TTick {
    int64_t Frame = 0;
    bool Automatic = false;  // a chapter inside a segment; else a segment's start
    friend bool operator==(const TTick&, const TTick&) = default;
  };
  struct TSpan {
    int64_t First = 0, End = 0;  // end exclusive
    friend bool operator==(const TSpan&, const TSpan&) = default;
  };
  // Per frame of the film, 0 (nothing changed) to 255 (the whole picture); empty without an
  // index. A segment the index does not cover (another film's, or not reached yet) reads 0.
  std::vector<uint8_t> Heat;
  std::vector<TTick> Ticks;  // film order
  std::vector<TSpan> Idle;   // film order
  bool Empty() const { return Heat.empty() && Ticks.empty() && Idle.empty(); }
};

// How busy a frame looks: the share of the picture it changed on a logarithmic scale (a
// single word typed shows, a whole new screen is the top), a moving cursor a little.
uint8_t ActivityLevel(const TFrameActivity& frame, int64_t picturePixels);

// The frame of the film (counted over all segments, from 0) that `pos` is; -1 outside the film.
int64_t FilmFrameIndex(const TSegments& segments, TFramePos pos);

// The bar's marks for the film's segments from its index: its chapters as ticks (`chapters`,
// FilmChapters), the heat and the idle stretches.
TSeekBarMarks SeekBarMarks(const TSegments& segments, const TFilmIndex& index, const std::vector<TChapter>& chapters);

// The index's preview that shows frame `at`: the last one at or before it in its segment, with
// no chapter starting after it up to the frame, and at most kPreviewReachMs before it. Nothing
// when none does (a seek makes one then).
inline constexpr int64_t kPreviewReachMs = 10000;
const TPreview* PreviewShowing(const TFilmIndex& index, const TSegments& segments,
                               const std::vector<TChapter>& chapters, TFramePos at);
