#include "shell/app/PlayerSettings.h"

#include <QSettings>
#include <QStandardPaths>
#include <algorithm>

QString TPlayerSettings::UserFile() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
         QStringLiteral("/veRirove/veRirove.conf");
}

TPlayerSettings::TPlayerSettings(const QString& file)
    : FSettings(std::make_unique<QSettings>(file, QSettings::IniFormat)) {}

TPlayerSettings::~TPlayerSettings() = default;

QString TPlayerSettings::Text(const char* key) const {
  const QVariant value = FSettings->value(QLatin1String(key));
  return value.typeId() == QMetaType::QString ? value.toString() : QString();
}

bool TPlayerSettings::Flag(const char* key, bool otherwise) const {
  const QString text = Text(key);
  if (text == QLatin1String("true")) return true;
  if (text == QLatin1String("false")) return false;
  return otherwise;
}

QStringList TPlayerSettings::Texts(const char* key, int most) const {
  // Another running player may have written since.
  FSettings->sync();
  // One text is read back as a text, several as a list; anything else (a damaged file) is none.
  const QVariant value = FSettings->value(QLatin1String(key));
  QStringList texts;
  if (value.typeId() == QMetaType::QString) texts << value.toString();
  if (value.typeId() == QMetaType::QStringList) texts = value.toStringList();
  return texts.mid(0, std::max(most, 0));
}

std::vector<QVariantMap> TPlayerSettings::Records(const char* key, int most) const {
  std::vector<QVariantMap> records;
  FSettings->sync();
  // The count is the file's word: a damaged one may claim any number.
  const int count = std::clamp(FSettings->beginReadArray(QLatin1String(key)), 0, std::max(most, 0));
  for (int i = 0; i < count; ++i) {
    FSettings->setArrayIndex(i);
    QVariantMap record;
    for (const QString& field : FSettings->childKeys()) record.insert(field, FSettings->value(field));
    records.push_back(std::move(record));
  }
  FSettings->endArray();
  return records;
}

void TPlayerSettings::SetText(const char* key, const QString& value) { Write(key, value); }
void TPlayerSettings::SetFlag(const char* key, bool value) { Write(key, value ? "true" : "false"); }

void TPlayerSettings::SetTexts(const char* key, const QStringList& values) {
  // An empty list is removed rather than written as an invalid value.
  Write(key, values.isEmpty() ? QVariant() : QVariant(values));
}

void TPlayerSettings::SetRecords(const char* key, const std::vector<QVariantMap>& records) {
  FSettings->remove(QLatin1String(key));
  FSettings->beginWriteArray(QLatin1String(key), int(records.size()));
  for (size_t i = 0; i < records.size(); ++i) {
    FSettings->setArrayIndex(int(i));
    for (auto field = records[i].begin(); field != records[i].end(); ++field)
      FSettings->setValue(field.key(), field.value());
  }
  FSettings->endArray();
  FSettings->sync();
}

void TPlayerSettings::Write(const char* key, const QVariant& value) {
  if (value.isValid()) {
    FSettings->setValue(QLatin1String(key), value);
  } else {
    FSettings->remove(QLatin1String(key));
  }
  // A file that cannot be written leaves the value in memory: QSettings keeps it for the run.
  FSettings->sync();
}
