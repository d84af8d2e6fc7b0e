#include "filmwriter/DemoFilm.h"

#include <QColor>
#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPolygon>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <span>

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;

QFont DemoFont(int pixelSize, bool bold = false, bool antialias = true) {
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPixelSize(pixelSize);
  font.setBold(bold);
  if (!antialias) font.setStyleStrategy(QFont::NoAntialias);
  return font;
}

QImage NewFrame(QColor fill) {
  QImage image(kWidth, kHeight, QImage::Format_RGB32);
  image.fill(fill);
  return image;
}

// The writer's pictures hold 0x00RRGGBB; an RGB32 pixel is 0xFFRRGGBB.
std::vector<uint32_t> ToPicture(const QImage& image) {
  std::vector<uint32_t> picture(size_t(image.width()) * size_t(image.height()));
  for (int y = 0; y < image.height(); ++y) {
    const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    for (int x = 0; x < image.width(); ++x) {
      picture[size_t(y) * size_t(image.width()) + size_t(x)] = line[x] & 0x00FFFFFFu;
    }
  }
  return picture;
}

// Eases from a to b as step goes from 0 to steps (clamped).
int Ease(int a, int b, int step, int steps) {
  const double t = std::clamp(double(step) / double(std::max(steps, 1)), 0.0, 1.0);
  const double s = t * t * (3 - 2 * t);
  return a + int(std::lround((b - a) * s));
}

// A cursor path through waypoints (frame, x, y); before the first and after the last
// waypoint the cursor rests.
struct TWaypoint {
  int Frame;
  int X;
  int Y;
};

QPoint PathPoint(std::span<const TWaypoint> path, int frame) {
  if (frame <= path.front().Frame) return {path.front().X, path.front().Y};
  for (size_t i = 1; i < path.size(); ++i) {
    const TWaypoint& a = path[i - 1];
    const TWaypoint& b = path[i];
    if (frame <= b.Frame) {
      const int step = frame - a.Frame;
      const int steps = b.Frame - a.Frame;
      return {Ease(a.X, b.X, step, steps), Ease(a.Y, b.Y, step, steps)};
    }
  }
  return {path.back().X, path.back().Y};
}

TWriterCursorRec TrackRecord(uint16_t index, QPoint hotSpot) {
  const int x = std::clamp(hotSpot.x(), 0, kWidth - 1);
  const int y = std::clamp(hotSpot.y(), 0, kHeight - 1);
  return {index, uint16_t(x), uint16_t(y)};
}

// ---------------------------------------------------------------------------------------------
// Cursor shapes, drawn without antialiasing into a transparent 32 × 32 image: opaque pixels
// are the shape (AND 0), the rest leaves the screen alone (AND 1, XOR 0).

constexpr int kCursorSide = 32;

QImage NewCursorImage() {
  QImage image(kCursorSide, kCursorSide, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  return image;
}

QPolygon ArrowOutline() {
  return QPolygon({QPoint(0, 0), QPoint(0, 21), QPoint(5, 16), QPoint(9, 25), QPoint(12, 24),
                   QPoint(8, 15), QPoint(15, 15)});
}

TWriterShape ShapeFromImage(const QImage& image, int hotSpotX, int hotSpotY, bool maskOnly) {
  TWriterShape shape;
  shape.HotSpotX = hotSpotX;
  shape.HotSpotY = hotSpotY;
  shape.Width = image.width();
  shape.Height = image.height();
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const QRgb pixel = image.pixel(x, y);
      const bool opaque = qAlpha(pixel) >= 128;
      shape.AndMask.push_back(opaque ? 0 : 1);
      if (maskOnly) {
        // XOR 1 over AND 0 is white; XOR 0 over AND 0 is black.
        shape.XorMask.push_back(opaque && qGray(pixel) >= 128 ? 1 : 0);
      } else {
        shape.Color.push_back(opaque ? (pixel & 0x00FFFFFFu) : 0);
      }
    }
  }
  return shape;
}

// The classic black-and-white arrow, a mask-only shape.
TWriterShape MonoArrow() {
  QImage image = NewCursorImage();
  QPainter painter(&image);
  painter.setPen(Qt::black);
  painter.setBrush(Qt::white);
  painter.drawPolygon(ArrowOutline());
  painter.end();
  return ShapeFromImage(image, 0, 0, true);
}

// A gold arrow with a brown outline, a 32-bit colour shape.
TWriterShape ColorArrow() {
  QImage image = NewCursorImage();
  QPainter painter(&image);
  QLinearGradient fill(0, 0, 12, 24);
  fill.setColorAt(0, QColor(255, 214, 60));
  fill.setColorAt(1, QColor(232, 112, 24));
  painter.setPen(QColor(70, 35, 5));
  painter.setBrush(fill);
  painter.drawPolygon(ArrowOutline());
  painter.end();
  return ShapeFromImage(image, 0, 0, false);
}

