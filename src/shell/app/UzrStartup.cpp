#include "shell/app/UzrStartup.h"

#include <QAction>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>
#include <algorithm>

#include "shell/window/TelvoriPlayerImpl1.h"
#include "shell/app/UzrCommandLine.h"
#include "shell/window/UzrDisplay.h"

namespace {

// The coordinate in [low, high], or low when the range is empty (the window does not fit).
int64_t Within(int64_t value, int64_t low, int64_t high) { return std::clamp(value, low, std::max(low, high)); }

// A point of the screen's coordinates: far-off values (a huge requested window) stay far off.
QPoint ScreenPoint(int64_t x, int64_t y) {
  constexpr int64_t kFar = int64_t{1} << 24;
  return QPoint(int(std::clamp(x, -kFar, kFar)), int(std::clamp(y, -kFar, kFar)));
}

// The available area of the screen the window lands on: the one under its centre, else the
// one under its top left corner, else the primary screen.
QRect AvailableAreaFor(const TRect& bounds) {
  QScreen* screen = QGuiApplication::screenAt(
      ScreenPoint(int64_t{bounds.Left} + bounds.Width / 2, int64_t{bounds.Top} + bounds.Height / 2));
  if (!screen) screen = QGuiApplication::screenAt(ScreenPoint(bounds.Left, bounds.Top));
  if (!screen) screen = QGuiApplication::primaryScreen();
  return screen->availableGeometry();
}

}  // namespace

QRect FitWindowBounds(const TRect& requested, const QRect& available, const QSize& minimum) {
  // In 64 bits: the command line may ask for any 32-bit size and place.
  const int64_t width = std::max<int64_t>(std::min<int64_t>(requested.Width, available.width()), minimum.width());
  const int64_t height = std::max<int64_t>(std::min<int64_t>(requested.Height, available.height()), minimum.height());
  const int64_t left = Within(requested.Left, available.left(), int64_t{available.left()} + available.width() - width);
  const int64_t top = Within(requested.Top, available.top(), int64_t{available.top()} + available.height() - height);
  return QRect(int(left), int(top), int(width), int(height));
}

bool StartPlayer(TTelvoriPlayer& player, const std::vector<std::string>& args) {
  if (args.empty()) {
    // The window's own bounds, normal, no film.
    player.show();
    return true;
  }
  const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
  TStartOptions options;
  if (!ParseCommandLine(args, screen.width(), screen.height(), player.minimumWidth(), player.minimumHeight(),
                        options)) {
    player.MessageBox(QMessageBox::Critical, player.lbMessages[5], player.lbMessages[4]);
    return false;
  }
  TTelvoriPlayer::AutoFullScreen = options.AutoFullScreen;
  player.SetCloseOnFinish(options.CloseOnFinish);

  player.SetFileName(QString::fromStdString(options.StartFilmPath));
  const TRect requested{options.WinLeft, options.WinTop, options.WinWidth, options.WinHeight};
  player.SetOuterBounds(FitWindowBounds(requested, AvailableAreaFor(requested), player.minimumSize()));
  if (options.Maximized) player.setWindowState(Qt::WindowMaximized);
  player.show();

  // A place asked for on the command line wins over going on from where the film was left.
  if (!player.OpenFilm(options.StartFilmPath, options.StartSegment <= 0 && options.StartMillis < 0)) return true;
  // A segment or time still being read is waited for.
  player.WhenArrived([&player, segment = options.StartSegment, millis = options.StartMillis] {
    const auto& segments = player.Core().Segments();
    if ((segment > 0 && !player.HasArrived(segment - 1)) ||
        (millis >= 0 && millis >= FilmMillis(segments) && !player.HasArrived(INT32_MAX)))
      return false;
    // Out of range (0, negative, past the last segment): the first segment stays current.
    if (segment > 0) player.Core().SelectSegment(segment - 1);
    player.Guarded([&player] { player.APlayExecute(); });
    // A time of the film, applied after /segm: it decides where playing starts.
    if (millis >= 0 && player.PlayState() == psPlaying) player.Guarded([&] { player.SeekToTime(millis); });
    return true;
  });
  return true;
}

void EndWithMainWindow(TTelvoriPlayer& player) {
  // Not "the last window closed": the segments dialog, the help or a result box would keep
  // the program running without its main window.
  QGuiApplication::setQuitOnLastWindowClosed(false);
  QObject::connect(&player, &TTelvoriPlayer::Closed, &player,
                   [&player] { QCoreApplication::exit(player.ExitStatus()); });
}
