#include "shell/widgets/LoadingBanner.h"

#include <QLabel>

namespace {

QLabel* BannerLabel(QWidget* host, const char* name, QColor colour, int at) {
  auto* label = new QLabel(QStringLiteral("Загрузка фильма ..."), host);
  label->setObjectName(QString::fromUtf8(name));
  QFont font(QStringLiteral("Times New Roman"));
  font.setPixelSize(16);
  font.setBold(true);
  label->setFont(font);
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, colour);
  label->setPalette(palette);
  label->setAttribute(Qt::WA_TranslucentBackground);
  label->move(at, at);
  label->adjustSize();
  label->hide();
  return label;
}

}  // namespace

TLoadingBanner::TLoadingBanner(QWidget* host)
    : lblLoading(nullptr), lblLoading_Shadow(BannerLabel(host, "lblLoading_Shadow", Qt::white, 9)) {
  lblLoading = BannerLabel(host, "lblLoading", Qt::black, 8);
}

void TLoadingBanner::SetVisible(bool visible, QWidget* host) {
  for (QLabel* label : {lblLoading_Shadow, lblLoading}) {
    if (label->parentWidget() != host) label->setParent(host);
    label->setVisible(visible);
    if (visible) label->raise();
  }
  if (visible) host->repaint();
}