// A navy text I-beam with its hot spot in the middle, a 32-bit colour shape.
TWriterShape ColorIBeam() {
  QImage image = NewCursorImage();
  QPainter painter(&image);
  const QColor navy(20, 30, 110);
  painter.fillRect(11, 4, 10, 2, navy);
  painter.fillRect(15, 6, 2, 20, navy);
  painter.fillRect(11, 26, 10, 2, navy);
  painter.end();
  return ShapeFromImage(image, 16, 16, false);
}

// ---------------------------------------------------------------------------------------------
// Segment 1: a slide (24 bits).

TWriterSegment SlideSegment() {
  TWriterSegment segment;
  segment.Name = "Знакомство";
  segment.Width = kWidth;
  segment.Height = kHeight;
  segment.BitsPerPixel = 24;
  segment.FrameRate = 10;
  segment.Shapes.push_back(MonoArrow());

  const QStringList bullets = {
      QStringLiteral("Фильм — запись экрана вместе с курсором"),
      QStringLiteral("Фильм делится на именованные сегменты"),
      QStringLiteral("F9 — воспроизведение, F10 — пауза"),
      QStringLiteral("Сегменты выбирают в отдельном окне"),
      QStringLiteral("Фильм идёт в окне или на весь экран"),
  };
  constexpr int kFrames = 50;
  constexpr int kFirstBullet = 6;
  constexpr int kBulletEvery = 8;
  constexpr int kSlideIn = 3;  // frames a new bullet takes to slide into place
  constexpr int kBulletTop = 130;
  constexpr int kBulletStep = 46;

  std::vector<TWaypoint> path = {{0, 560, 300}};
  for (int i = 0; i < int(bullets.size()); ++i) {
    path.push_back({kFirstBullet + kBulletEvery * i, 96, kBulletTop + kBulletStep * i + 14});
  }
  path.push_back({kFirstBullet + kBulletEvery * int(bullets.size()) + 2, 330, 418});

  for (int frame = 0; frame < kFrames; ++frame) {
    QImage image = NewFrame(QColor(244, 245, 250));
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(0, 0, kWidth, 92, QColor(32, 64, 128));
    painter.fillRect(0, 92, kWidth, 4, QColor(232, 120, 32));
    painter.setPen(Qt::white);
    painter.setFont(DemoFont(30, true));
    painter.drawText(40, 48, QStringLiteral("Знакомство с veRirove"));
    painter.setPen(QColor(176, 200, 240));
    painter.setFont(DemoFont(16));
    painter.drawText(42, 76, QStringLiteral("проигрыватель экранных фильмов"));

    painter.setFont(DemoFont(19));
    for (int i = 0; i < int(bullets.size()); ++i) {
      const int shown = frame - (kFirstBullet + kBulletEvery * i);
      if (shown < 0) continue;
      const int x = 70 + 40 * std::max(0, kSlideIn - shown);
      const int y = kBulletTop + kBulletStep * i;
      painter.setPen(Qt::NoPen);
      painter.setBrush(QColor(232, 120, 32));
      painter.drawEllipse(QPoint(x, y + 14), 6, 6);
      painter.setPen(QColor(40, 40, 52));
      painter.drawText(x + 20, y + 21, bullets[i]);
    }

    const int percent = frame * 100 / (kFrames - 1);
    painter.setFont(DemoFont(14));
    painter.setPen(QColor(70, 70, 84));
    painter.drawText(60, 392, QStringLiteral("Загрузка фильма… %1%").arg(percent));
    painter.setPen(QColor(150, 150, 164));
    painter.setBrush(Qt::white);
    painter.drawRect(60, 402, 520, 24);
    painter.fillRect(62, 404, 517 * percent / 100, 21, QColor(72, 160, 84));
    painter.setPen(QColor(150, 150, 164));
    painter.setFont(DemoFont(12));
    painter.drawText(570, 462, QStringLiteral("1 / 3"));
    painter.end();

    segment.Pictures.push_back(ToPicture(image));
    segment.Track.push_back(TrackRecord(0, PathPoint(path, frame)));
  }
  return segment;
}

// ---------------------------------------------------------------------------------------------
// Segment 2: a desktop (32 bits).

