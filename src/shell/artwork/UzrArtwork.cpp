// Icons and pictures drawn with QPainter. Small icons are laid out on a 16-unit grid: rectangle
// edges on whole units, one-unit outlines of other shapes on half units, so they land on whole
// pixels at 16 and 32 pixels.
#include "shell/artwork/UzrArtwork.h"

#include <QColor>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPainterPathStroker>
#include <QPolygonF>
#include <QRadialGradient>
#include <QRectF>
#include <array>
#include <initializer_list>

namespace {

using TIconPainter = void (*)(QPainter&);

constexpr QRgb kWhite = 0xFFFFFF;
constexpr QRgb kBlack = 0x000000;

QImage NewTransparentImage(int width, int height) {
  QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  return image;
}

QLinearGradient VerticalGradient(qreal top, qreal bottom, const QColor& from, const QColor& to) {
  QLinearGradient gradient(0, top, 0, bottom);
  gradient.setColorAt(0, from);
  gradient.setColorAt(1, to);
  return gradient;
}

QPen Outline(const QColor& colour, qreal width = 1) {
  QPen pen(colour, width);
  pen.setJoinStyle(Qt::MiterJoin);
  return pen;
}

// A rectangle with a border of `border` units, drawn as two fills so its corners stay crisp.
void FramedRect(QPainter& p, const QRectF& outer, const QColor& edge, const QBrush& fill,
                qreal border = 1) {
  p.setPen(Qt::NoPen);
  p.setBrush(edge);
  p.drawRect(outer);
  p.setBrush(fill);
  p.drawRect(outer.adjusted(border, border, -border, -border));
}

// An icon drawn on the 16-unit grid at `size` pixels.
QImage RenderIcon(TIconPainter paint, int size) {
  QImage image = NewTransparentImage(size, size);
  if (paint) {
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 16.0, size / 16.0);
    paint(painter);
  }
  return image;
}

QIcon IconOfSizes(TIconPainter paint, std::initializer_list<int> sizes) {
  QIcon icon;
  for (int size : sizes) icon.addPixmap(QPixmap::fromImage(RenderIcon(paint, size)));
  return icon;
}

// --- Transport shapes, shared by the image list and the panel buttons ---

void PaintPlay(QPainter& p) {
  QPolygonF triangle({{4.5, 2.5}, {12.5, 8}, {4.5, 13.5}});
  p.setPen(Outline(QColor(0x0E, 0x54, 0x20)));
  p.setBrush(VerticalGradient(2, 14, QColor(0x5C, 0xC8, 0x66), QColor(0x17, 0x74, 0x2B)));
  p.drawPolygon(triangle);
}

void PaintPause(QPainter& p) {
  const QColor edge(0x12, 0x3A, 0x80);
  const QLinearGradient fill =
      VerticalGradient(2, 14, QColor(0x6A, 0xA6, 0xEC), QColor(0x1C, 0x4F, 0xA8));
  FramedRect(p, QRectF(3, 2, 4, 12), edge, fill);
  FramedRect(p, QRectF(9, 2, 4, 12), edge, fill);
}

void PaintStop(QPainter& p) {
  FramedRect(p, QRectF(3, 3, 10, 10), QColor(0x7A, 0x10, 0x10),
             VerticalGradient(3, 13, QColor(0xEC, 0x6A, 0x6A), QColor(0xA8, 0x1C, 0x1C)));
}

// --- The other image-list icons ---

// A list of three segments, each a small film frame and a line of text; the middle one is
// the current one.
void PaintSegments(QPainter& p) {
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0xC6, 0xDC, 0xF5));
  p.drawRect(QRectF(0, 5, 16, 6));
  for (int row = 0; row < 3; ++row) {
    const qreal top = 1 + row * 5;
    FramedRect(p, QRectF(1, top, 6, 4), QColor(0x2B, 0x2F, 0x36),
               VerticalGradient(top, top + 4, QColor(0x7F, 0xB8, 0xEE), QColor(0x2E, 0x6C, 0xB8)));
    p.setBrush(row == 1 ? QColor(0x1C, 0x3F, 0x7A) : QColor(0x5A, 0x60, 0x6A));
    p.drawRect(QRectF(8, top + 1, row == 1 ? 7 : 6, 1));
    p.drawRect(QRectF(8, top + 3, row == 2 ? 3 : 5, 1));
  }
}

