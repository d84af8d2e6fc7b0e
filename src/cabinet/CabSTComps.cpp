// CabSTComps: the cabinet extraction component (see CabSTComps.h).
#include "cabinet/CabSTComps.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <utility>

#include "cabinet/CabSTConsts.h"
#include "io/ScopeGuard.h"
#include "io/TextCase.h"
#include "io/UniqueFd.h"

namespace {

// The last nonzero errno a file callback met; module state, as the callbacks get no
// user value. One extraction at a time per thread.
thread_local int GLastOsError = 0;

void RecordOsError(int err) {
  if (err != 0) GLastOsError = err;
}

// Who is told of a target's data as it is written (OnFileData).
struct TDataWatch {
  TSTCabReader* Reader = nullptr;
  std::string Target;
  std::exception_ptr* Failure = nullptr;  // where what the handler raises waits
};

// What the file callbacks hand out as INT_PTR.
struct TCabHandle {
  int Fd = -1;
  uint64_t* Written = nullptr;  // targets: the extraction's byte count, checked on write
  uint64_t Limit = 0;
  TDataWatch Watch;
};

TCabHandle* HandleOf(INT_PTR hf) { return reinterpret_cast<TCabHandle*>(hf); }

// The handle takes the descriptor over; without memory for it, the descriptor is closed.
INT_PTR NewHandle(TFd fd, uint64_t* written = nullptr, uint64_t limit = 0, TDataWatch watch = {}) {
  auto* handle = new (std::nothrow) TCabHandle{fd.Get(), written, limit, std::move(watch)};
  if (handle == nullptr) {
    errno = ENOMEM;
    RecordOsError(ENOMEM);
    return -1;
  }
  fd.Release();
  return reinterpret_cast<INT_PTR>(handle);
}

std::string FolderPart(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string FileNamePart(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The entry of folder whose name equals name without regard to ASCII case (the first in
// byte order when several do), or empty. Cabinet sets are made on Windows, whose file names
// ignore case; ours don't.
std::string FindNoCase(const std::string& folder, const std::string& name) {
  if (!IsBareName(name)) return {};
  DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
  if (dir == nullptr) return {};
  std::string best;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view candidate(entry->d_name);
    if (EqualNoCase(candidate, name) && (best.empty() || candidate < best)) best = candidate;
  }
  ::closedir(dir);
  return best;
}

bool ExistsNoCase(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) return true;
  return !FindNoCase(FolderPart(path), FileNamePart(path)).empty();
}

std::string FullPath(const std::string& path) {
  if (path.empty() || path.front() == '/') return path;
  char buffer[PATH_MAX];
  if (::getcwd(buffer, sizeof buffer) == nullptr) return path;
  return JoinPath(buffer, path);
}

// ---------------------------------------------------------------------------------------------
// File and memory callbacks.

void* AllocCallback(uint32_t cb) { return std::malloc(cb ? cb : 1); }

void FreeCallback(void* pv) { std::free(pv); }

// Opens with the meaning the FDI open flags have; a plain file only. When a file to be read
// is not there, one whose name differs only in ASCII case stands in for it, as it would on
// a Windows file system.
INT_PTR OpenForFDI(const char* name, int oflag, int /*pmode*/) {
  int flags = O_CLOEXEC | O_NONBLOCK;
  switch (oflag & 3) {
    case FDI_O_RDONLY:
      flags |= O_RDONLY;
      break;
    case FDI_O_WRONLY:
      flags |= O_WRONLY;
      break;
    default:
      flags |= O_RDWR;
      break;
  }
  const bool create = oflag & FDI_O_CREAT;
  if ((oflag & FDI_O_EXCL) && create) {
    flags |= O_CREAT | O_EXCL;
  } else if ((oflag & FDI_O_TRUNC) && create) {
    flags |= O_CREAT | O_TRUNC;
  } else if (oflag & FDI_O_TRUNC) {
    flags |= O_TRUNC;
  } else if (create) {
    flags |= O_CREAT;
  }

  const std::string path = name;
  TFd fd(::open(path.c_str(), flags, 0666));
  if (!fd && errno == ENOENT && !create) {
    const int saved = errno;
    const std::string found = FindNoCase(FolderPart(path), FileNamePart(path));
    if (!found.empty()) fd.Reset(::open((FolderPart(path) + found).c_str(), flags, 0666));
    if (!fd) errno = saved;
  }
  if (!fd) {
    RecordOsError(errno);
    return -1;
  }
  struct stat st;
  const bool statted = ::fstat(fd.Get(), &st) == 0;
  if (!statted || !S_ISREG(st.st_mode)) {
    const int err = !statted ? errno : S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    errno = err;
    RecordOsError(err);
    return -1;
  }
  ::fcntl(fd.Get(), F_SETFL, ::fcntl(fd.Get(), F_GETFL) & ~O_NONBLOCK);
  if ((oflag & FDI_O_APPEND) && ::lseek(fd.Get(), 0, SEEK_END) < 0) {
    RecordOsError(errno);
    return -1;
  }
  return NewHandle(std::move(fd));
}

uint32_t ReadCallback(INT_PTR hf, void* pv, uint32_t cb) {
  TCabHandle* h = HandleOf(hf);
  size_t done = 0;
  while (done < cb) {
    const ssize_t r = ::read(h->Fd, static_cast<uint8_t*>(pv) + done, cb - done);
    if (r < 0) {
      if (errno == EINTR) continue;
      RecordOsError(errno);
      return uint32_t(-1);
    }
    if (r == 0) break;
    done += size_t(r);
  }
  return uint32_t(done);
}

uint32_t WriteCallback(INT_PTR hf, const void* pv, uint32_t cb) {
  TCabHandle* h = HandleOf(hf);
  if (h->Written != nullptr && cb > ExtractBytesLeft(*h->Written, h->Limit)) {
    errno = EDQUOT;
    RecordOsError(EDQUOT);
    return uint32_t(-1);
  }
  // A target without a file hands its data on only.
  size_t done = h->Fd < 0 ? cb : 0;
  while (done < cb) {
    const ssize_t w = ::write(h->Fd, static_cast<const uint8_t*>(pv) + done, cb - done);
    if (w < 0) {
      if (errno == EINTR) continue;
      RecordOsError(errno);
      return uint32_t(-1);
    }
    done += size_t(w);
  }
  if (h->Written != nullptr) *h->Written += done;
  TDataWatch& watch = h->Watch;
  if (watch.Reader != nullptr && watch.Reader->OnFileData) {
    bool complete = false;
    try {
      watch.Reader->OnFileData(*watch.Reader, watch.Target,
                               std::span(static_cast<const uint8_t*>(pv), done), complete);
    } catch (...) {
      // Nothing may unwind through the decompressor, which is C: the failure stops it and
      // waits for Extract.
      *watch.Failure = std::current_exception();
      errno = ECANCELED;
      RecordOsError(ECANCELED);
      return uint32_t(-1);
    }
    if (complete) return kFdiWriteComplete;
  }
  return uint32_t(done);
}

int CloseCallback(INT_PTR hf) {
  TCabHandle* h = HandleOf(hf);
  const int r = h->Fd < 0 ? 0 : ::close(h->Fd);
  const int err = errno;
  delete h;
  if (r != 0) {
    RecordOsError(err);
    errno = err;
    return -1;
  }
  return 0;
}

long SeekCallback(INT_PTR hf, long dist, int seektype) {
  const int whence = seektype == FDI_SEEK_CUR   ? SEEK_CUR
                     : seektype == FDI_SEEK_END ? SEEK_END
                                                : SEEK_SET;
  const off_t r = ::lseek(HandleOf(hf)->Fd, off_t(dist), whence);
  if (r < 0) {
    RecordOsError(errno);
    return -1;
  }
  return long(r);
}

// ---------------------------------------------------------------------------------------------
// Times and attributes.

constexpr uint16_t kAttribReadOnly = 0x01;

bool DosDateTimeToTimespec(uint16_t date, uint16_t time, timespec& out) {
  const int day = date & 0x1F;
  const int month = (date >> 5) & 0x0F;
  const int year = (date >> 9) + 1980;
  const int second = (time & 0x1F) * 2;
  const int minute = (time >> 5) & 0x3F;
  const int hour = time >> 11;
  if (day < 1 || month < 1 || month > 12 || hour > 23 || minute > 59 || second > 59) return false;
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  tm.tm_isdst = -1;
  const time_t t = std::mktime(&tm);
  // mktime moves 30 February on to March: no such day, so no time is set.
  if (t == time_t(-1) || tm.tm_mday != day || tm.tm_mon != month - 1) return false;
  out.tv_sec = t;
  out.tv_nsec = 0;
  return true;
}

mode_t ModeForAttributes(mode_t mode, uint16_t attribs) {
  mode &= 07777;
  return (attribs & kAttribReadOnly) ? mode_t(mode & ~mode_t(0222)) : mode_t(mode | S_IWUSR);
}

// On the open target, before it is closed: no path is looked up again.
void SetFdTimeAndAttributes(int fd, uint16_t date, uint16_t time, uint16_t attribs) {
  timespec when;
  if (DosDateTimeToTimespec(date, time, when)) {
    const timespec times[2] = {{0, UTIME_OMIT}, when};
    ::futimens(fd, times);
  }
  struct stat st;
  if (::fstat(fd, &st) == 0) ::fchmod(fd, ModeForAttributes(st.st_mode, attribs));
}

std::string Hex4(uint32_t v) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%04X", v);
  return buffer;
}

}  // namespace

