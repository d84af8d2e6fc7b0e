#include "cli/ZrFilmTool.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "cli/PngWriter.h"
#include "export/FilmExport.h"
#include "cli/Thumbnail.h"
#include "film/FilmLoader.h"
#include "film/SegmentDuration.h"
#include "film/Messages.h"
#include "film/TempFolder.h"
#include "io/FilePlace.h"
#include "playback/HeadlessHost.h"
#include "playback/UzrPlayback.h"
#include "cli/ZrFilmArgs.h"

namespace {

constexpr char kUsage[] =
    "usage: zrfilm info FILM\n"
    "       zrfilm extract FILM DIR\n"
    "       zrfilm frames FILM DIR [--segment N] [--from TIME] [--to TIME] [--force]\n"
    "       zrfilm frame FILM OUT.png (--at TIME | --segment N --frame K) [--force]\n"
    "       zrfilm thumbnail [-s SIZE] FILM OUT.png\n"
    "       zrfilm export FILM OUT [--format F] [--codec C] [--lossless] [--chroma 420|444]\n"
    "                     [--quality Q] [--segment N | --split] [--no-cursor]\n"
    "                     [--max-width W] [--force]\n"
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
    "             with --codec av1), OUT.mkv H.264, or FFV1 without loss with\n"
    "             --lossless, OUT.gif an animation (--format mp4|webm|mkv|gif when the\n"
    "             name does not tell); every frame at its time, segments as chapters,\n"
    "             segments of other sizes centred on grey; --quality 0-100 (default 60);\n"
    "             --chroma 444 keeps coloured text sharp where players allow it;\n"
    "             --segment N writes segment N alone at its size, --split a file per\n"
    "             segment (OUT-001.mp4, ...); --no-cursor leaves the cursor out;\n"
    "             --max-width W scales wider films down; an existing OUT is replaced\n"
    "             only with --force; an export that fails or is interrupted leaves\n"
    "             no file\n"
    "\n"
    "TIME is a time of the whole film: seconds (83.5) or h:mm:ss.zzz (0:01:23.500).\n"
    "\n"
    "Exit status: 0 done, 1 the film or a file failed, or there was nothing to write (a\n"
    "damaged film: what could be read was listed or written), 2 wrong command line.\n";

// Set by SIGINT, SIGTERM and SIGHUP while an export runs: it then stops and cleans up.
std::atomic<bool> gInterrupted{false};

extern "C" void OnInterrupt(int) { gInterrupted.store(true); }

// Catches the signals that end a terminal job for the time of an export, so the export can
// remove its unfinished file; the handlers before are put back afterwards.
class TInterruptCatcher {
 public:
  TInterruptCatcher() {
    gInterrupted.store(false);
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    // A signal the tool was started to ignore (nohup) stays ignored.
    for (size_t i = 0; i < std::size(kSignals); ++i)
      FCaught[i] = ::sigaction(kSignals[i], nullptr, &FBefore[i]) == 0 && FBefore[i].sa_handler != SIG_IGN &&
                   ::sigaction(kSignals[i], &action, nullptr) == 0;
  }
  ~TInterruptCatcher() {
    for (size_t i = 0; i < std::size(kSignals); ++i)
      if (FCaught[i]) ::sigaction(kSignals[i], &FBefore[i], nullptr);
  }
  TInterruptCatcher(const TInterruptCatcher&) = delete;
  TInterruptCatcher& operator=(const TInterruptCatcher&) = delete;