// A question mark in a blue disc.
void PaintHelp(QPainter& p) {
  p.setPen(Outline(QColor(0x15, 0x3E, 0x7E)));
  QRadialGradient disc(QPointF(6, 5), 10);
  disc.setColorAt(0, QColor(0x8C, 0xC4, 0xF6));
  disc.setColorAt(1, QColor(0x1F, 0x5F, 0xB0));
  p.setBrush(disc);
  p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
  QPainterPath hook;
  hook.moveTo(5.9, 6.3);
  hook.cubicTo(5.9, 3.6, 10.3, 3.6, 10.3, 6.0);
  hook.cubicTo(10.3, 7.6, 8.1, 7.6, 8.1, 9.4);
  QPen pen(QColor(0xFF, 0xFF, 0xFF), 1.7);
  pen.setCapStyle(Qt::FlatCap);
  p.setPen(pen);
  p.setBrush(Qt::NoBrush);
  p.drawPath(hook);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0xFF, 0xFF, 0xFF));
  p.drawEllipse(QPointF(8.1, 11.6), 1.05, 1.05);
}

// A frame of film: a dark strip with sprocket holes around a picture.
void PaintFilm(QPainter& p) {
  FramedRect(p, QRectF(1, 1, 14, 14), QColor(0x1A, 0x1C, 0x20), QColor(0x3A, 0x3E, 0x46));
  p.setBrush(QColor(0xE4, 0xEA, 0xF0));
  for (int x = 3; x <= 12; x += 3) {
    p.drawRect(QRectF(x, 3, 1, 1));
    p.drawRect(QRectF(x, 12, 1, 1));
  }
  p.setBrush(VerticalGradient(5, 11, QColor(0x9C, 0xD0, 0xF8), QColor(0x3C, 0x8A, 0xC8)));
  p.drawRect(QRectF(3, 5, 10, 6));
  p.setBrush(QColor(0x3F, 0x8F, 0x4A));
  p.drawPolygon(QPolygonF({{3, 11}, {6.5, 7.5}, {9, 10}, {10.5, 8.5}, {13, 11}}));
}

// An open yellow folder with a sheet of paper in it.
void PaintOpenFile(QPainter& p) {
  const QColor edge(0x80, 0x5A, 0x10);
  QPainterPath back;
  back.moveTo(1.5, 13.5);
  back.lineTo(1.5, 2.5);
  back.lineTo(5.5, 2.5);
  back.lineTo(6.5, 3.5);
  back.lineTo(12.5, 3.5);
  back.lineTo(12.5, 13.5);
  back.closeSubpath();
  p.setPen(Outline(edge));
  p.setBrush(QColor(0xD6, 0xA0, 0x26));
  p.drawPath(back);
  FramedRect(p, QRectF(3, 5, 9, 6), QColor(0x8A, 0x8E, 0x96), QColor(0xFB, 0xFB, 0xF8));
  QPainterPath front;
  front.moveTo(1.5, 13.5);
  front.lineTo(4.5, 7.5);
  front.lineTo(15.5, 7.5);
  front.lineTo(12.5, 13.5);
  front.closeSubpath();
  p.setPen(Outline(edge));
  p.setBrush(VerticalGradient(7, 14, QColor(0xFF, 0xE6, 0x84), QColor(0xF0, 0xB4, 0x30)));
  p.drawPath(front);
}

// A brown door with a green arrow leading out of it.
void PaintExit(QPainter& p) {
  FramedRect(p, QRectF(1, 1, 10, 14), QColor(0x3A, 0x3E, 0x46), QColor(0x50, 0x56, 0x60));
  p.setPen(Outline(QColor(0x4A, 0x2A, 0x0E)));
  QLinearGradient wood(2, 0, 10, 0);
  wood.setColorAt(0, QColor(0xC8, 0x86, 0x44));
  wood.setColorAt(1, QColor(0x86, 0x50, 0x20));
  p.setBrush(wood);
  p.drawPolygon(QPolygonF({{1.5, 1.5}, {6.5, 3.5}, {6.5, 12.5}, {1.5, 14.5}}));
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0xF2, 0xD0, 0x4A));
  p.drawRect(QRectF(5, 8, 1, 1));
  p.setPen(Outline(QColor(0x12, 0x5A, 0x1E)));
  p.setBrush(VerticalGradient(4, 12, QColor(0x7A, 0xD8, 0x6E), QColor(0x22, 0x8C, 0x34)));
  p.drawPolygon(QPolygonF({{6.5, 6.5}, {10.5, 6.5}, {10.5, 3.5}, {15.5, 8}, {10.5, 12.5},
                           {10.5, 9.5}, {6.5, 9.5}}));
}

