#include "shell/widgets/PreviewPopup.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPixmap>
#include <QScreen>
#include <QVBoxLayout>
#include <algorithm>

TPreviewPopup::TPreviewPopup(QWidget* parent) : QFrame(parent, Qt::ToolTip | Qt::FramelessWindowHint) {
  setObjectName(QStringLiteral("frmPreview"));
  setAttribute(Qt::WA_ShowWithoutActivating);
  setFrameStyle(QFrame::Box | QFrame::Plain);
  setAutoFillBackground(true);
  QPalette colours = palette();
  colours.setColor(QPalette::Window, QColor(32, 32, 32));
  colours.setColor(QPalette::WindowText, QColor(255, 255, 255));
  setPalette(colours);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(2, 2, 2, 2);
  layout->setSpacing(1);
  lblPicture = new QLabel(this);
  lblPicture->setObjectName(QStringLiteral("lblPreview"));
  lblPicture->setAlignment(Qt::AlignCenter);
  lblText = new QLabel(this);
  lblText->setObjectName(QStringLiteral("lblPreviewTime"));
  lblText->setAlignment(Qt::AlignCenter);
  layout->addWidget(lblPicture);
  layout->addWidget(lblText);
}

QString TPreviewPopup::Text() const { return lblText->text(); }

void TPreviewPopup::SetPicture(const QImage& picture) {
  FPicture = picture;
  if (picture.isNull()) {
    lblPicture->setPixmap(QPixmap());
  } else {
    lblPicture->setPixmap(QPixmap::fromImage(picture));
  }
}

void TPreviewPopup::ShowAt(QPoint anchor, const QImage& picture, QSize size, const QString& text) {
  const QSize place = picture.isNull() ? size : picture.size();
  lblPicture->setVisible(place.isValid() && !place.isEmpty());
  lblPicture->setFixedSize(place.isValid() ? place : QSize());
  SetPicture(picture);
  lblText->setText(text);
  adjustSize();
  // Above the pointer, centred on it; below it where there is no room above; on the screen.
  constexpr int kGap = 12;
  const QScreen* screen = QGuiApplication::screenAt(anchor);
  if (!screen) screen = QGuiApplication::primaryScreen();
  const QRect area = screen ? screen->availableGeometry() : QRect(anchor - QPoint(2000, 2000), QSize(4000, 4000));
  int top = anchor.y() - kGap - height();
  if (top < area.top()) top = anchor.y() + kGap;
  const int left = std::clamp(anchor.x() - width() / 2, area.left(), std::max(area.left(), area.right() + 1 - width()));
  move(left, std::clamp(top, area.top(), std::max(area.top(), area.bottom() + 1 - height())));
  show();
}
