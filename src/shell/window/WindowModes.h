// Where the picture goes and how the main window stands: the display window (separate-window
// mode), full screen, the window's outer bounds, and the placement of the picture in the view
// that shows it (enlarged to fill the window in full screen, and with "По размеру окна").
#pragma once

#include <QColor>
#include <QPointer>
#include <QRect>

#include "shell/widgets/UzrPlacement.h"

class QMainWindow;
class QWidget;
class TfrmDisplay;
class TFullScreenBars;
class TPictureView;
class TTransport;
struct TPlayerActions;

class TWindowModes {
 public:
  TWindowModes(QMainWindow& window, const TPlayerActions& actions, const TTransport& transport, TPictureView& view,
               QWidget& panel);
  ~TWindowModes();

  void SetDisplayWindow(TfrmDisplay* display) { frmDisplay = display; }
  TfrmDisplay* DisplayWindow() const { return frmDisplay; }

  // ---- Separate-window mode ----
  bool InOwnWindow() const { return FOwnWindow; }
  void SetOwnWindow(bool on);
  // In separate-window mode the display window comes up (and takes the focus when `activate`).
  void ShowDisplayWindow(bool activate = false);
  void HideDisplayWindow();

  // ---- Full screen: the main window covers the screen, the picture fills it on black; the
  // menu bar and the panel come back near their edges ----
  void SetFullScreen(bool on);
  // The window system changed the window's state: the commands and the bars follow.
  void WindowStateChanged();

  // ---- "По размеру окна": outside full screen a smaller picture is enlarged to fill the
  // window too; remembered in the settings ----
  bool FitToWindow() const { return FFitToWindow; }
  void SetFitToWindow(bool on);

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
  QWidget& FPanel;
  TFullScreenBars* FBars;
  QPointer<TfrmDisplay> frmDisplay;
  bool FOwnWindow = false;
  bool FOwnWindowBeforeFullScreen = false;
  Qt::WindowStates FStateBeforeFullScreen;
  bool FFullScreenShown = false;  // the bars and the picture are as full screen has them
  QColor FGround;                 // the view's colour outside full screen
  bool FFitToWindow = false;
  QRect FOuterBounds;
  bool FOuterBoundsPending = false;  // the frame was not known when the bounds were set
  TPlacement FPlacement;
};
