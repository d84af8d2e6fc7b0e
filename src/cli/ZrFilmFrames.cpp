#include "cli/ZrFilmCommand.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "cli/PngWriter.h"
#include "film/SegmentDuration.h"
#include "playback/PictureName.h"

namespace {

// How many frames there are from `first` to `last`, both included.
int64_t FramesBetween(const TSegments& segments, TFramePos first, TFramePos last) {
  int64_t n = 0;
  for (int32_t i = first.Segment; i <= last.Segment; ++i) n += segments[size_t(i)]->FrameCount;
  return n - first.Frame - (segments[size_t(last.Segment)]->FrameCount - 1 - last.Frame);
}

// The folder for the pictures: an existing one must be empty unless `force`, so that old
// pictures are never mixed with new ones. A missing one is made only once there is a picture to
// write (MakeFramesFolder), so that a film that fails leaves no folder behind.
bool CheckFramesFolder(const std::string& dir, bool force, bool& missing, std::string& error) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::file_status status = fs::status(dir, ec);
  missing = !fs::exists(status);
  if (missing) return true;
  if (!fs::is_directory(status)) {
    error = "not a folder";
    return false;
  }
  if (!force && !fs::is_empty(dir, ec)) {
    error = "the folder is not empty (give --force to write into it anyway)";
    return false;
  }
  return true;
}

bool MakeFramesFolder(const std::string& dir, std::string& error) {
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec) error = dir + ": cannot create the folder: " + ec.message();
  return !ec;
}

}  // namespace

// The pictures of every frame from `first` to `last` (film order), or of the whole film
// played from its start when `first` is empty.
int TTool::Frames(const TZrFilmArgs& args) {
  const std::string& film = args.Film;
  const std::string& dir = args.Dir;
  TLoadReport check;
  if (!CheckFilmPath(film, check)) return Fail(film, ReportText(check));
  std::string folderError;
  bool folderMissing = false;
  if (!CheckFramesFolder(dir, args.Force, folderMissing, folderError)) return Fail(dir, folderError);

  TToolPlayer player;
  THeadlessHost& host = player.Host;
  TPlaybackCore& core = player.Core;
  TToolUi ui(Program, Err, film);
  std::vector<std::unique_ptr<Segment>> segments;
  // One segment needs the film up to it; --from, a time of the whole film, needs its length.
  const bool upToSegment = args.Segment > 0 && !args.From;
  if (!Load(film, ui, segments, upToSegment ? UpToSegment(args.Segment) : AllSegments())) return kFailed;
  if (!CheckSegment(film, segments, args.Segment)) return kFailed;
  if (segments.empty()) return Fail(film, "the film has no segments: there is nothing to write");

  // The frames asked for: those of --segment, and those on screen from --from to --to.
  const bool selected = args.Segment > 0 || args.From || args.To;
  // A damaged film fails unless what was asked for lies wholly before the damage.
  const bool whole = !ui.Damaged() || args.Segment > 0 || (args.To && *args.To < FilmMillis(segments));
  std::optional<TFramePos> first, last;
  if (selected) {
    first = FirstFrame(segments), last = LastFrame(segments);
    if (args.Segment > 0) {
      const Segment& s = *segments[size_t(args.Segment - 1)];
      if (s.FrameCount <= 0)
        return Fail(film, "nothing to write: segment " + std::to_string(args.Segment) + " has no frames");
      first = TFramePos{args.Segment - 1, 0}, last = TFramePos{args.Segment - 1, s.FrameCount - 1};
    }
    if (args.From) {
      const auto from = FrameAt(film, segments, *args.From, ui.Damaged(), "--from");
      if (!from) return kFailed;
      if (*first < *from) first = from;
    }
    if (args.To) {
      const auto to = FrameAtTime(segments, *args.To);
      if (to && *to < *last) last = to;
    }
    if (!first || !last) return Fail(film, "the film has no frames: there is nothing to write");
    if (*last < *first) {
      // Times count from the film's start, also with --segment: the message shows where the
      // segment lies for one who took them for times of the segment.
      const int64_t start = SegmentStart(segments, args.Segment - 1);
      const int64_t end = start + SegmentMillis(segments[size_t(args.Segment - 1)]->FrameCount,
                                                segments[size_t(args.Segment - 1)]->FrameRate);
      return Fail(film, "nothing to write: segment " + std::to_string(args.Segment) + " is on screen from " +
                            FormatFilmDuration(start) + " to " + FormatFilmDuration(end) + " of the film, not" +
                            (args.From ? " from " + FormatFilmDuration(*args.From) : std::string()) +
                            (args.To ? " to " + FormatFilmDuration(*args.To) : std::string()) +
                            " (times count from the film's start)");
    }
    // Playing on after the last frame asked for never starts a segment after it.
    segments.resize(size_t(last->Segment) + 1);
  }
  if (!Start(film, core, std::move(segments))) return kFailed;

  const bool terminal = ::isatty(STDERR_FILENO);
  const int64_t total = selected ? FramesBetween(core.Segments(), *first, *last) : TotalFrames(core.Segments());
  int64_t written = 0;
  bool done = false;
  std::string writeError;
  host.OnComposed = [&] {
    if (!writeError.empty()) return;
    const TFramePos pos = *core.ComposedFrame();
    if (folderMissing && !MakeFramesFolder(dir, writeError)) return;
    folderMissing = false;
    if (!WritePngFile(dir + "/" + FramePictureName(pos) + ".png", *core.Picture(), true, writeError)) return;
    ++written;
    done = selected && pos == *last;
    if (terminal && (written % 10 == 0 || written == total))
      std::fprintf(stderr, "\rzrfilm: %lld of %lld frames", static_cast<long long>(written),
                   static_cast<long long>(total));
  };

  try {
    if (selected) {
      if (!Seek(film, player, *first)) return kFailed;
      host.OnComposed();
    } else {
      const TResult r = core.SetCurSegment();
      if (r != kResultOk) return Fail(film, std::string("APlay_PauseExecute: ") + ResultText(r));
    }
    while (!done && !host.Stopped && writeError.empty()) core.TimerPlayTimer();
  } catch (const std::exception& e) {
    if (terminal && written) std::fputc('\n', stderr);
    return PlaybackFailure(film, core, e);
  }
  if (terminal && written) std::fputc('\n', stderr);
  if (!writeError.empty()) return Fail(film, writeError);
  if (!host.Report.empty()) return Fail(film, host.Report);
  return whole ? kOk : kFailed;
}
