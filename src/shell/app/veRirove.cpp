// Program entry: the application, the four windows, the command line, the film named there.
#include <cstdio>

#include "film/TempFolder.h"
#include "shell/dialogs/UzrSegments.h"
#include "shell/app/TPlayerApplication.h"
#include "shell/window/TelvoriPlayerImpl1.h"
#include "shell/dialogs/UzrAbout.h"
#include "shell/app/UzrCommandLine.h"
#include "shell/window/UzrDisplay.h"
#include "shell/app/UzrStartup.h"

int main(int argc, char** argv) {
  // Answered on the terminal before anything needs a display.
  const TTerminalRequest request = TerminalRequest(std::vector<std::string>(argv + 1, argv + argc));
  if (request != TTerminalRequest::None) {
    const std::string text = TerminalText(request);
    return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0 ? 0 : 1;
  }

  TPlayerApplication app(argc, argv);
  // Only the name: a display name would be appended to every window's caption.
  app.setApplicationName(QStringLiteral("veRirove"));
  // Desktops (Wayland's above all) match the windows to the installed menu entry by it.
  app.setDesktopFileName(QStringLiteral("io.github.verirove.veRirove"));
  // Before the main window makes the run's temporary folder: an interrupted or killed player
  // removes it too.
  TRunFolder::RemoveOnSignals();

  // The windows, in their order: the main window first, so it is the application's own.
  TTelvoriPlayer player;
  TfrmSegments segments;
  TfrmAbout about(&player);
  TfrmDisplay display(player);
  player.SetSegmentsDialog(&segments);
  player.SetAboutBox(&about);
  player.SetDisplayWindow(&display);
  app.OnException = [&player](const QString& message) { player.ApplicationEvents1Exception(message); };
  EndWithMainWindow(player);

  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(QString::fromLocal8Bit(argv[i]).toStdString());
  if (!StartPlayer(player, args)) return 1;
  // A failure at start-up with /closeonfinish may already have closed the window.
  if (!player.isVisible()) return player.ExitStatus();
  return app.exec();
}
