#include "cli/ZrFilmTool.h"

#include "cli/ZrFilmCommand.h"
#include "io/Version.h"

namespace {

constexpr char kUsage[] =
    "usage: zrfilm info FILM\n"
    "       zrfilm extract FILM DIR\n"
    "       zrfilm frames FILM DIR [--segment N] [--from TIME] [--to TIME] [--force]\n"
    "       zrfilm frame FILM OUT.png (--at TIME | --segment N --frame K) [--force]\n"
    "       zrfilm thumbnail [-s SIZE] FILM OUT.png\n"
    "       zrfilm export FILM OUT [--format F] [--codec C] [--lossless] [--chroma 420|444]\n"
    "                     [--quality Q] [--keyint SECONDS] [--segment N | --split]\n"
    "                     [--no-cursor] [--gif-palette film|picture] [--max-width W]\n"
    "                     [--max-idle SECONDS] [--chapters segments|all] [--force]\n"
    "       zrfilm index FILM [--json] [--frames] [--idle SECONDS] [--no-cache]\n"
    "       zrfilm --help | --version\n"
    "\n"
    "  info       lists the film's segments: number, name, duration, size, bits per\n"
    "             pixel, frames, frame rate and cursor shapes, then the totals\n"
    "  extract    extracts the film's package (also from an executable film) into DIR\n"
    "  frames     plays the film and writes every composed picture, cursor included, to\n"
    "             DIR as SSS-FFFFF.png (segment from 1, frame within the segment from 0);\n"
    "             --segment N writes segment N only; --from and --to write the frames on\n"
    "             screen from the one shown at --from to the one shown at --to, both\n"
    "             included (with --segment: those of segment N); DIR must be empty or\n"
    "             new unless --force is given\n"
    "  frame      writes one composed picture to OUT.png: the frame on screen at --at,\n"
    "             or frame K of segment N, the same picture frames writes as\n"
    "             SSS-FFFFF.png; an existing OUT.png is replaced only with --force\n"
    "  thumbnail  writes a small picture of the film to OUT.png for file managers: the\n"
    "             first frame of the first segment, from a tenth of it or its first\n"
    "             second on, that is not a nearly blank screen, scaled down to fit\n"
    "             SIZE x SIZE pixels (-s or --size, 1 to 4096, default 256); OUT.png is\n"
    "             replaced without --force, as file managers expect of a thumbnailer\n"
    "  export     writes the film as a video file: OUT.mp4 H.264, OUT.webm VP9 (or AV1\n"
    "             with --codec av1), OUT.mkv H.264, or with --lossless H.264 RGB\n"
    "             without loss (--codec ffv1: FFV1), OUT.gif an animation (--format\n"
    "             mp4|webm|mkv|gif when the name does not tell); every frame at its\n"
    "             time, segments as chapters, segments of other sizes centred on grey;\n"
    "             --quality 0-100 (default 60); a key frame at every chapter and at\n"
    "             least every --keyint seconds of the film (default 2, up to 3600);\n"
    "             --chroma 444 keeps coloured text sharp where players allow it;\n"
    "             --segment N writes segment N alone at its size, --split a file per\n"
    "             segment (OUT-001.mp4, ...); --no-cursor leaves the cursor out;\n"
    "             --gif-palette picture gives each GIF picture a palette of its own\n"
    "             (default film: one for the film, with error diffusion beyond 256\n"
    "             colours); --max-width W scales wider films down; --max-idle S\n"
    "             cuts every stretch where the screen and the cursor stand still longer\n"
    "             than S seconds to S seconds (what follows comes earlier, chapters\n"
    "             with it); --chapters all adds the automatic chapters inside segments\n"
    "             where the picture changes as a whole (not for GIF); an existing OUT\n"
    "             is replaced only with --force; an export that fails or is\n"
    "             interrupted leaves no file\n"
    "  index      plays the film once and lists its index: the duration, the segments,\n"
    "             the chapters (each segment's start, and automatic ones inside it\n"
    "             where the picture changed as a whole: a frame that changed 30 % of\n"
    "             it, or a burst of changes, none 1 s or more apart, that together\n"
    "             changed 30 % of it, once it has been still for 1 s; at most one in\n"
    "             10 s, titled \"Часть 2\", \"Часть 3\", ...) and the idle stretches\n"
    "             (no pixel changed and the cursor neither moved nor changed shape for\n"
    "             --idle seconds, default 5); --json writes it as JSON; --frames adds\n"
    "             every frame: its changed pixels, their box and its cursor changes;\n"
    "             the index is kept in $XDG_CACHE_HOME/veRirove (~/.cache/veRirove),\n"
    "             so a film is played once; --no-cache neither reads nor keeps it\n"
    "\n"
    "TIME is a time of the whole film: seconds (83.5) or h:mm:ss.zzz (0:01:23.500).\n"
    "\n"
    "Exit status: 0 done, 1 the film or a file failed, or there was nothing to write (a\n"
    "damaged film: what could be read was listed or written), 2 wrong command line.\n";

}  // namespace

int RunZrFilm(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  TZrFilmArgs parsed;
  std::string usageError;
  if (!ParseZrFilmArgs(args, parsed, usageError)) {
    err << "zrfilm: " << usageError << "\n" << kUsage;
    return kUsageError;
  }
  if (parsed.Command == TZrFilmCommand::Help) {
    out << kUsage;
    return kOk;
  }
  if (parsed.Command == TZrFilmCommand::Version) {
    out << "zrfilm " << kVersion << "\n";
    return kOk;
  }
  return RunToolCommand("zrfilm", out, err, parsed.Film, [&](TTool& tool) {
    switch (parsed.Command) {
      case TZrFilmCommand::Info:
        return tool.Info(parsed.Film);
      case TZrFilmCommand::Extract:
        return tool.Extract(parsed.Film, parsed.Dir);
      case TZrFilmCommand::Frames:
        return tool.Frames(parsed);
      case TZrFilmCommand::Frame:
        return tool.Frame(parsed);
      case TZrFilmCommand::Thumbnail:
        return tool.Thumbnail(parsed);
      case TZrFilmCommand::Export:
        return tool.Export(parsed);
      case TZrFilmCommand::Index:
        return tool.Index(parsed);
      case TZrFilmCommand::Help:
      case TZrFilmCommand::Version:
        break;
    }
    return kOk;
  });
}
