#include "shell/window/WindowModes.h"

#include <QAction>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QLayout>
#include <QMainWindow>
#include <QMenuBar>
#include <QScreen>

#include "shell/app/PlayerSettings.h"
#include "shell/player/Transport.h"
#include "shell/widgets/UzrPictureView.h"
#include "shell/window/FullScreenBars.h"
#include "shell/window/PlayerActions.h"
#include "shell/window/UzrDisplay.h"

TWindowModes::TWindowModes(QMainWindow& window, const TPlayerActions& actions, const TTransport& transport,
                           TPictureView& view, QWidget& panel)
    : FWindow(window),
      FActions(actions),
      FTransport(transport),
      FView(view),
      FPanel(panel),
      FBars(new TFullScreenBars(window, panel, view)),
      FGround(view.Ground()) {
  // A bar coming or going in full screen moves the view under the picture, which stays.
  FBars->ViewResized = [this] { PlacePicture(); };
  // An unreadable settings file reads as the default.
  FFitToWindow = TPlayerSettings().Flag(PlayerSettingsKey::kFitToWindow, false);
  FActions.AFitToWindow->setChecked(FFitToWindow);
}

// The bars outlive this (they are the window's child): they call it no more.
TWindowModes::~TWindowModes() { FBars->ViewResized = nullptr; }

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
  if (on != FWindow.isFullScreen()) {
    if (on) {
      FStateBeforeFullScreen = FWindow.windowState() & ~Qt::WindowFullScreen;
      FWindow.showFullScreen();
    } else {
      FWindow.setWindowState(FStateBeforeFullScreen);
      FWindow.show();
    }
  }
  WindowStateChanged();
}

void TWindowModes::WindowStateChanged() {
  const bool full = FWindow.isFullScreen();
  FActions.AFullScreen->setChecked(full);
  FActions.ALeaveFullScreen->setEnabled(full);
  if (full == FFullScreenShown) return;
  FFullScreenShown = full;
  if (full) {
    // The picture comes into the main window for the time; the display window returns after.
    FOwnWindowBeforeFullScreen = FOwnWindow;
    if (FOwnWindow) SetOwnWindow(false);
    FView.SetGround(Qt::black);
    FBars->Start();
  } else {
    FView.SetGround(FGround);
    FBars->Stop(FActions.AShowPanel->isChecked());
    if (FOwnWindowBeforeFullScreen) SetOwnWindow(true);
    FOwnWindowBeforeFullScreen = false;
  }
  FWindow.centralWidget()->layout()->activate();
  PlacePicture();
  // Everything is painted anew at the new size: no part of the window is left as it was.
  FWindow.update();
}

void TWindowModes::SetFitToWindow(bool on) {
  FFitToWindow = on;
  FActions.AFitToWindow->setChecked(on);
  TPlayerSettings().SetFlag(PlayerSettingsKey::kFitToWindow, on);
  PlacePicture();
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
  // In full screen the picture fills the screen, whether the bars show or not: it is placed in
  // the whole window and drawn where that puts it in the view (a bar covers an edge of it).
  const bool full = FFullScreenShown;
  const QSize area = full ? FWindow.size() : FView.size();
  const QPoint offset = full ? FView.mapTo(&FWindow, QPoint(0, 0)) : QPoint(0, 0);
  FPlacement = PlaceInMainWindow(segment.Width, segment.Height, core.FrameWidth(), core.FrameHeight(),
                                 area.width(), area.height(), full || FFitToWindow);
  FPlacement.Left -= offset.x();
  FPlacement.Top -= offset.y();
  for (TRect& band : FPlacement.Bands) band.Left -= offset.x(), band.Top -= offset.y();
  FView.update();
}
