#include "film/TempFolder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "io/FilePlace.h"
#include "io/HeldFiles.h"
#include "io/SignalCatcher.h"
#include "io/UniqueFd.h"

namespace {

constexpr char kRunPrefix[] = "run-";
// Deeper trees than this are not made by the loader; a deeper one is left for a later run.
constexpr int kMaxDepth = 256;

std::string ErrnoText(int err) { return std::strerror(err); }

std::string WithSlash(const std::string& folder) {
  return !folder.empty() && folder.back() == '/' ? folder : folder + '/';
}

// `made` tells whether this call created the folder.
bool UsableFolder(const std::string& path, std::string& error, bool& made) {
  made = ::mkdir(path.c_str(), 0700) == 0;
  if (!made && errno != EEXIST) {
    error = "cannot create the temporary folder " + path + ": " + ErrnoText(errno);
    return false;
  }
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) {
    error = "cannot examine the temporary folder " + path + ": " + ErrnoText(errno);
    return false;
  }
  if (S_ISLNK(st.st_mode) || !S_ISDIR(st.st_mode)) {
    error = "the temporary folder " + path + " is not a folder of its own (a link or a file)";
    return false;
  }
  if (st.st_uid != ::geteuid()) {
    error = "the temporary folder " + path + " belongs to another user";
    return false;
  }
  if ((st.st_mode & 077) != 0 && ::chmod(path.c_str(), 0700) != 0) {
    error = "cannot make the temporary folder " + path + " private: " + ErrnoText(errno);
    return false;
  }
  // A folder of its own that cannot be written (read-only rights, a read-only file system)
  // holds no run folder; the next choice is tried.
  if (::faccessat(AT_FDCWD, path.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
    error = "cannot write to the temporary folder " + path + ": " + ErrnoText(errno);
    return false;
  }
  return true;
}

// An absolute path from an environment variable, or empty.
std::string AbsoluteFromEnvironment(const char* name) {
  const char* value = std::getenv(name);
  return value && value[0] == '/' ? std::string(value) : std::string();
}

// Removes everything inside the folder open at dirFd; false when something stays.
bool RemoveContentsAt(int dirFd, int depth, std::string& error) {
  TFd listFd(::dup(dirFd));
  if (!listFd) {
    error = ErrnoText(errno);
    return false;
  }
  DIR* dir = ::fdopendir(listFd.Get());
  if (!dir) {
    error = ErrnoText(errno);
    return false;
  }
  listFd.Release();  // closedir closes it
  // Names first, removal after: the listing is not disturbed by what is removed.
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
      names.emplace_back(entry->d_name);
  }
  ::closedir(dir);

  bool all = true;
  for (const std::string& name : names) {
    if (::unlinkat(dirFd, name.c_str(), 0) == 0 || errno == ENOENT) continue;
    if (errno != EISDIR && errno != EPERM) {
      error = name + ": " + ErrnoText(errno);
      all = false;
      continue;
    }
    if (depth >= kMaxDepth) {
      error = name + ": folders nested too deep";
      all = false;
      continue;
    }
    TFd sub(::openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!sub) {
      error = name + ": " + ErrnoText(errno);
      all = false;
      continue;
    }
    ::fchmod(sub.Get(), 0700);  // a read-only folder keeps its entries otherwise
    const bool emptied = RemoveContentsAt(sub.Get(), depth + 1, error);
    sub.Reset();
    if (!emptied || ::unlinkat(dirFd, name.c_str(), AT_REMOVEDIR) != 0) {
      if (emptied) error = name + ": " + ErrnoText(errno);
      all = false;
    }
  }
  return all;
}

// The run folders of this process, for the signal handler: fixed buffers, claimed and
// released atomically, so that the handler reads nothing that is being built.
struct TSignalSlot {
  std::atomic<bool> Used{false};
  bool RemoveParent = false;  // the private folder goes too when it is left empty
  char Path[4096] = {};
};
TSignalSlot gSignalSlots[16];
std::atomic<bool> gSignalsInstalled{false};

int ClaimSignalSlot(const std::string& path, bool removeParent) {
  if (path.size() >= sizeof gSignalSlots[0].Path) return -1;
  for (int i = 0; i < int(std::size(gSignalSlots)); ++i) {
    bool expected = false;
    TSignalSlot& slot = gSignalSlots[i];
    if (!slot.Used.compare_exchange_strong(expected, true)) continue;
    slot.RemoveParent = removeParent;
    // The first byte last: the handler takes only slots whose path is complete.
    std::memcpy(slot.Path + 1, path.c_str() + 1, path.size());
    std::atomic_signal_fence(std::memory_order_seq_cst);
    slot.Path[0] = path[0];
    return i;
  }
  return -1;
}

void ReleaseSignalSlot(int i) {
  if (i < 0) return;
  gSignalSlots[i].Path[0] = '\0';
  gSignalSlots[i].Used.store(false);
}

// Removes the folder that holds `path` when it is empty.
void RemoveParentNow(const char* path) {
  char parent[sizeof gSignalSlots[0].Path];
  std::memcpy(parent, path, sizeof parent);
  parent[sizeof parent - 1] = '\0';
  char* slash = std::strrchr(parent, '/');
  if (!slash || slash == parent) return;
  *slash = '\0';
  ::rmdir(parent);
}

