#include "shell/widgets/UzrSeekBar.h"

#include <QHelpEvent>
#include <QMouseEvent>
#include <QToolTip>
#include <algorithm>

TSeekBar::TSeekBar(QWidget* parent) : QProgressBar(parent) {
  // The tip follows the pointer.
  setMouseTracking(true);
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
  if (QToolTip::isVisible()) QToolTip::showText(event->globalPosition().toPoint(), tip, this);
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
    if (tip.isEmpty()) QToolTip::hideText();
    else QToolTip::showText(help->globalPos(), tip, this);
    return true;
  }
  return QProgressBar::event(event);
}
