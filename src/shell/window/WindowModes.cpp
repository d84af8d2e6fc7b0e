#include "shell/window/WindowModes.h"

#include <QAction>
#include <QGuiApplication>
#include <QLayout>
#include <QMainWindow>
#include <QMenuBar>
#include <QScreen>

#include "shell/player/Transport.h"
#include "shell/widgets/UzrPictureView.h"
#include "shell/window/PlayerActions.h"
#include "shell/window/UzrDisplay.h"

TWindowModes::TWindowModes(QMainWindow& window, const TPlayerActions& actions, const TTransport& transport,
                           TPictureView& view)
    : FWindow(window), FActions(actions), FTransport(transport), FView(view) {}

// ---- Separate-window mode ----

void TWindowModes::SetOwnWindow(bool on) {
  FOwnWindow = on;
  if (!on) {
    if (frmDisplay) frmDisplay->hide();
    PlacePicture();
    FView.update();
  } else if (frmDisplay) {
    FView.update();
    PlacePicture();
    if (FTransport.PlayState() == psPlaying) {
      frmDisplay->show();
      frmDisplay->raise();
    }
  }
  FActions.ASetOwnWindow->setChecked(FOwnWindow);
}

void TWindowModes::ShowDisplayWindow(bool activate) {
  if (!FOwnWindow || !frmDisplay) return;
  frmDisplay->show();
  frmDisplay->raise();
  if (activate) frmDisplay->activateWindow();
}

void TWindowModes::HideDisplayWindow() {
  if (FOwnWindow && frmDisplay) frmDisplay->hide();
}

// ---- Full screen ----

void TWindowModes::SetFullScreen(bool on) {
  if (on == FWindow.isFullScreen()) {
    FActions.AFullScreen->setChecked(on);
    FActions.ALeaveFullScreen->setEnabled(on);
    return;
  }
  if (on) {
    // The picture comes into the main window for the time; the display window returns after.
    FOwnWindowBeforeFullScreen = FOwnWindow;
    if (FOwnWindow) SetOwnWindow(false);
    FStateBeforeFullScreen = FWindow.windowState() & ~Qt::WindowFullScreen;
    FWindow.menuBar()->hide();
    FWindow.showFullScreen();
  } else {
    FWindow.menuBar()->show();
    FWindow.setWindowState(FStateBeforeFullScreen);
    FWindow.show();
    if (FOwnWindowBeforeFullScreen) SetOwnWindow(true);
    FOwnWindowBeforeFullScreen = false;
  }
  FActions.AFullScreen->setChecked(on);
  FActions.ALeaveFullScreen->setEnabled(on);
  FWindow.centralWidget()->layout()->activate();
  PlacePicture();
}

void TWindowModes::WindowStateChanged() {
  const bool full = FWindow.isFullScreen();
  FActions.AFullScreen->setChecked(full);
  FActions.ALeaveFullScreen->setEnabled(full);
  FWindow.menuBar()->setVisible(!full);
}

// ---- Outer bounds ----

void TWindowModes::SetOuterBounds(const QRect& bounds) {
  // The frame's size is known only once the window system has framed the window: until then
  // the client area takes the whole size, and the size is corrected when the frame arrives.
  FOuterBounds = bounds;
  const QSize frame = FWindow.frameGeometry().size() - FWindow.geometry().size();
  FOuterBoundsPending = frame.isEmpty();
  FWindow.move(bounds.topLeft());
  FWindow.resize(bounds.size() - frame);
}

void TWindowModes::ApplyOuterBoundsOnceFramed() {
  if (!FOuterBoundsPending || FWindow.isMaximized() || FWindow.isFullScreen()) return;
  const QSize frame = FWindow.frameGeometry().size() - FWindow.geometry().size();
  if (frame.isEmpty()) return;  // not framed (yet, or ever: no window manager)
  FOuterBoundsPending = false;
  FWindow.resize(FOuterBounds.size() - frame);
  FWindow.move(FOuterBounds.topLeft());
}

// ---- The picture ----

TPictureView* TWindowModes::ViewInUse() const { return (FOwnWindow && frmDisplay) ? frmDisplay->View() : &FView; }

void TWindowModes::PlacePicture() {
  const TPlaybackCore& core = FTransport.Core();
  if (!core.HasCurrentSegment()) return;
  const Segment& segment = *core.Segments()[size_t(core.CurSegment())];
  FPlacement.Scaled = false;
  if (frmDisplay && FOwnWindow) {
    const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
    const QRect current = frmDisplay->frameGeometry();
    const QSize decoration = frmDisplay->Decoration();
    const auto p = PlaceDisplayWindow(segment.Width, segment.Height, core.FrameWidth(), core.FrameHeight(),
                                      screen.width(), screen.height(),
                                      TRect{current.x(), current.y(), current.width(), current.height()},
                                      decoration.width(), decoration.height());
    frmDisplay->ApplyPlacement(p);
    FPlacement = TPlacement{};
    FPlacement.Scaled = p.Scaled;
    FPlacement.FitWidth = p.FitWidth;
    FPlacement.FitHeight = p.FitHeight;
    frmDisplay->repaint();
    return;
  }
  FPlacement = PlaceInMainWindow(segment.Width, segment.Height, core.FrameWidth(), core.FrameHeight(),
                                 FView.width(), FView.height());
  FView.update();
}
