#include "cli/ZrFilmTool.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <sstream>

#include "cli/PngWriter.h"
#include "film/FilmLoader.h"
#include "film/SegmentDuration.h"
#include "film/TempFolder.h"

namespace {

constexpr char kUsage[] =
    "usage: zrfilm info FILM\n"
    "       zrfilm extract FILM DIR\n"
    "       zrfilm frames FILM DIR [--segment N]\n"
    "\n"
    "  info     lists the film's segments: number, name, duration, size, bits per pixel,\n"
    "           frames, frame rate and cursor shapes, then the totals\n"
    "  extract  extracts the film's package (also from an executable film) into DIR\n"
    "  frames   plays the film and writes every composed picture, cursor included, to DIR\n"
    "           as SSS-FFFFF.png (segment from 1, frame within the segment from 0);\n"
    "           --segment N plays segment N only\n";

// Exit statuses.
constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kUsageError = 2;

struct TUsageError {
  std::string Message;
};

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

// Loader messages go to standard error, naming the film.
class TToolUi : public IFilmLoaderUi {
 public:
  TToolUi(std::ostream& err, std::string film) : FErr(err), FFilm(std::move(film)) {}
  void ShowMessage(const std::string& text) override {
    FErr << "zrfilm: " << FFilm << ": " << text << "\n";
    FShown = true;
  }
  void SetBannerVisible(bool) override {}
  void FillSegmentsGrid(const std::vector<TSegmentListEntry>&) override {}
  void SetProgressMax(int64_t) override {}
  bool Shown() const { return FShown; }

 private:
  std::ostream& FErr;
  std::string FFilm;
  bool FShown = false;
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
    if (Core) Core->FCurSegment = 0;
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

  int Fail(const std::string& film, const std::string& what) {
    Err << "zrfilm: " << film << ": " << what << "\n";
    return kFailed;
  }

  // Loads the film into the core; false after a message.
  // Loads the film into the core; false after a message. The core keeps the segments.
  bool Load(const std::string& film, TPlaybackCore& core, TToolUi& ui) {
    if (!FilmPathExists(film)) {
      Fail(film, "no such film file");
      return false;
    }
    TFilmLoader loader(core, ui, TempDir);
    loader.SetFileName(film);
    try {
      if (loader.LoadFilm(film)) return true;
      if (!ui.Shown()) Fail(film, "the film could not be loaded");
    } catch (const std::exception& e) {
      Fail(film, e.what());
    }
    return false;
  }

  int Info(const std::string& film) {
    TToolHost host;
    TPlaybackCore core(host);
    TToolUi ui(Err, film);
    if (!Load(film, core, ui)) return kFailed;
    int64_t frames = 0, millis = 0;
    for (size_t i = 0; i < core.FSegments.size(); ++i) {
      const Segment& s = *core.FSegments[i];
      const std::string duration = FormatSegmentDuration(s.FrameCount, s.FrameRate);
      Out << (i + 1) << "\t" << Printable(s.Name) << "\t" << (duration.empty() ? "-" : duration)
          << "\t" << s.Width << "x" << s.Height << "\t" << int(s.BitsPerPixel) << " bits\t"
          << s.FrameCount << " frames\t" << int(s.FrameRate) << " fps\t" << s.CursorList->Count()
          << " cursor shapes\n";
      frames += s.FrameCount;
      if (s.FrameRate) millis += int64_t(double(s.FrameCount) * 1000.0 / s.FrameRate + 0.5);
    }
    char total[64];
    std::snprintf(total, sizeof total, "%02lld:%02lld:%02lld.%03lld",
                  static_cast<long long>(millis / 3600000), static_cast<long long>(millis / 60000 % 60),
                  static_cast<long long>(millis / 1000 % 60), static_cast<long long>(millis % 1000));
    Out << "total\t" << core.FSegments.size() << " segments\t" << total << "\t" << frames
        << " frames\n";
    return kOk;
  }

  int Extract(const std::string& film, const std::string& dir) {
    if (!FilmPathExists(film)) return Fail(film, "no such film file");
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
    try {
      TSTCabReader reader;
      reader.Extract(package, dir);
    } catch (const std::exception& e) {
      status = Fail(film, e.what());
    }
    if (!temporary.empty()) ::unlink(temporary.c_str());
    return status;
  }

