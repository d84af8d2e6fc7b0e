#include "shell/player/FilmActivity.h"

#include <algorithm>
#include <cmath>

#include "shell/player/FilmChapters.h"

uint8_t ActivityLevel(const TFrameActivity& frame, int64_t picturePixels) {
  // Any change at all stands out from a still screen; the rest of the scale is logarithmic, so
  // that a caret blinking and a window opening both show and differ.
  constexpr double kLeast = 40, kSpan = 255 - kLeast;
  constexpr uint8_t kCursorOnly = 20;
  if (frame.Changed == 0 || picturePixels <= 0) return frame.Flags & TFrameActivity::kCursorMoved ? kCursorOnly : 0;
  const double share = std::min(1.0, double(frame.Changed) / double(picturePixels));
  return uint8_t(std::lround(kLeast + kSpan * std::log10(1 + 999 * share) / 3));
}

int64_t FilmFrameIndex(const TSegments& segments, TFramePos pos) {
  if (pos.Segment < 0 || size_t(pos.Segment) >= segments.size() || pos.Frame < 0 ||
      pos.Frame >= segments[size_t(pos.Segment)]->FrameCount)
    return -1;
  int64_t index = pos.Frame;
  for (int32_t i = 0; i < pos.Segment; ++i) index += std::max(segments[size_t(i)]->FrameCount, 0);
  return index;
}

TSeekBarMarks SeekBarMarks(const TSegments& segments, const TFilmIndex& index, const std::vector<TChapter>& chapters) {
  TSeekBarMarks marks;
  const int64_t total = TotalFrames(segments);
  marks.Heat.assign(size_t(std::max<int64_t>(total, 0)), 0);
  int64_t first = 0;
  for (size_t i = 0; i < segments.size(); ++i) {
    const int64_t count = std::max(segments[i]->FrameCount, 0);
    if (i < index.Segments.size()) {
      const TSegmentActivity& activity = index.Segments[i];
      const int64_t pixels = int64_t(activity.Width) * activity.Height;
      const int64_t known = std::min<int64_t>(count, int64_t(activity.Frames.size()));
      for (int64_t k = 0; k < known; ++k) marks.Heat[size_t(first + k)] = ActivityLevel(activity.Frames[size_t(k)], pixels);
    }
    first += count;
  }
  for (const TChapter& chapter : chapters) {
    const int64_t frame = FilmFrameIndex(segments, chapter.Pos);
    if (frame >= 0) marks.Ticks.push_back({frame, chapter.Automatic});
  }
  const int64_t filmMillis = FilmMillis(segments);
  for (const TIdleStretch& stretch : index.Idle) {
    const int64_t from = FilmFrameIndex(segments, stretch.First);
    const std::optional<TFramePos> end = FrameAtTime(segments, stretch.EndMs);
    const int64_t to = stretch.EndMs >= filmMillis || !end ? total : FilmFrameIndex(segments, *end);
    if (from >= 0 && to > from) marks.Idle.push_back({from, to});
  }
  return marks;
}

const TPreview* PreviewShowing(const TFilmIndex& index, const TSegments& segments,
                               const std::vector<TChapter>& chapters, TFramePos at) {
  const auto after = std::upper_bound(index.Previews.begin(), index.Previews.end(), at,
                                      [](TFramePos p, const TPreview& preview) { return p < preview.Pos; });
  if (after == index.Previews.begin()) return nullptr;
  const TPreview& preview = *std::prev(after);
  const TChapter* chapter = ChapterAt(chapters, at);
  const bool whole = preview.Width > 0 && preview.Height > 0 &&
                     preview.Pixels.size() == size_t(preview.Width) * size_t(preview.Height);
  if (!whole || preview.Pos.Segment != at.Segment || (chapter && preview.Pos < chapter->Pos) ||
      FrameTime(segments, at) - FrameTime(segments, preview.Pos) > kPreviewReachMs)
    return nullptr;
  return &preview;
}
