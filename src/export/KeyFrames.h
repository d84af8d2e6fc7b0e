// Where an export's key frames fall: on the first picture, at the start of every chapter, and
// wherever the last key frame lies the key interval behind, all in milliseconds of film time.
// Encoders count their own interval in pictures, which says nothing of time once unchanged
// frames are merged: a calm stretch would have none for minutes, and a chapter would start
// wherever the count left it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "export/ExportPlan.h"

class TKeyFrames {
 public:
  // `interval` 0: no key frames are asked for (GIF).
  TKeyFrames(int64_t interval, const std::vector<TExportChapter>& chapters) : FInterval(interval) {
    for (const TExportChapter& c : chapters) FStarts.push_back(c.Start);
  }

  // Whether the picture shown from `at` is a key frame; the pictures come in time order.
  bool Take(int64_t at) {
    if (FInterval <= 0) return false;
    while (FChapter < FStarts.size() && FStarts[FChapter] < at) ++FChapter;
    const bool due = !FAny || at >= FLast + FInterval || (FChapter < FStarts.size() && FStarts[FChapter] == at);
    if (due) FLast = at, FAny = true;
    return due;
  }

  // The first moment after `at`, a picture's time just taken, at which a key frame is due: a
  // picture showing then is shown again from it. INT64_MAX when none is.
  int64_t Next(int64_t at) const {
    if (FInterval <= 0) return INT64_MAX;
    int64_t next = FLast + FInterval;  // after `at`: Take(at) came first
    const auto chapter = std::upper_bound(FStarts.begin() + std::ptrdiff_t(FChapter), FStarts.end(), at);
    if (chapter != FStarts.end()) next = std::min(next, *chapter);
    return next;
  }

 private:
  int64_t FInterval;
  std::vector<int64_t> FStarts;  // the chapters' starts, in order
  size_t FChapter = 0;           // the first chapter not yet passed
  int64_t FLast = 0;             // the last key frame's time
  bool FAny = false;             // whether there was one
};
