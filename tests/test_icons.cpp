// The icons the build draws for the desktop's icon theme (VERIROVE_ICON_THEME): every size the
// theme gets, with the right dimensions and transparency, the same pixels as the window icon
// where the window has one, and a scalable icon that draws the same picture.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QString>
#include <QStringList>
#include <QSvgRenderer>
#include <cstdlib>
#include <vector>

#include "shell/artwork/UzrArtwork.h"

namespace {

QString IconPath(const QString& sizeFolder, const QString& suffix) {
  return QStringLiteral(VERIROVE_ICON_THEME "/%1/apps/" VERIROVE_APP_ID ".%2").arg(sizeFolder, suffix);
}

std::vector<int> IconSizes() {
  std::vector<int> sizes;
  for (const QString& size : QStringLiteral(VERIROVE_ICON_SIZES).split(u' ', Qt::SkipEmptyParts))
    sizes.push_back(size.toInt());
  return sizes;
}

QImage PngIcon(int size) {
  return QImage(IconPath(QStringLiteral("%1x%1").arg(size), QStringLiteral("png")));
}

// The mean difference per channel, 0..255, of two pictures of one size.
double MeanDifference(const QImage& a, const QImage& b) {
  const QImage x = a.convertToFormat(QImage::Format_ARGB32);
  const QImage y = b.convertToFormat(QImage::Format_ARGB32);
  double sum = 0;
  for (int row = 0; row < x.height(); ++row)
    for (int column = 0; column < x.width(); ++column) {
      const QRgb p = x.pixel(column, row), q = y.pixel(column, row);
      sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) + std::abs(qBlue(p) - qBlue(q)) +
             std::abs(qAlpha(p) - qAlpha(q));
    }
  return sum / (4.0 * x.width() * x.height());
}

TEST(Icons, EveryThemeSizeIsThere) {
  const std::vector<int> sizes = IconSizes();
  ASSERT_EQ(sizes, (std::vector<int>{16, 22, 24, 32, 48, 64, 128, 256}));
  for (int size : sizes) {
    SCOPED_TRACE(size);
    const QImage icon = PngIcon(size);
    ASSERT_FALSE(icon.isNull());
    EXPECT_EQ(icon.size(), QSize(size, size));
    EXPECT_TRUE(icon.hasAlphaChannel());
    // Drawn to the whole square at its own scale: clear above the monitor (the icon's
    // top unit) and at the foot's sides, solid in the middle of the screen.
    EXPECT_EQ(qAlpha(icon.pixel(size / 2, 0)), 0);
    EXPECT_EQ(qAlpha(icon.pixel(0, size - 1)), 0);
    EXPECT_EQ(qAlpha(icon.pixel(size - 1, size - 1)), 0);
    EXPECT_EQ(qAlpha(icon.pixel(size / 2, size * 13 / 32)), 255);
    EXPECT_EQ(qAlpha(icon.pixel(size / 2, size * 29 / 32)), 255);
  }
}

TEST(Icons, SameAsTheWindowIconAtItsSizes) {
  const QIcon window = ApplicationIcon();
  for (int size : {16, 32, 64}) {
    SCOPED_TRACE(size);
    const QImage drawn = window.pixmap(QSize(size, size)).toImage();
    ASSERT_EQ(drawn.size(), QSize(size, size));
    EXPECT_EQ(PngIcon(size).convertToFormat(QImage::Format_ARGB32),
              drawn.convertToFormat(QImage::Format_ARGB32));
  }
}

TEST(Icons, ScalableIconDrawsTheLargePicture) {
  QSvgRenderer svg(IconPath(QStringLiteral("scalable"), QStringLiteral("svg")));
  ASSERT_TRUE(svg.isValid());
  EXPECT_EQ(svg.viewBoxF(), QRectF(0, 0, 16, 16));
  // The scalable icon drawn at the PNG sizes with the same detail.
  for (int size : {128, 256}) {
    SCOPED_TRACE(size);
    QImage rendered(size, size, QImage::Format_ARGB32_Premultiplied);
    rendered.fill(Qt::transparent);
    QPainter painter(&rendered);
    svg.render(&painter);
    painter.end();
    // Antialiasing differs along the edges only.
    EXPECT_LT(MeanDifference(rendered, PngIcon(size)), 3.0);
  }
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  QGuiApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