// A window: a frame, a blue title bar and a white client area.
void PaintWindow(QPainter& p, const QRectF& frame, const QColor& title) {
  FramedRect(p, frame, QColor(0x34, 0x3C, 0x4A), QColor(0xFB, 0xFC, 0xFE));
  p.setBrush(title);
  p.drawRect(QRectF(frame.left() + 1, frame.top() + 1, frame.width() - 2, 2));
}

void PaintOwnWindow(QPainter& p) {
  PaintWindow(p, QRectF(1, 1, 10, 9), QColor(0x7C, 0x96, 0xB8));
  PaintWindow(p, QRectF(5, 6, 10, 9), QColor(0x2E, 0x64, 0xC0));
}

constexpr std::array<TIconPainter, 9> kImageList = {
    PaintPlay, PaintPause, PaintStop, PaintSegments, PaintHelp,
    PaintFilm, PaintOpenFile, nullptr, PaintExit,
};

// --- The application icon ---

// A monitor playing a film; from 32 pixels on, with sprocket holes and a mouse pointer.
// Outlines are one pixel wide at 16 and 32 pixels and two at 64, inset by half their width.
void PaintApplication(QPainter& p, int size) {
  const bool detailed = size >= 32;
  const qreal line = size >= 64 ? 0.5 : 16.0 / size;
  const qreal inset = line / 2;
  const QColor edge(0x1B, 0x20, 0x28);
  p.setPen(Outline(edge, line));
  p.setBrush(VerticalGradient(1, 12, QColor(0x5A, 0x64, 0x74), QColor(0x2A, 0x30, 0x3A)));
  p.drawRoundedRect(QRectF(0, 1, 16, 11).adjusted(inset, inset, -inset, -inset), 1.5, 1.5);
  p.setPen(Qt::NoPen);
  p.setBrush(VerticalGradient(3, 10, QColor(0x8C, 0xC8, 0xF4), QColor(0x26, 0x66, 0xB0)));
  p.drawRect(QRectF(2, 3, 12, 7));
  if (detailed) {
    p.setBrush(QColor(0x22, 0x26, 0x2E));
    p.drawRect(QRectF(2, 3, 12, 1.5));
    p.drawRect(QRectF(2, 8.5, 12, 1.5));
    p.setBrush(QColor(0xE4, 0xEA, 0xF0));
    for (qreal x = 2.5; x < 14; x += 1.5) {
      p.drawRect(QRectF(x, 3.5, 0.5, 0.5));
      p.drawRect(QRectF(x, 9, 0.5, 0.5));
    }
  }
  if (detailed)
    p.setPen(Outline(QColor(0x8A, 0x48, 0x08), line));
  p.setBrush(VerticalGradient(4, 9, QColor(0xFF, 0xD8, 0x6A), QColor(0xF0, 0x8C, 0x1E)));
  if (detailed)
    p.drawPolygon(QPolygonF({{5.5, 4.5}, {9.5, 6.5}, {5.5, 8.5}}));
  else
    p.drawPolygon(QPolygonF({{6, 4}, {10.5, 6.5}, {6, 9}}));
  if (detailed) {
    QPainterPath arrow;
    arrow.moveTo(0, 0);
    arrow.lineTo(0, 4.5);
    arrow.lineTo(1.1, 3.5);
    arrow.lineTo(1.9, 5.2);
    arrow.lineTo(2.7, 4.85);
    arrow.lineTo(1.9, 3.15);
    arrow.lineTo(3.3, 3.15);
    arrow.closeSubpath();
    p.setPen(Outline(QColor(0x10, 0x10, 0x10), line));
    p.setBrush(QColor(0xFF, 0xFF, 0xFF));
    p.drawPath(arrow.translated(10.75, 5.75));
  }
  p.setPen(Outline(edge, line));
  p.setBrush(VerticalGradient(11, 15, QColor(0x6A, 0x74, 0x84), QColor(0x3A, 0x40, 0x4A)));
  p.drawPolygon(QPolygonF({{6.5, 12 - inset}, {9.5, 12 - inset}, {10.5, 13.5}, {5.5, 13.5}}));
  FramedRect(p, QRectF(3, 13, 10, 2), edge, QColor(0x4A, 0x52, 0x5E), line);
}

