#include "cli/ZrFilmCommand.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "export/FilmExport.h"
#include "film/SegmentDuration.h"
#include "io/SignalCatcher.h"

namespace {

// What a failed export says.
std::string ExportFailure(const TExportResult& r, const std::string& out) {
  switch (r.Code) {
    case TExportErrc::Cancelled:
      return "interrupted: nothing was written";
    case TExportErrc::Exists:
      return "the file exists (give --force to replace it)";
    case TExportErrc::IsFilm:
      return "this is the film itself";
    case TExportErrc::CannotCreate:
      return "cannot create the file: " + r.Details;
    case TExportErrc::Write:
      return "cannot write " + out + ": " + r.Details;
    case TExportErrc::Encoder:
      return "the encoder failed: " + r.Details;
    case TExportErrc::NoFrames:
      return "nothing to export: the film has no frames";
    case TExportErrc::NoMemory:
      return "not enough memory to export the film";
    case TExportErrc::NoSegment:
    case TExportErrc::Options:
    case TExportErrc::Playback:
    case TExportErrc::None:
      break;
  }
  return r.Details;
}

// The name of segment `number`'s file in a split export: OUT's stem, "-001", its extension.
std::string SplitName(const std::string& out, int32_t number) {
  const std::filesystem::path path(out);
  char suffix[16];
  std::snprintf(suffix, sizeof suffix, "-%03d", number);
  return (path.parent_path() / (path.stem().string() + suffix + path.extension().string())).string();
}

}  // namespace

int TTool::Export(const TZrFilmArgs& args) {
  const std::string& film = args.Film;
  TLoadReport check;
  if (!CheckFilmPath(film, check)) return Fail(film, ReportText(check));
  // The files to write: one, or one per segment; an existing one is refused before anything
  // is played.
  TToolUi ui(Program, Err, film);
  TSegments segments;
  if (!Load(film, ui, segments)) return kFailed;
  if (ui.Damaged()) return Fail(film, "the film is damaged: nothing was exported");
  if (!CheckSegment(film, segments, args.Segment)) return kFailed;
  std::vector<std::pair<std::string, int32_t>> jobs;  // file, segment (0: the whole film)
  if (args.Split) {
    for (int32_t i = 0; i < int32_t(segments.size()); ++i)
      if (segments[size_t(i)]->FrameCount > 0) jobs.emplace_back(SplitName(args.Out, i + 1), i + 1);
    if (jobs.empty()) return Fail(film, "nothing to export: the film has no frames");
  } else {
    jobs.emplace_back(args.Out, args.Segment);
  }
  if (!args.Force)
    for (const auto& job : jobs)
      if (std::filesystem::exists(job.first)) return Fail(job.first, "the file exists (give --force to replace it)");

  const bool terminal = ::isatty(STDERR_FILENO);
  // SVT-AV1 writes its banner straight to the terminal unless told to keep to warnings.
  ::setenv("SVT_LOG", "2", 0);
  // SIGINT, SIGTERM and SIGHUP stop the export, which then removes its unfinished file; the
  // tool ends with its failure status.
  std::atomic<bool> interrupted{false};
  const TSignalCatcher catcher(TSignalCatcher::THandOn::Never, &interrupted);
  for (size_t j = 0; j < jobs.size(); ++j) {
    const auto& [out, segment] = jobs[j];
    TExportOptions options = args.Export;
    options.Segment = segment;
    const auto started = std::chrono::steady_clock::now();
    auto shown = started;
    auto report = [&](const TExportProgress& p) {
      if (!terminal) return;
      const auto now = std::chrono::steady_clock::now();
      if (now - shown < std::chrono::milliseconds(200) && p.Frames < p.TotalFrames) return;
      shown = now;
      const double seconds = std::chrono::duration<double>(now - started).count();
      const double fps = seconds > 0 ? double(p.Frames) / seconds : 0;
      const int64_t left = fps > 0 ? int64_t(double(p.TotalFrames - p.Frames) / fps * 1000) : 0;
      std::fprintf(stderr, "\rzrfilm: %s%3d%%, %lld of %lld frames, %.0f frames/s, %s left ",
                   jobs.size() > 1 ? (std::to_string(j + 1) + " of " + std::to_string(jobs.size()) + ": ").c_str()
                                   : "",
                   int(p.TotalFrames ? p.Frames * 100 / p.TotalFrames : 100), static_cast<long long>(p.Frames),
                   static_cast<long long>(p.TotalFrames), fps, FormatClock(left).c_str());
    };
    const TExportResult r = ExportFilm(segments, out, options, args.Force, report, &interrupted, film);
    if (terminal) std::fputc('\n', stderr);
    if (!r) return Fail(r.Code == TExportErrc::Exists || r.Code == TExportErrc::IsFilm ? out : film,
                        ExportFailure(r, out));
  }
  return kOk;
}
