#include "shell/widgets/UzrPictureView.h"

#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QWheelEvent>
#include <QPainter>

TPictureView::TPictureView(const IPictureSource& source, const QColor& ground, QWidget* parent)
    : QWidget(parent), FSource(source), FGround(ground) {
  setCursor(Qt::PointingHandCursor);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setContextMenuPolicy(Qt::NoContextMenu);
}

void TPictureView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), FGround);
  const QImage& picture = FSource.PresentedPicture();
  if (picture.isNull() || FSource.PictureViewInUse() != this) return;
  const TPlacement& p = FSource.Placement();
  if (p.Scaled) {
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRect(p.Left, p.Top, p.FitWidth, p.FitHeight), picture);
  } else {
    painter.drawImage(QPoint(p.Left, p.Top), picture);
  }
}

void TPictureView::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::RightButton) {
    if (FContextMenu) FContextMenu->popup(event->globalPosition().toPoint());
    return;
  }
  emit MouseDown(event->button());
}

void TPictureView::mouseDoubleClickEvent(QMouseEvent* event) {
  // The second press of a double click is a press as well.
  mousePressEvent(event);
  if (event->button() == Qt::LeftButton) emit DoubleClicked();
}

void TPictureView::wheelEvent(QWheelEvent* event) {
  // A notch is 15 degrees; a touchpad sends it in smaller parts.
  constexpr int kNotch = 120;
  FWheelRest += event->angleDelta().y();
  const int notches = FWheelRest / kNotch;
  FWheelRest -= notches * kNotch;
  event->accept();
  if (notches != 0) emit WheelTurned(notches, event->modifiers());
}

QString DroppedFilm(const QMimeData* data) {
  if (!data || !data->hasUrls()) return {};
  for (const QUrl& url : data->urls())
    if (url.isLocalFile() && !url.toLocalFile().isEmpty()) return url.toLocalFile();
  return {};
}
