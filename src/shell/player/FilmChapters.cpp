#include "shell/player/FilmChapters.h"

#include <algorithm>

namespace {

bool InFilm(const TSegments& segments, TFramePos pos) {
  return pos.Segment >= 0 && size_t(pos.Segment) < segments.size() && pos.Frame >= 0 &&
         pos.Frame < segments[size_t(pos.Segment)]->FrameCount;
}

}  // namespace

std::vector<TChapter> FilmChapters(const TSegments& segments, const TFilmIndex* index) {
  std::vector<TChapter> chapters;
  for (size_t i = 0; i < segments.size(); ++i) {
    if (segments[i]->FrameCount <= 0) continue;
    const TFramePos start{int32_t(i), 0};
    chapters.push_back({FrameTime(segments, start), start, segments[i]->Name, false});
  }
  if (index) {
    for (const TChapter& chapter : index->Chapters) {
      if (!chapter.Automatic || !InFilm(segments, chapter.Pos)) continue;
      TChapter automatic = chapter;
      automatic.StartMs = FrameTime(segments, chapter.Pos);
      chapters.push_back(std::move(automatic));
    }
  }
  // A segment's start is its own chapter, whatever the index found there.
  std::stable_sort(chapters.begin(), chapters.end(), [](const TChapter& a, const TChapter& b) { return a.Pos < b.Pos; });
  chapters.erase(std::unique(chapters.begin(), chapters.end(),
                             [](const TChapter& a, const TChapter& b) { return a.Pos == b.Pos; }),
                 chapters.end());
  return chapters;
}

const TChapter* ChapterAt(const std::vector<TChapter>& chapters, TFramePos at) {
  const auto after =
      std::upper_bound(chapters.begin(), chapters.end(), at, [](TFramePos p, const TChapter& c) { return p < c.Pos; });
  return after == chapters.begin() ? nullptr : &*std::prev(after);
}

std::optional<TFramePos> ChapterStep(const std::vector<TChapter>& chapters, const TSegments& segments, TFramePos from,
                                     int direction) {
  if (chapters.empty()) return std::nullopt;
  const auto after =
      std::upper_bound(chapters.begin(), chapters.end(), from, [](TFramePos p, const TChapter& c) { return p < c.Pos; });
  if (direction > 0) return after == chapters.end() ? std::nullopt : std::optional<TFramePos>(after->Pos);
  if (after == chapters.begin()) return chapters.front().Pos;
  const auto current = std::prev(after);
  if (FrameTime(segments, from) - FrameTime(segments, current->Pos) > kChapterRestartMs) return current->Pos;
  return current == chapters.begin() ? current->Pos : std::prev(current)->Pos;
}

std::optional<TIdleSkip> IdleSkipAt(const TFilmIndex& index, const TSegments& segments, TFramePos shown) {
  if (!InFilm(segments, shown)) return std::nullopt;
  const int64_t at = FrameTime(segments, shown);
  const TIdleStretch* idle = index.IdleAt(at);
  if (!idle || idle->EndMs - idle->StartMs <= kIdleSkippedOverMs || at < idle->StartMs + kIdleKeptMs)
    return std::nullopt;
  const TIdleStretch& stretch = *idle;
  // A stretch that lasts to the film's end ends on its last frame.
  const std::optional<TFramePos> target =
      stretch.EndMs >= FilmMillis(segments) ? LastFrame(segments) : FrameAtTime(segments, stretch.EndMs);
  if (!target || !(shown < *target)) return std::nullopt;
  const int64_t skipped = FrameTime(segments, *target) - at;
  if (skipped <= 0) return std::nullopt;
  return TIdleSkip{*target, skipped};
}

std::string IdleSkipNotice(int64_t skippedMs) {
  const int64_t seconds = std::max<int64_t>(skippedMs, 0) / 1000;
  const std::string clock = FormatClock(seconds * 1000);
  // FormatClock writes "h:mm:ss": below an hour the hours go.
  const std::string shown = seconds < 3600 && clock.rfind("0:", 0) == 0 ? clock.substr(2) : clock;
  // "0:42", not "00:42".
  const std::string trimmed = shown.size() == 5 && shown[0] == '0' ? shown.substr(1) : shown;
  return "Пропущено " + trimmed;
}
