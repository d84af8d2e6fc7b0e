// The view that shows the film's picture, in the main window and in the display window: a
// ground of its own colour, the picture from the last present where the placement puts it, and
// the hand pointer. The picture, its placement and which view shows it come from the picture's
// source; the view only paints them.
#pragma once

#include <QColor>
#include <QImage>
#include <QMenu>
#include <QPointer>
#include <QWidget>

#include "shell/widgets/UzrPlacement.h"

class QMimeData;
class TPictureView;

// The film among files dragged over a window: the first local file; empty when there is none.
QString DroppedFilm(const QMimeData* data);

// What a picture view paints.
class IPictureSource {
 public:
  // The picture as last presented; a null image when there is none.
  virtual const QImage& PresentedPicture() const = 0;
  // Where the picture goes in the view that shows it.
  virtual const TPlacement& Placement() const = 0;
  // The view the picture is shown in now; every other view shows only its ground.
  virtual const TPictureView* PictureViewInUse() const = 0;

 protected:
  ~IPictureSource() = default;
};

class TPictureView : public QWidget {
  Q_OBJECT

 public:
  TPictureView(const IPictureSource& source, const QColor& ground, QWidget* parent);

  // The menu a right click opens (none: a right click does nothing).
  void SetContextMenu(QMenu* menu) { FContextMenu = menu; }
  // The colour around the picture (black in full screen).
  const QColor& Ground() const { return FGround; }
  void SetGround(const QColor& ground) {
    FGround = ground;
    update();
  }

 signals:
  // A mouse button other than the right one went down over the view.
  void MouseDown(Qt::MouseButton button);
  // The left button was double-clicked over the view (after its MouseDown).
  void DoubleClicked();
  // The mouse wheel turned `notches` away from the user (negative: towards).
  void WheelTurned(int notches, Qt::KeyboardModifiers modifiers);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;

 private:
  const IPictureSource& FSource;
  QColor FGround;
  QPointer<QMenu> FContextMenu;
  int FWheelRest = 0;  // eighths of a degree turned, short of a notch
};
