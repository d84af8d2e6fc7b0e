// "Последние фильмы": the films opened last, newest first, filled afresh each time the menu
// opens, and "Очистить список". A film whose file is gone is greyed; choosing it takes it off
// the list.
#pragma once

#include <QMenu>

class TRecentFilms;

class TRecentFilmsMenu : public QMenu {
  Q_OBJECT

 public:
  explicit TRecentFilmsMenu(QWidget* parent);

  void SetFilms(TRecentFilms* films) { FFilms = films; }
  // Whether the item is drawn greyed: its film's file is gone. It can still be chosen.
  static bool Greyed(const QAction* item);

 signals:
  // A film was chosen whose file is there.
  void FilmChosen(const QString& path);
  // A film was chosen whose file is gone; it has been taken off the list.
  void MissingFilmChosen(const QString& path);

 protected:
  void initStyleOption(QStyleOptionMenuItem* option, const QAction* action) const override;

 private:
  void Fill();
  void Choose(const QString& path);

  TRecentFilms* FFilms = nullptr;
  QAction* AClearRecentFilms;
};