// -----------------------------------------------------------------------------------------------
// ESTCabinet.

std::string ESTCabinet::BuildMessage(const ERF& erf, bool isCompressor) {
  if (!erf.fError) return isCompressor ? "FCI error" : "FDI error";
  std::string message =
      isCompressor ? CompressorErrorText(erf.erfOper) : CabinetErrorText(erf.erfOper);
  message += " [0x" + Hex4(uint32_t(erf.erfOper)) + "]";
  if (erf.erfType != 0) {
    message += ".\r\n" + std::generic_category().message(erf.erfType) + " [0x" +
               Hex4(uint32_t(erf.erfType)) + "].";
  }
  return message;
}

ESTCabinet::ESTCabinet(const ERF& erf, bool isCompressor)
    : std::runtime_error(BuildMessage(erf, isCompressor)),
      ErrorCode(erf.erfOper),
      OsErrorCode(erf.erfType),
      HasError(erf.fError != 0),
      IsCompressor(isCompressor) {}

// -----------------------------------------------------------------------------------------------
// Paths.

std::string JoinPath(std::initializer_list<std::string_view> parts) {
  std::string result;
  for (std::string_view part : parts) {
    if (part.empty()) continue;
    if (result.empty()) {
      result = part;
      continue;
    }
    const bool endsWith = result.back() == '/';
    const bool beginsWith = part.front() == '/';
    if (endsWith && beginsWith) {
      result.pop_back();
    } else if (!endsWith && !beginsWith) {
      result += '/';
    }
    result += part;
  }
  return result;
}

