#include "film/TempFolder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace {

bool UsableFolder(const std::string& path, std::string& error) {
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
    error = "cannot create the temporary folder " + path + ": " + std::strerror(errno);
    return false;
  }
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) {
    error = "cannot examine the temporary folder " + path + ": " + std::strerror(errno);
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
    error = "cannot make the temporary folder " + path + " private: " + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace

std::string PrivateTempFolder(std::string& error) {
  std::string path;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && *runtime == '/') {
    path = std::string(runtime) + "/veRirove";
  } else {
    std::error_code ec;
    std::string base = std::filesystem::temp_directory_path(ec).string();
    if (ec || base.empty()) base = "/tmp";
    path = base + "/veRirove-" + std::to_string(::geteuid());
  }
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  if (!UsableFolder(path, error)) return {};
  return path + "/";
}
