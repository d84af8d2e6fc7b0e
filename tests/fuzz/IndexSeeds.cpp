// Seeds of fuzz_index_cache: kept indexes of small films, with the key and threshold the
// target reads them with.
#include <stdexcept>
#include <string>
#include <vector>

#include "filmwriter/ActivityFilm.h"
#include "index/IndexCache.h"
#include "index/IndexPass.h"

void WriteIndexSeeds(const std::string& dir) {
  TFilm film;
  TFilmError error;
  const auto bytes = WriteFilm(std::vector{
      MakeActivitySegment({"Один", 10, {{1, TScreenAction::Scene}, {60, TScreenAction::Still}, {5, TScreenAction::Stripe}}}, 40, 20),
      MakeActivitySegment({"Два", 5, {{3, TScreenAction::Caret}, {1, TScreenAction::Shape}}}, 40, 20)});
  if (!ReadFilm(bytes, film, error)) throw std::runtime_error(error.Message);
  TIndexOptions options;
  options.PreviewWidth = 8;
  WriteFileBytes(dir + "/two-segments", EncodeFilmIndex(IndexFilm(film.Segments, options), {1, 2, 3}, 5000));
  WriteFileBytes(dir + "/empty", EncodeFilmIndex(TFilmIndex{}, {1, 2, 3}, 5000));
}
