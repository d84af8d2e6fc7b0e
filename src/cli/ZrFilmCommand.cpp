#include "cli/ZrFilmCommand.h"

#include <cstring>
#include <iostream>
#include <new>

#include <sys/stat.h>

#include <string_view>

#include "film/SegmentDuration.h"
#include "film/TempFolder.h"
#include "io/FilePlace.h"
#include "io/SameFile.h"

std::string Count(int64_t n, const char* singular, const char* plural) {
  return std::to_string(n) + " " + (n == 1 ? singular : plural);
}

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
    case TFilmErrc::Unsupported:
      return "more than this program reads";
    case TFilmErrc::Corrupt:
    default:
      break;
  }
  return "the film is damaged";
}

std::string ReportText(const TLoadReport& r) {
  // The system's reason in words when it refused (the line names the film already), else the
  // internal message.
  auto with = [&](std::string text) {
    if (r.SystemError != 0) return text + ": " + std::strerror(r.SystemError);
    return r.Details.empty() ? text : text + ": " + r.Details;
  };
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

int TTool::Fail(const std::string& film, const std::string& what) {
  Err << Program << ": " << film << ": " << what << "\n";
  return kFailed;
}

int RunToolCommand(const char* program, std::ostream& out, std::ostream& err, const std::string& film,
                   const std::function<int(TTool&)>& command) {
  const TRunFolder runFolder;
  TTool tool{out, err, runFolder.Path(), runFolder.Error(), program};
  try {
    return command(tool);
  } catch (const std::bad_alloc&) {
    return tool.Fail(film, "not enough memory");
  }
}

TLastSegment AllSegments() {
  return [](int32_t, const TSegInfo&) { return false; };
}

TLastSegment UpToSegment(int32_t number) {
  return [number](int32_t n, const TSegInfo&) { return n >= number; };
}

int ProgramMain(const char* program, int argc, char** argv, TProgramRun run) {
  // Interrupted, the run's temporary folder goes too.
  TRunFolder::RemoveOnSignals();
  // A command says itself when memory runs out; this catches what runs out around it.
  try {
    const std::vector<std::string> args(argv + 1, argv + argc);
    return run(args, std::cout, std::cerr);
  } catch (const std::bad_alloc&) {
    std::cerr << program << ": not enough memory\n";
    return kFailed;
  }
}

bool TTool::Load(const std::string& film, TToolUi& ui, std::vector<std::unique_ptr<Segment>>& segments,
                 const TLastSegment& upTo, uint64_t readLimit) {
  TLoadReport check;
  if (!CheckFilmPath(film, check)) {
    ui.ShowMessage(check);
    return false;
  }
  TFilmLoader loader(ui, TempDir, TempError);
  loader.SetFileName(film);
  // A film padded far beyond its segments, or one whose later segments are huge, costs no
  // more than the segments the command uses.
  loader.ReadUpTo = upTo;
  loader.ReadLimit = readLimit;
  try {
    if (loader.LoadFilm(film)) {
      segments = loader.TakeSegments();
      return true;
    }
    if (!ui.Shown()) Fail(film, "the film could not be loaded");
  } catch (const EFilmLoad& e) {
    Fail(film, FaultText(e.Fault) + ": " + e.what());
  } catch (const std::bad_alloc&) {
    Fail(film, FaultText(TFilmErrc::NoMemory));
  } catch (const std::exception& e) {
    Fail(film, e.what());
  }
  return false;
}

bool TTool::Start(const std::string& film, TPlaybackCore& core, TSegments segments) {
  core.TakeFilm(std::move(segments));
  if (core.AllocFrameBuffer(TPlaybackCore::kFrameBufferSize) == kResultOk) return true;
  Fail(film, "no memory for the frame buffer");
  return false;
}

bool TTool::Seek(const std::string& film, TToolPlayer& player, TFramePos pos) {
  const TResult r = player.Core.SeekFrame(pos);
  if (r == kResultOk) return true;
  Fail(film, player.Host.Report.empty() ? ResultText(r) : player.Host.Report);
  return false;
}

int TTool::PlaybackFailure(const std::string& film, const TPlaybackCore& core, const std::exception& e) {
  if (dynamic_cast<const std::bad_alloc*>(&e)) return Fail(film, "not enough memory");
  const auto* playback = dynamic_cast<const EPlayback*>(&e);
  if (playback && playback->Code() == TPlaybackErrc::UnsupportedVideoMode && core.HasCurrentSegment())
    return Fail(film, "segment " + std::to_string(core.CurSegment() + 1) + ": " +
                          std::to_string(int(core.Segments()[size_t(core.CurSegment())]->BitsPerPixel)) +
                          " bits per pixel cannot be played");
  return Fail(film, e.what());
}

bool TTool::CheckSegment(const std::string& film, const TSegments& segments, int32_t number) {
  const auto count = int32_t(segments.size());
  if (number <= count) return true;
  Fail(film, "there is no segment " + std::to_string(number) + " (the film has " +
                 Count(count, "readable segment", "readable segments") + ")");
  return false;
}

std::optional<TFramePos> TTool::FrameAt(const std::string& film, const TSegments& segments, int64_t millis,
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

bool TTool::CheckPictureFile(const std::string& film, const std::string& out, bool force, std::string& error) {
  struct stat target {};
  if (::stat(out.c_str(), &target) == 0) {
    struct stat source {};
    if (S_ISDIR(target.st_mode)) {
      error = "a folder, not a picture file";
    } else if (!S_ISREG(target.st_mode)) {
      // A pipe or a device is never replaced by a file, not even with --force.
      error = "not a regular file";
    } else if (::stat(film.c_str(), &source) == 0 && SameFile(source, target)) {
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
