// The preview over the seek bar: a small picture of the film where the pointer is, with the
// time there and the chapter's title below it. It follows the pointer without taking the focus
// or the mouse.
#pragma once

#include <QFrame>
#include <QImage>

class QLabel;

class TPreviewPopup : public QFrame {
  Q_OBJECT

 public:
  explicit TPreviewPopup(QWidget* parent);

  // Shows `text` under `picture` just above `anchor` (screen coordinates, the pointer on the
  // bar), centred on it and kept on the screen. A null picture leaves a dark place of `size`
  // for the picture to come; an empty size, none.
  void ShowAt(QPoint anchor, const QImage& picture, QSize size, const QString& text);
  // A picture that has come for the place shown.
  void SetPicture(const QImage& picture);
  QString Text() const;
  // The picture shown; null while its place waits.
  const QImage& Picture() const { return FPicture; }

 private:
  QLabel* lblPicture;
  QLabel* lblText;
  QImage FPicture;
};
