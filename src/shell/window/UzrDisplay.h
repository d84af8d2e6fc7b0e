// The display window: the picture in a window of its own, always on top, borderless and
// covering the screen for a screen-sized film, with a dialog border and the film's size
// otherwise; the user cannot resize it. Closing it leaves separate-window mode.
#pragma once

#include <QMenu>
#include <QPointer>
#include <QWidget>

#include "shell/widgets/UzrPlacement.h"

class IPictureSource;
class TPictureView;

class TfrmDisplay : public QWidget {
  Q_OBJECT

 public:
  explicit TfrmDisplay(const IPictureSource& source);

  // Gives the window its border (or none) and its outer bounds on the screen.
  void ApplyPlacement(const TDisplayPlacement& placement);
  // The size of the border the window has with a dialog border: outer less client size.
  QSize Decoration() const;
  TPictureView* View() const { return FView; }
  // The menu a right click opens, over the picture or elsewhere in the window.
  void SetContextMenu(QMenu* menu);

 signals:
  // The window has closed, by the user or by the program.
  void Closed();
  // A file was dropped onto the window.
  void FilmDropped(const QString& path);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  static Qt::WindowFlags WindowFlags(bool borderless);
  void FormClose();

  TPictureView* FView;
  QPointer<QMenu> FContextMenu;
  bool FBorderless = false;
};
