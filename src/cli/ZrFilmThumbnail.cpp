#include "cli/ZrFilmCommand.h"

#include <algorithm>

#include "cli/PngWriter.h"
#include "cli/Thumbnail.h"

namespace {

// A picture of the film for file managers: the first frame of the first segment with frames
// that shows more than a blank screen (ContentShare), looked for from a tenth of the segment,
// or its first second when that comes sooner, over the next kThumbnailFrames frames; when
// none of them does, the one that shows most. Screen films often open on an empty desktop.
constexpr int32_t kThumbnailFrames = 100;

}  // namespace

int TTool::Thumbnail(const TZrFilmArgs& args) {
  const std::string& film = args.Film;
  TLoadReport check;
  if (!CheckFilmPath(film, check)) return Fail(film, ReportText(check));
  // Replaced unasked: a file manager names a fresh temporary file for the picture, and some
  // create it, empty, before they run the thumbnailer.
  std::string outError;
  if (!CheckPictureFile(film, args.Out, true, outError)) return Fail(args.Out, outError);

  TToolUi ui(Program, Err, film);
  TSegments segments;
  // The film up to its first segment with frames, the one shown, and no further.
  if (!Load(film, ui, segments, [](int32_t, const TSegInfo& s) { return s.FrameCount > 0; })) return kFailed;
  const std::optional<TFramePos> first = FirstFrame(segments);
  if (!first) return Fail(film, "the film has no frames: there is nothing to show");
  const Segment& segment = *segments[size_t(first->Segment)];
  const int32_t last = segment.FrameCount - 1;
  int32_t start = segment.FrameCount / 10;
  if (segment.FrameRate) start = std::min<int32_t>(start, segment.FrameRate);
  segments.resize(size_t(first->Segment) + 1);

  TToolPlayer player;
  TPlaybackCore& core = player.Core;
  if (!Start(film, core, std::move(segments))) return kFailed;
  TFramePos best{first->Segment, start};
  double bestShare = -1;
  bool found = false;
  player.Host.OnComposed = [&] {
    const double share = ContentShare(*core.Picture());
    if (share > bestShare) bestShare = share, best = *core.ComposedFrame();
    found = share >= kMinContentShare;
  };
  try {
    if (!Seek(film, player, best)) return kFailed;
    player.Host.OnComposed();
    for (int32_t n = 1; !found && n < kThumbnailFrames && core.ComposedFrame()->Frame < last; ++n) {
      core.TimerPlayTimer();
      if (!player.Host.Report.empty()) return Fail(film, player.Host.Report);
      if (player.Host.Stopped) break;  // the segment, all that is kept of the film, has ended
    }
    if (!found && core.ComposedFrame() != best && !Seek(film, player, best)) return kFailed;
  } catch (const std::exception& e) {
    return PlaybackFailure(film, core, e);
  }
  const std::unique_ptr<TRasterBitmap> picture = ScaleToFit(*core.Picture(), args.Size);
  if (!picture) return Fail(film, "not enough memory for the thumbnail");
  std::string writeError;
  if (!WritePngFile(args.Out, *picture, true, writeError)) return Fail(film, writeError);
  return kOk;
}
