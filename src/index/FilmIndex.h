// The index of a film: what every frame changed, where the screen stood still, where its
// picture changed as a whole (automatic chapters inside segments), and small previews. One
// pass plays the film once, off the playing thread, and fills it in; it is kept in the user's
// cache folder, so a film is indexed once.
//
// Times are in the film's clock (FilmClock.h): milliseconds from the film's start, as the
// seek work and the clock display count them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "playback/FilmClock.h"

// What one frame changed. 16 bytes a frame.
struct TFrameActivity {
  // Flags.
  static constexpr uint8_t kCursorMoved = 1;   // the cursor's position differs from the frame before
  static constexpr uint8_t kCursorShape = 2;   // its shape differs
  static constexpr uint8_t kSceneChange = 4;   // an automatic chapter may start at this frame

  uint32_t Changed = 0;  // picture pixels whose value the frame changed (the cursor not counted)
  // The changed pixels' bounding box, right and bottom exclusive; all 0 when Changed is 0.
  uint16_t Left = 0, Top = 0, Right = 0, Bottom = 0;
  uint8_t Flags = 0;
  uint8_t Reserved[3] = {};
};
static_assert(sizeof(TFrameActivity) == 16);

struct TSegmentActivity {
  int32_t Width = 0, Height = 0;
  int64_t StartMs = 0;
  std::vector<TFrameActivity> Frames;  // one per frame of the segment
};

// A stretch of at least the idle threshold with no picture change and no cursor movement:
// from the start of its first still frame to the start of the next change (or the end of
// the segment).
struct TIdleStretch {
  int64_t StartMs = 0;
  int64_t EndMs = 0;
  TFramePos First;  // the first frame of the stretch
};

// A chapter: each segment's start (titled with its name), and automatic ones inside segments
// where the picture changed as a whole ("Часть 2", "Часть 3", ... counted per segment).
struct TChapter {
  int64_t StartMs = 0;
  TFramePos Pos;
  std::string Title;  // UTF-8
  bool Automatic = false;
};

// A small picture of the film at a moment: 0x00RRGGBB words, Width × Height.
struct TPreview {
  int64_t TimeMs = 0;
  TFramePos Pos;
  int32_t Width = 0, Height = 0;
  std::vector<uint32_t> Pixels;
};

struct TFilmIndex {
  int64_t DurationMs = 0;
  std::vector<TSegmentActivity> Segments;  // film order
  std::vector<TChapter> Chapters;          // time order; segment starts and automatic ones
  std::vector<TIdleStretch> Idle;          // time order
  std::vector<TPreview> Previews;          // time order
  bool Complete = false;                   // every segment has been played through

  // The preview nearest before `ms` (or the first after it when none lies before); nothing
  // when there are none.
  const TPreview* PreviewAt(int64_t ms) const;
  // The idle stretch that holds `ms`; nothing when none does.
  const TIdleStretch* IdleAt(int64_t ms) const;
};
