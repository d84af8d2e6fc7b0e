#include "film/FilmLoader.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>
#include <string_view>
#include <thread>

#include "film/FilmExtent.h"
#include "film/TempFolder.h"
#include "io/ScopeGuard.h"
#include "io/TextCase.h"
#include "io/UniqueFd.h"

namespace {

// A read-only view of a whole file. The segments read from it refer to its bytes and share
// its ownership: it is unmapped when the last of them goes. The pages stay when the file is
// deleted, so the run's folder can be emptied as soon as the film is read.
class TMapping {
 public:
  TMapping() = default;
  TMapping(const TMapping&) = delete;
  TMapping& operator=(const TMapping&) = delete;
  bool Map(int fd, size_t size) {
    if (size == 0) return true;
    void* p = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (p == MAP_FAILED) return false;
    FData = static_cast<const uint8_t*>(p);
    FSize = size;
    return true;
  }
  ~TMapping() {
    if (FData) ::munmap(const_cast<uint8_t*>(FData), FSize);
  }
  // Maps the regular file open at fd whole; false when it is no regular file or cannot be
  // mapped.
  bool MapRegularFile(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && Map(fd, size_t(st.st_size));
  }
  std::span<const uint8_t> Bytes() const { return {FData, FSize}; }
  // Private memory for `size` bytes to be written in place (pages are taken as they are
  // written); false when it cannot be had.
  bool Reserve(size_t size) {
    if (size == 0) return true;
    void* p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (p == MAP_FAILED) return false;
    FData = static_cast<const uint8_t*>(p);
    FSize = size;
    return true;
  }
  uint8_t* Writable() const { return const_cast<uint8_t*>(FData); }

 private:
  const uint8_t* FData = nullptr;
  size_t FSize = 0;
};

// Opens a file for reading and takes an exclusive lock on it: -1 while another program holds
// a lock on it (or it cannot be opened).
int OpenUnshared(const std::string& path) {
  TFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd || ::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) return -1;
  return fd.Release();
}

bool WriteAll(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n, size -= size_t(n);
  }
  return true;
}

}  // namespace

// A film file as it comes out of the package: its bytes, written into memory of the size the
// package gives it, and what has been read of them: the segment list once it is whole, and
// each segment block once the counts and sizes before it say it is whole. What is read refers
// to the memory, which the segments keep.
class TFilmInflow {
 public:
  // What is read, as it is read.
  std::function<void(const std::vector<TSegmentListEntry>&)> OnList;
  std::function<void(std::unique_ptr<Segment>)> OnSegment;

  TFilmInflow() : FExtent(FSegmentEnd) {}
  TFilmInflow(const TFilmInflow&) = delete;
  TFilmInflow& operator=(const TFilmInflow&) = delete;

  // The film file starts; `size` is what the package says it holds. False without memory.
  bool Begin(uint64_t size) {
    FStarted = true;
    return size <= SIZE_MAX && FMemory->Reserve(size_t(size));
  }
  bool Started() const { return FStarted; }
  uint64_t Filled() const { return FFilled; }
  // Takes the next bytes; false when they go beyond the size given.
  bool Append(std::span<const uint8_t> data) {
    if (data.size() > FMemory->Bytes().size() - FFilled) return false;
    if (!data.empty()) std::memcpy(FMemory->Writable() + FFilled, data.data(), data.size());
    FFilled += data.size();
    FExtent.Feed(data);
    return true;
  }
  // Reads what the bytes so far hold whole. True once nothing more is needed of the film file:
  // every listed segment has been read, or one of them is damaged whatever follows.
  bool Advance() { return Read(false); }
  // Reads the rest once the film file is all there is, as ReadFilm reads a whole file: true
  // when the list and every segment were read, else `error` says what stopped the reading.
  bool Finish(TFilmError& error) {
    Read(true);
    error = FError;
    return !FFailed;
  }
  int32_t Listed() const { return int32_t(FList.size()); }
  bool ListRead() const { return FListRead; }

