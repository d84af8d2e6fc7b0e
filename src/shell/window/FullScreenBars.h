// The menu bar and the control panel in full screen: both are hidden so that the picture has
// the screen, and come back while the pointer moves near the top or the bottom edge; the
// pointer itself hides over the picture after two seconds without moving.
#pragma once

#include <QCursor>
#include <QObject>
#include <QTimer>
#include <functional>

class QMainWindow;
class QWidget;

class TFullScreenBars : public QObject {
  Q_OBJECT

 public:
  static constexpr int kPointerHideMs = 2000;
  // How far beyond its bar's own height the pointer brings the bar back.
  static constexpr int kEdgeZone = 24;

  // Watches the pointer over `window`, whose control panel is `panel` and picture `view`.
  TFullScreenBars(QMainWindow& window, QWidget& panel, QWidget& view);
  ~TFullScreenBars() override;

  // Full screen begins: both bars are hidden until the pointer comes near their edge.
  void Start();
  // Full screen ends: the menu bar comes back, the panel when `panelShown`, the pointer too.
  void Stop(bool panelShown);
  // Called when the picture's view changed its size while watching (a bar came or went).
  std::function<void()> ViewResized;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void PointerMoved(const QPoint& globalPos);
  void PointerIdle();
  void ShowPointer();

  QMainWindow& FWindow;
  QWidget& FPanel;
  QWidget& FView;
  QTimer* tmrHidePointer;
  bool FActive = false;
  bool FPointerHidden = false;
  QCursor FViewCursor;
};
