// Films for the index tests: one whose idle stretches and scene changes are known (the
// writer's activity films), films whose frame records stop short of the frame, and what
// playing a film shows changing from picture to picture, counted by comparing the pictures.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "filmwriter/ActivityFilm.h"
#include "index/FilmIndex.h"
#include "playback/HeadlessHost.h"
#include "TestFilm.h"

// Two segments: 60 s at 10 fps and 20.2 s at 5 fps. Its moments, film time:
//   idle 5.0-15.0 s, 39.0-60.0 s, 60.2-70.0 s, 70.2-76.0 s; nowhere else (a cursor moving
//   alone at 20-28 s, a caret blinking at 2 Hz at 28-38 s, still stretches under 5 s);
//   scene changes at frames 0, 150, 160 and 389 (the settling of ten 5 % stripes after the
//   caret) of segment 1, frames 0 and 80 of segment 2;
//   chapters "Первый" 0, "Часть 2" 15.0 s, "Часть 3" 38.9 s, "Второй" 60.0 s, "Часть 2" 76.0 s
//   (frame 160 lies within 10 s of frame 150).
inline std::vector<TWriterSegment> KnownActivitySegments() {
  using A = TScreenAction;
  return {MakeActivitySegment({"Первый", 10,
                               {{1, A::Scene}, {49, A::Small}, {100, A::Still}, {10, A::Scene}, {1, A::Scene},
                                {39, A::Still}, {80, A::CursorAlone}, {100, A::Caret}, {10, A::Stripe},
                                {210, A::Still}}}),
          MakeActivitySegment({"Второй", 5,
                               {{1, A::Scene}, {49, A::Still}, {1, A::Shape}, {29, A::Still}, {1, A::Scene},
                                {20, A::Still}}})};
}

// A segment of 8 × 4 whose frame records are given as runs, each record as many runs as it
// has: records that stop before the frame's end leave the rest of the frame image to be
// combined with the picture again.
inline std::vector<uint8_t> ShortRecordsFilm(const std::vector<std::vector<TWriterRun>>& frames, uint8_t bits = 32) {
  TWriterSegment source = NewSegment("short", 8, 4, bits);
  source.Pictures.assign(frames.size(), std::vector<uint32_t>(32, 0));
  source.Shapes = {SquareCursor()};
  source.Track.assign(frames.size(), TWriterCursorRec{0, 1, 1});
  TRawSegment raw = EncodeSegment(source);
  raw.FrameData.clear();
  for (const auto& runs : frames) {
    const std::vector<uint8_t> record = EncodeFrameRecord(runs, bits);
    raw.FrameData.insert(raw.FrameData.end(), record.begin(), record.end());
  }
  raw.FrameDataSize = int32_t(raw.FrameData.size());
  return WriteFilmRaw(std::vector<TRawSegment>{raw});
}

// What each frame changed in the picture the core composes without the cursor, found by
// comparing every picture with the one before (a segment's first with a cleared picture at
// 24 and 32 bits; at 8 bits, where the first picture is not cleared, it is left out as
// Changed = UINT32_MAX).
inline std::vector<std::vector<TFrameActivity>> PictureChanges(const TSegments& segments) {
  THeadlessHost host;
  TPlaybackCore core(host);
  host.Core = &core;
  core.SetCursorShown(false);
  core.TakeFilm(ShareSegments(segments));
  core.AllocFrameBuffer(TPlaybackCore::kFrameBufferSize);
  std::vector<std::vector<TFrameActivity>> changes(segments.size());
  std::vector<uint8_t> before;
  host.OnComposed = [&] {
    const TFramePos pos = *core.ComposedFrame();
    const TRasterBitmap& p = *core.Picture();
    const int bytes = p.BitsPerPixel() / 8;
    TFrameActivity a;
    if (pos.Frame == 0) before.assign(p.SizeBytes(), 0);
    if (pos.Frame == 0 && bytes == 1) a.Changed = UINT32_MAX;
    int32_t left = p.Width(), top = p.Height(), right = -1, bottom = -1;
    for (int32_t y = 0; y < p.Height() && a.Changed != UINT32_MAX; ++y)
      for (int32_t x = 0; x < p.Width(); ++x) {
        const size_t at = size_t(y) * size_t(p.Stride()) + size_t(x) * size_t(bytes);
        if (std::memcmp(p.Bits() + at, before.data() + at, size_t(bytes)) == 0) continue;
        ++a.Changed;
        left = std::min(left, x), top = std::min(top, y), right = std::max(right, x), bottom = std::max(bottom, y);
      }
    if (a.Changed && a.Changed != UINT32_MAX)
      a.Left = uint16_t(left), a.Top = uint16_t(top), a.Right = uint16_t(right + 1), a.Bottom = uint16_t(bottom + 1);
    changes[size_t(pos.Segment)].push_back(a);
    before.assign(p.Bits(), p.Bits() + p.SizeBytes());
  };
  core.SetCurSegment();
  while (!host.Stopped) core.TimerPlayTimer();
  return changes;
}
