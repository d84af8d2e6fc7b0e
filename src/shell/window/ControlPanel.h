// The control panel at the foot of the main window: the transport and window buttons, each
// bound to its action (a click executes it; its enabled and checked state follow it), the
// progress bar that seeks (wider in a wider window), the path panel with the film's or segment's name, and the time on
// screen at the right end.
#pragma once

#include <QIcon>
#include <QWidget>

#include "shell/player/Transport.h"

class QLabel;
class QToolButton;
class TSeekBar;
struct TPlayerActions;
enum class TTransportGlyph;

class TControlPanel : public QWidget {
  Q_OBJECT

 public:
  // The progress bar's tool tip tells the time of the transport's film under the pointer.
  TControlPanel(const TPlayerActions& actions, const TTransport& transport, QWidget* parent);

  TSeekBar* SeekBar() const { return pbrProgress; }
  // The path panel: the film's file name, or the name of the segment playing (shown elided
  // with "…" where it does not fit, its first word at least).
  QString PathText() const;
  void SetPathText(const QString& text);
  // The time on screen and the film's length, with the speed when it is not the film's own.
  void SetTimeText(const QString& text);
  // Play, pause and stop show their plain pictures, the button of `state` lit when
  // `highlighted`.
  void ShowPlayState(TPlayState state, bool highlighted);
  // The transport button whose picture is lit; none after ResetTransportGlyphs.
  QToolButton* HighlightedButton() const { return FHighlighted; }

 signals:
  // The progress bar was pressed or dragged over a frame of the film.
  void SeekRequested(TFramePos pos);

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  QToolButton* Button(const char* name, int x, int width, const char* hint, QAction* action);
  void SetGlyph(QToolButton* button, TTransportGlyph glyph, bool highlighted);
  void ResetTransportGlyphs();
  void LayOut();

  QToolButton *btnLoadFromFile, *btnPlay, *btnPause, *btnStop, *btnSegments, *SpeedButton1, *btnInOwnWindow;
  TSeekBar* pbrProgress;
  QLabel* pnlPath;
  QLabel* lblTime;
  QString FPathText;
  QToolButton* FHighlighted = nullptr;
  // The transport pictures, made once: white transparent, and black transparent (highlighted).
  QIcon FGlyphs[3][2];
};
