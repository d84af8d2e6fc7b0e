#include "cli/ZrFilmCommand.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "io/ScopeGuard.h"
#include "io/UniqueFd.h"

namespace {

// The package of an executable film, copied into the run's folder.
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
  temporary = tool.TempDir + TFilmLoader::kPackageName;
  try {
    if (CopyExecutablePackage(source.Get(), film, temporary)) return true;
    error = "cannot create a temporary file in " + tool.TempDir + ": " + std::strerror(errno);
  } catch (const EFilmLoad& e) {
    error = e.what();
  }
  return false;
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
  const auto removeCopy = OnScopeExit([&] {
    if (!temporary.empty()) ::unlink(temporary.c_str());
  });
  if (IsExecutableFilmPath(film)) {
    // The package is the L bytes before the executable's last four.
    std::string error;
    if (!CopyPackageToTemporary(*this, film, temporary, error)) return Fail(film, error);
    package = temporary;
  }
  int status = kOk;
  TSTCabReader reader;
  try {
    reader.Extract(package, dir);
  } catch (const std::exception& e) {
    status = Fail(film, e.what());
  }
  // Entries whose names lead outside the folder are not written; each is named, and the
  // extraction counts as failed, as a cabinet tool's would.
  for (const std::string& name : reader.SkippedNames())
    status = Fail(film, "skipped \"" + Printable(name) + "\": the name leads outside the folder");
  return status;
}
