#include "shell/window/RecentFilmsMenu.h"

#include <QFileInfo>
#include <QStyleOptionMenuItem>

#include "shell/player/FilmMemory.h"

namespace {

const char kMissing[] = "missing";

// "&1 film.zrcab": the number is the item's key; an ampersand of the name stays one.
QString ItemText(int number, const QString& path) {
  const QString key = number < 10 ? QStringLiteral("&%1").arg(number) : QStringLiteral("1&0");
  return key + QLatin1Char(' ') + QFileInfo(path).fileName().replace(QLatin1Char('&'), QStringLiteral("&&"));
}

}  // namespace

TRecentFilmsMenu::TRecentFilmsMenu(QWidget* parent)
    : QMenu(QStringLiteral("Последние фильмы"), parent),
      AClearRecentFilms(new QAction(QStringLiteral("Очистить список"), this)) {
  setObjectName(QStringLiteral("mnuRecentFilms"));
  AClearRecentFilms->setObjectName(QStringLiteral("AClearRecentFilms"));
  setToolTipsVisible(true);
  AClearRecentFilms->setEnabled(false);
  addAction(AClearRecentFilms);
  connect(this, &QMenu::aboutToShow, this, &TRecentFilmsMenu::Fill);
  connect(AClearRecentFilms, &QAction::triggered, this, [this] {
    if (FFilms) FFilms->Clear();
  });
}

bool TRecentFilmsMenu::Greyed(const QAction* item) { return item->property(kMissing).toBool(); }

void TRecentFilmsMenu::initStyleOption(QStyleOptionMenuItem* option, const QAction* action) const {
  QMenu::initStyleOption(option, action);
  // Drawn as a disabled item is, while it can still be chosen.
  if (!Greyed(action)) return;
  QPalette& palette = option->palette;
  for (const QPalette::ColorRole role : {QPalette::Text, QPalette::WindowText, QPalette::ButtonText})
    palette.setColor(role, palette.color(QPalette::Disabled, role));
}

void TRecentFilmsMenu::Fill() {
  for (QAction* item : actions())
    if (item != AClearRecentFilms) {
      removeAction(item);
      if (item->parent() == this) item->deleteLater();
    }
  const QStringList paths = FFilms ? FFilms->Paths() : QStringList();
  int number = 0;
  for (const QString& path : paths) {
    QAction* item = new QAction(ItemText(++number, path), this);
    item->setToolTip(path);
    item->setStatusTip(path);
    item->setProperty(kMissing, !QFileInfo(path).isFile());
    connect(item, &QAction::triggered, this, [this, path] { Choose(path); });
    insertAction(AClearRecentFilms, item);
  }
  if (!paths.isEmpty()) insertSeparator(AClearRecentFilms);
  AClearRecentFilms->setEnabled(!paths.isEmpty());
}

void TRecentFilmsMenu::Choose(const QString& path) {
  // Looked at again: the file may have gone since the menu opened.
  if (QFileInfo(path).isFile()) {
    emit FilmChosen(path);
    return;
  }
  if (FFilms) FFilms->Remove(path);
  emit MissingFilmChosen(path);
}
