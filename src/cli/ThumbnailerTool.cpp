#include "cli/ThumbnailerTool.h"

#include "cli/ZrFilmCommand.h"
#include "io/Version.h"

namespace {

constexpr char kProgram[] = "veRirove-thumbnailer";

constexpr char kUsage[] =
    "usage: veRirove-thumbnailer [-s SIZE] FILM OUT.png\n"
    "       veRirove-thumbnailer --help | --version\n"
    "\n"
    "Writes a small picture of the film to OUT.png for file managers, the one\n"
    "zrfilm thumbnail writes: a frame of the first segment that is not a nearly\n"
    "blank screen, scaled down to fit SIZE x SIZE pixels (-s or --size, 1 to 4096,\n"
    "default 256). OUT.png is replaced.\n"
    "\n"
    "Exit status: 0 done, 1 the film or the picture failed, 2 wrong command line.\n";

}  // namespace

int RunThumbnailer(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  // The command line of `zrfilm thumbnail`.
  std::vector<std::string> words{"thumbnail"};
  words.insert(words.end(), args.begin(), args.end());
  TZrFilmArgs parsed;
  std::string usageError;
  if (!ParseToolArgs(words, parsed, usageError)) {
    err << kProgram << ": " << usageError << "\n" << kUsage;
    return kUsageError;
  }
  if (parsed.Command == TZrFilmCommand::Help) {
    out << kUsage;
    return kOk;
  }
  if (parsed.Command == TZrFilmCommand::Version) {
    out << kProgram << " " << kVersion << "\n";
    return kOk;
  }
  return RunToolCommand(kProgram, out, err, parsed.Film, [&](TTool& tool) { return tool.Thumbnail(parsed); });
}
