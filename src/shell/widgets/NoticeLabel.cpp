#include "shell/widgets/NoticeLabel.h"

#include <QTimer>

TNoticeLabel::TNoticeLabel(QWidget* parent) : QLabel(parent), FTimer(new QTimer(this)) {
  setObjectName(QStringLiteral("lblNotice"));
  setStyleSheet(QStringLiteral("QLabel { background: rgba(0, 0, 0, 170); color: white; padding: 4px 8px; }"));
  hide();
  FTimer->setSingleShot(true);
  connect(FTimer, &QTimer::timeout, this, &QWidget::hide);
}

void TNoticeLabel::Show(const QString& text, QWidget* host, int ms) {
  if (parentWidget() != host) setParent(host);
  setText(text);
  adjustSize();
  move(8, 8);
  show();
  raise();
  FTimer->start(ms);
}
