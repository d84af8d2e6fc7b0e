// zrfilm's command line, read without touching any file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "export/FilmExport.h"

enum class TZrFilmCommand { Help, Info, Extract, Frames, Frame, Thumbnail, Export, Index, Version };

// A thumbnail fits a square of this many pixels unless -s asks for another, up to the largest.
inline constexpr int32_t kThumbnailSize = 256;
inline constexpr int32_t kMaxThumbnailSize = 4096;

struct TZrFilmArgs {
  TZrFilmCommand Command = TZrFilmCommand::Help;
  std::string Film;
  std::string Dir;       // extract, frames
  std::string Out;       // frame, thumbnail: the picture file; export: the video file
  int32_t Segment = 0;   // frames, frame, export --segment N (from 1); 0: not given
  int32_t Frame = -1;    // frame --frame K (from 0); -1: not given
  std::optional<int64_t> At;    // frame --at: a time of the film in milliseconds
  std::optional<int64_t> From;  // frames --from: milliseconds, not after To
  std::optional<int64_t> To;    // frames --to
  bool Force = false;    // frames: write into a folder that is not empty; frame, export: replace Out
  int32_t Size = kThumbnailSize;  // thumbnail -s SIZE: the square the picture must fit
  // export: the format (from --format or Out's extension) and the encoder's settings;
  // Export.Segment is left 0, Segment above names the segment.
  TExportOptions Export;
  bool Split = false;    // export --split: a file per segment
  bool FormatGiven = false;  // export --format was given
  bool GifPaletteGiven = false;  // export --gif-palette was given
  bool ChaptersGiven = false;    // export --chapters was given
  // index: JSON instead of text (--json), every frame's activity too (--frames), the shortest
  // idle stretch (--idle, milliseconds), the cache bypassed (--no-cache).
  bool Json = false;
  bool FrameActivity = false;
  int64_t IdleMs = 5000;
  bool NoCache = false;
  // export --format and --codec as given, read into Export by ParseZrFilmArgs.
  std::optional<std::string> FormatName, CodecName;
};

// Reads the arguments after the program name. False with the reason in `error` for a wrong
// command line. "--help" or "-h" anywhere before "--" asks for the usage, "--version" for the
// version (whichever comes first); after "--" every word is a name, even one that starts with
// "-". An option given twice counts as given last.
// `frame` takes either --at or both --segment and --frame. `export` takes its format from
// --format or the file's extension, and checks that the options fit it
// (ZrFilmExportArgs.cpp: only zrfilm, which links the export, reads them).
bool ParseZrFilmArgs(const std::vector<std::string>& args, TZrFilmArgs& parsed, std::string& error);
// The same without the export's names: --format and --codec are left in FormatName and
// CodecName. Programs without the export (the thumbnailer) read their command lines so.
bool ParseToolArgs(const std::vector<std::string>& args, TZrFilmArgs& parsed, std::string& error);
