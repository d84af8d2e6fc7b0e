#include "shell/player/FilmMemory.h"

#include <QDateTime>
#include <QFileInfo>
#include <algorithm>
#include <vector>

#include "shell/app/PlayerSettings.h"

namespace {

QString Absolute(const QString& path) { return QFileInfo(path).absoluteFilePath(); }

// A number field of a remembered record; none when the settings file holds something else.
std::optional<int64_t> Number(const QVariantMap& record, const char* field) {
  bool ok = false;
  const qlonglong value = record.value(QLatin1String(field)).toLongLong(&ok);
  return ok ? std::optional<int64_t>(value) : std::nullopt;
}

bool InTheMiddle(int64_t position, int64_t length) {
  return position > TResumePositions::kMargin && position < length - TResumePositions::kMargin;
}

}  // namespace

std::optional<TFilmIdentity> FilmIdentity(const QString& path) {
  const QFileInfo file(path);
  if (path.isEmpty() || !file.isFile()) return std::nullopt;
  return TFilmIdentity{file.absoluteFilePath(), file.size(), file.lastModified().toMSecsSinceEpoch()};
}

// ---- The films opened last ----

QStringList TRecentFilms::Paths() const {
  QStringList paths;
  for (const QString& path : FSettings.Texts(PlayerSettingsKey::kRecentFilms, kMost))
    if (QFileInfo(path).isAbsolute() && !paths.contains(path)) paths << path;
  return paths;
}

void TRecentFilms::Add(const QString& path) {
  QStringList paths = Paths();
  paths.removeAll(Absolute(path));
  paths.prepend(Absolute(path));
  FSettings.SetTexts(PlayerSettingsKey::kRecentFilms, paths.mid(0, kMost));
}

void TRecentFilms::Remove(const QString& path) {
  QStringList paths = Paths();
  if (paths.removeAll(Absolute(path)) > 0) FSettings.SetTexts(PlayerSettingsKey::kRecentFilms, paths);
}

void TRecentFilms::Clear() { FSettings.SetTexts(PlayerSettingsKey::kRecentFilms, {}); }

// ---- Where films were left ----

std::optional<int64_t> TResumePositions::Recall(const TFilmIdentity& film, int64_t length) const {
  for (const QVariantMap& record : FSettings.Records(PlayerSettingsKey::kResumePositions, kMost)) {
    if (record.value(QStringLiteral("path")).toString() != film.Path) continue;
    const auto position = Number(record, "position");
    if (Number(record, "size") != film.Size || Number(record, "modified") != film.Modified || !position ||
        !InTheMiddle(*position, length))
      return std::nullopt;
    return position;
  }
  return std::nullopt;
}

void TResumePositions::Remember(const TFilmIdentity& film, int64_t position, int64_t length) {
  if (!InTheMiddle(position, length)) return Forget(film.Path);
  std::vector<QVariantMap> records = FSettings.Records(PlayerSettingsKey::kResumePositions, kMost);
  std::erase_if(records, [&](const QVariantMap& r) { return r.value(QStringLiteral("path")).toString() == film.Path; });
  records.insert(records.begin(), QVariantMap{{QStringLiteral("path"), film.Path},
                                              {QStringLiteral("size"), qlonglong(film.Size)},
                                              {QStringLiteral("modified"), qlonglong(film.Modified)},
                                              {QStringLiteral("position"), qlonglong(position)}});
  if (records.size() > size_t(kMost)) records.resize(size_t(kMost));
  FSettings.SetRecords(PlayerSettingsKey::kResumePositions, records);
}

void TResumePositions::Forget(const QString& path) {
  std::vector<QVariantMap> records = FSettings.Records(PlayerSettingsKey::kResumePositions, kMost);
  const QString absolute = Absolute(path);
  if (std::erase_if(records, [&](const QVariantMap& r) { return r.value(QStringLiteral("path")).toString() == absolute; }))
    FSettings.SetRecords(PlayerSettingsKey::kResumePositions, records);
}