 private:
  bool Read(bool atEnd) {
    if (FFailed || FDone) return true;
    if (FDeferred && !atEnd) return false;
    const std::span<const uint8_t> bytes(FMemory->Bytes().data(), FFilled);
    if (!FListRead) {
      if (!atEnd) {
        if (FFilled < 4) return false;
        const int32_t count = TByteReader(bytes).ReadI32();
        if (count > 0 && FFilled < 4 + uint64_t(count) * kSegmentListEntrySize) return false;
      }
      TByteReader stream(bytes);
      if (!ReadSegmentList(stream, FList, FError)) return FFailed = true;
      FListRead = true;
      FPos = stream.Position();
      if (OnList) OnList(FList);
    }
    while (FRead < FList.size()) {
      // A block is read once its end is known and there, or when no more bytes come.
      if (!atEnd && FEnds.size() <= FRead && !FExtent.Complete()) return false;
      TByteReader stream(bytes);
      stream.Seek(FPos);
      auto segment = std::make_unique<Segment>();
      if (!ReadSegmentBlock(stream, int32_t(FRead + 1), *segment, FError, FMemory)) {
        // Bytes the counts did not foresee: read again when all are there.
        if (FError.EndsEarly && !atEnd) return FDeferred = true, false;
        return FFailed = true;
      }
      FPos = stream.Position();
      ++FRead;
      if (OnSegment) OnSegment(std::move(segment));
    }
    return FDone = true;
  }

  std::shared_ptr<TMapping> FMemory = std::make_shared<TMapping>();
  uint64_t FFilled = 0;
  bool FStarted = false;
  // Where each segment block but the last ends, as the counts and sizes say.
  std::vector<uint64_t> FEnds;
  const TLastSegment FSegmentEnd = [this](int32_t, const TSegInfo&) {
    FEnds.push_back(FExtent.End());
    return false;
  };
  TFilmExtent FExtent;
  std::vector<TSegmentListEntry> FList;
  bool FListRead = false;
  size_t FRead = 0;  // segments read
  size_t FPos = 0;   // where the next block starts
  bool FDone = false, FFailed = false, FDeferred = false;
  TFilmError FError;
};

bool CopyExecutablePackage(int source, const std::string& sourceName, const std::string& targetName,
                           const std::atomic<bool>* cancel) {
  // A fresh regular file only: O_EXCL refuses whatever took the name since it was removed (a
  // FIFO would block the copy, a hard link would carry the bytes elsewhere).
  ::unlink(targetName.c_str());
  const TFd target(::open(targetName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!target) return false;
  struct stat st {};
  if (::fstat(source, &st) != 0)
    throw EFilmLoad("LoadFromFile: cannot read " + sourceName + ": " + std::strerror(errno), TFilmErrc::Io);
  const int64_t size = st.st_size;
  uint8_t tail[4] = {};
  if (size >= 4 && ::pread(source, tail, 4, size - 4) != 4)
    throw EFilmLoad("LoadFromFile: cannot read the package length of " + sourceName, TFilmErrc::Io);
  const int32_t length = TByteReader(tail).ReadI32();
  TPackageSpan span;
  TFilmError error;
  // A length of 0 copies nothing: the empty package then fails to extract.
  if (length != 0 && !LocatePackage(size, length, span, error))
    throw EFilmLoad("LoadFromFile: " + sourceName + ": " + error.Message, TFilmErrc::NotAFilm);

  std::vector<uint8_t> buffer(size_t(1) << 20);
  for (int64_t done = 0; done < span.Length;) {
    if (cancel && cancel->load()) throw ELoadCancelled();
    const size_t chunk = size_t(std::min<int64_t>(int64_t(buffer.size()), span.Length - done));
    const ssize_t n = ::pread(source, buffer.data(), chunk, span.Offset + done);
    if (n <= 0) throw EFilmLoad("LoadFromFile: " + sourceName + " ends inside its package", TFilmErrc::CutShort);
    if (!WriteAll(target.Get(), buffer.data(), size_t(n)))
      throw EFilmLoad("LoadFromFile: cannot write " + targetName + ": " + std::strerror(errno), TFilmErrc::Io);
    done += n;
  }
  return true;
}

bool FilmPathExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool CheckFilmPath(const std::string& path, TLoadReport& report) {
  report = TLoadReport{};
  report.Path = path;
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0) {
    report.Notice = TLoadNotice::NoSuchFile;
    report.Details = path + ": " + std::strerror(path.empty() ? ENOENT : errno);
    return false;
  }
  if (S_ISDIR(st.st_mode)) {
    report.Notice = TLoadNotice::IsAFolder;
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    // A FIFO or a device would block the reader or never end.
    report.Notice = TLoadNotice::FormatNotSupported;
    report.Details = path + " is not a regular file";
    return false;
  }
  return true;
}

