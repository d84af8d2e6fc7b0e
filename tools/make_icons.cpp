// Build-time tool: draws the program's icon for the desktop's icon theme, as the window icon is
// drawn, so that the installed icons are made by the build and never kept in the repository.
//
//   make_icons <theme folder> <icon name> <size>...
//
// writes <theme folder>/<size>x<size>/apps/<icon name>.png for every size and
// <theme folder>/scalable/apps/<icon name>.svg, the latter with the detail of the largest icon.
#include <QByteArray>
#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QSaveFile>
#include <QString>
#include <QSvgGenerator>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "shell/artwork/UzrArtwork.h"

namespace {

constexpr int kLargestSize = 1024;

// Writes `data` to `path` through a temporary file, so that an interrupted build never leaves
// an icon cut short that looks up to date.
bool WriteFile(const QString& path, const QByteArray& data) {
  if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
    std::fprintf(stderr, "make_icons: cannot make the folder of %s\n", qPrintable(path));
    return false;
  }
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size() || !file.commit()) {
    std::fprintf(stderr, "make_icons: cannot write %s: %s\n", qPrintable(path), qPrintable(file.errorString()));
    return false;
  }
  return true;
}

QByteArray PngIcon(int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.scale(size / 16.0, size / 16.0);
  PaintApplicationIcon(painter, size);
  painter.end();
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  image.convertToFormat(QImage::Format_ARGB32).save(&buffer, "PNG");
  return png;
}

// The SVG's own coordinates are the icon's 16 units, so that the file stays small and readable.
QByteArray SvgIcon(int detailSize) {
  QByteArray svg;
  QBuffer buffer(&svg);
  QSvgGenerator generator;
  generator.setOutputDevice(&buffer);
  generator.setSize(QSize(16, 16));
  generator.setViewBox(QRectF(0, 0, 16, 16));
  generator.setResolution(96);
  generator.setTitle(QStringLiteral("veRirove"));
  generator.setDescription(QStringLiteral("A monitor playing a film"));
  QPainter painter(&generator);
  painter.setRenderHint(QPainter::Antialiasing);
  PaintApplicationIcon(painter, detailSize);
  painter.end();
  return svg;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s <theme folder> <icon name> <size>...\n", argv[0]);
    return 2;
  }
  const QString theme = QString::fromLocal8Bit(argv[1]);
  const QString name = QString::fromLocal8Bit(argv[2]);
  std::vector<int> sizes;
  for (int i = 3; i < argc; ++i) {
    bool ok = false;
    const int size = QString::fromLocal8Bit(argv[i]).toInt(&ok);
    if (!ok || size < 16 || size > kLargestSize) {
      std::fprintf(stderr, "make_icons: a size is a number of pixels from 16 to %d, not \"%s\"\n", kLargestSize,
                   argv[i]);
      return 2;
    }
    sizes.push_back(size);
  }

  int largest = 0;
  for (int size : sizes) {
    const QByteArray png = PngIcon(size);
    if (png.isEmpty()) {
      std::fprintf(stderr, "make_icons: the %d-pixel icon could not be drawn\n", size);
      return 1;
    }
    if (!WriteFile(QStringLiteral("%1/%2x%2/apps/%3.png").arg(theme).arg(size).arg(name), png)) return 1;
    largest = std::max(largest, size);
  }
  return WriteFile(QStringLiteral("%1/scalable/apps/%2.svg").arg(theme, name), SvgIcon(largest)) ? 0 : 1;
}
