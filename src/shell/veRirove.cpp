// Program entry: the application, the four windows, the command line, the film named there.
#include <QMessageBox>
#include <QScreen>

#include "segments/UzrSegments.h"
#include "shell/TPlayerApplication.h"
#include "shell/TelvoriPlayerImpl1.h"
#include "shell/UzrAbout.h"
#include "shell/UzrCommandLine.h"
#include "shell/UzrDisplay.h"

int main(int argc, char** argv) {
  TPlayerApplication app(argc, argv);
  // Only the name: a display name would be appended to every window's caption.
  app.setApplicationName(QStringLiteral("veRirove"));

  // The windows, in their order: the main window first, so it is the application's own.
  TTelvoriPlayer player;
  TfrmSegments segments(player);
  TfrmAbout about(&player);
  TfrmDisplay display(player);
  player.SetSegmentsDialog(&segments);
  player.SetAboutBox(&about);
  player.SetDisplayWindow(&display);
  app.OnException = [&player](const QString& message) { player.ApplicationEvents1Exception(message); };

  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(QString::fromLocal8Bit(argv[i]).toStdString());
  if (args.empty()) {
    // The designed window: 800 × 600 at (374, 127), normal, no film.
    player.show();
    return app.exec();
  }

  const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
  TStartOptions options;
  if (!ParseCommandLine(args, screen.width(), screen.height(), player.minimumWidth(),
                        player.minimumHeight(), options)) {
    QMessageBox box(QMessageBox::Critical, player.lbMessages[5], player.lbMessages[4], QMessageBox::Ok, &player);
    box.exec();
    return 1;
  }
  TTelvoriPlayer::AutoFullScreen = options.AutoFullScreen;
  player.FCloseOnFinish = options.CloseOnFinish;

  const QString film = QString::fromStdString(options.StartFilmPath);
  player.SetFileName(film);
  player.SetOuterBounds(QRect(options.WinLeft, options.WinTop, options.WinWidth, options.WinHeight));
  if (options.Maximized) player.setWindowState(Qt::WindowMaximized);
  player.show();

  // A failure while the film loads or starts is reported like any other, and the player goes
  // on stopped.
  player.Guarded([&] {
    if (!player.LoadFilm(options.StartFilmPath)) return;
    const auto count = int32_t(player.Core().FSegments.size());
    if (options.StartSegment > 0 && options.StartSegment <= count)
      player.Core().FCurSegment = options.StartSegment - 1;
    player.APlay->trigger();
  });
  return app.exec();
}
