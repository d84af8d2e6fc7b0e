// The player's settings: what it remembers from one run to the next, in QSettings under the
// program's name (~/.config/veRirove/veRirove.conf, or under $XDG_CONFIG_HOME). A settings
// file that is damaged or cannot be written costs only what it remembers: a value that cannot
// be read is taken as not set, and one that cannot be written is kept for the rest of the run.
#pragma once

#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <memory>
#include <vector>

class QSettings;

// The keys, one a setting.
namespace PlayerSettingsKey {
// The films opened last, newest first (absolute paths).
inline constexpr char kRecentFilms[] = "Films/Recent";
// Where films were left: records of path, size, modified (ms since the epoch) and position
// (ms into the film), newest first.
inline constexpr char kResumePositions[] = "Resume";
// The folder of the film opened last, where the installed player's Open dialog starts.
inline constexpr char kLastFilmFolder[] = "Films/LastFolder";
// "Вид" → "По размеру окна": a smaller picture enlarged to fill the window.
inline constexpr char kFitToWindow[] = "View/FitToWindow";
// "Действия" → "Пропускать простои": playing jumps over the screen's long idle stretches.
inline constexpr char kSkipIdle[] = "Play/SkipIdle";
}  // namespace PlayerSettingsKey

class TPlayerSettings {
 public:
  // The user's settings file.
  static QString UserFile();
  // The settings kept in `file` (read now, written at each change).
  explicit TPlayerSettings(const QString& file = UserFile());
  ~TPlayerSettings();

  // A text; empty when it is not set or is not a text.
  QString Text(const char* key) const;
  // A yes or no ("true" or "false"); `otherwise` for anything else.
  bool Flag(const char* key, bool otherwise) const;
  // Texts, at most `most`; none when the value is not a list of texts.
  QStringList Texts(const char* key, int most) const;
  // A list of records, at most `most` of them, each with the fields it has.
  std::vector<QVariantMap> Records(const char* key, int most) const;

  // A change is written at once; when it cannot be, it is kept for the run.
  void SetText(const char* key, const QString& value);
  void SetFlag(const char* key, bool value);
  void SetTexts(const char* key, const QStringList& values);
  void SetRecords(const char* key, const std::vector<QVariantMap>& records);

 private:
  void Write(const char* key, const QVariant& value);

  std::unique_ptr<QSettings> FSettings;
};
