#include "ScreenPicture.h"

#include <benchmark/benchmark.h>

#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QStringList>
#include <cstring>

namespace {

QFont Font(int pixelSize, bool bold = false) {
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPixelSize(pixelSize);
  font.setBold(bold);
  font.setStyleStrategy(QFont::PreferAntialias);
  return font;
}

void Raised(QPainter& painter, const QRect& rect) {
  painter.fillRect(rect, QColor(212, 208, 200));
  painter.setPen(Qt::white);
  painter.drawLine(rect.topLeft(), rect.topRight());
  painter.drawLine(rect.topLeft(), rect.bottomLeft());
  painter.setPen(QColor(128, 128, 128));
  painter.drawLine(rect.bottomLeft(), rect.bottomRight());
  painter.drawLine(rect.topRight(), rect.bottomRight());
}

const QStringList& Prose() {
  static const QStringList lines = {
      QStringLiteral("Отчёт о работе за третий квартал: выручка выросла на 12 %,"),
      QStringLiteral("расходы на доставку снизились, склад в Твери закрыт."),
      QStringLiteral("The quick brown fox jumps over the lazy dog 0123456789."),
      QStringLiteral("int main(int argc, char** argv) { return Run(argc, argv); }"),
      QStringLiteral("Сводная таблица: январь 1 204,50; февраль 987,10; март 1 530,00"),
      QStringLiteral("Please find attached the minutes of Tuesday's meeting."),
  };
  return lines;
}

// A window with a gradient title, a menu line and a white field of text.
void Window(QPainter& painter, const QRect& frame, const QString& title, int seed) {
  Raised(painter, frame);
  const QRect bar(frame.left() + 3, frame.top() + 3, frame.width() - 6, 22);
  QLinearGradient gradient(bar.topLeft(), bar.topRight());
  gradient.setColorAt(0, QColor(10, 36, 106));
  gradient.setColorAt(1, QColor(166, 202, 240));
  painter.fillRect(bar, gradient);
  painter.setPen(Qt::white);
  painter.setFont(Font(13, true));
  painter.drawText(bar.adjusted(6, 0, 0, 0), Qt::AlignVCenter, title);
  painter.setPen(Qt::black);
  painter.setFont(Font(12));
  painter.drawText(QRect(frame.left() + 8, bar.bottom() + 3, frame.width() - 16, 20), Qt::AlignVCenter,
                   QStringLiteral("Файл   Правка   Вид   Вставка   Формат   Сервис   Справка"));
  const QRect field = frame.adjusted(6, 50, -6, -6);
  painter.fillRect(field, Qt::white);
  painter.setPen(QColor(128, 128, 128));
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(field.adjusted(-1, -1, 0, 0));
  painter.setClipRect(field);
  const QFont text = Font(14);
  painter.setFont(text);
  const QFontMetrics metrics(text);
  const QStringList& prose = Prose();
  int line = 0;
  for (int y = field.top() + 4 + metrics.ascent(); y < field.bottom(); y += metrics.lineSpacing(), ++line) {
    painter.setPen(line % 7 == 3 ? QColor(0, 90, 160) : Qt::black);
    painter.drawText(field.left() + 6, y, prose[(line + seed) % prose.size()]);
  }
  painter.setClipping(false);
}

}  // namespace

int RunScreenPictureBenchmarks(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  int appArgc = 1;
  QGuiApplication app(appArgc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

QImage DrawScreenPicture(int width, int height) {
  QImage image(width, height, QImage::Format_RGB32);
  QPainter painter(&image);
  QLinearGradient desktop(0, 0, 0, height);
  desktop.setColorAt(0, QColor(58, 110, 165));
  desktop.setColorAt(1, QColor(20, 52, 96));
  painter.fillRect(image.rect(), desktop);

  painter.setRenderHint(QPainter::Antialiasing);
  painter.setFont(Font(11));
  const QStringList icons = {QStringLiteral("Компьютер"), QStringLiteral("Документы"), QStringLiteral("Сеть"),
                             QStringLiteral("Корзина")};
  for (int i = 0; i < int(icons.size()); ++i) {
    const QRect icon(24, 16 + 80 * i, 40, 40);
    painter.setPen(QColor(20, 30, 50));
    painter.setBrush(QColor::fromHsv(40 + 70 * i, 140, 230));
    painter.drawRoundedRect(icon, 6, 6);
    painter.setPen(Qt::white);
    painter.drawText(QRect(0, icon.bottom() + 4, 88, 18), Qt::AlignHCenter, icons[i]);
  }
  painter.setRenderHint(QPainter::Antialiasing, false);

  Window(painter, QRect(width / 10, height / 12, width / 2, height * 3 / 5), QStringLiteral("Отчёт.txt — Блокнот"), 0);
  Window(painter, QRect(width * 2 / 5, height / 3, width / 2, height / 2), QStringLiteral("Письмо — Почта"), 2);

  // An open menu over the second window.
  const QRect menu(width * 2 / 5 + 60, height / 3 + 46, 200, 8 * 22 + 6);
  Raised(painter, menu);
  painter.setFont(Font(12));
  const QStringList items = {QStringLiteral("Отменить"), QStringLiteral("Вырезать"), QStringLiteral("Копировать"),
                             QStringLiteral("Вставить"), QStringLiteral("Удалить"), QStringLiteral("Найти..."),
                             QStringLiteral("Заменить..."), QStringLiteral("Выделить всё")};
  for (int i = 0; i < int(items.size()); ++i) {
    const QRect item(menu.left() + 3, menu.top() + 3 + 22 * i, menu.width() - 6, 22);
    if (i == 2) painter.fillRect(item, QColor(10, 36, 106));
    painter.setPen(i == 2 ? Qt::white : Qt::black);
    painter.drawText(item.adjusted(20, 0, 0, 0), Qt::AlignVCenter, items[i]);
  }

  const int top = height - 30;
  Raised(painter, QRect(0, top, width, 30));
  Raised(painter, QRect(3, top + 4, 64, 23));
  painter.setPen(Qt::black);
  painter.setFont(Font(12, true));
  painter.drawText(QRect(3, top + 4, 64, 23), Qt::AlignCenter, QStringLiteral("Пуск"));
  painter.setFont(Font(12));
  painter.drawText(QRect(width - 66, top + 4, 62, 23), Qt::AlignCenter, QStringLiteral("12:05"));
  return image;
}

std::unique_ptr<TRasterBitmap> ScreenPicture(int width, int height, int bitsPerPixel) {
  QImage image = DrawScreenPicture(width, height);
  if (bitsPerPixel == 8) image = image.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither);
  auto picture = TRasterBitmap::Create(width, height, bitsPerPixel);
  if (!picture) return nullptr;
  const size_t rowBytes = size_t(width) * size_t(bitsPerPixel / 8);
  // Qt's RGB32 is B, G, R, X in memory on this little-endian machine: the player's layout.
  for (int y = 0; y < height; ++y) std::memcpy(picture->Row(y), image.constScanLine(y), rowBytes);
  if (bitsPerPixel == 8) {
    TColorTable table{};
    const QList<QRgb> colours = image.colorTable();
    for (int i = 0; i < int(colours.size()) && i < 256; ++i)
      table[size_t(i)] = {uint8_t(qBlue(colours[i])), uint8_t(qGreen(colours[i])), uint8_t(qRed(colours[i])), 0};
    picture->SetColorTable(table);
  }
  return picture;
}
