// CabTargets: where the cabinet component may write (see CabTargets.h).
#include "cabinet/CabTargets.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <utility>
#include <vector>

namespace {

// The parts of a relative path, "." and empty ones dropped; false when one of them is "..".
bool SplitRelative(std::string_view path, std::vector<std::string>& parts) {
  parts.clear();
  size_t start = 0;
  while (start <= path.size()) {
    size_t slash = path.find('/', start);
    if (slash == std::string_view::npos) slash = path.size();
    const std::string_view part = path.substr(start, slash - start);
    start = slash + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") return false;
    parts.emplace_back(part);
  }
  return true;
}

// Makes every missing folder of path, following links: the caller's own folder.
void ForceDirectories(const std::string& path) {
  std::string prefix;
  size_t start = 0;
  while (start <= path.size()) {
    size_t slash = path.find('/', start);
    if (slash == std::string::npos) slash = path.size();
    prefix = path.substr(0, slash);
    if (!prefix.empty() && ::mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) {
      throw EOSError(errno);
    }
    start = slash + 1;
  }
}

}  // namespace

EOSError::EOSError(int err) : std::system_error(err, std::generic_category()) {
  if (err == 0) {
    FMessage = "A Win32 API function failed";
  } else {
    FMessage =
        "Win32 Error.  Code: " + std::to_string(err) + ".\n" + std::generic_category().message(err);
  }
}

bool IsBareName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of("/\\") == std::string_view::npos;
}

bool CleanStoredName(std::string_view stored, std::string& clean) {
  std::string name(stored);
  std::replace(name.begin(), name.end(), '\\', '/');
  clean.clear();
  if (name.empty() || name.front() == '/') return false;  // empty, or from the root
  if (name.size() >= 2 && std::isalpha(static_cast<unsigned char>(name[0])) && name[1] == ':') {
    return false;  // a drive
  }
  std::vector<std::string> parts;
  if (!SplitRelative(name, parts)) return false;
  for (const std::string& part : parts) {
    if (!clean.empty()) clean += '/';
    clean += part;
  }
  return !clean.empty();
}

bool WithinExtractLimits(uint32_t filesWritten, uint64_t bytesWritten, uint64_t size,
                         uint32_t maxFiles, uint64_t maxBytes) {
  return filesWritten < maxFiles && size <= ExtractBytesLeft(bytesWritten, maxBytes);
}

uint64_t ExtractBytesLeft(uint64_t bytesWritten, uint64_t maxBytes) {
  return maxBytes - std::min(maxBytes, bytesWritten);
}

// -----------------------------------------------------------------------------------------------
// TCabTargetFolder.

void TCabTargetFolder::Reset(std::string path) {
  Close();
  FPath = std::move(path);
}

void TCabTargetFolder::Close() { FFd.Reset(); }

int TCabTargetFolder::Fd() {
  if (FFd) return FFd.Get();
  ForceDirectories(FPath);
  FFd.Reset(::open(FPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!FFd) throw EOSError(errno);
  return FFd.Get();
}

int TCabTargetFolder::Open(const std::string& target, bool skipReadOnly) {
  // Where to start: this folder for targets inside it; the caller's own folder for an
  // absolute target an OnCopyFile handler chose.
  std::string relative;
  int start = -1;
  TFd ownStart;
  if (!FPath.empty() && target.compare(0, FPath.size(), FPath) == 0) {
    start = Fd();
    relative = target.substr(FPath.size());
  } else if (!target.empty() && target.front() == '/') {
    const size_t slash = target.rfind('/');
    const std::string folder = target.substr(0, slash + 1);
    ForceDirectories(folder);
    ownStart.Reset(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (ownStart.Get() < 0) throw EOSError(errno);
    start = ownStart.Get();
    relative = target.substr(slash + 1);
  } else {
    throw EOSError(ENOENT);  // no folder to write into
  }

  std::vector<std::string> parts;
  if (!SplitRelative(relative, parts)) {
    errno = EACCES;  // a handler's target that climbs out of its folder
    return -1;
  }
  if (parts.empty()) {
    errno = EISDIR;
    return -1;
  }

  // Folders one at a time, never through a link.
  TFd folder;
  int at = start;
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    if (::mkdirat(at, parts[i].c_str(), 0777) != 0 && errno != EEXIST) throw EOSError(errno);
    const int sub = ::openat(at, parts[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (sub < 0) return -1;
    folder.Reset(sub);
    at = sub;
  }

  const char* leaf = parts.back().c_str();
  struct stat st;
  if (::fstatat(at, leaf, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
      (st.st_mode & 0222) == 0) {
    // Read-only: skipped, or made writable for the owner and overwritten.
    if (skipReadOnly) return kTargetSkipped;
    const mode_t writable = mode_t((st.st_mode & 07777) | S_IWUSR);
    if (::fchmodat(at, leaf, writable, AT_SYMLINK_NOFOLLOW) != 0 &&
        (errno == ENOTSUP || errno == ENOSYS)) {
      ::fchmodat(at, leaf, writable, 0);
    }
  }

  // Not truncated at open: a link or a special file must be refused before anything changes.
  TFd fd(::openat(at, leaf, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666));
  if (fd.Get() < 0) return -1;
  if (::fstat(fd.Get(), &st) != 0) return -1;
  if (!S_ISREG(st.st_mode)) {
    errno = EINVAL;
    return -1;
  }
  if (st.st_nlink > 1) {
    errno = EMLINK;  // a hard link would carry the bytes to another name
    return -1;
  }
  if (::ftruncate(fd.Get(), 0) != 0) return -1;
  ::fcntl(fd.Get(), F_SETFL, ::fcntl(fd.Get(), F_GETFL) & ~O_NONBLOCK);
  return fd.Release();
}
