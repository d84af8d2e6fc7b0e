#include "shell/player/PictureSaver.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <QStandardPaths>

#include "playback/PictureName.h"
#include "shell/player/LoadMessages.h"

namespace {

TPictureSave Failed(const QString& text) { return {{}, {QMessageBox::Warning, text, {}}}; }

}  // namespace

TPictureSave SavePictureFile(const QImage& picture, const QString& filmPath, TFramePos frame) {
  const QString folder = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
  if (folder.isEmpty() || !QDir().mkpath(folder))
    return Failed(QStringLiteral("Не удалось сохранить кадр: нет папки для изображений %1.").arg(Quoted(folder.toStdString())));
  // Named as zrfilm names its pictures: the segment from 1, the frame within it from 0.
  QString stem = QFileInfo(filmPath).completeBaseName();
  if (stem.isEmpty()) stem = QStringLiteral("veRirove");
  stem += QLatin1Char('-') + QString::fromStdString(FramePictureName(frame));
  // A file that exists is never written over: the next free number goes into the name. The
  // file is made only when it does not exist, so another program cannot slip one in between.
  constexpr int kAttempts = 1000;
  for (int attempt = 1; attempt <= kAttempts; ++attempt) {
    const QString name = attempt == 1 ? stem + QStringLiteral(".png") : stem + QStringLiteral(" (%1).png").arg(attempt);
    const QString path = QDir(folder).filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
      if (QFileInfo::exists(path)) continue;
      return Failed(QStringLiteral("Не удалось сохранить кадр в файл %1: %2").arg(Quoted(path.toStdString()), file.errorString()));
    }
    QImageWriter writer(&file, "png");
    if (!writer.write(picture)) {
      const QString reason = writer.errorString();
      file.remove();
      return Failed(QStringLiteral("Не удалось сохранить кадр в файл %1: %2").arg(Quoted(path.toStdString()), reason));
    }
    file.close();
    return {path, {}};
  }
  return Failed(QStringLiteral("Не удалось сохранить кадр: в папке %1 уже есть файлы с именами %2.png … %2 (%3).png.")
                    .arg(Quoted(folder.toStdString()), stem)
                    .arg(kAttempts));
}
