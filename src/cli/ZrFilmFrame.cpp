#include "cli/ZrFilmCommand.h"

#include "cli/PngWriter.h"

int TTool::Frame(const TZrFilmArgs& args) {
  const std::string& film = args.Film;
  TLoadReport check;
  if (!CheckFilmPath(film, check)) return Fail(film, ReportText(check));
  std::string outError;
  if (!CheckPictureFile(film, args.Out, args.Force, outError)) return Fail(args.Out, outError);

  TToolUi ui(Program, Err, film);
  std::vector<std::unique_ptr<Segment>> segments;
  // --at needs the film's length; a segment asked for by its number, only the film up to it.
  if (!Load(film, ui, segments, args.At ? AllSegments() : UpToSegment(args.Segment))) return kFailed;
  std::optional<TFramePos> pos;
  if (args.At) {
    pos = FrameAt(film, segments, *args.At, ui.Damaged(), "--at");
    if (!pos) return kFailed;
  } else {
    if (!CheckSegment(film, segments, args.Segment)) return kFailed;
    const int32_t frames = segments[size_t(args.Segment - 1)]->FrameCount;
    if (args.Frame >= frames)
      return Fail(film, "segment " + std::to_string(args.Segment) + " has no frame " + std::to_string(args.Frame) +
                            (frames > 0 ? " (its frames are 0 to " + std::to_string(frames - 1) + ")"
                                        : " (it has no frames)"));
    pos = TFramePos{args.Segment - 1, args.Frame};
  }
  TToolPlayer player;
  if (!Start(film, player.Core, std::move(segments))) return kFailed;
  try {
    if (!Seek(film, player, *pos)) return kFailed;
  } catch (const std::exception& e) {
    return PlaybackFailure(film, player.Core, e);
  }
  std::string writeError;
  if (!WritePngFile(args.Out, *player.Core.Picture(), args.Force, writeError)) return Fail(film, writeError);
  return kOk;
}
