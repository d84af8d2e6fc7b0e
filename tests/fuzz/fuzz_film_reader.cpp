// Feeds arbitrary bytes to the film reader as a film file and as an executable film, and
// draws every shape that loads.
#include <cstddef>
#include <cstdint>

#include "film/FilmFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  TPackageSpan span;
  TFilmError error;
  if (LocatePackage(bytes, span, error) &&
      (span.Offset < 0 || span.Offset + span.Length + 4 != int64_t(size)))
    __builtin_trap();

  TFilm film;
  ReadFilm(bytes, film, error);
  if (error && error.Message.empty()) __builtin_trap();

  auto target = TRasterBitmap::Create(48, 40, 32);
  for (const auto& segment : film.Segments) {
    const auto& list = *segment->CursorList;
    for (int32_t i = 0; i < list.Count() && i < 64; ++i) {
      if (const TzrCursor* shape = list.Items(i)) {
        shape->Draw(*target, 0, 0);
        shape->Draw(*target, 47, 39);
        shape->Draw(*target, segment->Width, segment->Height);
      }
    }
  }
  return 0;
}
