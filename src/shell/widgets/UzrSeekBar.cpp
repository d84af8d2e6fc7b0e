#include "shell/widgets/UzrSeekBar.h"

#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>
#include <algorithm>

namespace {

// The heat: a still screen pale grey, busier screens from pale orange to red.
QColor HeatColour(uint8_t level) {
  struct TStop {
    double At;
    int R, G, B;
  };
  constexpr TStop kStops[] = {{0, 236, 236, 236}, {0.15, 250, 214, 150}, {0.55, 245, 140, 60}, {1, 200, 30, 30}};
  const double v = level / 255.0;
  size_t i = 1;
  while (i + 1 < std::size(kStops) && v > kStops[i].At) ++i;
  const TStop& a = kStops[i - 1];
  const TStop& b = kStops[i];
  const double t = std::clamp((v - a.At) / (b.At - a.At), 0.0, 1.0);
  auto mix = [t](int x, int y) { return int(std::lround(x + (y - x) * t)); };
  return QColor(mix(a.R, b.R), mix(a.G, b.G), mix(a.B, b.B));
}

}  // namespace

TSeekBar::TSeekBar(QWidget* parent) : QProgressBar(parent) {
  // The tip follows the pointer.
  setMouseTracking(true);
}

void TSeekBar::SetMarks(TSeekBarMarks marks) {
  FMarks = std::move(marks);
  FColumnsFor = {-1, -1};
  update();
}

int64_t TSeekBar::ColumnFirst(int x) const {
  const int64_t frames = maximum() - minimum();
  return width() > 0 ? int64_t(x) * frames / width() : 0;
}

int TSeekBar::FrameX(int64_t frame) const {
  const int64_t frames = maximum() - minimum();
  return frames > 0 ? int(frame * width() / frames) : 0;
}

const std::vector<uint8_t>& TSeekBar::Columns() const {
  // Counted again when the width or the range (the film) has changed.
  const int64_t frames = maximum() - minimum();
  if (FColumnsFor == std::pair(frames, width())) return FColumns;
  FColumnsFor = {frames, width()};
  FColumns.clear();
  // Marks of another film (or of none) are not shown.
  if (FMarks.Heat.empty() || int64_t(FMarks.Heat.size()) != frames || width() <= 0) return FColumns;
  FColumns.resize(size_t(width()));
  for (int x = 0; x < width(); ++x) {
    // A column shows its frames' mean, and at least half its busiest frame: a short burst in a
    // calm stretch stays visible however many frames a pixel holds.
    const int64_t first = ColumnFirst(x);
    const int64_t end = std::max(first + 1, ColumnFirst(x + 1));
    int64_t sum = 0;
    uint8_t most = 0;
    for (int64_t f = first; f < end; ++f) {
      sum += FMarks.Heat[size_t(f)];
      most = std::max(most, FMarks.Heat[size_t(f)]);
    }
    FColumns[size_t(x)] = uint8_t(std::max<int64_t>(sum / (end - first), most / 2));
  }
  return FColumns;
}

uint8_t TSeekBar::ColumnHeat(int x) const {
  const std::vector<uint8_t>& columns = Columns();
  return x >= 0 && size_t(x) < columns.size() ? columns[size_t(x)] : 0;
}

void TSeekBar::paintEvent(QPaintEvent* event) {
  const std::vector<uint8_t>& columns = Columns();
  if (columns.empty()) return QProgressBar::paintEvent(event);
  QPainter painter(this);
  const int w = width(), h = height();
  // The heat fills the bar inside its frame; the idle stretches are shaded over it.
  const QRect inside(1, 1, w - 2, h - 2);
  for (int x = inside.left(); x <= inside.right(); ++x)
    painter.fillRect(x, inside.top(), 1, inside.height(), HeatColour(columns[size_t(x)]));
  for (const TSeekBarMarks::TSpan& span : FMarks.Idle) {
    const int left = std::max(FrameX(span.First), inside.left());
    const int right = std::min(std::max(FrameX(span.End), left + 1), inside.right() + 1);
    const QRect idle(left, inside.top(), right - left, inside.height());
    painter.fillRect(idle, QColor(196, 206, 222));
    painter.fillRect(idle, QBrush(QColor(92, 112, 148), Qt::BDiagPattern));
  }
  // What has been played: a band along the foot of the bar, up to the frame on screen.
  const int64_t frames = maximum() - minimum();
  const int played = frames > 0 ? int(std::clamp<int64_t>(value() - minimum(), 0, frames) * w / frames) : 0;
  const int band = std::max(2, h / 4);
  painter.fillRect(QRect(inside.left(), inside.bottom() + 1 - band, std::max(0, played - 1), band),
                   palette().color(QPalette::Highlight));
  // Chapters: a segment's start across the bar, one inside a segment from its top.
  for (const TSeekBarMarks::TTick& tick : FMarks.Ticks) {
    const int x = FrameX(tick.Frame);
    if (x <= inside.left()) continue;
    painter.fillRect(x, 0, 1, tick.Automatic ? h / 2 + 1 : h, tick.Automatic ? QColor(60, 60, 60) : QColor(0, 0, 0));
  }
  painter.setPen(QColor(128, 128, 128));
  painter.drawRect(0, 0, w - 1, h - 1);
  // The frame on screen: a mark of the played band's colour across the bar, two pixels wide
  // (the chapters' ticks are one).
  if (played > 0) painter.fillRect(std::clamp(played - 1, 1, w - 3), 0, 2, h, palette().color(QPalette::Highlight));
}

int64_t TSeekBar::FrameAt(int x) const {
  const int64_t frames = maximum() - minimum();
  if (frames <= 0 || width() <= 0) return -1;
  // Pixel x covers the frames from x × frames ÷ width on.
  const int64_t at = int64_t(std::clamp(x, 0, width() - 1)) * frames / width();
  return std::clamp<int64_t>(at, 0, frames - 1);
}

QString TSeekBar::TipAt(int x) const {
  const int64_t frame = FrameAt(x);
  return frame >= 0 && FTipText ? FTipText(frame) : QString();
}

void TSeekBar::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QProgressBar::mousePressEvent(event);
  const int64_t frame = FrameAt(event->position().toPoint().x());
  if (frame >= 0) emit SeekRequested(frame);
}

void TSeekBar::mouseMoveEvent(QMouseEvent* event) {
  const QPoint at = event->position().toPoint();
  const QString tip = TipAt(at.x());
  setToolTip(tip);
  if (FPreviewShown) {
    const int64_t frame = FrameAt(at.x());
    if (frame >= 0) emit Hovered(frame, event->globalPosition().toPoint());
  } else if (QToolTip::isVisible()) {
    QToolTip::showText(event->globalPosition().toPoint(), tip, this);
  }
  // A press on the bar grabs the mouse: a move with the button down is a drag from the bar.
  if (!(event->buttons() & Qt::LeftButton)) return;
  const int64_t frame = FrameAt(at.x());
  if (frame >= 0) emit SeekRequested(frame);
}

bool TSeekBar::event(QEvent* event) {
  if (event->type() == QEvent::ToolTip) {
    auto* help = static_cast<QHelpEvent*>(event);
    const QString tip = TipAt(help->pos().x());
    setToolTip(tip);
    if (tip.isEmpty() || FPreviewShown) QToolTip::hideText();
    else QToolTip::showText(help->globalPos(), tip, this);
    return true;
  }
  return QProgressBar::event(event);
}

void TSeekBar::leaveEvent(QEvent* event) {
  QProgressBar::leaveEvent(event);
  emit HoverEnded();
}
