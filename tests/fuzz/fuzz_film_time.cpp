// Feeds arbitrary text to the reader of typed times ("83.5", "0:01:23.250"): a time it takes
// is never negative, and the clock's own display of it reads back to its whole seconds.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "playback/FilmClock.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  int64_t millis = -1;
  if (!ParseFilmTime(text, millis)) return 0;
  if (millis < 0) __builtin_trap();
  int64_t again = -1;
  if (!ParseFilmTime(FormatClock(millis), again) || again != millis / 1000 * 1000) __builtin_trap();
  return 0;
}
