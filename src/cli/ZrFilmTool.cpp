#include "cli/ZrFilmTool.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <sstream>

#include "cli/PngWriter.h"
#include "film/FilmLoader.h"
#include "film/SegmentDuration.h"
#include "film/Messages.h"
#include "film/TempFolder.h"
#include "playback/UzrPlayback.h"
#include "cli/ZrFilmArgs.h"

namespace {

constexpr char kUsage[] =
    "usage: zrfilm info FILM\n"
    "       zrfilm extract FILM DIR\n"
    "       zrfilm frames FILM DIR [--segment N] [--force]\n"
    "\n"
    "  info     lists the film's segments: number, name, duration, size, bits per pixel,\n"
    "           frames, frame rate and cursor shapes, then the totals\n"
    "  extract  extracts the film's package (also from an executable film) into DIR\n"
    "  frames   plays the film and writes every composed picture, cursor included, to DIR\n"
    "           as SSS-FFFFF.png (segment from 1, frame within the segment from 0);\n"
    "           --segment N plays segment N only; DIR must be empty or new unless\n"
    "           --force is given\n"
    "\n"
    "Exit status: 0 done, 1 the film or a file failed (a damaged film: what could be read\n"
    "was listed or written), 2 wrong command line.\n";

// Exit statuses.
constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kUsageError = 2;

// "1 segment", "2 segments".
std::string Count(int64_t n, const char* singular, const char* plural) {
  return std::to_string(n) + " " + (n == 1 ? singular : plural);
}

// Text from a film for a terminal: control characters become '?'.
std::string Printable(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c == 0x7F) {
      out += '?';
    } else if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) < 0xA0) {
      out += '?';  // U+0080 to U+009F
      ++i;
    } else {
      out += char(c);
    }
  }
  return out;
}

// What a film fault is, in the tool's words.
std::string FaultText(TFilmFault fault) {
  switch (fault) {
    case TFilmFault::CutShort:
      return "the film is cut short (an incomplete copy or download)";
    case TFilmFault::NotAFilm:
      return "not a film";
    case TFilmFault::Io:
      return "cannot be read";
    case TFilmFault::NoMemory:
      return "not enough memory to load the film";
    case TFilmFault::Damaged:
      break;
  }
  return "the film is damaged";
}

// The loader's notices in English.
std::string ReportText(const TLoadReport& r) {
  auto with = [&](std::string text) { return r.Details.empty() ? text : text + ": " + r.Details; };
  switch (r.Notice) {
    case TLoadNotice::NoSuchFile:
      return "no such film file";
    case TLoadNotice::IsAFolder:
      return "a folder, not a film";
    case TLoadNotice::FilmFileBusy:
      return with("cannot empty the temporary folder");
    case TLoadNotice::ExecutableLocked:
      return "the executable film stays locked by another program";
    case TLoadNotice::CannotCreatePackage:
      return with("cannot create the package copy " + r.Path);
    case TLoadNotice::FormatNotSupported:
      return with("this file format is not supported");
    case TLoadNotice::TemporaryFolder:
      return with("cannot write to the temporary folder" + (r.Path.empty() ? std::string() : " " + r.Path));
    case TLoadNotice::DamagedInPart:
      return FaultText(r.Fault) + ": segment " + std::to_string(r.DamagedSegment) +
             " cannot be read; the first " + Count(r.Playable, "segment", "segments") + " of " +
             std::to_string(r.Total) + " can be played (" + r.Details + ")";
  }
  return r.Details;
}

// Loader messages go to standard error, naming the film.
class TToolUi : public IFilmLoaderUi {
 public:
  TToolUi(std::ostream& err, std::string film) : FErr(err), FFilm(std::move(film)) {}
  void ShowMessage(const TLoadReport& report) override {
    FErr << "zrfilm: " << FFilm << ": " << ReportText(report) << "\n";
    FShown = true;
    if (report.Notice == TLoadNotice::DamagedInPart) FDamaged = true;
  }
  void SetBannerVisible(bool) override {}
  void FillSegmentsGrid(const std::vector<TSegmentListEntry>&) override {}
  void SetProgressMax(int64_t) override {}
  bool Shown() const { return FShown; }
  // Some segments of the film could not be read (the rest were loaded).
  bool Damaged() const { return FDamaged; }