void DrawRaised(QPainter& painter, const QRect& rect, bool pressed = false) {
  painter.fillRect(rect, QColor(192, 192, 192));
  const QColor light = pressed ? QColor(128, 128, 128) : Qt::white;
  const QColor dark = pressed ? Qt::white : QColor(128, 128, 128);
  painter.setPen(light);
  painter.drawLine(rect.topLeft(), rect.topRight());
  painter.drawLine(rect.topLeft(), rect.bottomLeft());
  painter.setPen(dark);
  painter.drawLine(rect.bottomLeft(), rect.bottomRight());
  painter.drawLine(rect.topRight(), rect.bottomRight());
}

void DrawDesktop(QPainter& painter) {
  const QStringList names = {QStringLiteral("Компьютер"), QStringLiteral("Документы"),
                             QStringLiteral("Корзина")};
  const QColor colors[] = {QColor(90, 170, 230), QColor(240, 200, 90), QColor(170, 190, 200)};
  painter.setFont(DemoFont(11));
  for (int i = 0; i < int(names.size()); ++i) {
    const QRect icon(28, 20 + 78 * i, 40, 40);
    painter.setPen(QColor(30, 40, 60));
    painter.setBrush(colors[i]);
    painter.drawRoundedRect(icon, 6, 6);
    painter.setPen(Qt::white);
    painter.drawText(QRect(4, icon.bottom() + 4, 88, 18), Qt::AlignHCenter, names[i]);
  }
}

void DrawTaskBar(QPainter& painter) {
  const int top = kHeight - 30;
  painter.fillRect(0, top, kWidth, 30, QColor(192, 192, 192));
  painter.setPen(Qt::white);
  painter.drawLine(0, top + 1, kWidth, top + 1);
  DrawRaised(painter, QRect(3, top + 4, 64, 23));
  painter.setPen(Qt::black);
  painter.setFont(DemoFont(12, true));
  painter.drawText(QRect(3, top + 4, 64, 23), Qt::AlignCenter, QStringLiteral("Пуск"));
  DrawRaised(painter, QRect(74, top + 4, 160, 23), true);
  painter.setPen(Qt::black);
  painter.setFont(DemoFont(12));
  painter.drawText(QRect(84, top + 4, 150, 23), Qt::AlignVCenter, QStringLiteral("Блокнот"));
  DrawRaised(painter, QRect(kWidth - 66, top + 4, 62, 23), true);
  painter.setPen(Qt::black);
  painter.drawText(QRect(kWidth - 66, top + 4, 62, 23), Qt::AlignCenter, QStringLiteral("12:05"));
}

constexpr int kWindowWidth = 380;
constexpr int kWindowHeight = 250;

// The client area (the white text field) of the window at `origin`.
QRect ClientRect(QPoint origin) {
  return QRect(origin.x() + 6, origin.y() + 50, kWindowWidth - 12, kWindowHeight - 56);
}

void DrawWindow(QPainter& painter, QPoint origin, const QStringList& lines, int typed,
                bool caret) {
  const QRect frame(origin, QSize(kWindowWidth, kWindowHeight));
  DrawRaised(painter, frame);
  const QRect title(origin.x() + 3, origin.y() + 3, kWindowWidth - 6, 22);
  QLinearGradient gradient(title.topLeft(), title.topRight());
  gradient.setColorAt(0, QColor(0, 0, 128));
  gradient.setColorAt(1, QColor(16, 132, 208));
  painter.fillRect(title, gradient);
  painter.setPen(Qt::white);
  painter.setFont(DemoFont(12, true));
  painter.drawText(title.adjusted(6, 0, 0, 0), Qt::AlignVCenter,
                   QStringLiteral("Письмо.txt — Блокнот"));
  for (int i = 0; i < 3; ++i) {
    const QRect button(title.right() - 18 - 18 * i, title.top() + 3, 16, 15);
    DrawRaised(painter, button);
    painter.setPen(Qt::black);
    painter.setFont(DemoFont(10, true));
    painter.drawText(button, Qt::AlignCenter, i == 0 ? QStringLiteral("×")
                                              : i == 1 ? QStringLiteral("□")
                                                       : QStringLiteral("_"));
  }
  painter.setPen(Qt::black);
  painter.setFont(DemoFont(12));
  painter.drawText(QRect(origin.x() + 10, origin.y() + 27, kWindowWidth - 20, 20),
                   Qt::AlignVCenter, QStringLiteral("Файл   Правка   Формат   Вид   Справка"));

  const QRect client = ClientRect(origin);
  painter.fillRect(client, Qt::white);
  painter.setPen(QColor(128, 128, 128));
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(client.adjusted(-1, -1, 0, 0));

  painter.setPen(Qt::black);
  const QFont font = DemoFont(15);
  painter.setFont(font);
  const QFontMetrics metrics(font);
  int left = typed;
  QPoint caretAt(client.left() + 8, client.top() + 8);
  for (int i = 0; i < int(lines.size()); ++i) {
    const QString shown = lines[i].left(std::max(0, left));
    const int baseline = client.top() + 8 + metrics.ascent() + 22 * i;
    painter.drawText(client.left() + 8, baseline, shown);
    caretAt = QPoint(client.left() + 8 + metrics.horizontalAdvance(shown),
                     baseline - metrics.ascent());
    left -= int(lines[i].size());
    if (left <= 0) break;
    --left;  // the line break counts as a keystroke too
  }
  if (caret) painter.fillRect(caretAt.x() + 1, caretAt.y(), 1, metrics.height(), Qt::black);
}

