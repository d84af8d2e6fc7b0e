// The window's side of what the player remembers of films: the films opened last in
// "Последние фильмы", and the place a film was left, offered when it is opened again
// ("Продолжить с 0:05:02?", Enter accepts it for 5 seconds).
#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

#include "shell/player/FilmMemory.h"

class QAction;
class QTimer;
class TPlayerSettings;
class TRecentFilmsMenu;

class TFilmHistory : public QObject {
  Q_OBJECT

 public:
  // How long going on is offered.
  static constexpr int kOfferMs = 5000;

  // `resume` accepts the offer; it is enabled only while one stands.
  TFilmHistory(TRecentFilmsMenu& menu, QAction& resume, QObject* parent);
  ~TFilmHistory() override;

  // Shows the offer's text over the picture for kOfferMs; an empty text takes it away.
  std::function<void(const QString& text)> ShowOffer;
  // Goes on from a place of the film (milliseconds).
  std::function<void(int64_t millis)> GoOnFrom;

  // A film of `length` milliseconds has been opened: it becomes the newest of the recent films,
  // and, with `offer`, going on from where it was left is offered.
  void FilmOpened(const QString& path, int64_t length, bool offer);
  // The film is stopped at `position`: Stop goes back to the start, but the place it was left
  // at is the one remembered.
  void FilmStopped(int64_t position) { FPlace = position; }
  // The film open is left (closed, or another is being opened) at `position`; none while
  // nothing is shown: where it was stopped, if it played since it was opened.
  void FilmLeft(std::optional<int64_t> position, int64_t length);
  // The film has played to its end: its place is forgotten.
  void FilmFinished();
  // Another notice takes the offer's place.
  void WithdrawOffer();

 private:
  std::unique_ptr<TPlayerSettings> FSettings;
  TRecentFilms FRecent;
  TResumePositions FPositions;
  QAction& AResume;
  QTimer* FOfferTimer;
  std::optional<TFilmIdentity> FFilm;  // the film open, as its file was when opened
  std::optional<int64_t> FOffer;
  std::optional<int64_t> FPlace;  // where the film open was stopped
};
