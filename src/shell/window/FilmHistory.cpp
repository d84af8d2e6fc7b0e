#include "shell/window/FilmHistory.h"

#include <QAction>
#include <QTimer>

#include "playback/FilmClock.h"
#include "shell/app/PlayerSettings.h"
#include "shell/window/RecentFilmsMenu.h"

TFilmHistory::TFilmHistory(TRecentFilmsMenu& menu, QAction& resume, QObject* parent)
    : QObject(parent),
      FSettings(std::make_unique<TPlayerSettings>()),
      FRecent(*FSettings),
      FPositions(*FSettings),
      AResume(resume),
      FOfferTimer(new QTimer(this)) {
  menu.SetFilms(&FRecent);
  AResume.setEnabled(false);
  FOfferTimer->setObjectName(QStringLiteral("tmrResumeOffer"));
  FOfferTimer->setSingleShot(true);
  FOfferTimer->setInterval(kOfferMs);
  connect(FOfferTimer, &QTimer::timeout, this, &TFilmHistory::WithdrawOffer);
  connect(&AResume, &QAction::triggered, this, [this] {
    if (!FOffer) return;
    const int64_t place = *FOffer;
    WithdrawOffer();
    if (GoOnFrom) GoOnFrom(place);
  });
}

TFilmHistory::~TFilmHistory() = default;

void TFilmHistory::FilmOpened(const QString& path, int64_t length, bool offer) {
  WithdrawOffer();
  FRecent.Add(path);
  FFilm = FilmIdentity(path);
  FPlace.reset();
  if (!offer || !FFilm) return;
  FOffer = FPositions.Recall(*FFilm, length);
  if (!FOffer) return;
  AResume.setEnabled(true);
  FOfferTimer->start();
  if (ShowOffer) ShowOffer(QStringLiteral("Продолжить с %1? (Enter)").arg(QString::fromStdString(FormatClock(*FOffer))));
}

void TFilmHistory::FilmLeft(std::optional<int64_t> position, int64_t length) {
  WithdrawOffer();
  if (!position) position = FPlace;
  if (FFilm && position) FPositions.Remember(*FFilm, *position, length);
  FFilm.reset();
  FPlace.reset();
}

void TFilmHistory::FilmFinished() {
  FPlace.reset();
  if (FFilm) FPositions.Forget(FFilm->Path);
}

void TFilmHistory::WithdrawOffer() {
  if (FOffer && ShowOffer) ShowOffer({});
  FOffer.reset();
  FOfferTimer->stop();
  AResume.setEnabled(false);
}
