// make_large_film OUT MEBIBYTES: writes a film of about MEBIBYTES of frame data (see
// LargeFilm.h), as a package, or as an executable film when OUT ends in ".exe", for measuring
// memory and loading speed by hand. Prints the film file's size in bytes.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "filmwriter/LargeFilm.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_large_film OUT MEBIBYTES\n");
    return 2;
  }
  const std::string out = argv[1];
  char* end = nullptr;
  const unsigned long long mebibytes = std::strtoull(argv[2], &end, 10);
  if (*end != '\0' || mebibytes == 0 || mebibytes > 3000) {
    std::fprintf(stderr, "make_large_film: MEBIBYTES must be 1 to 3000\n");
    return 2;
  }
  try {
    TLargeFilmPlan plan;
    plan.FrameBytes = mebibytes << 20;
    std::vector<uint8_t> film = WriteFilmRaw(MakeLargeFilmSegments(plan));
    const size_t filmSize = film.size();
    std::vector<uint8_t> package = MakeFilmPackage(film);
    film = {};
    if (out.size() > 4 && out.compare(out.size() - 4, 4, ".exe") == 0)
      package = MakeExecutableFilm(std::vector<uint8_t>(64 << 10, 0x90), package);
    WriteFileBytes(out, package);
    std::printf("%zu\n", filmSize);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_large_film: %s\n", e.what());
    return 1;
  }
  return 0;
}