// Only calls that are safe in a signal handler: open, getdents64, unlinkat, rmdir, close.
void RemoveRunFoldersNow() {
  for (TSignalSlot& slot : gSignalSlots) {
    if (!slot.Used.load() || slot.Path[0] == '\0') continue;
    const int fd = ::open(slot.Path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
      alignas(8) char buffer[4096];
      for (int round = 0; round < 64; ++round) {
        const long n = ::syscall(SYS_getdents64, fd, buffer, sizeof buffer);
        if (n <= 0) break;
        for (long at = 0; at < n;) {
          // struct linux_dirent64: ino (8), off (8), reclen (2), type (1), name.
          unsigned short reclen;
          std::memcpy(&reclen, buffer + at + 16, sizeof reclen);
          const char* name = buffer + at + 19;
          if (std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0) ::unlinkat(fd, name, 0);
          if (reclen == 0) break;
          at += reclen;
        }
      }
      ::close(fd);
    }
    if (::rmdir(slot.Path) == 0 && slot.RemoveParent) RemoveParentNow(slot.Path);
  }
}

}  // namespace

std::string PrivateTempFolder(std::string& error, bool* made) {
  // $XDG_RUNTIME_DIR first; when it cannot be used (a session switched with su or sudo keeps
  // another user's), the system's temporary folder.
  std::vector<std::string> candidates;
  const std::string runtime = AbsoluteFromEnvironment("XDG_RUNTIME_DIR");
  if (!runtime.empty()) candidates.push_back(runtime + "/veRirove");
  std::string base = AbsoluteFromEnvironment("TMPDIR");
  if (base.empty()) base = "/tmp";
  candidates.push_back(base + "/veRirove-" + std::to_string(::geteuid()));
  std::string firstError;
  for (std::string path : candidates) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    std::string why;
    bool madeHere = false;
    if (UsableFolder(path, why, madeHere)) {
      if (made) *made = madeHere;
      return path + "/";
    }
    if (firstError.empty()) firstError = why;
  }
  error = firstError;
  return {};
}

bool RemoveFolderContents(const std::string& folder, std::string& error) {
  TFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd) {
    if (errno == ENOENT) return true;
    error = folder + ": " + ErrnoText(errno);
    return false;
  }
  std::string why;
  const bool all = RemoveContentsAt(fd.Get(), 0, why);
  if (!all) error = "cannot empty " + folder + ": " + why;
  return all;
}

int RemoveAbandonedRunFolders(const std::string& privateFolder) {
  const TFd parent(::open(privateFolder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!parent) return 0;
  const std::vector<std::string> names =
      FolderNames(parent.Get(), [](std::string_view name) { return name.starts_with(kRunPrefix); });
  // Earlier versions extracted straight into the private folder and left the film file there.
  for (const char* old : {"MyFilm.~zrflm", "temp.zrcab"}) {
    const TFd fd(::openat(parent.Get(), old, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd) continue;
    struct stat st {};
    if (::fstat(fd.Get(), &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd.Get(), LOCK_EX | LOCK_NB) == 0)
      ::unlinkat(parent.Get(), old, 0);
  }
  int removed = 0;
  for (const std::string& name : names) {
    // Closed at the end of the round, which releases the lock.
    const TFd fd(::openat(parent.Get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd) continue;
    // A free lock means the owner has ended; a run that is alive holds it.
    if (LockInPlace(fd.Get(), WithSlash(privateFolder) + name)) {
      std::string why;
      ::fchmod(fd.Get(), 0700);
      if (RemoveContentsAt(fd.Get(), 0, why) && ::unlinkat(parent.Get(), name.c_str(), AT_REMOVEDIR) == 0) ++removed;
    }
  }
  return removed;
}

TRunFolder::TRunFolder() { Make({}); }

TRunFolder::TRunFolder(const std::string& privateFolder) { Make(privateFolder); }

void TRunFolder::Make(std::string privateFolder) {
  const bool chosen = privateFolder.empty();
  if (chosen) {
    privateFolder = PrivateTempFolder(FError, &FMadePrivate);
    if (privateFolder.empty()) return;
  }
  privateFolder = WithSlash(privateFolder);
  RemoveAbandonedRunFolders(privateFolder);

  // A later run's clean-up may take the new folder between mkdtemp and flock (its lock is
  // still free then); the folder is ours only once it is locked and still in its place. The
  // run that made the private folder may remove it meanwhile: it is made again.
  for (int attempt = 0; attempt < 16; ++attempt) {
    std::string path = privateFolder + kRunPrefix + "XXXXXX";
    if (::mkdtemp(path.data()) == nullptr) {
      if (errno == ENOENT && chosen) {
        privateFolder = PrivateTempFolder(FError, &FMadePrivate);
        if (privateFolder.empty()) return;
        continue;
      }
      FError = "cannot create a folder in the temporary folder " + privateFolder + ": " + ErrnoText(errno);
      return;
    }
    TFd fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd) continue;
    if (LockInPlace(fd.Get(), path)) {
      FLockFd = std::move(fd);
      FPath = path + "/";
      if (gSignalsInstalled.load()) FSignalSlot = ClaimSignalSlot(path, FMadePrivate);
      return;
    }
  }
  FError = "cannot claim a folder in the temporary folder " + privateFolder;
}

TRunFolder::~TRunFolder() {
  if (!FLockFd) return;
  const std::string path = FPath.substr(0, FPath.size() - 1);
  ReleaseSignalSlot(FSignalSlot);
  std::string why;
  // The private folder this run made goes too when nothing else is in it: a folder it was
  // given (a sandbox's temporary folder) is left as it was found.
  if (RemoveContentsAt(FLockFd.Get(), 0, why) && ::rmdir(path.c_str()) == 0 && FMadePrivate)
    ::rmdir(FolderOf(path).c_str());
}

void TRunFolder::RemoveOnSignals() {
  if (gSignalsInstalled.exchange(true)) return;
  // For the rest of the process: never let go.
  static TSignalCatcher* const catcher =
      new TSignalCatcher(TSignalCatcher::THandOn::Now, nullptr, RemoveRunFoldersNow);
  (void)catcher;
}
