#include "cli/ZrFilmCommand.h"

#include <time.h>

#include <algorithm>

#include "cli/PngWriter.h"
#include "cli/Thumbnail.h"

namespace {

// A picture of the film for file managers: the first frame of the first segment with frames
// that shows more than a blank screen (ContentShare), looked for from a tenth of the segment,
// or its first second when that comes sooner, over the next kThumbnailFrames frames; when
// none of them does, the one that shows most. Screen films often open on an empty desktop.
constexpr int32_t kThumbnailFrames = 100;
// File managers run the thumbnailer on every film they list, whatever it holds: the search
// stops after this much of the processor's time, and the best frame found by then is shown
// (the frame reached when that is still before the search's start).
constexpr int64_t kSearchMillis = 1000;
// And the pictures it plays into, the picture and the frame image, may take this much memory
// together: a film of a few bytes may declare frames of 8000 × 8000 pixels, where 4K and 5K
// screens fit with room to spare.
constexpr int64_t kMaxSurfaceBytes = int64_t{128} << 20;

// The bytes of a segment's picture (32 bits a pixel, 8 for an 8-bit film) and frame image (at
// the film's depth, a row more); 0 for a depth or size that playing refuses by itself.
int64_t SurfaceBytes(const Segment& segment) {
  const int64_t width = segment.Width, height = segment.Height;
  const int bits = segment.BitsPerPixel;
  if (width <= 0 || height <= 0 || (bits != 8 && bits != 24 && bits != 32)) return 0;
  return width * height * (bits == 8 ? 1 : 4) + width * (height + 1) * (bits / 8);
}

// Nor does it read more of the film than this to reach the segment it shows: a package of a
// few megabytes may unpack to gigabytes of segments without frames, or of a segment list
// naming millions. Legitimate films list a few segments and show the first with frames
// within its first 64 MiB of frame data.
constexpr uint64_t kMaxFilmBytes = uint64_t{128} << 20;
constexpr int32_t kMaxSegmentsRead = 10000;

// The processor time this thread has taken, in milliseconds.
int64_t ThreadCpuMillis() {
  timespec t{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return int64_t(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

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
  auto shown = [](int32_t number, const TSegInfo& s) { return s.FrameCount > 0 || number >= kMaxSegmentsRead; };
  if (!Load(film, ui, segments, shown, kMaxFilmBytes)) return kFailed;
  const std::optional<TFramePos> first = FirstFrame(segments);
  if (!first && segments.size() >= size_t(kMaxSegmentsRead))
    return Fail(film, "no frames in the film's first " + std::to_string(kMaxSegmentsRead) +
                          " segments: there is nothing to show");
  if (!first) return Fail(film, "the film has no frames: there is nothing to show");
  const Segment& segment = *segments[size_t(first->Segment)];
  if (SurfaceBytes(segment) > kMaxSurfaceBytes)
    return Fail(film, "a frame of " + std::to_string(segment.Width) + " x " + std::to_string(segment.Height) +
                          " pixels is too large for a thumbnail");
  const int32_t last = segment.FrameCount - 1;
  // A segment without a frame rate plays 10 frames a second. So at most 255 frames are
  // played before the search starts, whatever count the segment declares.
  const int32_t start = std::min<int32_t>(segment.FrameCount / 10, segment.FrameRate ? segment.FrameRate : 10);
  segments.resize(size_t(first->Segment) + 1);

  TToolPlayer player;
  TPlaybackCore& core = player.Core;
  if (!Start(film, core, std::move(segments))) return kFailed;
  const int64_t searchEnd = ThreadCpuMillis() + kSearchMillis;
  TFramePos best = *first;
  double bestShare = -1;
  try {
    // Frame by frame from the segment's start, so that the time is checked between any two.
    if (!Seek(film, player, *first)) return kFailed;
    for (;;) {
      const TFramePos shown = *core.ComposedFrame();
      if (shown.Frame < start) {
        best = shown;
      } else if (const double share = ContentShare(*core.Picture()); share > bestShare) {
        bestShare = share, best = shown;
        if (share >= kMinContentShare) break;
      }
      // Playing on past the segment's last frame ends the film: the segment is all that is kept.
      if (shown.Frame >= last || shown.Frame + 1 >= start + kThumbnailFrames || player.Host.Stopped ||
          ThreadCpuMillis() >= searchEnd)
        break;
      core.TimerPlayTimer();
      if (!player.Host.Report.empty()) return Fail(film, player.Host.Report);
    }
    if (core.ComposedFrame() != best && !Seek(film, player, best)) return kFailed;
  } catch (const std::exception& e) {
    return PlaybackFailure(film, core, e);
  }
  const std::unique_ptr<TRasterBitmap> picture = ScaleToFit(*core.Picture(), args.Size);
  if (!picture) return Fail(film, "not enough memory for the thumbnail");
  std::string writeError;
  if (!WritePngFile(args.Out, *picture, true, writeError)) return Fail(film, writeError);
  return kOk;
}
