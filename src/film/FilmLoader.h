// Loading a film: from a path (package or executable film) through this run's own temporary
// folder into segments in memory, which the loader hands over (TakeSegments) to whoever plays
// or lists them.
//
// Stages: empty the run's folder; copy the package out of an executable film when needed;
// inflate the film file "MyFilm.~zrflm" (and nothing else) of the package; read the segment
// list (for the segments grid) and every segment block; empty the folder again. A whole film
// is inflated into memory, not written: the list and each segment are read as soon as their
// bytes are out, and handed on while the rest is inflated (SegmentsArrived), so that a player
// can show the first segment long before the last one is there. Reading only the first
// segments (ReadUpTo, the tools) and listing a film without loading it extract the film file
// into the folder. The user's film file is only ever read. Messages, the loading banner, the grid and
// the progress bar belong to a window (or to the standard error of a tool), reached through
// IFilmLoaderUi.
//
// A film whose later segments are damaged or cut short keeps every complete segment before
// the first damaged one; the user is told which segment is damaged and how many play.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "cabinet/CabSTComps.h"
#include "film/FilmFile.h"
#include <memory>
#include <mutex>

// The film file or the executable film cannot be read as the format says: raised to the
// caller of LoadFilm. what() is the internal English message; Path names the film the user
// chose, Fault says what kind of fault it is (Corrupt, CutShort, NotAFilm, Io or NoMemory).
class EFilmLoad : public std::runtime_error {
 public:
  explicit EFilmLoad(const std::string& message, TFilmErrc fault = TFilmErrc::Corrupt,
                     std::string path = {})
      : std::runtime_error(message), Fault(fault), Path(std::move(path)) {}
  TFilmErrc Fault;
  std::string Path;
};

// Raised by loading that was called off (TFilmLoader::CancelFlag): nothing read is kept and the
// run's folder is emptied, as on every other way out.
class ELoadCancelled : public std::runtime_error {
 public:
  ELoadCancelled() : std::runtime_error("loading was called off") {}
};

// The notices loading gives the user. Each front end words them in its own language: the
// player in Russian (items 1 to 3 of its message list where they apply), the tool in English.
enum class TLoadNotice {
  NoSuchFile,           // Path names nothing
  IsAFolder,            // Path is a folder, not a film
  FilmFileBusy,         // the extracted film file cannot be deleted; Path is that file
  ExecutableLocked,     // the executable film Path stayed locked by another program
  CannotCreatePackage,  // the package copy "temp.zrcab" cannot be created; Path is its path
  FormatNotSupported,   // the package cannot be extracted or holds no film; Details say why
  TemporaryFolder,      // the temporary folder cannot be had or written to; Path is the folder
  DamagedInPart,        // segments from DamagedSegment on cannot be read; the first Playable
                        // of Total play
};

struct TLoadReport {
  TLoadNotice Notice = TLoadNotice::FormatNotSupported;
  std::string Path;     // the film, file or folder the notice is about
  std::string Details;  // the internal English message, for a box's details or a tool's line
  int32_t DamagedSegment = 0;  // 1-based, DamagedInPart only
  int32_t Playable = 0;        // DamagedInPart only
  int32_t Total = 0;           // DamagedInPart only: the segments the film's list names
  TFilmErrc Fault = TFilmErrc::Corrupt;  // DamagedInPart only
  // The system's error number (errno) when the system refused what loading needed: writing
  // into the temporary folder or the package copy (a full disk, a file size limit); else 0.
  int SystemError = 0;
};

class IFilmLoaderUi {
 public:
  virtual ~IFilmLoaderUi() = default;
  // A notice for the user (the player: a modal box with an OK button).
  virtual void ShowMessage(const TLoadReport& report) = 0;
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
  // A whole film's segments read so far can be taken (TakeSegments) while the rest is still
  // being read; `read` segments have been read in all. Called on the loading thread, the
  // list (FillSegmentsGrid) before the first segment.
  virtual void SegmentsArrived(int32_t read) { (void)read; }
  // The reading of a film's later segments has ended (or was called off): no more come.
  virtual void ReadingEnded() {}
};

class TFilmInflow;

class TFilmLoader {
 public:
  static constexpr char kPackageName[] = "temp.zrcab";
  // Where a film file stored in another letter case is extracted until it is renamed.
  static constexpr char kOtherCaseFilmName[] = "MyFilm.~zrflm-case";

  // tempDir is this run's own temporary folder, ending in '/' (see TRunFolder); the loader
  // empties it before and after every load. Empty when there is none: nothing loads then,
  // and tempFolderError says why.
  TFilmLoader(IFilmLoaderUi& ui, std::string tempDir, std::string tempFolderError = {});
  ~TFilmLoader();

  const std::string& FileName() const { return FFileName; }
  // Stores the path, shows its file name and marks the film as not loaded.
  void SetFileName(const std::string& path);

