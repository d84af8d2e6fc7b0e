#include "shell/UzrDisplay.h"

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QMenu>
#include <QVBoxLayout>

#include "shell/TelvoriPlayerImpl1.h"

TfrmDisplay::TfrmDisplay(TTelvoriPlayer& player)
    : QWidget(nullptr, Qt::Window | Qt::WindowStaysOnTopHint), FPlayer(player) {
  setObjectName(QStringLiteral("frmDisplay"));
  setWindowTitle(QStringLiteral("frmDisplay"));
  setWindowIcon(player.windowIcon());
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  FView = new TPictureView(player, true, this);
  layout->addWidget(FView);
  resize(862, 613);
  // The main window's commands and shortcut keys work here too.
  addActions(player.actions());
}

QSize TfrmDisplay::Decoration() const {
  if (FBorderless) return {0, 0};
  const QRect frame = frameGeometry(), client = geometry();
  return {frame.width() - client.width(), frame.height() - client.height()};
}

void TfrmDisplay::ApplyPlacement(const TDisplayPlacement& placement) {
  const bool visible = isVisible();
  if (placement.Borderless != FBorderless) {
    FBorderless = placement.Borderless;
    setWindowFlag(Qt::FramelessWindowHint, FBorderless);
  }
  const TRect& b = placement.Bounds;
  if (FBorderless) {
    setGeometry(b.Left, b.Top, b.Width, b.Height);
  } else {
    // The bounds are the outer ones: the client area is the frame's size.
    const QSize decoration = Decoration();
    move(b.Left, b.Top);
    resize(b.Width - decoration.width(), b.Height - decoration.height());
  }
  // Changing the border hides a window; it comes back as it was.
  if (visible && !isVisible()) show();
}

void TfrmDisplay::closeEvent(QCloseEvent* event) {
  QWidget::closeEvent(event);
  FPlayer.Guarded([this] { FormClose(); });
}

void TfrmDisplay::FormClose() {
  // Whoever closes the window, separate-window mode ends.
  FPlayer.SetOwnWindow(false);
}

void TfrmDisplay::contextMenuEvent(QContextMenuEvent* event) {
  FPlayer.pupMain->popup(event->globalPos());
}
