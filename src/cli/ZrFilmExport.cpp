#include "cli/ZrFilmCommand.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>

#include "export/FilmExport.h"
#include "film/SegmentDuration.h"
#include "index/IndexCache.h"
#include "index/IndexPass.h"
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

// Puts the files written in place, in order. When one cannot be (its name and why in `failed`
// and `what`), those put in place before it that replaced nothing are removed again; those
// that replaced a file stay, and are named.
bool PlaceAll(std::vector<std::unique_ptr<TExportFile>>& written, bool replace, std::string& failed,
              std::string& what) {
  std::vector<std::string> added, replaced;
  for (auto& file : written) {
    struct stat existing {};
    const bool there = ::lstat(file->Out().c_str(), &existing) == 0;
    if (file->Place(replace)) {
      (there ? replaced : added).push_back(file->Out());
      continue;
    }
    const int error = errno;
    for (const std::string& name : added) ::unlink(name.c_str());
    failed = file->Out();
    what = error == EEXIST ? "the file exists (give --force to replace it)"
                           : "cannot write " + failed + ": " + std::strerror(error);
    if (!replaced.empty()) {
      what += "; complete, in place of the files before them:";
      for (const std::string& name : replaced) what += " " + name;
    }
    return false;
  }
  return true;
}

// Whether the process may hold `files` files open besides what it uses anyway, the limit raised
// as far as the system lets it when needed; `allowed` says how many it may.
bool MayHoldOpen(size_t files, rlim_t& allowed) {
  constexpr rlim_t kOwnUse = 64;  // standard streams, the film, the libraries' own
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return true;
  const rlim_t wanted = rlim_t(files) + kOwnUse;
  if (limit.rlim_cur < wanted && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = std::min(wanted, limit.rlim_max);
    ::setrlimit(RLIMIT_NOFILE, &limit);
    ::getrlimit(RLIMIT_NOFILE, &limit);
  }
  allowed = limit.rlim_cur > kOwnUse ? limit.rlim_cur - kOwnUse : 0;
  return limit.rlim_cur >= wanted;
}

// The film's index for cutting idle stretches and for its automatic chapters: kept from an
// index before, else found by playing the film once (a line on the terminal tells how far).
// Stretches shorter than the usual idle threshold are only found with a lower one: such an
// index is not kept, so that the one the player and `zrfilm index` keep stays. Nothing, with
// the reason in `failure`, when the film cannot be indexed to its end or `interrupted` is set.
std::shared_ptr<const TFilmIndex> ExportIndex(const std::string& film, const TSegments& segments,
                                              const TExportOptions& options, const std::atomic<bool>& interrupted,
                                              bool terminal, std::string& failure) {
  TIndexOptions indexing;
  if (options.MaxIdle > 0) indexing.IdleMs = std::min(indexing.IdleMs, options.MaxIdle);
  auto index = std::make_shared<TFilmIndex>();
  if (ReadIndexCache(film, indexing.IdleMs, *index)) return index;
  *index = IndexFilm(segments, indexing, &interrupted, [&](int64_t done, int64_t total) {
    if (terminal && total > 0)
      std::fprintf(stderr, "\rzrfilm: indexing the film, %3d%% ", int(done * 100 / total));
  }, &failure);
  if (terminal) std::fputc('\n', stderr);
  if (interrupted) return nullptr;
  if (!index->Complete) {
    if (failure.empty()) failure = "the film could not be indexed to its end";
    return nullptr;
  }
  if (indexing.IdleMs == kDefaultIdleMs) WriteIndexCache(film, indexing.IdleMs, *index);
  return index;
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
  // Every file stays open, held, until all are written.
  if (rlim_t allowed = 0; args.Split && !MayHoldOpen(jobs.size(), allowed))
    return Fail(film, "--split would hold " + std::to_string(jobs.size()) + " files open at once; the system lets it hold " +
                          std::to_string(allowed));
  // Every file's name is checked before any is written.
  for (const auto& job : jobs) {
    const TExportResult r = CheckExportFile(job.first, args.Force, film);
    if (!r) return Fail(job.first, ExportFailure(r, job.first));
  }

  const bool terminal = ::isatty(STDERR_FILENO);
  // SVT-AV1 writes its banner straight to the terminal unless told to keep to warnings.
  ::setenv("SVT_LOG", "2", 0);
  // SIGINT, SIGTERM and SIGHUP stop the export, which then removes its unfinished file; the
  // tool ends with its failure status.
  std::atomic<bool> interrupted{false};
  const TSignalCatcher catcher(TSignalCatcher::THandOn::Never, &interrupted);
  TExportOptions exported = args.Export;
  if (exported.MaxIdle > 0 || exported.Chapters == TExportChapters::All) {
    std::string failure;
    exported.Index = ExportIndex(film, segments, exported, interrupted, terminal, failure);
    if (interrupted) return Fail(film, "interrupted: nothing was written");
    if (!exported.Index) return Fail(film, failure);
  }
  // The files are put in place only once every one is written: a split export that fails at
  // one part leaves none of its parts, and replaces none of the files there before.
  std::vector<std::unique_ptr<TExportFile>> written(jobs.size());
  for (size_t j = 0; j < jobs.size(); ++j) {
    const auto& [out, segment] = jobs[j];
    TExportOptions options = exported;
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
    const TExportResult r =
        ExportFilmUnplaced(segments, out, options, args.Force, report, &interrupted, film, written[j]);
    if (terminal) std::fputc('\n', stderr);
    if (!r) return Fail(r.Code == TExportErrc::Exists || r.Code == TExportErrc::IsFilm ? out : film,
                        ExportFailure(r, out));
  }
  // A signal heard after the last part was complete still keeps them all out of place.
  if (interrupted) return Fail(film, "interrupted: nothing was written");
  std::string failed, what;
  if (!PlaceAll(written, args.Force, failed, what)) return Fail(failed, what);
  return kOk;
}

