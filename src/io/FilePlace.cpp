#include "io/FilePlace.h"

#include "io/UniqueFd.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

namespace {

// Writes what is cached of the file or folder at `path` to the disk. A file system that cannot
// sync (EINVAL) is taken as it is; a failure to write (EIO, a full disk) is a failure.
bool SyncToDisk(const std::string& path, int flags) {
  const TFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | flags));
  if (!fd) return false;
  return ::fsync(fd.Get()) == 0 || errno == EINVAL || errno == EROFS;
}

bool Rename(const std::string& from, const std::string& to, bool replace) {
  if (replace) return ::rename(from.c_str(), to.c_str()) == 0;
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // A file system that cannot rename without replacing: a new link fails as well when the
  // name is taken.
  if (::link(from.c_str(), to.c_str()) != 0) return false;
  ::unlink(from.c_str());
  return true;
}

}  // namespace

bool MoveIntoPlace(const std::string& from, const std::string& to, bool replace) {
  // The file's bytes reach the disk before its name does, so that a power loss never leaves
  // an empty file under the final name; the folder's new entry follows it.
  if (!SyncToDisk(from, 0) || !Rename(from, to, replace)) return false;
  SyncToDisk(FolderOf(to), O_DIRECTORY);
  return true;
}

mode_t NewFileMode() {
  static const mode_t mask = [] {
    const mode_t m = ::umask(0);
    ::umask(m);
    return m;
  }();
  return 0666 & ~mask;
}

int CreateFileBeside(const std::string& path, const char* pattern, std::string& temporary) {
  temporary = FolderOf(path) + "/" + pattern;
  const int fd = ::mkstemps(temporary.data(), 5);
  if (fd >= 0) ::fchmod(fd, NewFileMode());
  return fd;
}

std::string FolderOf(const std::string& path) {
  std::string folder = std::filesystem::path(path).parent_path().string();
  return folder.empty() ? "." : folder;
}