// --- The name in the About picture, drawn as strokes so no font is needed ---

// The glyphs of "veRirove" on a baseline at y = 0 with an x-height of 1; returns the width.
qreal AddNameStrokes(QPainterPath& strokes, QPainterPath& dots) {
  constexpr qreal kGap = 0.32;
  qreal x = 0;
  auto v = [&] {
    strokes.moveTo(x, -1);
    strokes.lineTo(x + 0.36, 0);
    strokes.lineTo(x + 0.72, -1);
    x += 0.72 + kGap;
  };
  auto e = [&] {
    strokes.moveTo(x + 0.02, -0.5);
    strokes.lineTo(x + 0.8, -0.5);
    strokes.arcTo(QRectF(x + 0.02, -1, 0.78, 1), 0, 300);
    x += 0.8 + kGap;
  };
  auto capitalR = [&] {
    strokes.moveTo(x, 0);
    strokes.lineTo(x, -1.42);
    strokes.lineTo(x + 0.42, -1.42);
    strokes.arcTo(QRectF(x + 0.06, -1.42, 0.72, 0.72), 90, -180);
    strokes.lineTo(x, -0.7);
    strokes.moveTo(x + 0.38, -0.7);
    strokes.lineTo(x + 0.8, 0);
    x += 0.8 + kGap;
  };
  auto i = [&] {
    strokes.moveTo(x, -1);
    strokes.lineTo(x, 0);
    dots.addEllipse(QPointF(x, -1.38), 0.12, 0.12);
    x += kGap;
  };
  auto r = [&] {
    strokes.moveTo(x, 0);
    strokes.lineTo(x, -1);
    strokes.moveTo(x, -0.5);
    strokes.cubicTo(x + 0.08, -0.88, x + 0.32, -1.02, x + 0.62, -0.98);
    x += 0.62 + kGap;
  };
  auto o = [&] {
    strokes.addEllipse(QRectF(x, -1, 0.84, 1));
    x += 0.84 + kGap;
  };
  v(), e(), capitalR(), i(), r(), o(), v(), e();
  return x - kGap;
}

// The name as one outline, centred on `centreX`, baseline at `baseline`.
QPainterPath NameOutline(qreal centreX, qreal baseline, qreal xHeight) {
  QPainterPath strokes;
  QPainterPath dots;
  const qreal width = AddNameStrokes(strokes, dots);
  QPainterPathStroker stroker;
  stroker.setWidth(0.19);
  stroker.setCapStyle(Qt::RoundCap);
  stroker.setJoinStyle(Qt::RoundJoin);
  QPainterPath outline = stroker.createStroke(strokes).united(dots).simplified();
  QTransform place;
  place.translate(centreX - width * xHeight / 2, baseline);
  place.scale(xHeight, xHeight);
  return place.map(outline);
}

// A frame of the film strip in the About picture: a tinted desktop with one small window.
void PaintSceneFrame(QPainter& p, const QRectF& frame, const QColor& top, const QColor& bottom) {
  p.setPen(Qt::NoPen);
  p.setBrush(VerticalGradient(frame.top(), frame.bottom(), top, bottom));
  p.drawRect(frame);
  const QRectF window(frame.left() + 5, frame.top() + 4, frame.width() - 12, frame.height() - 9);
  p.setBrush(QColor(0x20, 0x28, 0x34, 60));
  p.drawRect(window.translated(1, 1));
  p.setBrush(QColor(0xFA, 0xFB, 0xFD));
  p.drawRect(window);
  p.setBrush(QColor(0x2E, 0x64, 0xC0));
  p.drawRect(QRectF(window.left(), window.top(), window.width(), 3));
  p.setBrush(QColor(0xA8, 0xB0, 0xBC));
  p.drawRect(QRectF(window.left() + 2, window.top() + 5, window.width() - 6, 1));
  p.drawRect(QRectF(window.left() + 2, window.top() + 8, window.width() - 9, 1));
}

}  // namespace

QIcon ImageListIcon(int index) {
  if (index < 0 || index >= static_cast<int>(kImageList.size())) return QIcon();
  return IconOfSizes(kImageList[index], {16, 32});
}

