// Moving by what the film's index found: its chapters (each segment's start and the automatic
// ones inside segments) and its idle stretches, which playing may jump over. Frames are
// compared in film order, so segments that last no time on the clock are passed in order too.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "index/FilmIndex.h"
#include "playback/FilmClock.h"

// A step back to the previous chapter goes to the start of the chapter on screen instead when
// it has been on screen longer than this.
inline constexpr int64_t kChapterRestartMs = 2000;
// Playing with idle skipped keeps this much of a long enough idle stretch, then jumps to its end.
inline constexpr int64_t kIdleKeptMs = 1000;
inline constexpr int64_t kIdleSkippedOverMs = 2000;  // stretches this long or shorter are played

// The film's chapters in film order: every segment with frames starts one (titled with its
// name), and the index adds its automatic ones (none without an index). A chapter of the index
// that names no frame of these segments (an index of another film) is left out.
std::vector<TChapter> FilmChapters(const TSegments& segments, const TFilmIndex* index);

// The frame a step to the next (`direction` > 0) or previous chapter shows, from frame `from`:
// the next chapter's start; back, the start of the chapter `from` lies in when it started more
// than kChapterRestartMs before, else the start of the one before it (the first chapter's start
// at the film's start). Nothing past the last chapter, or without chapters.
std::optional<TFramePos> ChapterStep(const std::vector<TChapter>& chapters, const TSegments& segments, TFramePos from,
                                     int direction);

// The chapter that frame `at` lies in; nothing before the first.
const TChapter* ChapterAt(const std::vector<TChapter>& chapters, TFramePos at);

struct TIdleSkip {
  TFramePos Target;   // the first frame after the stretch
  int64_t SkippedMs;  // the film time jumped over
};
// Playing with idle skipped, at frame `shown`: when it lies in an idle stretch longer than
// kIdleSkippedOverMs and kIdleKeptMs of it have been played, the jump to the stretch's end;
// otherwise nothing.
std::optional<TIdleSkip> IdleSkipAt(const TFilmIndex& index, const TSegments& segments, TFramePos shown);

// "Пропущено 0:42": the notice of a jump over idle time (m:ss, h:mm:ss from an hour on).
std::string IdleSkipNotice(int64_t skippedMs);
