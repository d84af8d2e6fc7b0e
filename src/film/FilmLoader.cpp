#include "film/FilmLoader.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <thread>

#include "film/Messages.h"

namespace {

// A descriptor closed on every way out.
class TFd {
 public:
  explicit TFd(int fd = -1) : FFd(fd) {}
  ~TFd() {
    if (FFd >= 0) ::close(FFd);
  }
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
  int Get() const { return FFd; }
  void Reset(int fd) {
    if (FFd >= 0) ::close(FFd);
    FFd = fd;
  }
  explicit operator bool() const { return FFd >= 0; }

 private:
  int FFd;
};

// A read-only view of a whole file.
class TMapping {
 public:
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

 private:
  const uint8_t* FData = nullptr;
  size_t FSize = 0;
};

// Hides the banner on every way out.
class TBanner {
 public:
  explicit TBanner(IFilmLoaderUi& ui) : FUi(ui) { FUi.SetBannerVisible(true); }
  ~TBanner() { FUi.SetBannerVisible(false); }

 private:
  IFilmLoaderUi& FUi;
};

// The message with its "%s" replaced by the path.
std::string FormatMessage(std::string_view pattern, const std::string& path) {
  const size_t at = pattern.find("%s");
  if (at == std::string_view::npos) return std::string(pattern);
  std::string text(pattern.substr(0, at));
  text += path;
  text += pattern.substr(at + 2);
  return text;
}

// Opens a file for reading and takes an exclusive lock on it: -1 while another program holds
// a lock on it (or it cannot be opened).
int OpenUnshared(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
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

void CopyExecutablePackage(int source, const std::string& sourceName, int target,
                           const std::string& targetName) {
  struct stat st {};
  if (::fstat(source, &st) != 0) throw EFilmLoad("LoadFromFile: cannot read " + sourceName);
  const int64_t size = st.st_size;
  uint8_t tail[4] = {};
  if (size >= 4 && ::pread(source, tail, 4, size - 4) != 4)
    throw EFilmLoad("LoadFromFile: cannot read the package length of " + sourceName);
  const int32_t length = TByteReader(tail).ReadI32();
  TPackageSpan span;
  TFilmError error;
  // A length of 0 copies nothing: the empty package then fails to extract.
  if (length != 0 && !LocatePackage(size, length, span, error))
    throw EFilmLoad("LoadFromFile: " + sourceName + ": " + error.Message);

  std::vector<uint8_t> buffer(size_t(1) << 20);
  for (int64_t done = 0; done < span.Length;) {
    const size_t chunk = size_t(std::min<int64_t>(int64_t(buffer.size()), span.Length - done));
    const ssize_t n = ::pread(source, buffer.data(), chunk, span.Offset + done);
    if (n <= 0) throw EFilmLoad("LoadFromFile: " + sourceName + " ends inside its package");
    if (!WriteAll(target, buffer.data(), size_t(n)))
      throw EFilmLoad("LoadFromFile: cannot write " + targetName + ": " + std::strerror(errno));
    done += n;
  }
}

bool FilmPathExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

TFilmLoader::TFilmLoader(TPlaybackCore& core, IFilmLoaderUi& ui, std::string tempDir)
    : TempDir(std::move(tempDir)), FilmFile(TempDir + kFilmFileName), FCore(core), FUi(ui) {}

void TFilmLoader::SetFileName(const std::string& path) {
  FFileName = path;
  FUi.FileNameChanged(path);
  Loaded = false;
}

bool TFilmLoader::LoadFilm(const std::string& path) {
  if (!FilmPathExists(path)) return false;
  TBanner banner(FUi);
  UnloadFilm();
  if (!LoadFromFile(path)) return false;

  // The film file is opened without sharing: another player loading at the same moment
  // finds it locked.
  TFd fd(::open(FilmFile.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd) {
    // The package held no film: it is not a film package.
    FUi.ShowMessage(kLbMessages[3]);
    return false;
  }
  if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
    FUi.ShowMessage(FormatMessage(kLbMessages[1], FilmFile));
    return false;
  }
  TMapping mapping;
  if (!mapping.MapRegularFile(fd.Get()))
    throw EFilmLoad("LoadFilm: cannot read " + FilmFile + ": " + std::strerror(errno));

  TByteReader stream(mapping.Bytes());
  try {
    const int32_t count = stream.ReadI32();
    ReadSegmentList(stream);  // from offset 0; the stream then stands at the first block
    for (int32_t i = 0; i < count; ++i) LoadSegmentFromStream(stream);
  } catch (...) {
    // A film read in part does not play: what was read is dropped.
    UnloadFilm();
    throw;
  }
  Loaded = true;
  if (!FCore.FSegments.empty()) FCore.FCurSegment = 0;
  FUi.SetProgressMax(TotalFrames());
  return true;
}

bool TFilmLoader::DeleteOldFilmFile() {
  struct stat st {};
  if (::lstat(FilmFile.c_str(), &st) != 0) return errno == ENOENT;
  // A film file that another player holds, or that is read-only, cannot be deleted.
  if ((st.st_mode & 0222) == 0) return false;
  if (S_ISREG(st.st_mode)) {
    TFd fd(::open(FilmFile.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (fd && ::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) return false;
  }
  if (::unlink(FilmFile.c_str()) != 0) return false;
  return ::lstat(FilmFile.c_str(), &st) != 0;
}

bool TFilmLoader::CopyPackageOut(const std::string& path) {
  // Opened without sharing: while another program holds the file, try again until the
  // window has passed.
  const auto start = std::chrono::steady_clock::now();
  TFd source(OpenUnshared(path));
  while (!source) {
    if (!FilmPathExists(path)) return false;
    if (std::chrono::steady_clock::now() - start > LockWindow) {
      FUi.ShowMessage(FormatMessage(kLbMessages[1], path));
      return false;
    }
    FUi.Waiting();
    std::this_thread::sleep_for(LockPause);
    source.Reset(OpenUnshared(path));
  }

  PackagePath = TempDir + kPackageName;
  TFd target(::open(PackagePath.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!target) {
    FUi.ShowMessage(kLbMessages[2]);
    return false;
  }
  CopyExecutablePackage(source.Get(), path, target.Get(), PackagePath);
  return true;
}

void TFilmLoader::FindFilmFileInAnyCase() {
  // The film is stored as "MyFilm.~zrflm" in any letter case; the package may have used
  // another case than the one the loader opens.
  struct stat st {};
  if (::lstat(FilmFile.c_str(), &st) == 0) return;
  DIR* dir = ::opendir(TempDir.c_str());
  if (!dir) return;
  while (const dirent* entry = ::readdir(dir)) {
    if (::strcasecmp(entry->d_name, kFilmFileName) == 0) {
      const std::string found = TempDir + entry->d_name;
      if (::lstat(found.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        ::rename(found.c_str(), FilmFile.c_str());
        break;
      }
    }
  }
  ::closedir(dir);
}

bool TFilmLoader::LoadFromFile(const std::string& path) {
  // Never a relative file name: without its private folder the player extracts nothing.
  if (TempDir.empty()) throw EFilmLoad("LoadFromFile: " + TempFolderError);
  if (!DeleteOldFilmFile()) {
    FUi.ShowMessage(FormatMessage(kLbMessages[1], FilmFile));
    return false;
  }
  const bool temporary = IsExecutableFilmPath(path);
  if (!temporary) {
    // The stored path, not the argument: every caller has made them equal.
    PackagePath = FFileName;
  } else if (!CopyPackageOut(path)) {
    return false;
  }
  try {
    STCabReader.Extract(PackagePath, TempDir);
  } catch (const std::exception&) {
    // A damaged or foreign file, a full disk: the temporary package stays.
    FUi.ShowMessage(kLbMessages[3]);
    return false;
  }
  if (temporary) ::unlink(PackagePath.c_str());
  FindFilmFileInAnyCase();
  return true;
}

void TFilmLoader::ReadSegmentList(TByteReader& stream) {
  std::vector<TSegmentListEntry> entries;
  TFilmError error;
  if (!::ReadSegmentList(stream, entries, error)) throw EFilmLoad("ReadSegmentList: " + error.Message);
  if (!entries.empty()) FUi.FillSegmentsGrid(entries);
}

void TFilmLoader::ReadFilmFileSegmentList() {
  TFd fd(::open(FilmFile.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  TMapping mapping;
  if (!fd || !mapping.MapRegularFile(fd.Get()))
    throw EFilmLoad("ReadSegmentList: cannot open " + FilmFile + ": " + std::strerror(errno));
  TByteReader stream(mapping.Bytes());
  ReadSegmentList(stream);
}

void TFilmLoader::LoadSegmentFromStream(TByteReader& stream) {
  FCore.FSegments.push_back(std::make_unique<Segment>());
  TFilmError error;
  if (!ReadSegmentBlock(stream, int32_t(FCore.FSegments.size()), *FCore.FSegments.back(), error))
    throw EFilmLoad("LoadSegmentFromStream: " + error.Message);
}

void TFilmLoader::UnloadFilm() {
  ClearSegments();
  FCore.Rewind();
  FCore.FCurSegment = -1;
}

void TFilmLoader::ClearSegments() { FCore.ClearSegments(); }

int64_t TFilmLoader::TotalFrames() const { return ::TotalFrames(FCore.FSegments); }