// Despite its name, adds '/': the folder separator here. Backslashes appear only in the
// stored names of a cabinet, which are read as '/'. The component's callers know it by this name.
std::string AddTrailingBackslash(std::string_view s) {
  std::string result(s);
  if (!result.empty() && result.back() != '/') result += '/';
  return result;
}

void SetFileTimeAndAttributes(const std::string& target, uint16_t date, uint16_t time,
                              uint16_t attribs) {
  struct stat st;
  if (::fstatat(AT_FDCWD, target.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) {
    return;
  }
  timespec when;
  if (DosDateTimeToTimespec(date, time, when)) {
    const timespec times[2] = {{0, UTIME_OMIT}, when};
    ::utimensat(AT_FDCWD, target.c_str(), times, AT_SYMLINK_NOFOLLOW);
  }
  ::fchmodat(AT_FDCWD, target.c_str(), ModeForAttributes(st.st_mode, attribs), AT_SYMLINK_NOFOLLOW);
}

// -----------------------------------------------------------------------------------------------
// TSTCabReader.

TSTCabReader::TSTCabReader() = default;

TSTCabReader::~TSTCabReader() { DestroyContext(); }

HFDI TSTCabReader::Context() {
  if (FContext == nullptr) CreateContext();
  return FContext;
}

void TSTCabReader::CreateContext() {
  if (FContext != nullptr) return;
  FErf = ERF{};
  FContext = FDICreate(AllocCallback, FreeCallback, OpenForFDI, ReadCallback, WriteCallback,
                       CloseCallback, SeekCallback, cpuUNKNOWN, &FErf);
  CheckFDI(FContext != nullptr);
}

void TSTCabReader::DestroyContext() {
  if (FContext == nullptr) return;
  FDIDestroy(FContext);  // fails only for a context that does not exist
  FContext = nullptr;
}

void TSTCabReader::CheckFDI(bool ok) {
  if (ok) return;
  // The callbacks' errno takes the place of the layer's, unless there is none.
  if (GLastOsError != 0) FErf.erfType = GLastOsError;
  throw ESTCabinet(FErf, false);
}

void TSTCabReader::Extract(const std::string& cabFile, const std::string& destDir,
                           unsigned options) {
  FCabFileName = FullPath(cabFile);
  FDestDir.Reset(AddTrailingBackslash(destDir));
  FSrcNames.clear();
  FDstNames.clear();
  FSkippedNames.clear();
  FBytesWritten = 0;
  FFilesWritten = 0;
  FFileDataFailure = nullptr;
  FFoundCabinets.clear();
  const auto closer = OnScopeExit([this] { FDestDir.Close(); });

  std::vector<std::string> done;  // cabinets processed, to never go round in a circle
  std::string current = FCabFileName;
  while (!current.empty()) {
    FNextCabName.clear();
    FNextDiskName.clear();
    FNextCabPath.clear();
    FCurCabPath = current;
    FNextCabGiven = false;
    FCabinetInfoSeen = false;
    FOwnNextName.clear();
    FOwnFolder.clear();
    done.push_back(current);

    HFDI context = Context();
    GLastOsError = 0;
    // An exception from an event handler, or from the component's own work in one, comes
    // out of FDICopy as it is.
    const bool ok = FDICopy(context, FileNamePart(current).c_str(), FolderPart(current).c_str(),
                            SalvageCutShort ? kFdiCopySalvageCutShort : 0, &TSTCabReader::Notify,
                            nullptr, this);
    if (FFileDataFailure) std::rethrow_exception(std::exchange(FFileDataFailure, nullptr));
    CheckFDI(ok);

    // The next cabinet is the one this cabinet names, where the layer found it or beside
    // this one (see the file comment on why not simply the last one asked for).
    std::string next;
    if (!FOwnNextName.empty()) {
      next = JoinPath(FOwnFolder, FOwnNextName);
      for (const auto& [name, path] : FFoundCabinets) {
        if (EqualNoCase(name, FOwnNextName)) next = path;
      }
    }
    if (EqualNoCase(next, current)) next.clear();
    const bool seen = std::any_of(done.begin(), done.end(),
                                  [&](const std::string& d) { return EqualNoCase(d, next); });
    if ((options & stopAfterFirstCabinet) || next.empty() || seen || !ExistsNoCase(next)) {
      current.clear();
    } else {
      current = next;
    }
  }
}

INT_PTR TSTCabReader::Notify(FDINOTIFICATIONTYPE type, FDINOTIFICATION* notification) {
  auto* self = static_cast<TSTCabReader*>(notification->pv);
  GLastOsError = 0;
  return self->HandleNotify(type, *notification);
}

INT_PTR TSTCabReader::HandleNotify(FDINOTIFICATIONTYPE type, FDINOTIFICATION& n) {
  switch (type) {
    case fdintCABINET_INFO:
      return CabinetInfo(n);
    case fdintPARTIAL_FILE:
      return PartialFile(n);
    case fdintCOPY_FILE:
      return CopyFile(n);
    case fdintCLOSE_FILE_INFO:
      return CloseFileInfo(n);
    case fdintNEXT_CABINET:
      return NextCabinet(n);
    default: {
      int32_t result = 0;
      if (OnUnrecognizedNotify) OnUnrecognizedNotify(*this, type, n, result);
      return result;
    }
  }
}

INT_PTR TSTCabReader::CabinetInfo(FDINOTIFICATION& n) {
  if (!FNextCabPath.empty()) FCurCabPath = FNextCabPath;
  const std::string nextName = n.psz1;
  const std::string nextDisk = n.psz2;
  const std::string cabPath = n.psz3;
  // A next cabinet is only ever a file beside this one.
  const bool bare = IsBareName(nextName);
  FNextCabName = bare ? JoinPath(cabPath, nextName) : std::string();
  FNextDiskName = nextDisk;
  if (!FCabinetInfoSeen) {
    FCabinetInfoSeen = true;
    if (bare) {
      FOwnNextName = nextName;
      FOwnFolder = cabPath;
    }
  }
  bool abort = false;
  if (OnCabinetInfo) OnCabinetInfo(*this, nextName, nextDisk, cabPath, n.setID, n.iCabinet, abort);
  return abort ? -1 : 0;
}

INT_PTR TSTCabReader::PartialFile(FDINOTIFICATION& n) {
  const std::string name = n.psz1;
  std::string target;
  const auto it = std::find(FSrcNames.begin(), FSrcNames.end(), name);
  if (it != FSrcNames.end()) target = FDstNames[size_t(it - FSrcNames.begin())];
  bool abort = false;
  if (OnCopyPartialFile) OnCopyPartialFile(*this, name, n.psz2, n.psz3, target, abort);
  return abort ? -1 : 0;
}

INT_PTR TSTCabReader::CopyFile(FDINOTIFICATION& n) {
  const std::string name = n.psz1;
  std::string clean;
  const bool inside = CleanStoredName(name, clean);
  std::string target = inside ? JoinPath(FDestDir.Path(), clean) : std::string();

  bool abort = false;
  if (OnCopyFile)
    OnCopyFile(*this, name, n.cb, n.date, n.time, n.attribs, n.iFolder, target, abort);
  if (abort) return -1;
  if (target.empty()) {
    if (!inside) FSkippedNames.push_back(name);
    return 0;
  }

  // The limits: a file that would pass them is not started.
  if (!WithinExtractLimits(FFilesWritten, FBytesWritten, uint32_t(n.cb), MaxExtractFiles,
                           MaxExtractBytes)) {
    errno = EDQUOT;
    RecordOsError(EDQUOT);
    n.fdie = FDIERROR_TARGET_FILE;
    return -1;
  }

  FSrcNames.reserve(FSrcNames.size() + 1);
  FDstNames.reserve(FDstNames.size() + 1);
  TDataWatch watch{OnFileData ? this : nullptr, OnFileData ? target : std::string(), &FFileDataFailure};
  // Data handed on only: a handle without a file.
  const bool dataOnly = FileDataOnly && OnFileData;
  const int fd = dataOnly ? -1 : FDestDir.Open(target, Options & croDontOverwriteReadOnlyFiles);
  if (fd == TCabTargetFolder::kTargetSkipped) return 0;
  const INT_PTR hf =
      fd < 0 && !dataOnly ? -1 : NewHandle(TFd(fd), &FBytesWritten, MaxExtractBytes, std::move(watch));
  if (hf == -1) {
    RecordOsError(errno);
    n.fdie = FDIERROR_TARGET_FILE;
    return -1;
  }
  FSrcNames.push_back(name);
  FDstNames.push_back(target);
  ++FFilesWritten;
  return hf;
}

INT_PTR TSTCabReader::CloseFileInfo(FDINOTIFICATION& n) {
  // Follows only a COPY_FILE that gave a handle.
  const std::string name = n.psz1;
  std::string target;
  const auto it = std::find(FSrcNames.begin(), FSrcNames.end(), name);
  TCabHandle* handle = HandleOf(n.hf);
  if (it != FSrcNames.end()) {
    const size_t i = size_t(it - FSrcNames.begin());
    target = FDstNames[i];
    FSrcNames.erase(it);
    FDstNames.erase(FDstNames.begin() + ptrdiff_t(i));
    // Set while the file is still open, so that no path is looked up again.
    if (handle->Fd >= 0) SetFdTimeAndAttributes(handle->Fd, n.date, n.time, n.attribs);
  }
  // Closing touches no recorded error.
  if (handle->Fd >= 0) ::close(handle->Fd);
  delete handle;
  n.hf = 0;

  bool exec = (n.cb & 1) != 0;
  bool abort = false;
  if (OnCloseFile)
    OnCloseFile(*this, name, n.date, n.time, n.attribs, n.iFolder, exec, target, abort);
  if (abort) return -1;
  // croExecuteOnExtract: nothing is run (see the file comment).
  return 1;
}

INT_PTR TSTCabReader::NextCabinet(FDINOTIFICATION& n) {
  const std::string name = n.psz1;
  const std::string disk = n.psz2;
  INT_PTR result = 0;
  if (OnNextCabinet) {
    std::string path = n.psz3;
    bool abort = false;
    OnNextCabinet(*this, name, disk, path, n.fdie, abort);
    if (abort) {
      result = -1;
    } else {
      const std::string folder = AddTrailingBackslash(path);
      if (folder.size() >= size_t(kFdiMaxCabPath)) {
        // The layer's buffer holds 255 bytes and the NUL; a longer folder cannot be given,
        // and is not there to be found.
        errno = ENAMETOOLONG;
        RecordOsError(ENAMETOOLONG);
        n.fdie = FDIERROR_CABINET_NOT_FOUND;
        result = -1;
      } else {
        std::memcpy(n.psz3, folder.c_str(), folder.size() + 1);
      }
    }
  } else {
    result = n.fdie != FDIERROR_NONE ? -1 : 0;
  }
  FNextCabPath = JoinPath(n.psz3, name);
  FNextCabGiven = true;
  if (result == 0) FFoundCabinets.emplace_back(name, FNextCabPath);
  return result;
}
