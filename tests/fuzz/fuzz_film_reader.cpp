// Feeds arbitrary bytes to the film reader as a film file and as an executable film, and
// draws every shape that loads. The extent of the first segments, where it completes, holds
// all the reader reads of them: read from those bytes alone, the film gives the same.
#include <cstddef>
#include <cstdint>

#include "film/FilmExtent.h"
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

  // Up to the first segment, the second, or all of them; fed in two pieces.
  for (int32_t wanted = 1; wanted <= 3; ++wanted) {
    const TLastSegment last = [wanted](int32_t n, const TSegInfo&) { return n == wanted; };
    TFilmExtent extent(last);
    const size_t half = size / 2;
    if (!extent.Feed(bytes.first(half)) && !extent.Feed(bytes.subspan(half))) continue;
    if (extent.End() > size) __builtin_trap();
    TFilm whole, part;
    TFilmError wholeError, partError;
    const bool read = ReadFilm(bytes, nullptr, whole, wholeError, last);
    if (ReadFilm(bytes.first(size_t(extent.End())), nullptr, part, partError, last) != read ||
        part.Segments.size() != whole.Segments.size() || partError.Message != wholeError.Message)
      __builtin_trap();
  }

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
