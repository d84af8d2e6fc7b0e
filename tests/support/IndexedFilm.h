// A film whose index is known: made by the writer, with the index its pass must find written
// out by hand. Two segments at one frame a second, so frame k of a segment lies k seconds
// after its start:
//   "Почта" (30 frames, 16 × 10): a word typed (frames 1-4, a pixel each), still from 5 s to
//     15 s, a new screen at 15 s ("Часть 2"), typing again (16-19), still from 20 s to its end;
//   "Отчёт" (10 frames): a new screen, still for 3 s (too short to count), then a pixel a frame.
#pragma once

#include <cstdint>
#include <vector>

#include "filmwriter/FilmWriter.h"
#include "index/FilmIndex.h"

struct TIndexedFilm {
  static constexpr int32_t kWidth = 16, kHeight = 10;
  // The background of each screen: the first and second of "Почта", then "Отчёт".
  static constexpr uint32_t kScreens[3] = {0x00305070u, 0x00C08020u, 0x00207040u};
  // The preview of each chapter, 160 × 100: one colour each, other than the screens', so that a
  // test tells them from a picture a seek has made.
  static constexpr uint32_t kPreviewColours[3] = {0x00111111u, 0x00222222u, 0x00333333u};

  std::vector<TWriterSegment> Source;
  TFilmIndex Index;

  TIndexedFilm() {
    auto segment = [](const char* name, int frames) {
      TWriterSegment s;
      s.Name = name;
      s.Width = kWidth, s.Height = kHeight, s.FrameRate = 1;
      s.Pictures.resize(size_t(frames));
      return s;
    };
    // Each frame's picture, and what it changed against the one before.
    std::vector<uint32_t> picture;
    auto frame = [&](TWriterSegment& s, TSegmentActivity& a, uint32_t changed, uint8_t flags = 0) {
      s.Pictures[a.Frames.size()] = picture;
      TFrameActivity activity;
      activity.Changed = changed;
      if (changed) activity.Left = 0, activity.Top = 0, activity.Right = kWidth, activity.Bottom = kHeight;
      activity.Flags = flags;
      a.Frames.push_back(activity);
    };
    auto screen = [&](int which) { picture.assign(size_t(kWidth) * kHeight, kScreens[which]); };
    auto typeAt = [&](int k) { picture[size_t(k)] = 0x00FFFFFFu; };

    TWriterSegment mail = segment("Почта", 30), report = segment("Отчёт", 10);
    TSegmentActivity a{kWidth, kHeight, 0, {}}, b{kWidth, kHeight, 30000, {}};
    screen(0);
    frame(mail, a, kWidth * kHeight);
    for (int k = 1; k <= 4; ++k) typeAt(k), frame(mail, a, 1);
    for (int k = 5; k <= 14; ++k) frame(mail, a, 0);
    screen(1);
    frame(mail, a, kWidth * kHeight, TFrameActivity::kSceneChange);
    for (int k = 16; k <= 19; ++k) typeAt(k), frame(mail, a, 1);
    for (int k = 20; k <= 29; ++k) frame(mail, a, 0);
    screen(2);
    frame(report, b, kWidth * kHeight);
    for (int k = 1; k <= 3; ++k) frame(report, b, 0);
    for (int k = 4; k <= 9; ++k) typeAt(k), frame(report, b, 1);
    Source = {mail, report};

    Index.DurationMs = 40000;
    Index.Segments = {a, b};
    Index.Chapters = {{0, {0, 0}, "Почта", false}, {15000, {0, 15}, "Часть 2", true}, {30000, {1, 0}, "Отчёт", false}};
    Index.Idle = {{5000, 15000, {0, 5}}, {20000, 30000, {0, 20}}};
    const TFramePos previews[3] = {{0, 0}, {0, 15}, {1, 0}};
    for (int i = 0; i < 3; ++i) {
      const int64_t ms = i == 2 ? 30000 : previews[i].Frame * 1000;
      Index.Previews.push_back({ms, previews[i], 160, 100, std::vector<uint32_t>(160 * 100, kPreviewColours[i])});
    }
    Index.Complete = true;
  }
};
