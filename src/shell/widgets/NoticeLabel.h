// A short notice over the picture (the speed, where a picture was saved): it goes by itself
// after a few seconds.
#pragma once

#include <QLabel>

class QTimer;

class TNoticeLabel : public QLabel {
  Q_OBJECT

 public:
  explicit TNoticeLabel(QWidget* parent);

  // Shows `text` at the top left of `host` (the view that shows the picture) for a while
  // (`ms`, or four seconds).
  void Show(const QString& text, QWidget* host, int ms = 4000);

 private:
  QTimer* FTimer;
};
