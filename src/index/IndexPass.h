// The index pass: plays a film once from its start, on a playback core of its own over copies
// of its segments (the cursor shown, on a 32-bit screen, as the player plays it), and fills a
// TFilmIndex.
//
// What a frame changed is read from its runs: a frame is an exclusive-or delta, so a run whose
// value is not 0 changes its pixels. A frame whose runs stop before the frame's end also
// combines the rest of the frame image, as the frames before it left it, with the picture;
// those pixels count too.
//
// A still frame changes no pixel, moves no cursor, changes no cursor shape and (8 bits per
// pixel) changes no palette entry. An idle stretch is a run of still frames of one segment that
// lasts at least the idle threshold: from the start of its first frame to the start of the
// next frame that is not still, or to the segment's end.
//
// Scene changes, where automatic chapters may begin:
// - a frame that changes at least 30 % of the picture's pixels;
// - the settling of a burst. A burst is a run of frames with changed pixels in which no two
//   changes lie 1 s of film time or more apart (frames between them may be still); it starts
//   anew after a frame of the first kind. It settles when 1 s passes without a changed pixel,
//   or its segment ends. A burst whose frames together changed at least 30 % of the picture's
//   pixels (each pixel counted once) is a scene change at its last changed frame, the first
//   frame of the picture that then stays.
// A scene change becomes a chapter ("Часть 2", "Часть 3", ... counted per segment) when it
// lies at least 10 s after the chapter before it in its segment, the segment's start included.
//
// Previews, 160 pixels wide, each a box-filtered copy of the composed picture: one at every
// chapter and one every few seconds (5 s, widened on long films so that all of them fit in
// 8 MiB; when they would take more, every other periodic one is dropped and the interval
// doubled, and a chapter's preview takes the place of the latest periodic ones).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "index/FilmIndex.h"
#include "playback/FilmClock.h"
#include "playback/UzrPlayback.h"

inline constexpr int64_t kDefaultIdleMs = 5000;
inline constexpr int64_t kSceneSettleMs = 1000;
inline constexpr int kScenePercent = 30;
inline constexpr int64_t kChapterGapMs = 10000;
// The per-frame table holds at most this many frames by default (64 MiB; 38 hours at 30
// frames a second); a film of more, such as one declaring billions of frames without a frame
// rate, is indexed up to there and the index marked incomplete.
inline constexpr int64_t kMaxIndexFrames = int64_t{1} << 22;

struct TIndexOptions {
  int64_t IdleMs = kDefaultIdleMs;  // the shortest idle stretch
  int32_t PreviewWidth = 160;
  int64_t PreviewEveryMs = 5000;  // the least interval of periodic previews
  size_t PreviewBudget = size_t{8} << 20;
  int64_t MaxFrames = kMaxIndexFrames;
  // The checkpoints of every segment, for the player's core, so that its first seek into a
  // segment it never played is as fast as later ones: with Checkpoints given, the pass's core
  // starts from the player's FilmPalette (TPlaybackCore::FilmPalette(), copied on the player's
  // thread), shares the checkpoint budget among the segments, and hands each segment's
  // checkpoints to Checkpoints (on the pass's thread) once it has played the segment through.
  // The player's thread adopts them (TPlaybackCore::AdoptCheckpoints).
  TColorTable FilmPalette{};
  std::function<void(THandedCheckpoints&& checkpoints)> Checkpoints;
  // Called, on the pass's thread, with the pass's core: before it plays, and after each
  // segment it has played through, before the next one starts.
  std::function<void(TPlaybackCore& core)> BeforePlaying;
  std::function<void(TPlaybackCore& core, int32_t segment)> SegmentPlayed;
};

// Frames played so far and the film's frames.
using TIndexProgress = std::function<void(int64_t done, int64_t total)>;

// Indexes `segments` (only read; the pass plays copies). `cancel`, checked every frame, ends
// the pass early; `progress` hears of it every 256 frames and at the end. Complete is true
// when every segment was played through. A segment that cannot be played, or whose frames go
// on for hundreds past its frame data (each frame has a record of its own), ends the pass
// with what it has, and `failure` (when given) says why; cancelling leaves it empty.
TFilmIndex IndexFilm(const TSegments& segments, const TIndexOptions& options = {},
                     const std::atomic<bool>* cancel = nullptr, const TIndexProgress& progress = {},
                     std::string* failure = nullptr);

// A copy of `picture` (any depth the core composes: 32-bit words, or 8-bit indices through its
// colour table) `width` pixels wide, each pixel the mean of the source pixels under it.
class TRasterBitmap;
TPreview ScalePreview(const TRasterBitmap& picture, int32_t width);