 private:
  static constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
  struct sigaction FBefore[std::size(kSignals)] {};
  bool FCaught[std::size(kSignals)] = {};
};

// Exit statuses.
constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kUsageError = 2;

// How many frames there are from `first` to `last`, both included.
int64_t FramesBetween(const TSegments& segments, TFramePos first, TFramePos last) {
  int64_t n = 0;
  for (int32_t i = first.Segment; i <= last.Segment; ++i) n += segments[size_t(i)]->FrameCount;
  return n - first.Frame - (segments[size_t(last.Segment)]->FrameCount - 1 - last.Frame);
}

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
std::string FaultText(TFilmErrc fault) {
  switch (fault) {
    case TFilmErrc::CutShort:
      return "the film is cut short (an incomplete copy or download)";
    case TFilmErrc::NotAFilm:
      return "not a film";
    case TFilmErrc::Io:
      return "cannot be read";
    case TFilmErrc::NoMemory:
      return "not enough memory to load the film";
    case TFilmErrc::Corrupt:
    default:
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


// A core playing without windows, and its host.
struct TToolPlayer {
  THeadlessHost Host;
  TPlaybackCore Core{Host};
  TToolPlayer() { Host.Core = &Core; }
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

  // Hands the segments to the core, with a frame buffer; false after a message.
  bool Start(const std::string& film, TPlaybackCore& core, TSegments segments) {
    core.TakeFilm(std::move(segments));
    if (core.AllocFrameBuffer(TPlaybackCore::kFrameBufferSize) == kResultOk) return true;
    Fail(film, "no memory for the frame buffer");
    return false;
  }

  // Shows frame `pos`; false after a message.
  bool Seek(const std::string& film, TToolPlayer& player, TFramePos pos) {
    const TResult r = player.Core.SeekFrame(pos);
    if (r == kResultOk) return true;
    Fail(film, player.Host.Report.empty() ? ResultText(r) : player.Host.Report);
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

  // What a failed playback step says: the player's own words for a depth it cannot show are
  // Russian; the tool says it in English.
  int PlaybackFailure(const std::string& film, const TPlaybackCore& core, const std::exception& e) {
    const auto* playback = dynamic_cast<const EPlayback*>(&e);
    if (playback && playback->Code() == TPlaybackErrc::UnsupportedVideoMode && core.HasCurrentSegment())
      return Fail(film, "segment " + std::to_string(core.CurSegment() + 1) + ": " +
                            std::to_string(int(core.Segments()[size_t(core.CurSegment())]->BitsPerPixel)) +
                            " bits per pixel cannot be played");
    return Fail(film, e.what());
  }

  // Segment `number` (from 1) of the film, or false after a message.
  bool CheckSegment(const std::string& film, const TSegments& segments, int32_t number) {
    const auto count = int32_t(segments.size());
    if (number <= count) return true;
    Fail(film, "there is no segment " + std::to_string(number) + " (the film has " +
                   Count(count, "readable segment", "readable segments") + ")");
    return false;
  }

  // Where a time of the film lies: the frame on screen then. The film's end itself gives its
  // last frame, the picture that stays when it ends; a damaged film's readable part does not
  // tell what follows it, so there its end is outside too.
  std::optional<TFramePos> FrameAt(const std::string& film, const TSegments& segments, int64_t millis,
                                   bool damaged, const char* option) {
    const int64_t length = FilmMillis(segments);
    const std::optional<TFramePos> pos = FrameAtTime(segments, millis);
    if (!pos) {
      Fail(film, "the film has no frames: there is nothing to write");
    } else if (millis > length || (damaged && millis == length)) {
      Fail(film, std::string("nothing to write: ") + option + " " + FormatFilmDuration(millis) + " lies beyond the " +
                     (damaged ? "readable part of the film, which ends at " : "film's end at ") +
                     FormatFilmDuration(length));
    } else {
      return pos;
    }
    return std::nullopt;
  }

  // The pictures of every frame from `first` to `last` (film order), or of the whole film
  // played from its start when `first` is empty.
  int Frames(const TZrFilmArgs& args) {
    const std::string& film = args.Film;
    const std::string& dir = args.Dir;
    TLoadReport check;
    if (!CheckFilmPath(film, check)) return Fail(film, ReportText(check));
    std::string folderError;
    if (!PrepareFramesFolder(dir, args.Force, folderError)) return Fail(dir, folderError);

    TToolPlayer player;
    THeadlessHost& host = player.Host;
    TPlaybackCore& core = player.Core;
    TToolUi ui(Err, film);
    std::vector<std::unique_ptr<Segment>> segments;
    if (!Load(film, ui, segments)) return kFailed;
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
      char name[32];
      std::snprintf(name, sizeof name, "/%03d-%05d.png", pos.Segment + 1, pos.Frame);
      if (!WritePngFile(dir + name, *core.Picture(), true, writeError)) return;
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

  // The picture `frame` writes: checked before the film is read, so that a refusal costs
  // nothing.
  bool CheckPictureFile(const std::string& film, const std::string& out, bool force, std::string& error) {
    struct stat target {};
    if (::stat(out.c_str(), &target) == 0) {
      struct stat source {};
      if (S_ISDIR(target.st_mode)) {
        error = "a folder, not a picture file";
      } else if (!S_ISREG(target.st_mode)) {
        // A pipe or a device is never replaced by a file, not even with --force.
        error = "not a regular file";
      } else if (::stat(film.c_str(), &source) == 0 && source.st_dev == target.st_dev &&
                 source.st_ino == target.st_ino) {
        error = "this is the film itself";
      } else if (!force) {
        error = "the file exists (give --force to replace it)";
      }
      return error.empty();
    }
    const std::string folder = FolderOf(out);
    struct stat parent {};
    if (::stat(folder.c_str(), &parent) != 0 || !S_ISDIR(parent.st_mode)) {
      error = "no such folder " + folder;
      return false;
    }
    return true;
  }

  int Frame(const TZrFilmArgs& args) {
    const std::string& film = args.Film;
    TLoadReport check;
    if (!CheckFilmPath(film, check)) return Fail(film, ReportText(check));
    std::string outError;
    if (!CheckPictureFile(film, args.Out, args.Force, outError)) return Fail(args.Out, outError);

    TToolUi ui(Err, film);
    std::vector<std::unique_ptr<Segment>> segments;
    if (!Load(film, ui, segments)) return kFailed;
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

  // A picture of the film for file managers: the first frame of the first segment with frames
  // that shows more than a blank screen (ContentShare), looked for from a tenth of the segment,
  // or its first second when that comes sooner, over the next kThumbnailFrames frames; when
  // none of them does, the one that shows most. Screen films often open on an empty desktop.
  static constexpr int32_t kThumbnailFrames = 100;

  int Thumbnail(const TZrFilmArgs& args) {
    const std::string& film = args.Film;
    TLoadReport check;
    if (!CheckFilmPath(film, check)) return Fail(film, ReportText(check));
    // Replaced unasked: a file manager names a fresh temporary file for the picture, and some
    // create it, empty, before they run the thumbnailer.
    std::string outError;
    if (!CheckPictureFile(film, args.Out, true, outError)) return Fail(args.Out, outError);

    TToolUi ui(Err, film);
    TSegments segments;
    if (!Load(film, ui, segments)) return kFailed;
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

  // What a failed export says.
  static std::string ExportFailure(const TExportResult& r, const std::string& out) {
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
      case TExportErrc::NoSegment:
      case TExportErrc::Options:
      case TExportErrc::Playback:
      case TExportErrc::None:
        break;
    }
    return r.Details;
  }

  // The name of segment `number`'s file in a split export: OUT's stem, "-001", its extension.
  static std::string SplitName(const std::string& out, int32_t number) {
    const std::filesystem::path path(out);
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "-%03d", number);
    return (path.parent_path() / (path.stem().string() + suffix + path.extension().string())).string();
  }

  int Export(const TZrFilmArgs& args) {
    const std::string& film = args.Film;
    TLoadReport check;
    if (!CheckFilmPath(film, check)) return Fail(film, ReportText(check));
    // The files to write: one, or one per segment; an existing one is refused before anything
    // is played.
    TToolUi ui(Err, film);
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
    TInterruptCatcher catcher;
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
      const TExportResult r = ExportFilm(segments, out, options, args.Force, report, &gInterrupted, film);
      if (terminal) std::fputc('\n', stderr);
      if (!r) return Fail(r.Code == TExportErrc::Exists || r.Code == TExportErrc::IsFilm ? out : film,
                          ExportFailure(r, out));
    }
    return kOk;
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
  if (parsed.Command == TZrFilmCommand::Version) {
    out << "zrfilm " VERIROVE_VERSION "\n";
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
    case TZrFilmCommand::Frame:
      return tool.Frame(parsed);
    case TZrFilmCommand::Thumbnail:
      return tool.Thumbnail(parsed);
    case TZrFilmCommand::Export:
      return tool.Export(parsed);
    case TZrFilmCommand::Help:
    case TZrFilmCommand::Version:
      break;
  }
  return kOk;
}
