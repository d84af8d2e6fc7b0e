// make_typical_film OUT MINUTES [WIDTH HEIGHT]: writes a typical screen recording (see
// TypicalFilm.h) of MINUTES minutes, 1024 × 768 unless a size is given, as a package, for
// measuring export by hand. Prints the film file's and the package's sizes in bytes and what
// the frames hold.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "filmwriter/TypicalFilm.h"

namespace {

// A whole number from lowest to highest, or -1.
long Number(const char* text, long lowest, long highest) {
  char* end = nullptr;
  const long n = std::strtol(text, &end, 10);
  return *text != '\0' && *end == '\0' && n >= lowest && n <= highest ? n : -1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 5) {
    std::fprintf(stderr, "usage: make_typical_film OUT MINUTES [WIDTH HEIGHT]\n");
    return 2;
  }
  TTypicalFilmPlan plan;
  const long minutes = Number(argv[2], 1, 600);
  const long width = argc == 5 ? Number(argv[3], 320, 8192) : plan.Width;
  const long height = argc == 5 ? Number(argv[4], 240, 8192) : plan.Height;
  if (minutes < 0 || width < 0 || height < 0) {
    std::fprintf(stderr, "make_typical_film: MINUTES must be 1 to 600, WIDTH and HEIGHT 320 × 240 to 8192 × 8192\n");
    return 2;
  }
  plan.Minutes = int32_t(minutes);
  plan.Width = int32_t(width);
  plan.Height = int32_t(height);
  try {
    TTypicalFilmStats stats;
    std::vector<uint8_t> film = WriteFilmRaw(MakeTypicalFilmSegments(plan, &stats));
    const size_t filmSize = film.size();
    const std::vector<uint8_t> package = MakeFilmPackage(film);
    film = {};
    WriteFileBytes(argv[1], package);
    std::printf("film %zu bytes, package %zu bytes; %lld frames, %lld without picture changes, %lld of them "
                "without cursor changes; %.2f %% of the pixels changed\n",
                filmSize, package.size(), static_cast<long long>(stats.Frames),
                static_cast<long long>(stats.StillFrames), static_cast<long long>(stats.QuietFrames),
                100.0 * double(stats.ChangedPixels) / (double(stats.Frames) * double(plan.Width) * plan.Height));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_typical_film: %s\n", e.what());
    return 1;
  }
  return 0;
}
