#include "shell/dialogs/ProgramData.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

QString ProgramDataFolder(const QString& programFolder) {
  const QString installed = QDir::cleanPath(programFolder + QStringLiteral("/../share/veRirove"));
  return QFileInfo(installed).isDir() ? installed : programFolder;
}

QString ProgramDataFolder() { return ProgramDataFolder(QCoreApplication::applicationDirPath()); }