TWriterSegment DesktopSegment() {
  TWriterSegment segment;
  segment.Name = "Рабочий стол";
  segment.Width = kWidth;
  segment.Height = kHeight;
  segment.BitsPerPixel = 32;
  segment.FrameRate = 12;
  segment.Shapes.push_back(ColorArrow());
  segment.Shapes.push_back(ColorIBeam());

  const QStringList lines = {
      QStringLiteral("Здравствуйте!"),
      QString(),
      QStringLiteral("Это демонстрационный фильм veRirove."),
      QStringLiteral("Окно перетащили мышью, а теперь"),
      QStringLiteral("текст набирается буква за буквой."),
      QStringLiteral("До встречи!"),
  };
  constexpr int kFrames = 72;
  constexpr int kDragStart = 12;
  constexpr int kDragEnd = 29;
  constexpr int kTypeStart = 34;
  constexpr int kKeysPerFrame = 4;
  const QPoint windowFrom(40, 40);
  const QPoint windowTo(200, 110);
  const QPoint grip(150, 11);  // where the title bar is held, from the window's corner

  const std::vector<TWaypoint> path = {
      {0, 520, 330},
      {kDragStart, windowFrom.x() + grip.x(), windowFrom.y() + grip.y()},
      {kDragEnd, windowTo.x() + grip.x(), windowTo.y() + grip.y()},
      {kTypeStart, 470, 318},
  };

  const int total = int(lines.join(QChar('\n')).size());

  for (int frame = 0; frame < kFrames; ++frame) {
    const int drag = frame - kDragStart;
    const QPoint origin(Ease(windowFrom.x(), windowTo.x(), drag, kDragEnd - kDragStart),
                        Ease(windowFrom.y(), windowTo.y(), drag, kDragEnd - kDragStart));
    const int typed = std::max(0, (frame - kTypeStart) * kKeysPerFrame);
    // The caret stays on while keys are pressed and blinks once the typing is done.
    const bool caret = typed < total || (frame / 6) % 2 == 0;

    QImage image = NewFrame(QColor(58, 110, 165));
    QPainter painter(&image);
    DrawDesktop(painter);
    DrawTaskBar(painter);
    DrawWindow(painter, origin, lines, typed, caret);
    painter.end();

    const QPoint hotSpot = PathPoint(path, frame);
    const uint16_t shape = ClientRect(origin).contains(hotSpot) ? 1 : 0;
    segment.Pictures.push_back(ToPicture(image));
    segment.Track.push_back(TrackRecord(shape, hotSpot));
  }
  return segment;
}

// ---------------------------------------------------------------------------------------------
// Segment 3: palette cycling (8 bits).

// Palette layout: 0 black, 1–192 a rainbow that turns, 193–252 a grey ramp, 253 the caption
// box, 254 white, 255 the caption border.
constexpr int kRainbowFirst = 1;
constexpr int kRainbowCount = 192;
constexpr int kGreyFirst = 193;
constexpr int kGreyCount = 60;
constexpr int kBoxIndex = 253;
constexpr int kWhiteIndex = 254;
constexpr int kBorderIndex = 255;

TColorEntry Entry(QColor color) {
  return {uint8_t(color.blue()), uint8_t(color.green()), uint8_t(color.red()), 0};
}

TColorTable DemoPalette(int shift) {
  TColorTable table{};
  for (int i = 0; i < kRainbowCount; ++i) {
    const int hue = ((i + shift) % kRainbowCount) * 360 / kRainbowCount;
    table[kRainbowFirst + i] = Entry(QColor::fromHsv(hue, 210, 255));
  }
  for (int i = 0; i < kGreyCount; ++i) {
    const int level = i * 255 / (kGreyCount - 1);
    table[kGreyFirst + i] = Entry(QColor(level, level, level));
  }
  table[kBoxIndex] = Entry(QColor(20, 30, 72));
  table[kWhiteIndex] = Entry(Qt::white);
  table[kBorderIndex] = Entry(QColor(240, 190, 40));
  return table;
}