  // The package of an executable film, copied to a temporary file of the private folder.
  bool CopyPackageToTemporary(const std::string& film, std::string& temporary, std::string& error) {
    const int source = ::open(film.c_str(), O_RDONLY | O_CLOEXEC);
    if (source < 0) {
      error = std::string("cannot read the film: ") + std::strerror(errno);
      return false;
    }
    temporary = TempDir + "extract-XXXXXX";
    const int target = ::mkstemp(temporary.data());
    if (target < 0) {
      error = std::string("cannot create a temporary file: ") + std::strerror(errno);
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

  int Frames(const std::string& film, const std::string& dir, int32_t onlySegment) {
    TToolHost host;
    TPlaybackCore core(host);
    host.Core = &core;
    TToolUi ui(Err, film);
    if (!Load(film, core, ui)) return kFailed;
    const auto count = int32_t(core.FSegments.size());
    if (onlySegment > count)
      return Fail(film, "there is no segment " + std::to_string(onlySegment) + " (the film has " +
                            std::to_string(count) + ")");
    if (count == 0) return kOk;
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) return Fail(dir, "cannot create the folder: " + ec.message());
    if (core.AllocFrameBuffer(TPlaybackCore::kFrameBufferSize) != kResultOk)
      return Fail(film, "no memory for the frame buffer");

    const bool terminal = ::isatty(STDERR_FILENO);
    const int64_t total = onlySegment > 0 ? core.FSegments[size_t(onlySegment - 1)]->FrameCount
                                          : TotalFrames(core.FSegments);
    int64_t written = 0;
    std::string writeError;
    host.OnComposed = [&] {
      if (!writeError.empty()) return;
      char name[32];
      std::snprintf(name, sizeof name, "/%03d-%05d.png", core.FCurSegment + 1, core.FrameIndex());
      if (!WritePng(dir + name, *core.Picture(), writeError)) return;
      ++written;
      if (terminal && (written % 10 == 0 || written == total))
        std::fprintf(stderr, "\rzrfilm: %lld of %lld frames", static_cast<long long>(written),
                     static_cast<long long>(total));
    };

    const int32_t first = onlySegment > 0 ? onlySegment - 1 : 0;
    core.FCurSegment = first;
    try {
      TResult r = core.SetCurSegment();
      if (r != kResultOk) return Fail(film, std::string("APlay_PauseExecute: ") + ResultText(r));
      while (!host.Stopped && writeError.empty() &&
             (onlySegment == 0 || core.FCurSegment == first))
        core.TimerPlayTimer();
    } catch (const std::exception& e) {
      if (terminal && written) std::fputc('\n', stderr);
      return Fail(film, e.what());
    }
    if (terminal && written) std::fputc('\n', stderr);
    if (!writeError.empty()) return Fail(film, writeError);
    if (!host.Report.empty()) return Fail(film, host.Report);
    return kOk;
  }
};

int32_t ParseSegmentNumber(const std::string& text) {
  int32_t n = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
  if (ec != std::errc() || end != text.data() + text.size() || n < 1)
    throw TUsageError{"--segment wants a segment number from 1, not \"" + text + "\""};
  return n;
}

}  // namespace

int RunZrFilm(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  try {
    if (args.empty()) throw TUsageError{"no command given"};
    for (const auto& a : args)
      if (a == "--help" || a == "-h") {
        out << kUsage;
        return kOk;
      }
    std::string tempError;
    const std::string tempDir = PrivateTempFolder(tempError);
    TTool tool{out, err, tempDir};
    const std::string& command = args[0];
    if (command == "info") {
      if (args.size() != 2) throw TUsageError{"info takes one film"};
      if (tempDir.empty()) return tool.Fail(args[1], tempError);
      return tool.Info(args[1]);
    }
    if (command == "extract") {
      if (args.size() != 3) throw TUsageError{"extract takes a film and a folder"};
      if (tempDir.empty()) return tool.Fail(args[1], tempError);
      return tool.Extract(args[1], args[2]);
    }
    if (command == "frames") {
      std::vector<std::string> positional;
      int32_t segment = 0;
      for (size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--segment") {
          if (i + 1 >= args.size()) throw TUsageError{"--segment wants a number"};
          segment = ParseSegmentNumber(args[++i]);
        } else if (args[i].rfind("--segment=", 0) == 0) {
          segment = ParseSegmentNumber(args[i].substr(10));
        } else if (args[i].rfind("--", 0) == 0) {
          throw TUsageError{"unknown option " + args[i]};
        } else {
          positional.push_back(args[i]);
        }
      }
      if (positional.size() != 2) throw TUsageError{"frames takes a film and a folder"};
      if (tempDir.empty()) return tool.Fail(positional[0], tempError);
      return tool.Frames(positional[0], positional[1], segment);
    }
    throw TUsageError{"unknown command " + command};
  } catch (const TUsageError& e) {
    err << "zrfilm: " << e.Message << "\n" << kUsage;
    return kUsageError;
  }
}