 private:
  std::ostream& FErr;
  std::string FFilm;
  bool FShown = false;
  bool FDamaged = false;
};

// Plays without windows: stops are recorded, composed pictures handed on.
class TToolHost : public IPlaybackHost {
 public:
  TPlaybackCore* Core = nullptr;
  std::function<void()> OnComposed;
  bool Stopped = false;
  bool Finished = false;
  std::string Report;

  void ExecuteStop() override {
    Stopped = true;
    if (Core) Core->Stop();
  }
  void ShowResult(const char* operation, TResult code) override {
    Report = std::string(operation) + ": " + ResultText(code);
  }
  void SegmentActivated(const Segment&, int) override {}
  void SetProgress(int64_t) override {}
  void FrameComposed() override {
    if (OnComposed) OnComposed();
  }
  void FilmFinished() override { Finished = true; }
};

struct TTool {
  std::ostream& Out;
  std::ostream& Err;
  std::string TempDir;
  std::string TempError;

  int Fail(const std::string& film, const std::string& what) {
    Err << "zrfilm: " << film << ": " << what << "\n";
    return kFailed;
  }

  // Loads the film's segments; false after a message. A
  // damaged film keeps those before the damage (ui.Damaged() tells).
  bool Load(const std::string& film, TToolUi& ui, std::vector<std::unique_ptr<Segment>>& segments) {
    TLoadReport check;
    if (!CheckFilmPath(film, check)) {
      ui.ShowMessage(check);
      return false;
    }
    TFilmLoader loader(ui, TempDir, TempError);
    loader.SetFileName(film);
    try {
      if (loader.LoadFilm(film)) {
        segments = loader.TakeSegments();
        return true;
      }
      if (!ui.Shown()) Fail(film, "the film could not be loaded");
    } catch (const EFilmLoad& e) {
      Fail(film, FaultText(e.Fault) + ": " + e.what());
    } catch (const std::exception& e) {
      Fail(film, e.what());
    }
    return false;
  }

  // Lists the film from what the loader read: no playback is needed for that.
  int Info(const std::string& film) {
    TToolUi ui(Err, film);
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

  int Extract(const std::string& film, const std::string& dir) {
    TLoadReport check;
    if (!CheckFilmPath(film, check)) return Fail(film, ReportText(check));
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) return Fail(dir, "cannot create the folder: " + ec.message());
    std::string package = film;
    std::string temporary;
    if (IsExecutableFilmPath(film)) {
      // The package is the L bytes before the executable's last four.
      std::string error;
      const bool copied = CopyPackageToTemporary(film, temporary, error);
      if (!copied) {
        if (!temporary.empty()) ::unlink(temporary.c_str());
        return Fail(film, error);
      }
      package = temporary;
    }
    int status = kOk;
    TSTCabReader reader;
    try {
      reader.Extract(package, dir);
    } catch (const std::exception& e) {
      status = Fail(film, e.what());
    }
    if (!temporary.empty()) ::unlink(temporary.c_str());
    // Entries whose names lead outside the folder are not written; each is named, and the
    // extraction counts as failed, as a cabinet tool's would.
    for (const std::string& name : reader.SkippedNames())
      status = Fail(film, "skipped \"" + Printable(name) + "\": the name leads outside the folder");
    return status;
  }

  // The package of an executable film, copied to a temporary file of the run's folder.
  bool CopyPackageToTemporary(const std::string& film, std::string& temporary, std::string& error) {
    if (TempDir.empty()) {
      error = TempError;
      return false;
    }
    const int source = ::open(film.c_str(), O_RDONLY | O_CLOEXEC);
    if (source < 0) {
      error = std::string("cannot read the film: ") + std::strerror(errno);
      return false;
    }
    temporary = TempDir + "extract-XXXXXX";
    const int target = ::mkstemp(temporary.data());
    if (target < 0) {
      error = "cannot create a temporary file in " + TempDir + ": " + std::strerror(errno);
      temporary.clear();
      ::close(source);
      return false;
    }
    bool copied = true;
    try {
      CopyExecutablePackage(source, film, target, temporary);
    } catch (const EFilmLoad& e) {
      error = e.what();
      copied = false;
    }
    ::close(source);
    ::close(target);
    return copied;
  }

