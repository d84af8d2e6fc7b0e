// What the player remembers of the films it opened, in its settings: the films opened last,
// for "Файл" → "Последние фильмы", and where each film was left, so that going on from there
// can be offered when it is opened again.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

class TPlayerSettings;

// A film file as it was when opened: a film is known again only when it has not changed.
struct TFilmIdentity {
  QString Path;  // absolute
  int64_t Size = 0;
  int64_t Modified = 0;  // milliseconds since the epoch
};
// The identity of the file at `path` now; none when there is no such file.
std::optional<TFilmIdentity> FilmIdentity(const QString& path);

class TRecentFilms {
 public:
  static constexpr int kMost = 10;
  explicit TRecentFilms(TPlayerSettings& settings) : FSettings(settings) {}

  // Absolute paths, newest first.
  QStringList Paths() const;
  // The film opened now becomes the newest; the oldest beyond ten is forgotten.
  void Add(const QString& path);
  void Remove(const QString& path);
  void Clear();

 private:
  TPlayerSettings& FSettings;
};

class TResumePositions {
 public:
  // Films remembered; the one left longest ago is forgotten first.
  static constexpr int kMost = 200;
  // A position this close to the film's start or end is not kept.
  static constexpr int64_t kMargin = 10000;

  explicit TResumePositions(TPlayerSettings& settings) : FSettings(settings) {}

  // Where the film was left (milliseconds), when it was left in the middle of its `length` and
  // its file has not changed since.
  std::optional<int64_t> Recall(const TFilmIdentity& film, int64_t length) const;
  // The film was left at `position` of its `length`: kept as the newest when it is in the
  // middle, forgotten when it is near the start or the end.
  void Remember(const TFilmIdentity& film, int64_t position, int64_t length);
  void Forget(const QString& path);

 private:
  TPlayerSettings& FSettings;
};
