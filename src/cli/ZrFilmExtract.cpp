#include "cli/ZrFilmCommand.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "io/UniqueFd.h"

namespace {

// The package of an executable film, copied to a temporary file of the run's folder.
bool CopyPackageToTemporary(const TTool& tool, const std::string& film, std::string& temporary, std::string& error) {
  if (tool.TempDir.empty()) {
    error = tool.TempError;
    return false;
  }
  const TFd source(::open(film.c_str(), O_RDONLY | O_CLOEXEC));
  if (!source) {
    error = std::string("cannot read the film: ") + std::strerror(errno);
    return false;
  }
  temporary = tool.TempDir + "extract-XXXXXX";
  const TFd target(::mkstemp(temporary.data()));
  if (!target) {
    error = "cannot create a temporary file in " + tool.TempDir + ": " + std::strerror(errno);
    temporary.clear();
    return false;
  }
  try {
    CopyExecutablePackage(source.Get(), film, target.Get(), temporary);
  } catch (const EFilmLoad& e) {
    error = e.what();
    return false;
  }
  return true;
}

}  // namespace

int TTool::Extract(const std::string& film, const std::string& dir) {
  TLoadReport check;
  if (!CheckFilmPath(film, check)) return Fail(film, ReportText(check));
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec) return Fail(dir, "cannot create the folder: " + ec.message());
  std::string package = film;
  std::string temporary;
  if (IsExecutableFilmPath(film)) {
    // The package is the L bytes before the executable's last four.
    std::string error;
    const bool copied = CopyPackageToTemporary(*this, film, temporary, error);
    if (!copied) {
      if (!temporary.empty()) ::unlink(temporary.c_str());
      return Fail(film, error);
    }
    package = temporary;
  }
  int status = kOk;
  TSTCabReader reader;
  try {
    reader.Extract(package, dir);
  } catch (const std::exception& e) {
    status = Fail(film, e.what());
  }
  if (!temporary.empty()) ::unlink(temporary.c_str());
  // Entries whose names lead outside the folder are not written; each is named, and the
  // extraction counts as failed, as a cabinet tool's would.
  for (const std::string& name : reader.SkippedNames())
    status = Fail(film, "skipped \"" + Printable(name) + "\": the name leads outside the folder");
  return status;
}