// The picture never changes: a spiral of rainbow indices, the grey ramp and the caption.
std::vector<uint32_t> PalettePicture() {
  // The caption is drawn in marker colours without antialiasing, then mapped to indices.
  constexpr QRgb kSpiral = 0xFF000000u;
  constexpr QRgb kBox = 0xFF000001u;
  constexpr QRgb kBorder = 0xFF000002u;
  constexpr QRgb kText = 0xFFFFFFFFu;
  QImage caption(kWidth, kHeight, QImage::Format_RGB32);
  caption.fill(kSpiral);
  QPainter painter(&caption);
  const QRect box(110, 180, 420, 110);
  painter.fillRect(box, QColor::fromRgb(kBorder));
  painter.fillRect(box.adjusted(4, 4, -4, -4), QColor::fromRgb(kBox));
  painter.setPen(QColor::fromRgb(kText));
  painter.setFont(DemoFont(30, true, false));
  painter.drawText(box.adjusted(0, 14, 0, 0), Qt::AlignHCenter | Qt::AlignTop,
                   QStringLiteral("Палитра: 256 цветов"));
  painter.setFont(DemoFont(16, false, false));
  painter.drawText(box.adjusted(0, 0, 0, -18), Qt::AlignHCenter | Qt::AlignBottom,
                   QStringLiteral("Меняются цвета, а не картинка"));
  painter.end();

  constexpr int kRampTop = kHeight - 28;
  std::vector<uint32_t> picture(size_t(kWidth) * kHeight);
  for (int y = 0; y < kHeight; ++y) {
    const auto* line = reinterpret_cast<const QRgb*>(caption.constScanLine(y));
    for (int x = 0; x < kWidth; ++x) {
      uint32_t index;
      switch (line[x]) {
        case kBox: index = kBoxIndex; break;
        case kBorder: index = kBorderIndex; break;
        case kText: index = kWhiteIndex; break;
        default:
          if (y >= kRampTop) {
            index = uint32_t(kGreyFirst + x * kGreyCount / kWidth);
          } else {
            const double dx = x - kWidth / 2.0;
            const double dy = y - (kRampTop / 2.0);
            const double turn = std::atan2(dy, dx) / (2 * std::numbers::pi) + 0.5;
            // Two arms; a whole number of rainbows per turn, so there is no seam.
            const double t = std::hypot(dx, dy) / 2.5 + turn * 2 * kRainbowCount;
            index = uint32_t(kRainbowFirst + int(std::floor(t)) % kRainbowCount);
          }
      }
      picture[size_t(y) * kWidth + size_t(x)] = index;
    }
  }
  return picture;
}

TWriterSegment PaletteSegment() {
  TWriterSegment segment;
  segment.Name = "Палитра";
  segment.Width = kWidth;
  segment.Height = kHeight;
  segment.BitsPerPixel = 8;
  segment.FrameRate = 15;
  segment.Shapes.push_back(MonoArrow());

  constexpr int kFrames = 60;
  constexpr int kShiftPerFrame = 3;
  const std::vector<uint32_t> picture = PalettePicture();
  for (int frame = 0; frame < kFrames; ++frame) {
    segment.Pictures.push_back(picture);

    // One record changes at most 255 entries: the first frame sets 0 to 254, the second
    // 1 to 255, and from then on only the rainbow turns.
    const TColorTable table = DemoPalette(frame * kShiftPerFrame);
    TWriterPaletteChange change;
    int first = kRainbowFirst;
    int count = kRainbowCount;
    if (frame == 0) {
      first = 0;
      count = 255;
    } else if (frame == 1) {
      first = 1;
      count = 255;
    }
    change.FirstIndex = uint8_t(first);
    change.Entries.assign(table.begin() + first, table.begin() + first + count);
    segment.PaletteChanges.push_back(std::move(change));

    const double angle = 2 * std::numbers::pi * frame / kFrames;
    const QPoint hotSpot(320 + int(std::lround(230 * std::cos(angle))),
                         226 + int(std::lround(170 * std::sin(angle))));
    segment.Track.push_back(TrackRecord(0, hotSpot));
  }
  return segment;
}

}  // namespace

std::vector<TWriterSegment> MakeDemoSegments() {
  std::vector<TWriterSegment> segments;
  segments.push_back(SlideSegment());
  segments.push_back(DesktopSegment());
  segments.push_back(PaletteSegment());
  return segments;
}
