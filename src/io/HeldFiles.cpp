#include "io/HeldFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <vector>

#include "io/FilePlace.h"
#include "io/SameFile.h"
#include "io/UniqueFd.h"

namespace {

// Whether `name` is one that mkstemps makes from `pattern`.
bool MadeFrom(std::string_view name, std::string_view pattern) {
  if (name.size() != pattern.size()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    if (pattern[i] == 'X' ? !std::isalnum(static_cast<unsigned char>(name[i])) : name[i] != pattern[i])
      return false;
  }
  return true;
}

// Whether the file or folder open at `fd` is still the one at `path` (not removed or replaced).
bool StillAt(int fd, const std::string& path) {
  struct stat held {}, named {};
  return ::fstat(fd, &held) == 0 && held.st_nlink > 0 && ::lstat(path.c_str(), &named) == 0 &&
         SameFile(held, named);
}

}  // namespace

std::vector<std::string> FolderNames(int dirFd, const std::function<bool(std::string_view)>& wanted) {
  std::vector<std::string> names;
  TFd listFd(::dup(dirFd));
  DIR* dir = listFd ? ::fdopendir(listFd.Get()) : nullptr;
  if (!dir) return names;
  listFd.Release();  // closedir closes it
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (name != "." && name != ".." && wanted(name)) names.emplace_back(name);
  }
  ::closedir(dir);
  return names;
}

bool LockInPlace(int fd, const std::string& path) {
  return ::flock(fd, LOCK_EX | LOCK_NB) == 0 && StillAt(fd, path);
}

int CreateHeldFileBeside(const std::string& path, const char* pattern, std::string& temporary) {
  // A clean-up in another process may take a new file before it is locked; it then removes
  // it, and another name is tried.
  for (int attempt = 0; attempt < 16; ++attempt) {
    TFd fd(CreateFileBeside(path, pattern, temporary));
    if (!fd) return -1;
    if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
      // A file system without locks: the file is this process's all the same, only unheld.
      if (errno != EWOULDBLOCK) return fd.Release();
      continue;
    }
    if (StillAt(fd.Get(), temporary)) return fd.Release();
  }
  errno = EEXIST;
  return -1;
}

int RemoveAbandonedFiles(const std::string& folder, const char* pattern) {
  const TFd dirFd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dirFd) return 0;
  int removed = 0;
  for (const std::string& name : FolderNames(dirFd.Get(), [&](std::string_view n) { return MadeFrom(n, pattern); })) {
    // Closed at the end of the round, which lets the lock go.
    const TFd fd(::openat(dirFd.Get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (!fd || ::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) continue;
    if (LockInPlace(fd.Get(), folder + "/" + name) && ::unlinkat(dirFd.Get(), name.c_str(), 0) == 0) ++removed;
  }
  return removed;
}
