#include "shell/window/UzrDisplay.h"

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDropEvent>
#include <QMenu>
#include <QVBoxLayout>

#include "shell/artwork/UzrArtwork.h"
#include "shell/widgets/UzrPictureView.h"

TfrmDisplay::TfrmDisplay(const IPictureSource& source) : QWidget(nullptr, WindowFlags(false)) {
  setObjectName(QStringLiteral("frmDisplay"));
  setWindowTitle(QStringLiteral("frmDisplay"));
  setWindowIcon(ApplicationIcon());
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  // Silver around the picture, where the main window is grey.
  FView = new TPictureView(source, QColor(192, 192, 192), this);
  layout->addWidget(FView);
  setFixedSize(862, 613);
  setAcceptDrops(true);
}

void TfrmDisplay::SetContextMenu(QMenu* menu) {
  FContextMenu = menu;
  FView->SetContextMenu(menu);
}

Qt::WindowFlags TfrmDisplay::WindowFlags(bool borderless) {
  const Qt::WindowFlags always = Qt::Window | Qt::WindowStaysOnTopHint;
  // A dialog border: a title with a close box, no minimise or maximise. The title hints
  // would override a frameless one, so the two sets are whole.
  return borderless ? always | Qt::FramelessWindowHint
                    : always | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint;
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
    setWindowFlags(WindowFlags(FBorderless));
  }
  // The size is fixed: the window is as large as the picture it shows (or the screen), and a
  // user cannot make it crop the picture or show it on a border of grey.
  const TRect& b = placement.Bounds;
  if (FBorderless) {
    setFixedSize(b.Width, b.Height);
    setGeometry(b.Left, b.Top, b.Width, b.Height);
  } else {
    // The bounds are the outer ones: the client area is the frame's size.
    const QSize decoration = Decoration();
    setFixedSize(b.Width - decoration.width(), b.Height - decoration.height());
    move(b.Left, b.Top);
  }
  // Changing the border hides a window; it comes back as it was.
  if (visible && !isVisible()) show();
}

void TfrmDisplay::closeEvent(QCloseEvent* event) {
  QWidget::closeEvent(event);
  FormClose();
}

// Closed by the user or by the program alike, the player hears of it and leaves
// separate-window mode.
void TfrmDisplay::FormClose() { emit Closed(); }

void TfrmDisplay::contextMenuEvent(QContextMenuEvent* event) {
  if (FContextMenu) FContextMenu->popup(event->globalPos());
}

void TfrmDisplay::dragEnterEvent(QDragEnterEvent* event) {
  if (!DroppedFilm(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void TfrmDisplay::dropEvent(QDropEvent* event) {
  const QString path = DroppedFilm(event->mimeData());
  if (path.isEmpty()) return;
  event->acceptProposedAction();
  emit FilmDropped(path);
}
