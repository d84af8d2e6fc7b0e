// The main window's commands, each made once and shared by the menu bar, the context menu, the
// control panel and the shortcut keys, with the menus that show them. Each action is named
// after its command ("APlay", ...), so that it can be found by name.
#pragma once

#include <QKeySequence>

#include "shell/player/Transport.h"

class QAction;
class QMainWindow;
class QMenu;
class TRecentFilmsMenu;

struct TPlayerActions {
  // Makes the actions (children of the window, whose keys they take) and the menus.
  explicit TPlayerActions(QMainWindow& window);

  // Opening a film is offered only while stopped; play and pause are enabled by the states
  // that offer them.
  void FollowPlayState(TPlayState state);

  QAction *APlay, *APause, *AStop, *ASegments, *AAbout, *ALoadFromFile, *AShowPanel, *ASetOwnWindow, *AExit,
      *AHelp;
  // "Экспорт...": the loaded film to a video file; enabled with a film and no export running.
  QAction* AExport;
  // Commands beside them: moving through the film, its speed, full screen, the picture.
  QAction *APlayPause, *ABack5, *AForward5, *ABack1, *AForward1, *ABack60, *AForward60, *AFilmStart, *AFilmEnd,
      *APrevSegment, *ANextSegment, *APrevFrame, *ANextFrame, *ASlower, *AFaster, *ANormalSpeed, *AFullScreen,
      *ALeaveFullScreen, *ASavePicture, *ACopyPicture;
  // Going on from where the film opened was left, while that is offered (Enter).
  QAction* AResume;
  // "Файл" → "Последние фильмы".
  TRecentFilmsMenu* mnuRecentFilms;
  // "По размеру окна": a smaller picture enlarged to fill the window (checkable).
  QAction* AFitToWindow;
  // The chapters: each segment's start and those the film's index found inside segments.
  QAction *APrevChapter, *ANextChapter;
  // "Пропускать простои": playing jumps over the screen's long idle stretches (checkable).
  QAction* ASkipIdle;
  // The context menu of the pictures.
  QMenu* pupMain;
};
