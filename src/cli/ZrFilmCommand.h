// What the zrfilm commands share: the exit statuses, the loader's notices and film faults in
// the tool's words, loading a film and playing it without windows, and the failure message
// that names the film or file.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/ZrFilmArgs.h"
#include "film/FilmLoader.h"
#include "playback/HeadlessHost.h"
#include "playback/UzrPlayback.h"

// Exit statuses.
constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kUsageError = 2;

// "1 segment", "2 segments".
std::string Count(int64_t n, const char* singular, const char* plural);

// Text from a film for a terminal: control characters become '?'.
std::string Printable(const std::string& text);

// What a film fault is, in the tool's words.
std::string FaultText(TFilmErrc fault);

// The loader's notices in English.
std::string ReportText(const TLoadReport& r);

// Loader messages go to standard error, naming the program and the film.
class TToolUi : public IFilmLoaderUi {
 public:
  TToolUi(const char* program, std::ostream& err, std::string film)
      : FProgram(program), FErr(err), FFilm(std::move(film)) {}
  void ShowMessage(const TLoadReport& report) override {
    FErr << FProgram << ": " << FFilm << ": " << ReportText(report) << "\n";
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
  const char* FProgram;
  std::ostream& FErr;
  std::string FFilm;
  bool FShown = false;
  bool FDamaged = false;
};


// How far a command reads a film (TFilmLoader::ReadUpTo): every listed segment and nothing
// after them, or the segments up to segment `number` (from 1).
TLastSegment AllSegments();
TLastSegment UpToSegment(int32_t number);

// A core playing without windows, and its host.
struct TToolPlayer {
  THeadlessHost Host;
  TPlaybackCore Core{Host};
  TToolPlayer() { Host.Core = &Core; }
};

// A run of the tool: where its output goes, its private temporary folder (or why there is
// none), the program's name in its messages, what the commands share, and the commands.
struct TTool {
  std::ostream& Out;
  std::ostream& Err;
  std::string TempDir;
  std::string TempError;
  const char* Program = "zrfilm";

  // "PROGRAM: FILM: WHAT" on standard error; returns the exit status for a failure.
  int Fail(const std::string& film, const std::string& what);

  // Loads the film's segments up to the one `upTo` names, reading the package no further
  // (nor beyond `readLimit` bytes of the film file, when not 0); false after a message. A damaged film keeps those before the damage (ui.Damaged() tells).
  bool Load(const std::string& film, TToolUi& ui, std::vector<std::unique_ptr<Segment>>& segments,
            const TLastSegment& upTo = AllSegments(), uint64_t readLimit = 0);

  // Hands the segments to the core, with a frame buffer; false after a message.
  bool Start(const std::string& film, TPlaybackCore& core, TSegments segments);

  // Shows frame `pos`; false after a message.
  bool Seek(const std::string& film, TToolPlayer& player, TFramePos pos);

  // What a failed playback step says: the player's own words for a depth it cannot show are
  // Russian; the tool says it in English.
  int PlaybackFailure(const std::string& film, const TPlaybackCore& core, const std::exception& e);

  // Segment `number` (from 1) of the film, or false after a message.
  bool CheckSegment(const std::string& film, const TSegments& segments, int32_t number);

  // Where a time of the film lies: the frame on screen then. The film's end itself gives its
  // last frame, the picture that stays when it ends; a damaged film's readable part does not
  // tell what follows it, so there its end is outside too.
  std::optional<TFramePos> FrameAt(const std::string& film, const TSegments& segments, int64_t millis,
                                   bool damaged, const char* option);

  // The picture `frame` writes: checked before the film is read, so that a refusal costs
  // nothing.
  bool CheckPictureFile(const std::string& film, const std::string& out, bool force, std::string& error);

  // The commands, each in the file named after it; they return the exit status.
  int Info(const std::string& film);                               // ZrFilmInfo.cpp
  int Extract(const std::string& film, const std::string& dir);    // ZrFilmExtract.cpp
  int Frames(const TZrFilmArgs& args);                             // ZrFilmFrames.cpp
  int Frame(const TZrFilmArgs& args);                              // ZrFilmFrame.cpp
  int Thumbnail(const TZrFilmArgs& args);                          // ZrFilmThumbnail.cpp
  int Export(const TZrFilmArgs& args);                             // ZrFilmExport.cpp (zrfilm only)
  int Index(const TZrFilmArgs& args);                              // ZrFilmIndex.cpp (zrfilm only)
};

// A program's main: its run folder removed on the signals that end it, `run` given the
// arguments, and running out of memory around it said as "PROGRAM: not enough memory", exit 1.
using TProgramRun = int (*)(const std::vector<std::string>&, std::ostream&, std::ostream&);
int ProgramMain(const char* program, int argc, char** argv, TProgramRun run);

// Runs one command about `film` with a TTool of its own, in a temporary folder of the run's
// own, removed when it ends. Running out of memory anywhere in the command is a failure that
// says so ("PROGRAM: FILM: not enough memory"), never an abort.
int RunToolCommand(const char* program, std::ostream& out, std::ostream& err, const std::string& film,
                   const std::function<int(TTool&)>& command);
