// Program entry: the application, the windows, the film named on the command line.
#include <QScreen>

#include "shell/TPlayerApplication.h"
#include "shell/TelvoriPlayerImpl1.h"
#include "shell/UzrDisplay.h"

int main(int argc, char** argv) {
  TPlayerApplication app(argc, argv);
  app.setApplicationName(QStringLiteral("veRirove"));
  app.setApplicationDisplayName(QStringLiteral("veRirove"));

  TTelvoriPlayer player;
  TfrmDisplay display(player);
  player.SetDisplayWindow(&display);
  app.OnException = [&player](const QString& message) { player.ApplicationEvents1Exception(message); };

  const QString film = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
  player.show();
  if (!film.isEmpty()) {
    player.SetFileName(film);
    player.Guarded([&] {
      if (player.LoadFilm(film.toStdString())) player.APlay->trigger();
    });
  }
  return app.exec();
}