TFilmLoader::TFilmLoader(IFilmLoaderUi& ui, std::string tempDir,
                         std::string tempFolderError)
    : TempDir(std::move(tempDir)),
      FilmFile(TempDir.empty() ? std::string() : TempDir + kFilmFileName),
      TempFolderError(std::move(tempFolderError)),
      FUi(ui) {}

TFilmLoader::~TFilmLoader() = default;

void TFilmLoader::SetFileName(const std::string& path) {
  FFileName = path;
  FUi.FileNameChanged(path);
  Loaded = false;
}

void TFilmLoader::ThrowIfCancelled() const {
  if (CancelFlag && CancelFlag->load()) throw ELoadCancelled();
}

void TFilmLoader::Notify(TLoadNotice notice, const std::string& path, const std::string& details, int systemError) {
  TLoadReport report;
  report.Notice = notice;
  report.Path = path;
  report.Details = details;
  report.SystemError = systemError;
  FUi.ShowMessage(report);
}

namespace {

TFilmErrc FaultOf(const TFilmError& error) {
  if (error.Code == TFilmErrc::NoMemory) return TFilmErrc::NoMemory;
  if (error.Code == TFilmErrc::Io) return TFilmErrc::Io;
  // Shapes beyond the player's budget read as a damaged film, as they always have.
  return error.EndsEarly ? TFilmErrc::CutShort : TFilmErrc::Corrupt;
}

}  // namespace

bool TFilmLoader::LoadFilm(const std::string& path) {
  if (path.empty()) return false;
  TLoadReport check;
  if (!CheckFilmPath(path, check)) {
    FUi.ShowMessage(check);
    return false;
  }
  TLoadReport damaged;
  bool loaded = false;
  {
    FUi.SetBannerVisible(true);
    const auto hideBanner = OnScopeExit([this] { FUi.SetBannerVisible(false); });
    loaded = ReadFilmInto(path, damaged);
  }
  // Told once the banner is gone: the segments before the damage are loaded and play.
  if (damaged.DamagedSegment > 0) FUi.ShowMessage(damaged);
  return loaded;
}

