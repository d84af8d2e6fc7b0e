// Loading a film: from a path (package or executable film) through the private temporary
// folder into the segments of a playback core.
//
// Stages: delete the old extracted film file; copy the package out of an executable film
// when needed; extract the package into the temporary folder; read the segment list (for
// the segments grid) and every segment block of "MyFilm.~zrflm". The user's film file is
// only ever read. Messages, the loading banner, the grid and the progress bar belong to a
// window (or to the standard error of a tool), reached through IFilmLoaderUi.
#pragma once

#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "film/CabSTComps.h"
#include "film/FilmFile.h"
#include "playback/UzrPlayback.h"

// The film file or the executable film cannot be read as the format says: raised to the
// caller of LoadFilm, whose error report shows the message.
class EFilmLoad : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class IFilmLoaderUi {
 public:
  virtual ~IFilmLoaderUi() = default;
  // A user message in a modal box with an OK button.
  virtual void ShowMessage(const std::string& text) = 0;
  // The loading banner; when shown it is painted at once, before the slow work starts.
  virtual void SetBannerVisible(bool visible) = 0;
  // The segment list for the segments grid: one row per entry (called only when there are
  // entries; otherwise the grid stays as it was).
  virtual void FillSegmentsGrid(const std::vector<TSegmentListEntry>& entries) = 0;
  // The progress bar's maximum: the film's total frame count.
  virtual void SetProgressMax(int64_t frames) = 0;
  // The film's path was set: the path panel shows its file name.
  virtual void FileNameChanged(const std::string& path) { (void)path; }
  // Called between the attempts to open a locked executable film.
  virtual void Waiting() {}
};

class TFilmLoader {
 public:
  static constexpr char kPackageName[] = "temp.zrcab";

  // tempDir is the private temporary folder, ending in '/'.
  TFilmLoader(TPlaybackCore& core, IFilmLoaderUi& ui, std::string tempDir);

  const std::string& FileName() const { return FFileName; }
  // Stores the path, shows its file name and marks the film as not loaded.
  void SetFileName(const std::string& path);

  // Loads the film at path; true when it was read completely. A path that names no file
  // gives false and no message; failures of the package give their message and false; a
  // film file that cannot be read raises EFilmLoad (no segments are kept then).
  bool LoadFilm(const std::string& path);
  // Deletes the old film file, prepares the package and extracts it. True when the
  // extraction succeeded; shows its own messages.
  bool LoadFromFile(const std::string& path);
  // Reads the segment list at offset 0 and fills the grid; raises EFilmLoad when the list
  // does not fit the file.
  void ReadSegmentList(TByteReader& stream);
  // Opens the extracted film file and reads its segment list into the grid (for listing a
  // film that is not loaded); raises EFilmLoad when the file cannot be opened or read.
  void ReadFilmFileSegmentList();
  // Reads one segment block and appends its segment; raises EFilmLoad on a damaged block.
  void LoadSegmentFromStream(TByteReader& stream);
  void UnloadFilm();
  void ClearSegments();
  int64_t TotalFrames() const;

  std::string PackagePath;  // the film path itself, or TempDir + "temp.zrcab"
  const std::string TempDir;
  const std::string FilmFile;  // TempDir + "MyFilm.~zrflm"
  bool Loaded = false;
  // How long an executable film locked by another program is waited for, and the pause
  // between attempts.
  std::chrono::milliseconds LockWindow{15000};
  std::chrono::milliseconds LockPause{50};
  TSTCabReader STCabReader;
  // Why there is no temporary folder, when TempDir is empty: nothing can be loaded then.
  std::string TempFolderError;

 private:
  bool DeleteOldFilmFile();
  bool CopyPackageOut(const std::string& path);
  void FindFilmFileInAnyCase();

  TPlaybackCore& FCore;
  IFilmLoaderUi& FUi;
  std::string FFileName;
};

// Copies the package of the executable film open at `source` (the bytes before the length in
// its last four) to the start of `target`. A length of 0 copies nothing; a length that does not
// fit the file, a short read or a failed write raise EFilmLoad naming the file.
void CopyExecutablePackage(int source, const std::string& sourceName, int target,
                           const std::string& targetName);

// Whether a file (not a folder) exists at path.
bool FilmPathExists(const std::string& path);