QImage TransportGlyphImage(TTransportGlyph glyph) {
  // Coverage below this is left as background, so edges over a grey panel keep no faint halo.
  constexpr int kMinAlpha = 96;
  TIconPainter paint = PaintPlay;
  if (glyph == TTransportGlyph::Pause) paint = PaintPause;
  if (glyph == TTransportGlyph::Stop) paint = PaintStop;
  const QImage layer = RenderIcon(paint, 16);
  QImage image(16, 16, QImage::Format_RGB32);
  for (int y = 0; y < 16; ++y) {
    const auto* from = reinterpret_cast<const QRgb*>(layer.constScanLine(y));
    auto* to = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < 16; ++x) {
      const QRgb pixel = from[x];
      const int alpha = qAlpha(pixel);
      if (alpha < kMinAlpha) {
        to[x] = 0xFF000000 | kWhite;
        continue;
      }
      // Premultiplied colour over white.
      QRgb blended = qRgb(qRed(pixel) + 255 - alpha, qGreen(pixel) + 255 - alpha,
                          qBlue(pixel) + 255 - alpha);
      if ((blended & 0xFFFFFF) == kWhite) blended = qRgb(0xFE, 0xFE, 0xFE);
      if ((blended & 0xFFFFFF) == kBlack) blended = qRgb(0x01, 0x01, 0x01);
      to[x] = blended;
    }
  }
  return image;
}

QPixmap GlyphWithTransparentColour(const QImage& glyph, QRgb transparent) {
  QImage image = glyph.convertToFormat(QImage::Format_ARGB32);
  const QRgb key = transparent & 0xFFFFFF;
  for (int y = 0; y < image.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < image.width(); ++x)
      line[x] = (line[x] & 0xFFFFFF) == key ? 0 : (line[x] | 0xFF000000);
  }
  return QPixmap::fromImage(image);
}

QIcon OwnWindowIcon() { return IconOfSizes(PaintOwnWindow, {16, 32}); }