bool TFilmLoader::ReadFilmInto(const std::string& path, TLoadReport& damaged) {
  UnloadFilm();
  FListedSegments = 0;
  FSegmentsRead = 0;
  FFramesRead = 0;
  // Nothing extracted stays, on every way out.
  const auto emptyAfterwards = OnScopeExit([this] { EmptyTempDir(); });
  if (!ReadUpTo) return ReadFilmInflowing(path, damaged);
  if (!LoadFromFile(path)) return false;

  // The run's folder is this process's own: no other program opens or replaces the file.
  TFd fd(::open(FilmFile.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!fd) {
    Notify(TLoadNotice::FormatNotSupported, path,
           FPackageCutShort ? FExtractError
                            : path + ": the package holds no film file " + kFilmFileName);
    return false;
  }
  auto mapping = std::make_shared<TMapping>();
  if (!mapping->MapRegularFile(fd.Get())) {
    // ENOMEM where the address space is short: memory, not the disk.
    const int error = errno;
    throw EFilmLoad("LoadFilm: cannot read " + FilmFile + ": " + std::strerror(error),
                    error == ENOMEM ? TFilmErrc::NoMemory : TFilmErrc::Io, path);
  }

  // The sections are read in place: the film is held once, in the mapping.
  TFilm film;
  TFilmError error;
  const bool whole = ReadFilm(mapping->Bytes(), mapping, film, error, ReadUpTo);
  ThrowIfCancelled();
  if (!film.List.empty()) FUi.FillSegmentsGrid(film.List);
  FListedSegments = int32_t(film.List.size());
  for (auto& segment : film.Segments) KeepSegment(std::move(segment));
  if (!whole) ReportDamage(path, film.List.empty(), error, damaged);
  Loaded = true;
  FUi.SetProgressMax(FFramesRead);
  return true;
}

void TFilmLoader::ReportDamage(const std::string& path, bool inList, const TFilmError& error,
                               TLoadReport& damaged) {
  std::string details = (inList ? "ReadSegmentList: " : "LoadSegmentFromStream: ") + error.Message;
  TFilmErrc fault = FaultOf(error);
  // When the package was cut short, that is the cause of the fault in the film file.
  if (FPackageCutShort) {
    details += " (" + FExtractError + ")";
    fault = TFilmErrc::CutShort;
  }
  // Without a complete first segment nothing plays; later faults keep what came before.
  if (FSegmentsRead == 0) {
    UnloadFilm();
    throw EFilmLoad(details, fault, path);
  }
  damaged.Notice = TLoadNotice::DamagedInPart;
  damaged.Path = path;
  damaged.Details = details;
  damaged.Fault = fault;
  damaged.DamagedSegment = FSegmentsRead + 1;
  damaged.Playable = FSegmentsRead;
  damaged.Total = FListedSegments;
}

void TFilmLoader::KeepSegment(std::unique_ptr<Segment> segment) {
  FFramesRead += segment->FrameCount;
  {
    const std::lock_guard lock(FSegmentsLock);
    FSegments.push_back(std::move(segment));
  }
  ++FSegmentsRead;
}

void TFilmLoader::BeginInflow(TFilmInflow& inflow, uint64_t size, const std::string& path) {
  if (!inflow.Begin(size))
    throw EFilmLoad("LoadFilm: no memory for the " + std::to_string(size) + " bytes of the film file",
                    TFilmErrc::NoMemory, path);
}

TFilmInflow* TFilmLoader::InflowOf(const std::string& target) const {
  return target == FilmFile ? FExactInflow.get() : FOtherInflow.get();
}

bool TFilmLoader::ReadFilmInflowing(const std::string& path, TLoadReport& damaged) {
  FExactInflow = std::make_unique<TFilmInflow>();
  FOtherInflow = std::make_unique<TFilmInflow>();
  const auto dropInflows = OnScopeExit([this] {
    FExactInflow.reset();
    FOtherInflow.reset();
  });
  // The film file of the exact name is read as it comes: the list for the grid, then each
  // segment, handed on at once.
  FExactInflow->OnList = [this](const std::vector<TSegmentListEntry>& list) {
    ThrowIfCancelled();
    FListedSegments = int32_t(list.size());
    if (!list.empty()) FUi.FillSegmentsGrid(list);
  };
  FExactInflow->OnSegment = [this](std::unique_ptr<Segment> segment) {
    ThrowIfCancelled();
    KeepSegment(std::move(segment));
    FUi.SegmentsArrived(FSegmentsRead);
  };
  if (!LoadFromFile(path)) return false;
  TFilmInflow* inflow = FExactInflow->Started() ? FExactInflow.get() : FOtherInflow.get();
  if (!inflow->Started()) {
    Notify(TLoadNotice::FormatNotSupported, path,
           FPackageCutShort ? FExtractError
                            : path + ": the package holds no film file " + kFilmFileName);
    return false;
  }
  // Another case: nothing has been read of it yet.
  if (inflow == FOtherInflow.get()) inflow->OnList = FExactInflow->OnList, inflow->OnSegment = FExactInflow->OnSegment;
  TFilmError error;
  const bool whole = inflow->Finish(error);
  ThrowIfCancelled();
  if (!whole) ReportDamage(path, !inflow->ListRead(), error, damaged);
  Loaded = true;
  FUi.SetProgressMax(FFramesRead);
  return true;
}

bool TFilmLoader::EmptyTempDir() {
  if (TempDir.empty()) return false;
  std::string error;
  return RemoveFolderContents(TempDir, error);
}

bool TFilmLoader::CopyPackageOut(const std::string& path) {
  // Opened without sharing: while another program holds the file, try again until the
  // window has passed.
  const auto start = std::chrono::steady_clock::now();
  TFd source(OpenUnshared(path));
  while (!source) {
    ThrowIfCancelled();
    if (!FilmPathExists(path)) return false;
    if (std::chrono::steady_clock::now() - start > LockWindow) {
      Notify(TLoadNotice::ExecutableLocked, path);
      return false;
    }
    FUi.Waiting();
    std::this_thread::sleep_for(LockPause);
    source.Reset(OpenUnshared(path));
  }

  // The folder was emptied: the copy is made afresh.
  PackagePath = TempDir + kPackageName;
  bool made = false;
  try {
    made = CopyExecutablePackage(source.Get(), path, PackagePath, CancelFlag);
  } catch (const EFilmLoad& e) {
    // A foreign executable (no package length at its end) is no film; a failed write is the
    // temporary folder's fault.
    throw EFilmLoad(e.what(), e.Fault, path);
  }
  if (!made) {
    const int error = errno;
    Notify(TLoadNotice::CannotCreatePackage, PackagePath, PackagePath + ": " + std::strerror(error), error);
    return false;
  }
  return true;
}

bool TFilmLoader::FindFilmFileInAnyCase() {
  struct stat st {};
  if (::lstat(FilmFile.c_str(), &st) == 0) return S_ISREG(st.st_mode);
  const std::string other = TempDir + kOtherCaseFilmName;
  if (::lstat(other.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  return ::rename(other.c_str(), FilmFile.c_str()) == 0;
}

bool TFilmLoader::LoadFromFile(const std::string& path) {
  FPackageCutShort = false;
  FExtractError.clear();
  ThrowIfCancelled();
  if (TempDir.empty()) {
    Notify(TLoadNotice::TemporaryFolder, std::string(), TempFolderError);
    return false;
  }
  // The folder is this run's own; whatever an earlier load left there goes.
  std::string emptyError;
  if (!RemoveFolderContents(TempDir, emptyError)) {
    Notify(TLoadNotice::FilmFileBusy, FilmFile, emptyError);
    return false;
  }
  const bool temporary = IsExecutableFilmPath(path);
  if (!temporary) {
    // The stored path, not the argument: every caller has made them equal.
    PackagePath = FFileName.empty() ? path : FFileName;
  } else if (!CopyPackageOut(path)) {
    return false;
  }

  // Only the film file is written: other files of the package are not needed to play it.
  // The film file is "MyFilm.~zrflm" in any letter case at the top of the package; the first
  // of the exact name wins, else the first in another case.
  bool otherCaseTaken = false;
  // With ReadUpTo, each film file written is followed to the end of the segments wanted.
  std::optional<TFilmExtent> exactExtent, otherExtent;
  STCabReader.OnCopyFile = [&](TSTCabReader&, const std::string&, int32_t size, uint16_t, uint16_t,
                               uint16_t, uint16_t, std::string& target, bool&) {
    if (target.size() <= TempDir.size() || target.compare(0, TempDir.size(), TempDir) != 0) return;
    const std::string name = target.substr(TempDir.size());
    if (name == kFilmFileName) {
      // A second film file of the same name is not read: the first one is the film (read
      // into memory, it may have been handed on already).
      if (exactExtent) return target.clear();
      exactExtent.emplace(ReadUpTo);
      if (FExactInflow) BeginInflow(*FExactInflow, uint32_t(size), path);
      return;
    }
    if (!otherCaseTaken && name.find('/') == std::string::npos &&
        EqualNoCase(name, kFilmFileName)) {
      otherCaseTaken = true;
      target = TempDir + kOtherCaseFilmName;
      otherExtent.emplace(ReadUpTo);
      if (FOtherInflow) BeginInflow(*FOtherInflow, uint32_t(size), path);
      return;
    }
    target.clear();
  };
  // Whether each film file was ended at ReadLimit, short of the segments wanted.
  bool exactBeyond = false, otherBeyond = false;
  const bool inflowing = FExactInflow != nullptr;
  if (ReadUpTo || CancelFlag || inflowing) {
    STCabReader.OnFileData = [&](TSTCabReader&, const std::string& target, std::span<const uint8_t> data,
                                 bool& complete) {
      // Raised here, it stops the decompressor and reaches the caller of Extract.
      ThrowIfCancelled();
      if (inflowing) {
        TFilmInflow& inflow = *InflowOf(target);
        if (!inflow.Append(data))
          throw EFilmLoad("LoadFromFile: " + path + ": the film file holds more than its package says",
                          TFilmErrc::Corrupt, path);
        // The other case is read once the package is out, when there is no exact name.
        complete = &inflow == FExactInflow.get() && inflow.Advance();
        return;
      }
      if (!ReadUpTo) return;
      const bool exact = target == FilmFile;
      std::optional<TFilmExtent>& extent = exact ? exactExtent : otherExtent;
      complete = extent && extent->Feed(data);
      if (extent && !complete && ReadLimit && extent->End() >= ReadLimit) {
        (exact ? exactBeyond : otherBeyond) = true;
        complete = true;
      }
    };
  }
  // A package cut short still gives the film file as far as its data goes.
  STCabReader.SalvageCutShort = true;
  // Into memory: nothing is written.
  STCabReader.FileDataOnly = inflowing;
  // The handlers refer to this call's locals: they go with the call, on every way out.
  const auto dropHandler = OnScopeExit([this] {
    STCabReader.OnCopyFile = nullptr;
    STCabReader.OnFileData = nullptr;
    STCabReader.FileDataOnly = false;
  });
  bool extracted = true;
  try {
    STCabReader.Extract(PackagePath, TempDir);
  } catch (const EOSError& e) {
    // Writing into the temporary folder failed: a full disk is not a damaged film.
    Notify(TLoadNotice::TemporaryFolder, TempDir, PackagePath + ": " + e.what(), e.code().value());
    return false;
  } catch (const ESTCabinet& e) {
    FExtractError = PackagePath + ": " + e.what();
    if (e.ErrorCode == FDIERROR_TARGET_FILE) {
      Notify(TLoadNotice::TemporaryFolder, TempDir, FExtractError, e.OsErrorCode);
      return false;
    }
    // A damaged or foreign package. Other failures (out of memory, a fault of the cabinet
    // layer) are no fault of the package: they reach the caller as they are.
    extracted = false;
  }
  if (temporary) ::unlink(PackagePath.c_str());
  ThrowIfCancelled();
  if (inflowing) {
    // A package cut short still gives the film file as far as it goes.
    const TFilmInflow& inflow = FExactInflow->Started() ? *FExactInflow : *FOtherInflow;
    if (extracted) return true;
    if (inflow.Started() && inflow.Filled() > 0) return FPackageCutShort = true;
    Notify(TLoadNotice::FormatNotSupported, path, FExtractError);
    return false;
  }
  const bool found = FindFilmFileInAnyCase();
  if (found && (exactExtent ? exactBeyond : otherBeyond)) {
    const std::string limit = ReadLimit % (1 << 20) ? std::to_string(ReadLimit) + " bytes"
                                                    : std::to_string(ReadLimit >> 20) + " MiB";
    throw EFilmLoad("LoadFromFile: the segments wanted end beyond the first " + limit + " of the film file",
                    TFilmErrc::Unsupported, path);
  }
  if (!extracted) {
    // A package cut short still gives the film file as far as it goes; the segments that
    // are complete in it can play.
    struct stat st {};
    if (found && ::lstat(FilmFile.c_str(), &st) == 0 && st.st_size > 0) {
      FPackageCutShort = true;
      return true;
    }
    Notify(TLoadNotice::FormatNotSupported, path, FExtractError);
    return false;
  }
  return true;
}

void TFilmLoader::ReadSegmentList(TByteReader& stream) {
  std::vector<TSegmentListEntry> entries;
  TFilmError error;
  if (!::ReadSegmentList(stream, entries, error))
    throw EFilmLoad("ReadSegmentList: " + error.Message, FaultOf(error), FFileName);
  if (!entries.empty()) FUi.FillSegmentsGrid(entries);
}

void TFilmLoader::ReadFilmFileSegmentList() {
  const auto emptyAfterwards = OnScopeExit([this] { EmptyTempDir(); });
  TFd fd(::open(FilmFile.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  TMapping mapping;
  if (!fd || !mapping.MapRegularFile(fd.Get()))
    throw EFilmLoad("ReadSegmentList: cannot open " + FilmFile + ": " + std::strerror(errno),
                    TFilmErrc::Io, FFileName);
  TByteReader stream(mapping.Bytes());
  ReadSegmentList(stream);
}

void TFilmLoader::UnloadFilm() {
  ClearSegments();
}

void TFilmLoader::ClearSegments() {
  const std::lock_guard lock(FSegmentsLock);
  FSegments.clear();
}

int64_t TFilmLoader::TotalFrames() const { return ::TotalFrames(FSegments); }

std::vector<std::unique_ptr<Segment>> TFilmLoader::TakeSegments() {
  const std::lock_guard lock(FSegmentsLock);
  std::vector<std::unique_ptr<Segment>> segments = std::move(FSegments);
  FSegments.clear();
  return segments;
}