  // Loads the film at path; true when at least its first segment was read (a film without
  // segments counts as read). An empty path gives false and no message; a path that names
  // nothing or a folder, and failures of the package, give their notice and false. A film
  // file whose first segment (or list) cannot be read raises EFilmLoad, and no segments are
  // kept; a later damaged segment keeps the ones before it and gives DamagedInPart.
  bool LoadFilm(const std::string& path);
  // Empties the run's folder, prepares the package and extracts the film file. True when the
  // film file is there to be read (also when the package was cut short and only a part of
  // it could be extracted: PackageCutShort() is then set); shows its own notices.
  bool LoadFromFile(const std::string& path);
  // Reads the segment list at offset 0 and fills the grid; raises EFilmLoad when the list
  // does not fit the file.
  void ReadSegmentList(TByteReader& stream);
  // Opens the extracted film file and reads its segment list into the grid (for listing a
  // film that is not loaded); raises EFilmLoad when the file cannot be opened or read. The
  // run's folder is emptied afterwards.
  void ReadFilmFileSegmentList();
  // Drops the segments read (those not yet handed over).
  void UnloadFilm();
  void ClearSegments();
  int64_t TotalFrames() const;
  // The segments the last LoadFilm read, in film order.
  const std::vector<std::unique_ptr<Segment>>& Segments() const { return FSegments; }
  // Hands the segments read so far over; the loader keeps none. May be called from another
  // thread while a load reads on (after SegmentsArrived).
  std::vector<std::unique_ptr<Segment>> TakeSegments();
  // The segments and frames the last load read (also those handed over).
  int32_t SegmentsRead() const { return FSegmentsRead; }
  int64_t FramesRead() const { return FFramesRead; }
  // Whether the last extraction ended early because the package is cut short or damaged.
  bool PackageCutShort() const { return FPackageCutShort; }
  // The segments the last loaded film's list names (the loaded ones may be fewer).
  int32_t ListedSegments() const { return FListedSegments; }

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
  // How far loading reads the film. Empty (the player): the package's film file whole. Set
  // (the tools): the segments up to the first it names, or every listed one when it names
  // none, and nothing after them: the film file is extracted no further than their end, the
  // rest of it neither inflated nor written, and the segments after them neither read nor
  // checked.
  TLastSegment ReadUpTo;
  // With ReadUpTo, the most of the film file loading reads (0: no limit): segments wanted
  // that end beyond it raise EFilmLoad (Unsupported) once that much has been extracted, so
  // that a few megabytes of package cost no more than this, whatever they unpack to.
  uint64_t ReadLimit = 0;
  // Set (by another thread) to call a load off: LoadFilm and LoadFromFile then end with
  // ELoadCancelled within a block of the package, also while they wait for a locked
  // executable film. Null: loads are never called off.
  const std::atomic<bool>* CancelFlag = nullptr;

 private:
  // Raises ELoadCancelled when the load has been called off.
  void ThrowIfCancelled() const;
  // The stages of LoadFilm after its checks, under the banner; a later damaged segment fills
  // `damaged`.
  bool ReadFilmInto(const std::string& path, TLoadReport& damaged);
  bool EmptyTempDir();
  bool CopyPackageOut(const std::string& path);
  bool FindFilmFileInAnyCase();
  void Notify(TLoadNotice notice, const std::string& path, const std::string& details = {},
              int systemError = 0);

  // The whole film read into memory as it is inflated (ReadFilmInto without ReadUpTo).
  bool ReadFilmInflowing(const std::string& path, TLoadReport& damaged);
  // The film file's inflow by its target (the exact name or another case), during a load into
  // memory.
  TFilmInflow* InflowOf(const std::string& target) const;
  // The film file starts coming out of the package: memory for its `size` bytes, else
  // EFilmLoad (NoMemory).
  void BeginInflow(TFilmInflow& inflow, uint64_t size, const std::string& path);
  // The film file stops being readable at `error` (in its list when `inList`): a later
  // segment gives DamagedInPart in `damaged`, the list or the first segment EFilmLoad.
  void ReportDamage(const std::string& path, bool inList, const TFilmError& error, TLoadReport& damaged);
  // Keeps a segment read, for TakeSegments.
  void KeepSegment(std::unique_ptr<Segment> segment);

  std::vector<std::unique_ptr<Segment>> FSegments;
  mutable std::mutex FSegmentsLock;  // FSegments while a load hands segments on
  std::atomic<int32_t> FSegmentsRead = 0;
  std::atomic<int64_t> FFramesRead = 0;
  // While a whole film is read into memory: the film file of the exact name, whose segments
  // are handed on as they come, and the first in another case, read only when there is no
  // film file of the exact name.
  std::unique_ptr<TFilmInflow> FExactInflow, FOtherInflow;
  IFilmLoaderUi& FUi;
  std::string FFileName;
  bool FPackageCutShort = false;
  std::string FExtractError;  // why the extraction ended early
  int32_t FListedSegments = 0;
};

// Copies the package of the executable film open at `source` (the bytes before the length in
// its last four) into a new file `target`, made afresh: whatever had the name is removed, and
// a FIFO or link put there since is refused. False with errno when the file cannot be made. A
// length of 0 copies nothing; a length that does not fit the file, a short read or a failed
// write raise EFilmLoad naming the file. Once `cancel` is set the copy ends with
// ELoadCancelled.
bool CopyExecutablePackage(int source, const std::string& sourceName, const std::string& target,
                           const std::atomic<bool>* cancel = nullptr);

// Whether a file (not a folder) exists at path.
bool FilmPathExists(const std::string& path);

// Whether the path can be loaded: a regular file; else the report that says why not
// (NoSuchFile, IsAFolder, or FormatNotSupported for a FIFO or a device).
bool CheckFilmPath(const std::string& path, TLoadReport& report);