  // The folder for the pictures: made when missing; an existing one must be empty unless
  // `force`, so that old pictures are never mixed with new ones.
  bool PrepareFramesFolder(const std::string& dir, bool force, std::string& error) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::file_status status = fs::status(dir, ec);
    if (fs::exists(status)) {
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
    fs::create_directories(dir, ec);
    if (ec) error = "cannot create the folder: " + ec.message();
    return !ec;
  }

  int Frames(const TZrFilmArgs& args) {
    const std::string& film = args.Film;
    const std::string& dir = args.Dir;
    const int32_t onlySegment = args.Segment;
    TLoadReport check;
    if (!CheckFilmPath(film, check)) return Fail(film, ReportText(check));
    std::string folderError;
    if (!PrepareFramesFolder(dir, args.Force, folderError)) return Fail(dir, folderError);

    TToolHost host;
    TPlaybackCore core(host);
    host.Core = &core;
    TToolUi ui(Err, film);
    std::vector<std::unique_ptr<Segment>> segments;
    if (!Load(film, ui, segments)) return kFailed;
    const auto count = int32_t(segments.size());
    if (onlySegment > count)
      return Fail(film, "there is no segment " + std::to_string(onlySegment) + " (the film has " +
                            Count(count, "readable segment", "readable segments") + ")");
    if (count == 0) return Fail(film, "the film has no segments: there is nothing to write");
    // Only the segment asked for is played: the one after it is never activated, so a segment
    // that cannot be shown there does not fail pictures already written.
    int32_t firstNumber = 1;
    if (onlySegment > 0) {
      std::vector<std::unique_ptr<Segment>> one;
      one.push_back(std::move(segments[size_t(onlySegment - 1)]));
      segments = std::move(one);
      firstNumber = onlySegment;
    }
    core.TakeFilm(std::move(segments));
    if (core.AllocFrameBuffer(TPlaybackCore::kFrameBufferSize) != kResultOk)
      return Fail(film, "no memory for the frame buffer");

    const bool terminal = ::isatty(STDERR_FILENO);
    const int64_t total = TotalFrames(core.Segments());
    int64_t written = 0;
    std::string writeError;
    host.OnComposed = [&] {
      if (!writeError.empty()) return;
      char name[32];
      std::snprintf(name, sizeof name, "/%03d-%05d.png", core.CurSegment() + firstNumber, core.FrameIndex());
      if (!WritePng(dir + name, *core.Picture(), writeError)) return;
      ++written;
      if (terminal && (written % 10 == 0 || written == total))
        std::fprintf(stderr, "\rzrfilm: %lld of %lld frames", static_cast<long long>(written),
                     static_cast<long long>(total));
    };

    try {
      TResult r = core.SetCurSegment();
      if (r != kResultOk) return Fail(film, std::string("APlay_PauseExecute: ") + ResultText(r));
      while (!host.Stopped && writeError.empty()) core.TimerPlayTimer();
    } catch (const std::exception& e) {
      if (terminal && written) std::fputc('\n', stderr);
      // The player's own words for a depth it cannot show are Russian; the tool says it in
      // English.
      if (std::string_view(e.what()) == kLbMessages[0] && core.HasCurrentSegment())
        return Fail(film, "segment " + std::to_string(core.CurSegment() + firstNumber) + ": " +
                              std::to_string(int(core.Segments()[size_t(core.CurSegment())]->BitsPerPixel)) +
                              " bits per pixel cannot be played");
      return Fail(film, e.what());
    }
    if (terminal && written) std::fputc('\n', stderr);
    if (!writeError.empty()) return Fail(film, writeError);
    if (!host.Report.empty()) return Fail(film, host.Report);
    // A damaged film: the readable segments were written, but the film was not whole.
    return ui.Damaged() && onlySegment == 0 ? kFailed : kOk;
  }
};

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
  // A folder of this run's own for what the package gives; removed when the run ends.
  TRunFolder runFolder;
  TTool tool{out, err, runFolder.Path(), runFolder.Error()};
  switch (parsed.Command) {
    case TZrFilmCommand::Info:
      return tool.Info(parsed.Film);
    case TZrFilmCommand::Extract:
      return tool.Extract(parsed.Film, parsed.Dir);
    case TZrFilmCommand::Frames:
      return tool.Frames(parsed);
    case TZrFilmCommand::Help:
      break;
  }
  return kOk;
}
