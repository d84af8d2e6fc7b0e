// Where the picture goes and how the main window stands: the display window (separate-window
// mode), full screen, the window's outer bounds, and the placement of the picture in the view
// that shows it.
#pragma once

#include <QPointer>
#include <QRect>

#include "shell/widgets/UzrPlacement.h"

class QMainWindow;
class TfrmDisplay;
class TPictureView;
class TTransport;
struct TPlayerActions;

class TWindowModes {
 public:
  TWindowModes(QMainWindow& window, const TPlayerActions& actions, const TTransport& transport, TPictureView& view);

  void SetDisplayWindow(TfrmDisplay* display) { frmDisplay = display; }
  TfrmDisplay* DisplayWindow() const { return frmDisplay; }

  // ---- Separate-window mode ----
  bool InOwnWindow() const { return FOwnWindow; }
  void SetOwnWindow(bool on);
  // In separate-window mode the display window comes up (and takes the focus when `activate`).
  void ShowDisplayWindow(bool activate = false);
  void HideDisplayWindow();

  // ---- Full screen: the main window covers the screen without its menu bar, the picture in it ----
  void SetFullScreen(bool on);
  // The window system changed the window's state: the commands follow.
  void WindowStateChanged();

  // ---- Outer bounds (frame included), as the window is first placed and as asked for ----
  void SetOuterBounds(const QRect& bounds);
  // Applies the bounds once the window system has framed the window.
  void ApplyOuterBoundsOnceFramed();

  // ---- The picture ----
  // The view the picture goes to: the display window's in separate-window mode, else the main
  // window's.
  TPictureView* ViewInUse() const;
  // Places the current segment's picture in the view that shows it (the display window is
  // sized and placed for it).
  void PlacePicture();
  const TPlacement& Placement() const { return FPlacement; }

 private:
  QMainWindow& FWindow;
  const TPlayerActions& FActions;
  const TTransport& FTransport;
  TPictureView& FView;
  QPointer<TfrmDisplay> frmDisplay;
  bool FOwnWindow = false;
  bool FOwnWindowBeforeFullScreen = false;
  Qt::WindowStates FStateBeforeFullScreen;
  QRect FOuterBounds;
  bool FOuterBoundsPending = false;  // the frame was not known when the bounds were set
  TPlacement FPlacement;
};
