#include "shell/window/FullScreenBars.h"

#include <QApplication>
#include <QMainWindow>
#include <QMenuBar>
#include <QMouseEvent>

TFullScreenBars::TFullScreenBars(QMainWindow& window, QWidget& panel, QWidget& view)
    : QObject(&window), FWindow(window), FPanel(panel), FView(view) {
  setObjectName(QStringLiteral("FullScreenBars"));
  tmrHidePointer = new QTimer(this);
  tmrHidePointer->setObjectName(QStringLiteral("tmrHidePointer"));
  tmrHidePointer->setSingleShot(true);
  tmrHidePointer->setInterval(kPointerHideMs);
  connect(tmrHidePointer, &QTimer::timeout, this, &TFullScreenBars::PointerIdle);
}

TFullScreenBars::~TFullScreenBars() {
  if (FActive) qApp->removeEventFilter(this);
}

void TFullScreenBars::Start() {
  if (FActive) return;
  FActive = true;
  FWindow.menuBar()->hide();
  FPanel.hide();
  // Every move over the window passes the application's filters, also where no widget tracks
  // the mouse.
  qApp->installEventFilter(this);
  tmrHidePointer->start();
}

void TFullScreenBars::Stop(bool panelShown) {
  if (!FActive) return;
  FActive = false;
  qApp->removeEventFilter(this);
  tmrHidePointer->stop();
  ShowPointer();
  FWindow.menuBar()->show();
  FPanel.setVisible(panelShown);
}

bool TFullScreenBars::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseMove) {
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget && widget->window() == &FWindow)
      PointerMoved(static_cast<QMouseEvent*>(event)->globalPosition().toPoint());
  } else if (event->type() == QEvent::Resize && watched == &FView && ViewResized) {
    ViewResized();
  }
  return false;
}

void TFullScreenBars::PointerMoved(const QPoint& globalPos) {
  ShowPointer();
  tmrHidePointer->start();
  const int y = FWindow.mapFromGlobal(globalPos).y();
  // The panel's height is fixed, the menu bar's that of its font: both are known while hidden.
  FWindow.menuBar()->setVisible(y < FWindow.menuBar()->sizeHint().height() + kEdgeZone);
  FPanel.setVisible(y >= FWindow.height() - FPanel.height() - kEdgeZone);
}

void TFullScreenBars::PointerIdle() {
  // Only over the picture: a pointer resting on a bar is about to be used.
  if (!FActive || !FView.rect().contains(FView.mapFromGlobal(QCursor::pos()))) return;
  if (!FPointerHidden) FViewCursor = FView.cursor();
  FPointerHidden = true;
  FView.setCursor(Qt::BlankCursor);
}

void TFullScreenBars::ShowPointer() {
  if (!FPointerHidden) return;
  FPointerHidden = false;
  FView.setCursor(FViewCursor);
}
