#include "cli/ZrFilmCommand.h"

#include "film/SegmentDuration.h"

// Lists the film from what the loader read: no playback is needed for that.
int TTool::Info(const std::string& film) {
  TToolUi ui(Program, Err, film);
  std::vector<std::unique_ptr<Segment>> segments;
  if (!Load(film, ui, segments)) return kFailed;
  int64_t frames = 0, millis = 0;
  for (size_t i = 0; i < segments.size(); ++i) {
    const Segment& s = *segments[i];
    const std::string duration = FormatSegmentDuration(s.FrameCount, s.FrameRate);
    Out << (i + 1) << "\t" << Printable(s.Name) << "\t" << (duration.empty() ? "-" : duration)
        << "\t" << s.Width << "x" << s.Height << "\t" << int(s.BitsPerPixel) << " bits\t"
        << Count(s.FrameCount, "frame", "frames") << "\t" << int(s.FrameRate) << " fps\t"
        << Count(s.CursorList->Count(), "cursor shape", "cursor shapes") << "\n";
    frames += s.FrameCount;
    millis += SegmentMillis(s.FrameCount, s.FrameRate);
  }
  Out << "total\t" << Count(int64_t(segments.size()), "segment", "segments") << "\t" << FormatFilmDuration(millis)
      << "\t" << Count(frames, "frame", "frames") << "\n";
  return ui.Damaged() ? kFailed : kOk;
}