QImage AboutPicture() {
  constexpr int kWidth = 162;
  constexpr int kHeight = 216;
  QImage image(kWidth, kHeight, QImage::Format_RGB32);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);

  // A calm night-blue to teal background with a soft glow behind the monitor.
  QLinearGradient sky(0, 0, 0, kHeight);
  sky.setColorAt(0, QColor(0x12, 0x24, 0x44));
  sky.setColorAt(0.55, QColor(0x1C, 0x4A, 0x6C));
  sky.setColorAt(1, QColor(0x22, 0x6A, 0x74));
  p.fillRect(image.rect(), sky);
  QRadialGradient glow(QPointF(81, 82), 92);
  glow.setColorAt(0, QColor(0x9C, 0xD4, 0xFF, 80));
  glow.setColorAt(1, QColor(0x9C, 0xD4, 0xFF, 0));
  p.fillRect(image.rect(), glow);
  p.setPen(Qt::NoPen);
  const std::array<std::array<qreal, 3>, 6> bubbles = {{
      {18, 18, 9}, {140, 26, 13}, {150, 150, 7}, {12, 140, 11}, {132, 196, 10}, {30, 200, 6},
  }};
  for (const auto& [x, y, radius] : bubbles) {
    p.setBrush(QColor(0xC8, 0xE8, 0xFF, 22));
    p.drawEllipse(QPointF(x, y), radius, radius);
  }

  // The monitor.
  const QRectF bezel(17, 34, 128, 90);
  p.setBrush(QColor(0x05, 0x0C, 0x18, 70));
  p.drawRoundedRect(bezel.translated(2, 3), 7, 7);
  p.setPen(QPen(QColor(0x14, 0x18, 0x20), 1));
  p.setBrush(VerticalGradient(bezel.top(), bezel.bottom(), QColor(0x56, 0x62, 0x74),
                              QColor(0x24, 0x2A, 0x34)));
  p.drawRoundedRect(bezel.adjusted(0.5, 0.5, -0.5, -0.5), 7, 7);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x6C, 0xE0, 0x7C));
  p.drawEllipse(QPointF(81, 118.5), 1.5, 1.5);

  // The screen: a pale desktop with a film strip running across it, slightly tilted.
  const QRectF screen(24, 41, 114, 72);
  p.setBrush(VerticalGradient(screen.top(), screen.bottom(), QColor(0xE6, 0xF2, 0xFC),
                              QColor(0xA4, 0xCA, 0xEA)));
  p.drawRect(screen);
  p.save();
  p.setClipRect(screen);
  p.translate(screen.center());
  p.rotate(-9);
  const QRectF strip(-100, -20, 200, 40);
  p.setBrush(QColor(0x22, 0x25, 0x2C));
  p.drawRect(strip);
  p.setBrush(QColor(0xDC, 0xE6, 0xEE));
  for (qreal x = strip.left() + 2; x < strip.right(); x += 8) {
    p.drawRoundedRect(QRectF(x, strip.top() + 2.5, 4, 3), 0.8, 0.8);
    p.drawRoundedRect(QRectF(x, strip.bottom() - 5.5, 4, 3), 0.8, 0.8);
  }
  const std::array<std::array<QColor, 2>, 5> tints = {{
      {QColor(0xF6, 0xC0, 0x7A), QColor(0xD8, 0x74, 0x3C)},
      {QColor(0x9E, 0xD6, 0xA4), QColor(0x3E, 0x94, 0x62)},
      {QColor(0x9C, 0xCC, 0xF6), QColor(0x3A, 0x7C, 0xC4)},
      {QColor(0xC8, 0xB4, 0xEE), QColor(0x72, 0x5C, 0xB4)},
      {QColor(0xF2, 0xE2, 0x8A), QColor(0xC4, 0x9A, 0x2C)},
  }};
  for (int frame = 0; frame < 5; ++frame) {
    const QRectF cell(-87 + frame * 36, -12, 32, 24);
    PaintSceneFrame(p, cell, tints[frame][0], tints[frame][1]);
  }
  p.restore();
  p.setPen(QPen(QColor(0x14, 0x18, 0x20, 160), 1));
  p.setBrush(Qt::NoBrush);
  p.drawRect(screen.adjusted(-0.5, -0.5, 0.5, 0.5));

  // A mouse pointer on the screen.
  QPainterPath pointer;
  pointer.moveTo(0, 0);
  pointer.lineTo(0, 16);
  pointer.lineTo(4, 12.3);
  pointer.lineTo(6.8, 18.4);
  pointer.lineTo(9.6, 17.2);
  pointer.lineTo(6.8, 11.2);
  pointer.lineTo(12, 11.2);
  pointer.closeSubpath();
  pointer.translate(104.5, 82.5);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x00, 0x10, 0x20, 70));
  p.drawPath(pointer.translated(1.5, 1.5));
  p.setPen(QPen(QColor(0x10, 0x10, 0x10), 1, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
  p.setBrush(QColor(0xFF, 0xFF, 0xFF));
  p.drawPath(pointer);

  // The stand.
  p.setPen(QPen(QColor(0x14, 0x18, 0x20), 1));
  p.setBrush(VerticalGradient(124, 138, QColor(0x4A, 0x54, 0x64), QColor(0x2C, 0x32, 0x3C)));
  p.drawPolygon(QPolygonF({{72.5, 124}, {89.5, 124}, {93.5, 137.5}, {68.5, 137.5}}));
  p.setBrush(VerticalGradient(137, 144, QColor(0x5E, 0x6A, 0x7C), QColor(0x2C, 0x32, 0x3C)));
  p.drawRoundedRect(QRectF(50.5, 137.5, 61, 6), 3, 3);

  // The name, with a soft shadow, and a thin rule under it.
  const QPainterPath name = NameOutline(81, 180, 15);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x04, 0x0C, 0x18, 110));
  p.drawPath(name.translated(1.2, 1.4));
  p.setBrush(VerticalGradient(156, 181, QColor(0xFF, 0xFF, 0xFF), QColor(0xCC, 0xE6, 0xF6)));
  p.drawPath(name);
  QLinearGradient rule(36, 0, 126, 0);
  rule.setColorAt(0, QColor(0xCC, 0xE6, 0xF6, 0));
  rule.setColorAt(0.5, QColor(0xCC, 0xE6, 0xF6, 150));
  rule.setColorAt(1, QColor(0xCC, 0xE6, 0xF6, 0));
  p.setBrush(rule);
  p.drawRect(QRectF(36, 192, 90, 1));
  p.end();
  return image;
}

QIcon ApplicationIcon() {
  QIcon icon;
  for (int size : {16, 32, 64}) {
    QImage image = NewTransparentImage(size, size);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 16.0, size / 16.0);
    PaintApplication(painter, size);
    painter.end();
    icon.addPixmap(QPixmap::fromImage(image));
  }
  return icon;
}

void PaintApplicationIcon(QPainter& painter, int size) { PaintApplication(painter, size); }
