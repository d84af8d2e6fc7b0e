#include "shell/window/PlayerActions.h"

#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>

#include "shell/artwork/UzrArtwork.h"
#include "shell/window/RecentFilmsMenu.h"

namespace {

QAction* MakeAction(QMainWindow& window, const char* name, const char* caption, const char* hint, QKeySequence key,
                    int image = -1) {
  auto* action = new QAction(QString::fromUtf8(caption), &window);
  action->setObjectName(QString::fromUtf8(name));
  if (hint) {
    action->setToolTip(QString::fromUtf8(hint));
    action->setStatusTip(QString::fromUtf8(hint));
  }
  if (!key.isEmpty()) {
    action->setShortcut(key);
    // The main window and the display window (which shares the actions) take the keys;
    // other windows keep their own (F1 in the segments dialog opens its own topic).
    action->setShortcutContext(Qt::WindowShortcut);
  }
  if (image >= 0) action->setIcon(ImageListIcon(image));
  window.addAction(action);
  return action;
}

}  // namespace

TPlayerActions::TPlayerActions(QMainWindow& window) {
  auto make = [&window](const char* name, const char* caption, const char* hint, QKeySequence key, int image) {
    return MakeAction(window, name, caption, hint, key, image);
  };
  APlay = make("APlay", "Воспроизведение", "Воспроизведение", Qt::Key_F9, 0);
  APause = make("APause", "Пауза", "Пауза", Qt::Key_F10, 1);
  AStop = make("AStop", "Стоп", "Стоп", Qt::Key_F11, 2);
  ASegments = make("ASegments", "Сегменты", nullptr, Qt::Key_F6, 3);
  AAbout = make("AAbout", "О программе ...", nullptr, {}, -1);
  ALoadFromFile = make("ALoadFromFile", "Загрузить", "Открыть файл", QKeySequence(Qt::CTRL | Qt::Key_O), 6);
  AShowPanel = make("AShowPanel", "Отображать панель", nullptr, Qt::Key_F7, -1);
  ASetOwnWindow = make("ASetOwnWindow", "В отдельном окне", "В отдельном окне", Qt::Key_F8, -1);
  AExit = make("AExit", "Выход", nullptr, QKeySequence(Qt::ALT | Qt::Key_F4), 8);
  AExit->setShortcuts({QKeySequence(Qt::ALT | Qt::Key_F4), QKeySequence(Qt::CTRL | Qt::Key_Q)});
  AHelp = make("AHelp", "Справка", nullptr, Qt::Key_F1, 4);
  AExport = make("AExport", "Экспорт...", "Сохранить фильм в видеофайл", QKeySequence(Qt::CTRL | Qt::Key_E), -1);
  AExport->setEnabled(false);
  AShowPanel->setCheckable(true);
  ASetOwnWindow->setCheckable(true);

  // The keys people know from other players; none of them is one of the keys above.
  auto go = [&window](const char* name, const char* caption, QKeySequence key) {
    return MakeAction(window, name, caption, nullptr, key);
  };
  APlayPause = go("APlayPause", "Воспроизведение / пауза", Qt::Key_Space);
  ABack5 = go("ABack5", "Назад на 5 секунд", Qt::Key_Left);
  AForward5 = go("AForward5", "Вперёд на 5 секунд", Qt::Key_Right);
  ABack1 = go("ABack1", "Назад на 1 секунду", QKeySequence(Qt::SHIFT | Qt::Key_Left));
  AForward1 = go("AForward1", "Вперёд на 1 секунду", QKeySequence(Qt::SHIFT | Qt::Key_Right));
  ABack60 = go("ABack60", "Назад на 1 минуту", Qt::Key_Down);
  AForward60 = go("AForward60", "Вперёд на 1 минуту", Qt::Key_Up);
  AFilmStart = go("AFilmStart", "В начало фильма", Qt::Key_Home);
  AFilmEnd = go("AFilmEnd", "К последнему кадру", Qt::Key_End);
  APrevSegment = go("APrevSegment", "Предыдущий сегмент", Qt::Key_PageUp);
  ANextSegment = go("ANextSegment", "Следующий сегмент", Qt::Key_PageDown);
  APrevFrame = go("APrevFrame", "Предыдущий кадр", Qt::Key_Comma);
  ANextFrame = go("ANextFrame", "Следующий кадр", Qt::Key_Period);
  ASlower = go("ASlower", "Медленнее", Qt::Key_BracketLeft);
  AFaster = go("AFaster", "Быстрее", Qt::Key_BracketRight);
  ANormalSpeed = go("ANormalSpeed", "Обычная скорость", Qt::Key_Backspace);
  AFullScreen = go("AFullScreen", "Во весь экран", Qt::Key_F);
  AFullScreen->setCheckable(true);
  ALeaveFullScreen = go("ALeaveFullScreen", "Выйти из полноэкранного режима", Qt::Key_Escape);
  // Esc belongs to full screen only; otherwise it stays the key of whatever has the focus.
  ALeaveFullScreen->setEnabled(false);
  ASavePicture = go("ASavePicture", "Сохранить кадр", Qt::Key_S);
  ACopyPicture = go("ACopyPicture", "Копировать кадр", QKeySequence(Qt::CTRL | Qt::Key_C));
  AResume = go("AResume", "Продолжить с места остановки", Qt::Key_Return);
  AResume->setShortcuts({QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)});
  AFitToWindow = go("AFitToWindow", "По размеру окна", {});
  AFitToWindow->setCheckable(true);
  APrevChapter = go("APrevChapter", "Предыдущая глава", QKeySequence(Qt::SHIFT | Qt::Key_P));
  ANextChapter = go("ANextChapter", "Следующая глава", QKeySequence(Qt::SHIFT | Qt::Key_N));
  ASkipIdle = go("ASkipIdle", "Пропускать простои", {});
  ASkipIdle->setCheckable(true);

  QMenuBar* MainMenu1 = window.menuBar();
  QMenu* file = MainMenu1->addMenu(QStringLiteral("&Файл"));
  file->addAction(ALoadFromFile);
  mnuRecentFilms = new TRecentFilmsMenu(file);
  file->addMenu(mnuRecentFilms);
  file->addAction(AExport);
  file->addSeparator();
  file->addAction(AExit);
  QMenu* actions = MainMenu1->addMenu(QStringLiteral("&Действия"));
  actions->addActions({APlay, APause, AStop});
  actions->addSeparator();
  actions->addAction(ASegments);
  actions->addSeparator();
  actions->addAction(APlayPause);
  QMenu* jump = actions->addMenu(QStringLiteral("Переход"));
  jump->addActions({ABack5, AForward5, ABack1, AForward1, ABack60, AForward60});
  jump->addSeparator();
  jump->addActions({AFilmStart, AFilmEnd, APrevSegment, ANextSegment, APrevChapter, ANextChapter});
  jump->addSeparator();
  jump->addActions({APrevFrame, ANextFrame});
  QMenu* speed = actions->addMenu(QStringLiteral("Скорость"));
  speed->addActions({ASlower, AFaster, ANormalSpeed});
  actions->addAction(ASkipIdle);
  actions->addSeparator();
  actions->addActions({ASavePicture, ACopyPicture});
  QMenu* view = MainMenu1->addMenu(QStringLiteral("&Вид"));
  view->addActions({AShowPanel, ASetOwnWindow});
  view->addSeparator();
  view->addActions({AFitToWindow, AFullScreen});
  QMenu* help = MainMenu1->addMenu(QStringLiteral("&Справка"));
  help->addAction(AHelp);
  help->addSeparator();
  help->addAction(AAbout);

  pupMain = new QMenu(&window);
  pupMain->setObjectName(QStringLiteral("pupMain"));
  pupMain->addActions({ALoadFromFile, AExport});
  pupMain->addSeparator();
  pupMain->addActions({APlay, APause, AStop});
  pupMain->addSeparator();
  pupMain->addActions({ASegments, AShowPanel, ASetOwnWindow});
  pupMain->addSeparator();
  pupMain->addAction(AAbout);
  pupMain->addSeparator();
  pupMain->addAction(AExit);
  // In full screen the menu bar is hidden: the context menu offers the way back.
  pupMain->addSeparator();
  pupMain->addActions({AFullScreen, ASavePicture, ACopyPicture});
}

void TPlayerActions::FollowPlayState(TPlayState state) {
  ALoadFromFile->setEnabled(state == psStopped);
  if (state == psStopped) APlay->setEnabled(true);
  if (state == psPlaying) APause->setEnabled(true);
}
