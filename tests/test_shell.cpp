// The main window and the display window on the offscreen platform. Ticks are driven by the
// tests (TimerTimer), never by waiting.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <csignal>

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QProgressBar>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QProgressDialog>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QSlider>
#include <QSpinBox>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "film/Messages.h"
#include "filmwriter/FilmWriter.h"
#include "shell/app/PlayerSettings.h"
#include "shell/app/TPlayerApplication.h"
#include "shell/player/FilmMemory.h"
#include "shell/window/RecentFilmsMenu.h"
#include "shell/player/FilmSession.h"
#include "shell/window/TelvoriPlayerImpl1.h"
#include "shell/dialogs/UzrSegments.h"
#include "shell/app/UzrCommandLine.h"
#include "shell/window/UzrDisplay.h"
#include "shell/widgets/UzrPictureView.h"
#include "shell/widgets/UzrPresent.h"
#include "shell/widgets/UzrSeekBar.h"
#include "shell/player/FilmActivity.h"
#include "shell/player/FilmChapters.h"
#include "shell/widgets/PreviewPopup.h"
#include "shell/window/FilmIndexControl.h"
#include "shell/app/UzrStartup.h"
#include <QApplication>
#include <QContextMenuEvent>
#include <QPushButton>
#include <QScreen>
#include <QTableWidget>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHelpEvent>
#include <QMimeData>
#include <QWheelEvent>

#include "shell/dialogs/UzrExport.h"
#include "shell/dialogs/UzrHelp.h"
#include "support/FindChild.h"
#include "support/IndexedFilm.h"
#include "support/TestFilm.h"

namespace fs = std::filesystem;

namespace {

// Lets the later segments of the film loaded arrive (they are read while the first plays),
// and what comes with them be told.
void Settle(TTelvoriPlayer& player) {
  for (int wait = 0; wait < 30000 && player.Session().Reading(); ++wait) {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

class TTestPlayer : public TTelvoriPlayer {
 public:
  using TTelvoriPlayer::TTelvoriPlayer;
  // Opening a film as the player does, the whole film read before the test looks at it.
  void ALoadFromFileExecute() { TTelvoriPlayer::ALoadFromFileExecute(), Settle(*this); }
  bool OpenFilm(const std::string& path, bool offerResume = true) {
    const bool opened = TTelvoriPlayer::OpenFilm(path, offerResume);
    Settle(*this);
    return opened;
  }
  void OpenDroppedFilm(const QString& path) { TTelvoriPlayer::OpenDroppedFilm(path), Settle(*this); }
  struct TBox {
    QMessageBox::Icon Icon;
    QString Caption, Text, Details;
  };
  std::vector<TBox> Boxes;
  QStringList Results;
  // What happens when the user closes each result box.
  std::vector<std::function<void()>> ResultDismissals;
  QString NextFile;
  // The Open dialog itself, for the tests that look into it.
  QString ChooseWithTheDialog() { return TTelvoriPlayer::ChooseFilmFile(); }

  void MessageBox(QMessageBox::Icon icon, const QString& caption, const QString& text,
                  const QString& details) override {
    Boxes.push_back({icon, caption, text, details});
  }

 protected:
  void ResultBox(const QString& text, std::function<void()> dismissed) override {
    Results << text;
    ResultDismissals.push_back(std::move(dismissed));
  }
  QString ChooseFilmFile() override { return NextFile; }
};

// The program's start with a film, the whole film read before the test looks at it.
bool StartPlayer(TTestPlayer& player, const std::vector<std::string>& args) {
  const bool started = StartPlayer(static_cast<TTelvoriPlayer&>(player), args);
  Settle(player);
  return started;
}

// A 32-bit segment of solid pictures whose colour changes every frame.
TWriterSegment Solid(const std::string& name, int32_t w, int32_t h, int frames, uint8_t bits = 32) {
  TWriterSegment s;
  s.Name = name;
  s.Width = w, s.Height = h, s.BitsPerPixel = bits, s.FrameRate = 25;
  for (int k = 0; k < frames; ++k)
    s.Pictures.push_back(std::vector<uint32_t>(size_t(w) * size_t(h), 0x00204060u + uint32_t(k) * 0x010101u));
  return s;
}

struct TShellFixture : ::testing::Test {
  fs::path Root;
  std::unique_ptr<TTestPlayer> Player;
  std::unique_ptr<TfrmDisplay> Display;
  std::unique_ptr<TfrmSegments> Segments;

  void SetUp() override {
    char pattern[] = "/tmp/zrshell-XXXXXX";
    Root = ::mkdtemp(pattern);
    ::setenv("XDG_RUNTIME_DIR", Root.c_str(), 1);
    // The settings of each test's players, never the user's.
    ::setenv("XDG_CONFIG_HOME", (Root / "config").c_str(), 1);
    // The films' indexes kept by the players, never in the user's cache.
    ::setenv("XDG_CACHE_HOME", (Root / "cache").c_str(), 1);
    Make();
  }
  void TearDown() override {
    TTelvoriPlayer::AutoFullScreen = false;
    Segments.reset();
    Display.reset();
    Player.reset();
    std::error_code ec;
    fs::remove_all(Root, ec);
  }
  void Make(size_t frameBuffer = TPlaybackCore::kFrameBufferSize) {
    Segments.reset();
    Display.reset();
    Player = std::make_unique<TTestPlayer>(frameBuffer);
    Segments = std::make_unique<TfrmSegments>();
    Display = std::make_unique<TfrmDisplay>(*Player);
    Player->SetSegmentsDialog(Segments.get());
    Player->SetDisplayWindow(Display.get());
    Player->show();
    QApplication::setActiveWindow(Player.get());
  }
  std::string Film(const std::vector<TWriterSegment>& segments, const std::string& name = "film.zrcab") {
    const std::string path = (Root / name).string();
    WriteFileBytes(path, MakeFilmPackage(WriteFilm(segments)));
    return path;
  }
  void Load(const std::string& path) {
    Player->SetFileName(QString::fromStdString(path));
    ASSERT_TRUE(Player->LoadFilm(path));
    Settle();
  }
  void Settle() { ::Settle(*Player); }
  bool Highlighted(QToolButton* button) const { return Player->HighlightedButton() == button; }
  // An action or a widget of the main window by its object name; the notice and the loading
  // banner are found over the display window's picture while it shows the film.
  template <typename T = QAction>
  T* Find(const char* name) const {
    const bool overDisplay = Display && !Player->findChild<T*>(QString::fromUtf8(name));
    return overDisplay ? Child<T>(*Display, name) : Child<T>(*Player, name);
  }

  // Films that fail in each of the ways a user meets.
  std::string Missing() const { return (Root / "нет такого.zrcab").string(); }
  std::string Folder() {
    fs::create_directories(Root / "папка.zrcab");
    return (Root / "папка.zrcab").string();
  }
  std::string Foreign() {
    const std::string path = (Root / "junk.zrcab").string();
    WriteFileBytes(path, std::vector<uint8_t>(64, 'j'));
    return path;
  }
  std::string WithoutSegments() {
    const std::string path = (Root / "empty.zrcab").string();
    WriteFileBytes(path, MakeFilmPackage(std::vector<uint8_t>{0, 0, 0, 0}));
    return path;
  }
  // Three segments of 3, 4 and 5 frames, the film file cut `into` bytes after the end of its
  // first segment's block (negative: before it ends).
  std::string CutFilm(const std::string& name, ptrdiff_t into) {
    const std::vector<TWriterSegment> three = {Solid("a", 4, 4, 3), Solid("b", 4, 4, 4), Solid("c", 4, 4, 5)};
    const std::vector<uint8_t> whole = WriteFilm(three);
    const size_t firstBlockEnd = 4 + 3 * kSegmentListEntrySize +
                                 (WriteFilm(std::vector<TWriterSegment>{three[0]}).size() - (4 + kSegmentListEntrySize));
    const std::vector<uint8_t> cut(whole.begin(), whole.begin() + ptrdiff_t(firstBlockEnd) + into);
    const std::string path = (Root / name).string();
    WriteFileBytes(path, MakeFilmPackage(cut));
    return path;
  }
  std::string DamagedInSegment2() { return CutFilm("damaged.zrcab", 10); }
  std::string CutShort() { return CutFilm("cut.zrcab", -20); }

  // Runs the application's event loop until the program ends, and returns its exit status. The
  // guard only keeps a program that never ends from hanging the test.
  static int RunUntilTheProgramEnds() {
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    guard.start(30000);
    return QApplication::exec();
  }
  // Whether any window other than the main window is still shown.
  bool OtherWindowsVisible() const {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w != Player.get() && w->isVisible()) return true;
    return false;
  }
};

TEST_F(TShellFixture, AfterStartTheWindowIsStoppedWithItsPanel) {
  EXPECT_EQ(Player->windowTitle(), "veRirove v1.4.1");
  EXPECT_EQ(Player->PlayState(), psStopped);
  EXPECT_TRUE(Highlighted(Find<QToolButton>("btnStop")));
  EXPECT_TRUE(Find<QWidget>("pnlControls")->isVisible());
  EXPECT_TRUE(Find("AShowPanel")->isChecked());
  EXPECT_FALSE(Find("ASetOwnWindow")->isChecked());
  EXPECT_FALSE(Find<QToolButton>("btnInOwnWindow")->isChecked());
  EXPECT_TRUE(Find("ALoadFromFile")->isEnabled());
  EXPECT_FALSE(Find<QTimer>("Timer")->isActive());
  EXPECT_EQ(Player->minimumSize(), QSize(500, 300));
  EXPECT_EQ(Player->lbMessages.size(), 6);
  EXPECT_EQ(Player->lbMessages[4], "Неверный формат командной строки");
}

TEST_F(TShellFixture, ActionsMenusAndButtonsCarryTheirCaptionsHintsKeysAndPlaces) {
  struct Row {
    QAction* action;
    const char* caption;
    const char* hint;
    QKeySequence key;
    bool icon;
  };
  const Row rows[] = {
      {Find("APlay"), "Воспроизведение", "Воспроизведение", QKeySequence(Qt::Key_F9), true},
      {Find("APause"), "Пауза", "Пауза", QKeySequence(Qt::Key_F10), true},
      {Find("AStop"), "Стоп", "Стоп", QKeySequence(Qt::Key_F11), true},
      {Find("ASegments"), "Сегменты", "", QKeySequence(Qt::Key_F6), true},
      {Find("AAbout"), "О программе ...", "", QKeySequence(), false},
      {Find("ALoadFromFile"), "Загрузить", "Открыть файл", QKeySequence(Qt::CTRL | Qt::Key_O), true},
      {Find("AShowPanel"), "Отображать панель", "", QKeySequence(Qt::Key_F7), false},
      {Find("ASetOwnWindow"), "В отдельном окне", "В отдельном окне", QKeySequence(Qt::Key_F8), false},
      {Find("AExit"), "Выход", "", QKeySequence(Qt::ALT | Qt::Key_F4), true},
      {Find("AHelp"), "Справка", "", QKeySequence(Qt::Key_F1), true},
      {Find("AExport"), "Экспорт...", "Сохранить фильм в видеофайл", QKeySequence(Qt::CTRL | Qt::Key_E), false},
      {Find("AFitToWindow"), "По размеру окна", "", QKeySequence(), false},
      {Find("ASkipIdle"), "Пропускать простои", "", QKeySequence(), false},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(r.action->text(), QString::fromUtf8(r.caption));
    EXPECT_EQ(r.action->statusTip(), QString::fromUtf8(r.hint)) << r.caption;
    EXPECT_EQ(r.action->shortcut(), r.key) << r.caption;
    EXPECT_EQ(!r.action->icon().isNull(), r.icon) << r.caption;
  }
  auto items = [](const QMenu* menu) {
    QStringList texts;
    for (const QAction* a : menu->actions()) texts << (a->isSeparator() ? QStringLiteral("-") : a->text());
    return texts;
  };
  const QList<QAction*> top = Player->menuBar()->actions();
  ASSERT_EQ(top.size(), 4);
  EXPECT_EQ(top[0]->text(), "&Файл");
  // The commands beside them follow a separator; the window's own items keep their order.
  EXPECT_EQ(items(top[0]->menu()), (QStringList{"Загрузить", "Последние фильмы", "Экспорт...", "-", "Выход"}));
  EXPECT_EQ(items(top[1]->menu()),
            (QStringList{"Воспроизведение", "Пауза", "Стоп", "-", "Сегменты", "-", "Воспроизведение / пауза", "Переход",
                         "Скорость", "Пропускать простои", "-", "Сохранить кадр", "Копировать кадр"}));
  EXPECT_EQ(items(top[2]->menu()),
            (QStringList{"Отображать панель", "В отдельном окне", "-", "По размеру окна", "Во весь экран"}));
  EXPECT_EQ(items(top[3]->menu()), (QStringList{"Справка", "-", "О программе ..."}));
  EXPECT_EQ(items(Find<QMenu>("pupMain")),
            (QStringList{"Загрузить", "Экспорт...", "-", "Воспроизведение", "Пауза", "Стоп", "-", "Сегменты",
                         "Отображать панель", "В отдельном окне", "-", "О программе ...", "-", "Выход", "-",
                         "Во весь экран", "Сохранить кадр", "Копировать кадр"}));
  const QList<QAction*> actionsMenu = top[1]->menu()->actions();
  EXPECT_EQ(items(actionsMenu[7]->menu()),
            (QStringList{"Назад на 5 секунд", "Вперёд на 5 секунд", "Назад на 1 секунду", "Вперёд на 1 секунду",
                         "Назад на 1 минуту", "Вперёд на 1 минуту", "-", "В начало фильма", "К последнему кадру",
                         "Предыдущий сегмент", "Следующий сегмент", "Предыдущая глава", "Следующая глава", "-",
                         "Предыдущий кадр", "Следующий кадр"}));
  EXPECT_EQ(items(actionsMenu[8]->menu()), (QStringList{"Медленнее", "Быстрее", "Обычная скорость"}));
  // Their keys: none is one of the window's own.
  const std::pair<QAction*, QKeySequence> keys[] = {
      {Find("APlayPause"), QKeySequence(Qt::Key_Space)},
      {Find("ABack5"), QKeySequence(Qt::Key_Left)},
      {Find("AForward5"), QKeySequence(Qt::Key_Right)},
      {Find("ABack1"), QKeySequence(Qt::SHIFT | Qt::Key_Left)},
      {Find("AForward1"), QKeySequence(Qt::SHIFT | Qt::Key_Right)},
      {Find("ABack60"), QKeySequence(Qt::Key_Down)},
      {Find("AForward60"), QKeySequence(Qt::Key_Up)},
      {Find("AFilmStart"), QKeySequence(Qt::Key_Home)},
      {Find("AFilmEnd"), QKeySequence(Qt::Key_End)},
      {Find("APrevSegment"), QKeySequence(Qt::Key_PageUp)},
      {Find("ANextSegment"), QKeySequence(Qt::Key_PageDown)},
      {Find("APrevFrame"), QKeySequence(Qt::Key_Comma)},
      {Find("ANextFrame"), QKeySequence(Qt::Key_Period)},
      {Find("ASlower"), QKeySequence(Qt::Key_BracketLeft)},
      {Find("AFaster"), QKeySequence(Qt::Key_BracketRight)},
      {Find("ANormalSpeed"), QKeySequence(Qt::Key_Backspace)},
      {Find("AFullScreen"), QKeySequence(Qt::Key_F)},
      {Find("ALeaveFullScreen"), QKeySequence(Qt::Key_Escape)},
      {Find("ASavePicture"), QKeySequence(Qt::Key_S)},
      {Find("ACopyPicture"), QKeySequence(Qt::CTRL | Qt::Key_C)},
      {Find("AExit"), QKeySequence(Qt::CTRL | Qt::Key_Q)},
      {Find("AResume"), QKeySequence(Qt::Key_Return)},
      {Find("AResume"), QKeySequence(Qt::Key_Enter)},
      {Find("APrevChapter"), QKeySequence(Qt::SHIFT | Qt::Key_P)},
      {Find("ANextChapter"), QKeySequence(Qt::SHIFT | Qt::Key_N)},
  };
  QList<QKeySequence> seen;
  for (const QAction* a : Player->actions()) {
    for (const QKeySequence& key : a->shortcuts()) {
      EXPECT_FALSE(seen.contains(key)) << a->text().toStdString();
      seen << key;
    }
  }
  for (const auto& [action, key] : keys) EXPECT_TRUE(action->shortcuts().contains(key)) << action->text().toStdString();
  struct Button {
    QToolButton* button;
    int x, width;
    const char* hint;
  };
  const Button buttons[] = {{Find<QToolButton>("btnLoadFromFile"), 2, 20, "Открыть файл"}, {Find<QToolButton>("btnPlay"), 32, 18, "Воспроиведение"},
                            {Find<QToolButton>("btnPause"), 52, 20, "Пауза"},           {Find<QToolButton>("btnStop"), 74, 20, "Стоп"},
                            {Find<QToolButton>("btnSegments"), 102, 20, "Сегменты"},     {Find<QToolButton>("SpeedButton1"), 126, 20, "О программе..."},
                            {Find<QToolButton>("btnInOwnWindow"), 152, 18, "В отдельном окне"}};
  for (const auto& b : buttons) {
    EXPECT_EQ(b.button->geometry(), QRect(b.x, 2, b.width, 20)) << b.hint;
    EXPECT_EQ(b.button->toolTip(), QString::fromUtf8(b.hint));
    EXPECT_TRUE(b.button->autoRaise());
  }
  EXPECT_EQ(Find<TSeekBar>("pbrProgress")->geometry().topLeft(), QPoint(184, 7));
  EXPECT_EQ(Find<QWidget>("pnlControls")->height(), 24);
  // Ctrl+Q quits, as Alt+F4 does.
  ASSERT_TRUE(QTest::qWaitForWindowActive(Player.get()));
  QTest::keyClick(Player.get(), Qt::Key_Q, Qt::ControlModifier);
  EXPECT_FALSE(Player->isVisible());
}

TEST_F(TShellFixture, TransportStatesAndWhatTheControlsShow) {
  Load(Film({Solid("один", 8, 6, 5), Solid("два", 8, 6, 5)}));
  struct Step {
    const char* name;
    std::function<void()> act;
    TPlayState state;
    QToolButton* highlighted;
    bool timer;
    bool load;
  };
  const std::vector<Step> steps = {
      {"Play", [&] { Player->APlayExecute(); }, psPlaying, Find<QToolButton>("btnPlay"), true, false},
      {"Pause", [&] { Player->APauseExecute(); }, psPaused, Find<QToolButton>("btnPause"), false, false},
      {"Play while paused", [&] { Player->APlayExecute(); }, psPlaying, Find<QToolButton>("btnPlay"), true, false},
      {"Pause", [&] { Player->APauseExecute(); }, psPaused, Find<QToolButton>("btnPause"), false, false},
      {"Pause while paused", [&] { Player->APauseExecute(); }, psPlaying, Find<QToolButton>("btnPlay"), true, false},
      {"Play while playing", [&] { Player->APlayExecute(); }, psPlaying, Find<QToolButton>("btnPlay"), true, false},
      {"Stop", [&] { Player->AStopExecute(); }, psStopped, Find<QToolButton>("btnStop"), false, true},
      {"Pause while stopped", [&] { Player->APauseExecute(); }, psStopped, Find<QToolButton>("btnStop"), false, true},
  };
  for (const auto& s : steps) {
    s.act();
    EXPECT_EQ(Player->PlayState(), s.state) << s.name;
    EXPECT_TRUE(Highlighted(s.highlighted)) << s.name;
    EXPECT_EQ(Find<QTimer>("Timer")->isActive(), s.timer) << s.name;
    EXPECT_EQ(Find("ALoadFromFile")->isEnabled(), s.load) << s.name;
    EXPECT_EQ(Find<QToolButton>("btnLoadFromFile")->isEnabled(), s.load) << s.name;
    EXPECT_TRUE(Find("APlay")->isEnabled() && Find("APause")->isEnabled() && Find<QToolButton>("btnPlay")->isEnabled());
  }
  EXPECT_EQ(Player->Core().CurSegment(), 0);
  EXPECT_EQ(Find<TSeekBar>("pbrProgress")->value(), 0);
  EXPECT_TRUE(Player->PresentedPicture().isNull());
  EXPECT_TRUE(Player->Results.isEmpty());
}

TEST_F(TShellFixture, PlayWithoutAFilmChangesNothing) {
  Player->APlayExecute();
  EXPECT_EQ(Player->PlayState(), psStopped);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(TShellFixture, AFailedActivationIsReportedAndLeavesPlayingWithoutTimer) {
  Make(size_t(1) << 62);  // no frame buffer can be had
  // Reported while the window is made ("FormCreate: Segment Is Nil"), before the test's seam.
  ASSERT_EQ(Player->LastResult(), kResultSegmentIsNil);
  Load(Film({Solid("s", 4, 4, 2)}));
  Player->APlayExecute();
  EXPECT_EQ(Player->Results.back(), "APlay_PauseExecute: Segment Is Nil");
  EXPECT_EQ(Player->PlayState(), psPlaying);
  EXPECT_FALSE(Find<QTimer>("Timer")->isActive());
  EXPECT_EQ(Player->LastResult(), kResultSegmentIsNil);
}

TEST_F(TShellFixture, ProgressRunsOverThreeSegmentsAndReturnsToZero) {
  Load(Film({Solid("a", 4, 4, 10), Solid("b", 4, 4, 20), Solid("c", 4, 4, 5)}));
  EXPECT_EQ(Find<TSeekBar>("pbrProgress")->maximum(), 35);
  QSignalSpy spy(Find<TSeekBar>("pbrProgress"), &QProgressBar::valueChanged);
  Player->APlayExecute();
  for (int tick = 0; tick < 100 && Player->PlayState() == psPlaying; ++tick) Player->TimerTimer();
  QList<int> values;
  for (const auto& args : spy) values << args.at(0).toInt();
  QList<int> expected;
  for (int i = 1; i <= 35; ++i) expected << i;
  expected << 0;
  EXPECT_EQ(values, expected);
  EXPECT_EQ(Player->PlayState(), psStopped);
  EXPECT_EQ(Find<QLabel>("pnlPath")->text(), "film.zrcab");
}

TEST_F(TShellFixture, SegmentNamesShowWhilePlayingAndTheFileNameOtherwise) {
  Load(Film({Solid("Первый", 4, 4, 1), Solid("Второй", 4, 4, 3)}, "lesson.zrcab"));
  EXPECT_EQ(Find<QLabel>("pnlPath")->text(), "lesson.zrcab");
  Player->APlayExecute();
  EXPECT_EQ(Find<QLabel>("pnlPath")->text(), "Первый");
  EXPECT_EQ(Find<QTimer>("Timer")->interval(), 40);
  Player->TimerTimer();  // the one frame of the first segment, then the second is active
  EXPECT_EQ(Find<QLabel>("pnlPath")->text(), "Второй");
  EXPECT_EQ(Display->windowTitle(), "lesson.zrcab:  Второй");
  Player->AStopExecute();
  EXPECT_EQ(Find<QLabel>("pnlPath")->text(), "lesson.zrcab");
}

TEST_F(TShellFixture, F7AndF8InEachState) {
  Load(Film({Solid("s", 8, 6, 50)}));
  ASSERT_TRUE(QTest::qWaitForWindowActive(Player.get()));
  for (TPlayState state : {psStopped, psPlaying, psPaused}) {
    SCOPED_TRACE(int(state));
    Player->AStopExecute();
    if (state != psStopped) Player->APlayExecute();
    if (state == psPaused) Player->APauseExecute();
    ASSERT_EQ(Player->PlayState(), state);

    const QSize before = Player->PictureAreaSize();
    QTest::keyClick(Player.get(), Qt::Key_F7);
    EXPECT_FALSE(Find<QWidget>("pnlControls")->isVisible());
    EXPECT_FALSE(Find("AShowPanel")->isChecked());
    EXPECT_EQ(Player->PictureAreaSize().height(), before.height() + 24);
    QTest::keyClick(Player.get(), Qt::Key_F7);
    EXPECT_TRUE(Find<QWidget>("pnlControls")->isVisible());
    EXPECT_EQ(Player->PictureAreaSize(), before);

    QTest::keyClick(Player.get(), Qt::Key_F8);
    EXPECT_TRUE(Player->InOwnWindow());
    EXPECT_TRUE(Find("ASetOwnWindow")->isChecked());
    EXPECT_TRUE(Find<QToolButton>("btnInOwnWindow")->isChecked());
    // The display window shows only while playing.
    EXPECT_EQ(Display->isVisible(), state == psPlaying);
    QTest::keyClick(Display->isVisible() ? static_cast<QWidget*>(Display.get()) : Player.get(), Qt::Key_F8);
    EXPECT_FALSE(Player->InOwnWindow());
    EXPECT_FALSE(Display->isVisible());
    EXPECT_FALSE(Find<QToolButton>("btnInOwnWindow")->isChecked());
  }
}

TEST_F(TShellFixture, ClosingTheDisplayWindowLeavesSeparateWindowMode) {
  Load(Film({Solid("s", 8, 6, 50)}));
  Player->SetOwnWindow(true);
  Player->APlayExecute();
  ASSERT_TRUE(Display->isVisible());
  Player->TimerTimer();
  EXPECT_FALSE(Display->View()->grab().isNull());
  Display->close();
  EXPECT_FALSE(Player->InOwnWindow());
  EXPECT_FALSE(Find("ASetOwnWindow")->isChecked());
  EXPECT_EQ(Player->PlayState(), psPlaying);  // playing on in the main window
}

TEST_F(TShellFixture, TheEndOfTheFilmClosesTheDisplayWindowAndOnRequestTheProgram) {
  for (bool closeOnFinish : {false, true}) {
    Make();
    Load(Film({Solid("s", 8, 6, 3)}));
    Player->SetCloseOnFinish(closeOnFinish);
    Player->SetOwnWindow(true);
    Player->APlayExecute();
    ASSERT_TRUE(Display->isVisible());
    for (int tick = 0; tick < 10 && Player->PlayState() == psPlaying; ++tick) Player->TimerTimer();
    EXPECT_EQ(Player->PlayState(), psStopped);
    EXPECT_FALSE(Display->isVisible());
    EXPECT_FALSE(Player->InOwnWindow());
    EXPECT_EQ(Player->isVisible(), !closeOnFinish);
  }
}

TEST_F(TShellFixture, AFailureInAHandlerStopsPlaybackAndIsShown) {
  // A segment of 16 bits per pixel cannot be shown: its activation fails inside F9.
  Load(Film({Solid("ok", 4, 4, 3), Solid("ok2", 4, 4, 3)}));
  Player->Core().Segments()[1]->BitsPerPixel = 16;
  ASSERT_TRUE(QTest::qWaitForWindowActive(Player.get()));
  QTest::keyClick(Player.get(), Qt::Key_F9);
  ASSERT_EQ(Player->PlayState(), psPlaying);
  for (int tick = 0; tick < 5 && Player->PlayState() == psPlaying; ++tick)
    Player->Guarded([&] { Player->TimerTimer(); });
  ASSERT_EQ(Player->Boxes.size(), 1u);
  EXPECT_EQ(Player->Boxes[0].Caption, "Error");
  EXPECT_EQ(Player->Boxes[0].Icon, QMessageBox::Critical);
  EXPECT_EQ(Player->Boxes[0].Text, QString::fromUtf8(kLbMessages[0]));
  EXPECT_EQ(Player->PlayState(), psStopped);
  EXPECT_FALSE(Find<QTimer>("Timer")->isActive());
}

TEST_F(TShellFixture, TheApplicationHandsEscapingFailuresToTheWindow) {
  auto* app = dynamic_cast<TPlayerApplication*>(QCoreApplication::instance());
  ASSERT_NE(app, nullptr);
  QString seen;
  app->OnException = [&](const QString& message) { seen = message; };
  struct TThrower : QObject {
    bool event(QEvent*) override { throw std::runtime_error("Segment is too big"); }
  } thrower;
  QEvent event(QEvent::User);
  QCoreApplication::sendEvent(&thrower, &event);
  EXPECT_EQ(seen, "Segment is too big");
  app->OnException = nullptr;
}

TEST_F(TShellFixture, ALeftClickPlaysAndResumes) {
  Load(Film({Solid("s", 8, 6, 20)}));
  QWidget* view = Player->centralWidget()->findChild<TPictureView*>();
  ASSERT_NE(view, nullptr);
  QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(5, 5));
  EXPECT_EQ(Player->PlayState(), psPlaying);
  Player->APauseExecute();
  QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(5, 5));
  EXPECT_EQ(Player->PlayState(), psPlaying);
  QTest::mouseClick(view, Qt::MiddleButton, {}, QPoint(5, 5));
  EXPECT_EQ(Player->PlayState(), psPlaying);
}

// Both windows offer the main window's context menu; a left click plays only in the main
// window.
TEST_F(TShellFixture, TheDisplayWindowOffersTheMainWindowsMenuAndIgnoresALeftClick) {
  Load(Film({Solid("s", 8, 6, 50)}));
  Player->SetOwnWindow(true);
  Player->APlayExecute();
  ASSERT_TRUE(Display->isVisible());
  QWidget* mainView = Player->centralWidget()->findChild<TPictureView*>();
  ASSERT_NE(mainView, nullptr);
  struct Case {
    const char* name;
    std::function<void()> ask;
  };
  const Case cases[] = {
      {"a right click on the main window's view", [&] { QTest::mousePress(mainView, Qt::RightButton, {}, QPoint(5, 5)); }},
      {"a right click on the display window's picture",
       [&] { QTest::mousePress(Display->View(), Qt::RightButton, {}, QPoint(5, 5)); }},
      {"the menu key in the display window",
       [&] {
         QContextMenuEvent event(QContextMenuEvent::Keyboard, QPoint(5, 5), Display->mapToGlobal(QPoint(5, 5)));
         QApplication::sendEvent(Display.get(), &event);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Find<QMenu>("pupMain")->hide();
    c.ask();
    EXPECT_TRUE(Find<QMenu>("pupMain")->isVisible());
    EXPECT_EQ(Player->PlayState(), psPlaying);
  }
  Find<QMenu>("pupMain")->hide();
  Player->APauseExecute();
  QTest::mouseClick(Display->View(), Qt::LeftButton, {}, QPoint(5, 5));
  EXPECT_EQ(Player->PlayState(), psPaused);
}

TEST_F(TShellFixture, ThePictureIsPlacedAndRepaintedFromTheLastPresent) {
  Load(Film({Solid("big", 1024, 768, 3)}));
  Player->resize(792, 522 + 24 + Player->menuBar()->sizeHint().height());
  QApplication::processEvents();
  ASSERT_EQ(Player->PictureAreaSize(), QSize(792, 522));
  Player->APlayExecute();
  Player->TimerTimer();
  const TPlacement& p = Player->Placement();
  EXPECT_TRUE(p.Scaled);
  EXPECT_EQ(QRect(p.Left, p.Top, p.FitWidth, p.FitHeight), QRect(48, 0, 696, 522));
  // Paused, the window paints the presented picture whenever it is asked to.
  Player->APauseExecute();
  QWidget* view = Player->centralWidget()->findChild<TPictureView*>();
  const QImage shot = view->grab().toImage();
  EXPECT_EQ(shot.pixel(400, 260) & 0xFFFFFF, 0x204060u);  // frame 0 is presented, frame 1 composed
  EXPECT_EQ(shot.pixel(10, 260) & 0xFFFFFF, 0x808080u);   // the grey band
  Player->AStopExecute();
  EXPECT_EQ(view->grab().toImage().pixel(400, 260) & 0xFFFFFF, 0x808080u);
}

// The copy presented from pictures of every depth a picture can have in Qt's format of the same
// layout: every pixel in the picture's colour and opaque. Random bytes fill the rows, their
// padding, the fourth bytes of 32-bit pixels and the unused top bit of 16-bit ones; rows on a
// 2-byte boundary do not line up with Qt's. One image is reused across the cases, as from tick
// to tick.
TEST(CopyToPresented, EveryDepthGivesThePicturesColours) {
  struct TCase {
    const char* Name;
    int Bits;
    int32_t Width, Height;
    int RowAlign;
  };
  const TCase cases[] = {
      {"8-bit", 8, 37, 9, 4},         {"8-bit, rows on 2 bytes", 8, 5, 3, 2},
      {"16-bit", 16, 11, 6, 4},       {"16-bit, rows on 2 bytes", 16, 3, 4, 2},
      {"24-bit", 24, 13, 7, 4},       {"24-bit, rows on 2 bytes", 24, 7, 5, 2},
      {"32-bit", 32, 17, 8, 4},       {"32-bit again, same size", 32, 17, 8, 4},
      {"8-bit one pixel", 8, 1, 1, 4},
  };
  uint32_t seed = 777;
  auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return uint8_t(seed >> 16);
  };
  QImage presented;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    auto picture = TRasterBitmap::Create(c.Width, c.Height, c.Bits, c.RowAlign);
    ASSERT_TRUE(picture);
    for (uint8_t& b : picture->Pixels()) b = next();
    TColorTable palette;
    for (TColorEntry& e : palette) e = {next(), next(), next(), next()};
    if (c.Bits == 8) picture->SetColorTable(palette);
    CopyToPresented(*picture, palette, presented);
    ASSERT_EQ(presented.size(), QSize(c.Width, c.Height));
    int differing = 0;
    for (int32_t y = 0; y < c.Height; ++y)
      for (int32_t x = 0; x < c.Width; ++x) {
        const QRgb expected = 0xFF000000u | picture->PixelColor(x, y);
        // The stored word too: Qt's RGB32 keeps its fourth byte opaque.
        const QRgb stored = c.Bits == 32 ? reinterpret_cast<const QRgb*>(presented.constScanLine(y))[x] : presented.pixel(x, y);
        differing += presented.pixel(x, y) != expected || stored != expected;
      }
    EXPECT_EQ(differing, 0);
  }
  auto monochrome = TRasterBitmap::Create(8, 8, 1);
  CopyToPresented(*monochrome, TColorTable{}, presented);
  EXPECT_TRUE(presented.isNull());
}

// A picture of many colours: for 8 bits every index a palette record can set (0 to 254), otherwise colours spread over all three
// channels; different for every frame.
std::vector<uint32_t> Varied(int32_t w, int32_t h, int frame, int bits) {
  std::vector<uint32_t> picture(size_t(w) * size_t(h));
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      const uint32_t v = uint32_t(x * 7 + y * 131 + frame * 53) * 2654435761u;
      picture[size_t(y) * size_t(w) + size_t(x)] = bits == 8 ? (v >> 8) % 255 : v >> 8;
    }
  return picture;
}

// What the view paints at every film depth, in the main window at the film's size and shrunk
// into it: exactly what the window painted from its per-pixel conversion of the same frame (an
// RGB32 image of opaque colours, or an Indexed8 image with the palette of its frame), drawn
// on the grey ground where the placement puts it. The 8-bit palette changes with every frame:
// the presented frame keeps its own while the next one is composed with the next palette.
TEST_F(TShellFixture, TheViewPaintsThePresentedFrameInItsColoursAtEveryDepth) {
  struct TCase {
    const char* Name;
    int Bits;
    int32_t Width, Height;
  };
  const TCase cases[] = {
      {"8-bit", 8, 40, 30}, {"24-bit", 24, 40, 30}, {"32-bit", 32, 40, 30},
      {"8-bit shrunk", 8, 1024, 768}, {"32-bit shrunk", 32, 1024, 768},
  };
  Player->resize(792, 522 + 24 + Player->menuBar()->sizeHint().height());
  QApplication::processEvents();
  ASSERT_EQ(Player->PictureAreaSize(), QSize(792, 522));
  TPictureView* view = Player->centralWidget()->findChild<TPictureView*>();
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TWriterSegment s;
    s.Name = c.Name;
    s.Width = c.Width, s.Height = c.Height, s.BitsPerPixel = uint8_t(c.Bits), s.FrameRate = 25;
    // Four frames: the film would end (and the picture go) when the last one is composed.
    std::vector<TColorTable> palettes(4);
    for (int k = 0; k < 4; ++k) {
      s.Pictures.push_back(Varied(c.Width, c.Height, k, c.Bits));
      if (c.Bits != 8) continue;
      for (int i = 0; i < 255; ++i) {
        const uint32_t v = uint32_t(i * 97 + k * 31) * 2654435761u;
        palettes[size_t(k)][size_t(i)] = {uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24), 0};
      }
      s.PaletteChanges.push_back({0, std::vector<TColorEntry>(palettes[size_t(k)].begin(), palettes[size_t(k)].begin() + 255)});
    }
    Player->AStopExecute();
    Load(Film({s}, std::string("depth") + std::to_string(c.Bits) + "-" + std::to_string(c.Width) + ".zrcab"));
    Player->APlayExecute();
    Player->TimerTimer();
    Player->APauseExecute();
    for (int k = 0; k < 2; ++k) {
      SCOPED_TRACE(k);
      if (k > 0) Player->TimerTimer();
      // The frame as the window converted it before.
      QImage frame(c.Width, c.Height, c.Bits == 8 ? QImage::Format_Indexed8 : QImage::Format_RGB32);
      if (c.Bits == 8) {
        QVector<QRgb> colours(256);
        for (int i = 0; i < 256; ++i) {
          const TColorEntry& e = palettes[size_t(k)][size_t(i)];
          colours[i] = qRgb(e.Red, e.Green, e.Blue);
        }
        frame.setColorTable(colours);
      }
      for (int32_t y = 0; y < c.Height; ++y)
        for (int32_t x = 0; x < c.Width; ++x) {
          const uint32_t v = s.Pictures[size_t(k)][size_t(y) * size_t(c.Width) + size_t(x)];
          if (c.Bits == 8) frame.scanLine(y)[x] = uint8_t(v);
          else reinterpret_cast<QRgb*>(frame.scanLine(y))[x] = 0xFF000000u | v;
        }
      const QImage shot = view->grab().toImage().convertToFormat(QImage::Format_RGB32);
      QImage expected(shot.size(), QImage::Format_RGB32);
      {
        QPainter painter(&expected);
        painter.fillRect(expected.rect(), QColor(128, 128, 128));
        const TPlacement& p = Player->Placement();
        EXPECT_EQ(p.Scaled, c.Width > 792);
        if (p.Scaled) {
          painter.setRenderHint(QPainter::SmoothPixmapTransform);
          painter.drawImage(QRect(p.Left, p.Top, p.FitWidth, p.FitHeight), frame);
        } else {
          painter.drawImage(QPoint(p.Left, p.Top), frame);
        }
      }
      int differing = 0;
      for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x) differing += (shot.pixel(x, y) & 0xFFFFFF) != (expected.pixel(x, y) & 0xFFFFFF);
      EXPECT_EQ(differing, 0);
    }
  }
}

TEST_F(TShellFixture, OpeningFilmsAndTheirFailures) {
  Player->NextFile = QString::fromStdString(Film({Solid("s", 4, 4, 2)}, "chosen.zrcab"));
  Player->ALoadFromFileExecute();
  EXPECT_EQ(Player->Core().Segments().size(), 1u);
  EXPECT_EQ(Find<QLabel>("pnlPath")->text(), "chosen.zrcab");
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  // A foreign file: its message, and the window stays stopped and usable.
  const std::string junk = (Root / "junk.zrcab").string();
  WriteFileBytes(junk, std::vector<uint8_t>(64, 'j'));
  Player->NextFile = QString::fromStdString(junk);
  Player->ALoadFromFileExecute();
  ASSERT_EQ(Player->Boxes.size(), 1u);
  EXPECT_EQ(Player->Boxes[0].Text, "Данный формат файла не поддерживается\n" + QString::fromStdString(junk));
  EXPECT_FALSE(Player->Boxes[0].Details.isEmpty());
  EXPECT_TRUE(Player->Core().Segments().empty());
  EXPECT_EQ(Player->PlayState(), psStopped);
  // While playing, opening is disabled.
  Player->NextFile = QString::fromStdString(Film({Solid("s", 4, 4, 20)}, "again.zrcab"));
  Player->ALoadFromFileExecute();
  Player->APlayExecute();
  EXPECT_FALSE(Find("ALoadFromFile")->isEnabled());
  EXPECT_FALSE(Find<QToolButton>("btnLoadFromFile")->isEnabled());
}

// The segments dialog's list.
QTableWidget* SegmentsGrid(const TfrmSegments& dialog) { return Child<QTableWidget>(dialog, "sgdSegments"); }

TEST_F(TShellFixture, TheSegmentsDialogListsNumbersNamesAndDurations) {
  Load(Film({Solid("Первый", 2, 2, 3), Solid("Второй", 2, 2, 2)}));
  Player->Core().Segments()[0]->FrameCount = 1234;
  Player->Core().Segments()[0]->FrameRate = 10;
  Player->Core().Segments()[1]->FrameRate = 0;
  Player->ASegmentsExecute();
  ASSERT_TRUE(Segments->isVisible());
  EXPECT_EQ(Segments->windowTitle(), "Управление Сегментами");
  QTableWidget* grid = SegmentsGrid(*Segments);
  ASSERT_EQ(grid->rowCount(), 2);
  EXPECT_EQ(grid->horizontalHeaderItem(0)->text(), "№");
  EXPECT_EQ(grid->horizontalHeaderItem(1)->text(), "Название");
  EXPECT_EQ(grid->horizontalHeaderItem(2)->text(), "Время");
  EXPECT_EQ(grid->item(0, 0)->text(), "1");
  EXPECT_EQ(grid->item(0, 1)->text(), "Первый");
  EXPECT_EQ(grid->item(0, 2)->text(), "00:02:03.400");
  EXPECT_EQ(grid->item(1, 2)->text(), "");
  EXPECT_EQ(grid->columnWidth(1), 430);
  // ASegments again closes it; Esc closes it without a choice.
  Player->ASegmentsExecute();
  EXPECT_FALSE(Segments->isVisible());
  Player->ASegmentsExecute();
  grid->setCurrentCell(1, 0);
  QTest::keyClick(grid, Qt::Key_Escape);
  EXPECT_FALSE(Segments->isVisible());
  EXPECT_EQ(Player->Core().CurSegment(), 0);
}

TEST_F(TShellFixture, ChoosingASegmentByTransportState) {
  struct Case {
    const char* name;
    TPlayState before;
    int32_t current;   // segment current before the choice
    int row;           // the chosen row, 0-based
    TPlayState after;
    int32_t segment;   // FCurSegment afterwards
    bool restarted;    // playing from the chosen segment's first frame
    const char* clock;  // the time on the panel afterwards
  };
  // Segments of 20 frames at 25 a second: each starts 0.8 s after the one before.
  const Case cases[] = {
      {"stopped: becomes current", psStopped, 0, 2, psStopped, 2, false, "0:00:01 / 0:00:02"},
      {"playing: restarts there", psPlaying, 0, 1, psPlaying, 1, true, "0:00:00 / 0:00:02"},
      {"playing the same: restarts it", psPlaying, 1, 1, psPlaying, 1, true, "0:00:00 / 0:00:02"},
      {"playing the third, back to the first", psPlaying, 2, 0, psPlaying, 0, true, "0:00:00 / 0:00:02"},
      {"paused on the same: stays paused", psPaused, 1, 1, psPaused, 1, false, "0:00:00 / 0:00:02"},
      {"paused, another: stops there, its start on the clock", psPaused, 0, 2, psStopped, 2, false,
       "0:00:01 / 0:00:02"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Make();
    Load(Film({Solid("a", 2, 2, 20), Solid("b", 2, 2, 20), Solid("c", 2, 2, 20)}));
    if (c.before != psStopped) {
      Player->Core().SelectSegment(c.current);
      Player->APlayExecute();
      for (int tick = 0; tick < 3; ++tick) Player->TimerTimer();
      if (c.before == psPaused) Player->APauseExecute();
    }
    const int32_t frameBefore = Player->Core().FrameIndex();
    Player->ASegmentsExecute();
    QTableWidget* grid = SegmentsGrid(*Segments);
    // It opens on the segment on screen: Enter stays there.
    EXPECT_EQ(grid->currentRow(), c.current);
    EXPECT_EQ(grid->selectionModel()->selectedRows().value(0).row(), c.current);
    grid->setCurrentCell(c.row, 1);
    QTest::keyClick(grid, Qt::Key_Return);
    EXPECT_FALSE(Segments->isVisible());
    EXPECT_EQ(Player->PlayState(), c.after);
    EXPECT_EQ(Player->Core().CurSegment(), c.segment);
    if (c.restarted) {
      EXPECT_EQ(Player->Core().FrameIndex(), 0);
    }
    if (c.before == psPaused && c.after == psPaused) {
      EXPECT_EQ(Player->Core().FrameIndex(), frameBefore);
    }
    EXPECT_EQ(Find<QLabel>("lblTime")->text(), c.clock);
  }
  // After a choice while stopped, Play starts at the chosen segment.
  Player->APlayExecute();
  EXPECT_EQ(Find<QLabel>("pnlPath")->text(), "c");
}

// The dialog alone, with no player: each way of choosing tells the row once and closes it;
// Esc tells nothing.
TEST(SegmentsDialog, TellsTheChosenRowAndCloses) {
  struct Case {
    const char* name;
    std::function<void(TfrmSegments&)> act;
    QList<int> told;
  };
  const Case cases[] = {
      {"Enter", [](TfrmSegments& d) { QTest::keyClick(SegmentsGrid(d), Qt::Key_Return); }, {2}},
      {"keypad Enter", [](TfrmSegments& d) { QTest::keyClick(SegmentsGrid(d), Qt::Key_Enter); }, {2}},
      {"double click", [](TfrmSegments& d) { emit SegmentsGrid(d)->cellDoubleClicked(2, 1); }, {2}},
      {"the button", [](TfrmSegments& d) { Child<QPushButton>(d, "btnClose")->click(); }, {2}},
      {"Esc", [](TfrmSegments& d) { QTest::keyClick(SegmentsGrid(d), Qt::Key_Escape); }, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TfrmSegments dialog;
    dialog.SetRows({{"a", 5, 25}, {"b", 5, 25}, {"c", 5, 25}});
    dialog.show();
    SegmentsGrid(dialog)->setCurrentCell(2, 1);
    QSignalSpy spy(&dialog, &TfrmSegments::SegmentChosen);
    c.act(dialog);
    QList<int> told;
    for (const auto& args : spy) told << args.at(0).toInt();
    EXPECT_EQ(told, c.told);
    EXPECT_FALSE(dialog.isVisible());
  }
}

TEST_F(TShellFixture, HelpFromTheSegmentsDialogOpensItsTopicOverIt) {
  QSignalSpy spy(Segments.get(), &TfrmSegments::HelpRequested);
  Segments->show();
  Child<QAction>(*Segments, "AHelp")->trigger();
  ASSERT_EQ(spy.size(), 1);
  EXPECT_EQ(spy[0].at(0).toString(), "::/veRirove_v1_2.htm#Segments");
  // The viewer comes up over the dialog, which stays on top; over the main window it is an
  // ordinary window.
  ASSERT_NE(HelpViewer(), nullptr);
  EXPECT_TRUE(HelpViewer()->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  Find("AHelp")->trigger();
  EXPECT_FALSE(HelpViewer()->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  CloseHelpViewer();
}

TEST_F(TShellFixture, AFilmThatIsNotLoadedIsListedFromItsFile) {
  const auto path = Film({Solid("x", 2, 2, 5), Solid("y", 2, 2, 5)});
  Player->SetFileName(QString::fromStdString(path));
  Player->ASegmentsExecute();
  ASSERT_TRUE(Segments->isVisible());
  EXPECT_EQ(SegmentsGrid(*Segments)->rowCount(), 2);
  EXPECT_EQ(SegmentsGrid(*Segments)->item(1, 1)->text(), "y");
  EXPECT_TRUE(Player->Core().Segments().empty());
  // Choosing only closes the dialog.
  emit SegmentsGrid(*Segments)->cellDoubleClicked(1, 1);
  EXPECT_FALSE(Segments->isVisible());
  EXPECT_EQ(Player->PlayState(), psStopped);
  // Without a film nothing is shown.
  Player->SetFileName(QString());
  Segments->SetRows({});
  Player->ASegmentsExecute();
  EXPECT_FALSE(Segments->isVisible());
}

// ---- Start-up: the window's bounds ----

TEST(FitWindowBounds, TheWindowStaysWithinTheAvailableAreaAndAboveItsMinimum) {
  const QSize minimum(500, 300);
  const QRect screen(0, 0, 1280, 1024);
  struct Case {
    const char* name;
    std::vector<std::string> args;  // the command line, read for a 1280 × 1024 screen
    QRect available;
    QRect expected;
  };
  const Case cases[] = {
      {"a normal window stays as asked", {"/size", "640", "480", "/pos", "c"}, screen, {320, 272, 640, 480}},
      {"a window at the edges stays", {"/size", "640", "480", "/pos", "r", "b"}, screen, {640, 544, 640, 480}},
      {"the minimum stays", {"/size", "min", "/pos", "10", "20"}, screen, {10, 20, 500, 300}},
      {"a film alone: the screen", {"film.zrcab"}, screen, screen},
      {"99999 × 99999: the available area", {"/size", "99999", "99999"}, screen, screen},
      {"8000 × 6000: the available area", {"/size", "8000", "6000"}, screen, screen},
      {"2000 × 1500 with its negative corner", {"/size", "2000", "1500"}, QRect(0, 0, 1024, 768), QRect(0, 0, 1024, 768)},
      {"the largest numbers", {"/size", "2147483647", "2147483647", "/pos", "-2147483648", "$7FFFFFFF"}, screen, screen},
      {"too small: the minimum", {"/size", "100", "-5", "/pos", "1270", "1000"}, screen, {780, 724, 500, 300}},
      {"a panel at the top: the title bar below it", {"/size", "640", "480", "/pos", "0", "0"}, QRect(0, 30, 1280, 994),
       {0, 30, 640, 480}},
      {"a panel at the bottom: the window above it", {"/size", "640", "480", "/pos", "l", "b"}, QRect(0, 0, 1280, 994),
       {0, 514, 640, 480}},
      {"a panel at the left: the window beside it", {"/size", "1280", "600"}, QRect(48, 0, 1232, 1024),
       {48, 0, 1232, 600}},
      {"a screen smaller than the minimum: the corner in it", {"/size", "640", "480"}, QRect(0, 0, 400, 200),
       {0, 0, 500, 300}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TStartOptions options;
    ASSERT_TRUE(ParseCommandLine(c.args, 1280, 1024, 500, 300, options));
    const QRect fitted = FitWindowBounds({options.WinLeft, options.WinTop, options.WinWidth, options.WinHeight},
                                         c.available, minimum);
    EXPECT_EQ(fitted, c.expected);
  }
}

TEST_F(TShellFixture, AHugeSizeOnTheCommandLineGivesAWindowOnTheScreen) {
  for (const char* size : {"99999", "8000"}) {
    SCOPED_TRACE(size);
    Make();
    ASSERT_TRUE(StartPlayer(*Player, {"/size", size, size}));
    const QRect area = Player->screen()->availableGeometry();
    EXPECT_FALSE(Player->isMaximized());
    EXPECT_TRUE(area.contains(Player->frameGeometry())) << Player->frameGeometry().width();
    EXPECT_GE(Player->width(), 500);
    EXPECT_GE(Player->height(), 300);
  }
}

// ---- Start-up and the end of the program ----

TEST_F(TShellFixture, ClosingTheMainWindowEndsTheProgramWhateverElseIsOpen) {
  struct Case {
    const char* name;
    std::function<void()> open;  // opens the other window; the main window closes afterwards
  };
  std::unique_ptr<QMessageBox> ownerless;
  const Case cases[] = {
      {"the segments dialog",
       [&] {
         Load(Film({Solid("a", 2, 2, 5), Solid("b", 2, 2, 5)}));
         Player->ASegmentsExecute();
         ASSERT_TRUE(Segments->isVisible());
       }},
      {"the display window while playing",
       [&] {
         Load(Film({Solid("a", 8, 6, 200)}));
         Player->SetOwnWindow(true);
         Player->APlayExecute();
         ASSERT_TRUE(Display->isVisible());
       }},
      {"an ownerless box",
       [&] {
         ownerless = std::make_unique<QMessageBox>(QMessageBox::Information, "Result", "TimerPlayTimer: Frame Is Nil");
         ownerless->setModal(false);
         ownerless->show();
       }},
      {"a modal box in its own event loop",
       [&] {
         QTimer::singleShot(0, Player.get(), [&] {
           QMessageBox box(QMessageBox::Information, "veRirove", "modal", QMessageBox::Ok, Player.get());
           QTimer::singleShot(0, Player.get(), [&] { Player->close(); });
           box.exec();
         });
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Make();
    EndWithMainWindow(*Player);
    c.open();
    QTimer::singleShot(0, Player.get(), [&] { Player->close(); });
    EXPECT_EQ(RunUntilTheProgramEnds(), 0);
    EXPECT_FALSE(Player->isVisible());
    EXPECT_FALSE(OtherWindowsVisible());
  }
}

TEST_F(TShellFixture, AFilmOnTheCommandLineThatCannotBeOpenedIsToldAndLeavesNoFilm) {
  struct Case {
    const char* name;
    std::string film;
    QString text;
  };
  const std::string missing = Missing(), folder = Folder();
  const Case cases[] = {
      {"no such file", missing, QString::fromStdString("Файл «" + missing + "» не найден.")},
      {"a folder", folder, QString::fromStdString("«" + folder + "» — это папка, а не файл фильма.")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Make();
    ASSERT_TRUE(StartPlayer(*Player, {c.film, "/size", "640", "480"}));
    ASSERT_EQ(Player->Boxes.size(), 1u);
    EXPECT_EQ(Player->Boxes[0].Icon, QMessageBox::Warning);
    EXPECT_EQ(Player->Boxes[0].Text, c.text);
    EXPECT_TRUE(Player->isVisible());
    EXPECT_EQ(Player->FileName(), "");
    EXPECT_EQ(Find<QLabel>("pnlPath")->text(), "");
    EXPECT_EQ(Player->PlayState(), psStopped);
    EXPECT_EQ(Player->ExitStatus(), 1);
  }
}

TEST_F(TShellFixture, TheExitStatusSaysWhetherTheFilmPlayed) {
  struct Case {
    const char* name;
    std::string film;
    bool closeOnFinish;  // without it the user closes the window
    int status;
    size_t boxes;
    int played;  // frames shown before the end
  };
  const std::string good = Film({Solid("a", 4, 4, 3), Solid("b", 4, 4, 2)}, "good.zrcab");
  const Case cases[] = {
      {"a good film plays to its end", good, true, 0, 0, 5},
      {"a missing film", Missing(), true, 1, 1, 0},
      {"a folder", Folder(), true, 1, 1, 0},
      {"a foreign file", Foreign(), true, 1, 1, 0},
      {"a film cut short in its first segment", CutShort(), true, 1, 1, 0},
      {"a film without segments", WithoutSegments(), true, 1, 1, 0},
      {"a film damaged in segment 2 plays segment 1", DamagedInSegment2(), true, 1, 1, 3},
      {"a missing film, the window closed by the user", Missing(), false, 1, 1, 0},
      {"a good film, the window closed by the user", good, false, 0, 0, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Make();
    EndWithMainWindow(*Player);
    QSignalSpy progress(Find<TSeekBar>("pbrProgress"), &QProgressBar::valueChanged);
    std::vector<std::string> args = {c.film};
    if (c.closeOnFinish) args.push_back("/closeonfinish");
    // The rest of the film is read in the program's own loop, which its end ends.
    ASSERT_TRUE(StartPlayer(static_cast<TTelvoriPlayer&>(*Player), args));
    if (!c.closeOnFinish) {
      // Nothing ends by itself.
      QApplication::processEvents();
      EXPECT_TRUE(Player->isVisible());
      QTimer::singleShot(0, Player.get(), [&] { Player->close(); });
    }
    EXPECT_EQ(RunUntilTheProgramEnds(), c.status);
    EXPECT_EQ(Player->Boxes.size(), c.boxes);
    int most = 0;
    for (const auto& args : progress) most = std::max(most, args.at(0).toInt());
    if (c.played >= 0) {
      EXPECT_EQ(most, c.played);
    }
  }
}

TEST_F(TShellFixture, PlaybackFailuresWithCloseOnFinishEndTheProgramAfterTheirMessage) {
  // A result box: the program ends once the user has closed it.
  EndWithMainWindow(*Player);
  Load(Film({Solid("a", 4, 4, 50)}));
  Player->SetCloseOnFinish(true);
  Player->APlayExecute();
  Player->ShowResult("TimerPlayTimer", kResultFrameIsNil);
  QApplication::processEvents();
  EXPECT_TRUE(Player->isVisible());
  ASSERT_EQ(Player->ResultDismissals.size(), 1u);
  Player->ResultDismissals[0]();
  EXPECT_EQ(RunUntilTheProgramEnds(), 1);
  // A failure that escapes a handler: its box, then the end.
  Make();
  EndWithMainWindow(*Player);
  Load(Film({Solid("a", 4, 4, 50)}));
  Player->SetCloseOnFinish(true);
  Player->APlayExecute();
  Player->Guarded([] { throw std::runtime_error("Segment is too big"); });
  ASSERT_EQ(Player->Boxes.size(), 1u);
  EXPECT_EQ(Player->PlayState(), psStopped);
  EXPECT_EQ(RunUntilTheProgramEnds(), 1);
  // A film opened later that loads completely clears the failure of the one before.
  Make();
  EndWithMainWindow(*Player);
  ASSERT_TRUE(StartPlayer(*Player, {Missing()}));
  EXPECT_EQ(Player->ExitStatus(), 1);
  Player->NextFile = QString::fromStdString(Film({Solid("a", 4, 4, 2)}, "later.zrcab"));
  Player->ALoadFromFileExecute();
  EXPECT_EQ(Player->ExitStatus(), 0);
  QTimer::singleShot(0, Player.get(), [&] { Player->close(); });
  EXPECT_EQ(RunUntilTheProgramEnds(), 0);
}

// ---- Opening films: what the window shows and says ----

TEST_F(TShellFixture, CancelInTheOpenDialogChangesNothing) {
  Player->NextFile = QString::fromStdString(Film({Solid("a", 4, 4, 5), Solid("b", 4, 4, 5)}, "kept.zrcab"));
  Player->ALoadFromFileExecute();
  ASSERT_EQ(Player->Core().Segments().size(), 2u);
  Player->NextFile.clear();  // Cancel
  Player->ALoadFromFileExecute();
  EXPECT_EQ(Player->Core().Segments().size(), 2u);
  EXPECT_EQ(Find<QLabel>("pnlPath")->text(), "kept.zrcab");
  EXPECT_TRUE(Player->Loader().Loaded);
  EXPECT_TRUE(Player->Boxes.empty());
  Player->ASegmentsExecute();
  EXPECT_TRUE(Segments->isVisible());
  EXPECT_EQ(SegmentsGrid(*Segments)->rowCount(), 2);
  Player->APlayExecute();
  EXPECT_EQ(Player->PlayState(), psPlaying);
  EXPECT_EQ(Find<QLabel>("pnlPath")->text(), "a");
}

// The words for each film that fails, the same from the Open dialog and from the command
// line; afterwards the window shows no film.
TEST_F(TShellFixture, AFilmThatFailsIsToldByNameAndLeavesNoFilm) {
  struct Case {
    const char* name;
    std::string film;
    QMessageBox::Icon icon;
    QString caption;
    QString text;
    QString details;  // a part of the details; empty: none
  };
  const std::string missing = Missing(), folder = Folder(), foreign = Foreign(), cut = CutShort(),
                    empty = WithoutSegments();
  const auto q = [](const std::string& path) { return QString::fromStdString(path); };
  const Case cases[] = {
      {"no such file", missing, QMessageBox::Warning, "veRirove", "Файл «" + q(missing) + "» не найден.", ""},
      {"a folder", folder, QMessageBox::Warning, "veRirove", "«" + q(folder) + "» — это папка, а не файл фильма.", ""},
      {"a foreign file", foreign, QMessageBox::NoIcon, "veRirove",
       "Данный формат файла не поддерживается\n" + q(foreign), "junk.zrcab"},
      {"a film cut short", cut, QMessageBox::Critical, "Error",
       "Файл фильма «" + q(cut) + "» обрывается: вероятно, он скопирован или скачан не полностью.",
       "LoadSegmentFromStream"},
      {"a film without segments", empty, QMessageBox::Warning, "veRirove",
       "В фильме «" + q(empty) + "» нет ни одного сегмента.", ""},
  };
  for (const auto& c : cases) {
    for (const bool fromCommandLine : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (fromCommandLine ? ", command line" : ", Open dialog"));
      Make();
      // A film that plays, listed in the segments dialog, then the one that fails.
      Player->NextFile = QString::fromStdString(Film({Solid("a", 4, 4, 5), Solid("b", 4, 4, 5)}, "before.zrcab"));
      Player->ALoadFromFileExecute();
      Player->ASegmentsExecute();
      Find<TSeekBar>("pbrProgress")->setValue(3);
      ASSERT_TRUE(Segments->isVisible());
      if (fromCommandLine) {
        ASSERT_TRUE(StartPlayer(*Player, {c.film, "/size", "640", "480"}));
      } else {
        Player->NextFile = QString::fromStdString(c.film);
        Player->ALoadFromFileExecute();
      }
      ASSERT_EQ(Player->Boxes.size(), 1u);
      const auto& box = Player->Boxes[0];
      EXPECT_EQ(box.Icon, c.icon);
      EXPECT_EQ(box.Caption, c.caption);
      EXPECT_EQ(box.Text, c.text);
      if (!c.details.isEmpty()) {
        EXPECT_TRUE(box.Details.contains(c.details)) << box.Details.toStdString();
      }
      // No film: nothing named, listed or playable.
      EXPECT_TRUE(Player->Core().Segments().empty());
      EXPECT_EQ(Player->FileName(), "");
      EXPECT_EQ(Find<QLabel>("pnlPath")->text(), "");
      EXPECT_EQ(Find<TSeekBar>("pbrProgress")->value(), 0);
      EXPECT_FALSE(Segments->isVisible());
      EXPECT_FALSE(Segments->HasFirstRow());
      Player->APlayExecute();
      EXPECT_EQ(Player->PlayState(), psStopped);
      Player->ASegmentsExecute();
      EXPECT_FALSE(Segments->isVisible());
      EXPECT_EQ(Player->Boxes.size(), 1u);
      EXPECT_EQ(Player->ExitStatus(), 1);
    }
  }
}

TEST_F(TShellFixture, AFilmDamagedInSegment2Of3PlaysSegment1AfterItsWarning) {
  const std::string damaged = DamagedInSegment2();
  Player->NextFile = QString::fromStdString(damaged);
  Player->ALoadFromFileExecute();
  ASSERT_EQ(Player->Boxes.size(), 1u);
  EXPECT_EQ(Player->Boxes[0].Icon, QMessageBox::Warning);
  EXPECT_EQ(Player->Boxes[0].Text, QString::fromStdString("Файл фильма «" + damaged +
                                                          "» обрывается: вероятно, он скопирован или скачан не "
                                                          "полностью. Сегмент 2 из\u00A03 прочитать не удалось. Будет "
                                                          "воспроизведён только первый сегмент."));
  EXPECT_TRUE(Player->Boxes[0].Details.contains("segment 2")) << Player->Boxes[0].Details.toStdString();
  EXPECT_EQ(Find<QLabel>("pnlPath")->text(), "damaged.zrcab");
  Player->ASegmentsExecute();
  EXPECT_EQ(SegmentsGrid(*Segments)->rowCount(), 1);  // only the segment that plays
  Segments->close();
  Player->APlayExecute();
  for (int tick = 0; tick < 20 && Player->PlayState() == psPlaying; ++tick) Player->TimerTimer();
  EXPECT_EQ(Player->PlayState(), psStopped);
  EXPECT_EQ(Find<TSeekBar>("pbrProgress")->maximum(), 3);
  EXPECT_EQ(Player->ExitStatus(), 1);
}

// A film plays its first segment while the later ones are read (the reading held after the
// first here): the clock says "…" for the length, the progress bar and the segments dialog
// fill in as segments arrive, End waits for the last one, a damaged segment further on is told
// when the reading reaches it while what came before plays on, and closing the window during
// the reading leaves nothing in the run's folder.
TEST_F(TShellFixture, TheFirstSegmentPlaysWhileTheRestIsRead) {
  struct Case {
    const char* name;
    size_t cut;  // bytes cut off the film file's end (into segment 3)
    bool close;
    const char* action;  // asked for while segment 1 alone is there
    int32_t arrived;     // segments in the end
    int64_t maximum;     // of the progress bar in the end
    TFramePos shown;     // in the end
  };
  const Case cases[] = {{"whole, End", 0, false, "AFilmEnd", 3, 12, {2, 4}},
                        {"whole, Page Down", 0, false, "ANextSegment", 3, 12, {1, 0}},
                        {"whole, 60 s on", 0, false, "AForward60", 3, 12, {2, 4}},
                        {"damaged in segment 3, End", 5, false, "AFilmEnd", 2, 7, {1, 3}},
                        {"closed during the reading", 0, true, "AFilmEnd", 1, 3, {0, 2}}};
  const std::vector<TWriterSegment> three = {Solid("a", 4, 4, 3), Solid("b", 4, 4, 4), Solid("c", 4, 4, 5)};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Make();
    std::vector<uint8_t> film = WriteFilm(three);
    film.resize(film.size() - c.cut);
    const std::string path = (Root / "film.zrcab").string();
    WriteFileBytes(path, MakeFilmPackage(film));
    std::atomic<bool> goOn = false;
    Player->Session().OnSegmentRead = [&](int32_t read) {
      while (read == 1 && !goOn) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    Player->NextFile = QString::fromStdString(path);
    Player->TTelvoriPlayer::ALoadFromFileExecute();
    ASSERT_EQ(Player->Core().Segments().size(), 1u);
    EXPECT_TRUE(Player->Session().Reading());
    EXPECT_EQ(Find<TSeekBar>("pbrProgress")->maximum(), 3);
    EXPECT_EQ(Find<QLabel>("lblTime")->text(), QStringLiteral("0:00:00 / …"));
    Player->ASegmentsExecute();
    QTableWidget* grid = SegmentsGrid(*Segments);
    ASSERT_EQ(grid->rowCount(), 3);
    EXPECT_EQ(grid->item(0, 2)->text(), "00:00:00.120");
    EXPECT_EQ(grid->item(2, 2)->text(), "…");
    // Played to the end of what has arrived, it stands there.
    Player->APlayExecute();
    for (int tick = 0; tick < 10; ++tick) Player->TimerTimer();
    EXPECT_EQ(Player->PlayState(), psPlaying);
    EXPECT_EQ(Player->ShownFrame(), (TFramePos{0, 2}));
    // Paused, so that what the action does stays on screen.
    Find("APause")->trigger();
    Find(c.action)->trigger();
    EXPECT_EQ(Player->ShownFrame(), (TFramePos{0, 2})) << "waits for the segments it needs";
    goOn = true;
    if (c.close) {
      Segments.reset();
      Display.reset();
      Player.reset();
      for (const auto& entry : fs::recursive_directory_iterator(Root))
        EXPECT_FALSE(entry.is_regular_file() && entry.path().string().find("/veRirove/run-") != std::string::npos)
            << entry.path();
      continue;
    }
    Settle();
    EXPECT_EQ(Player->Core().Segments().size(), size_t(c.arrived));
    EXPECT_EQ(Find<TSeekBar>("pbrProgress")->maximum(), c.maximum);
    EXPECT_EQ(grid->rowCount(), c.arrived);
    EXPECT_EQ(grid->item(c.arrived - 1, 2)->text(), c.arrived == 3 ? "00:00:00.200" : "00:00:00.160");
    // Done once what it needed was there (a time past the end: the last frame).
    EXPECT_EQ(Player->ShownFrame(), c.shown);
    EXPECT_EQ(Find<QLabel>("lblTime")->text(), "0:00:00 / 0:00:00") << "the length once all is read";
    ASSERT_EQ(Player->Boxes.size(), c.cut ? 1u : 0u);
    if (c.cut) EXPECT_TRUE(Player->Boxes[0].Text.contains("Сегмент 3 из\u00A03")) << Player->Boxes[0].Text.toStdString();
  }
}

TEST(LoadMessages, EveryNoticeAndFaultInTheUsersWords) {
  const QStringList list = [] {
    QStringList l;
    for (const char* text : kLbMessages) l << QString::fromUtf8(text);
    return l;
  }();
  const auto report = [](TLoadNotice notice, std::string path, int damaged = 0, int playable = 0) {
    TLoadReport r;
    r.Notice = notice;
    r.Path = std::move(path);
    r.Details = "internal";
    r.DamagedSegment = damaged, r.Playable = playable, r.Total = 5;
    return r;
  };
  struct Case {
    TLoadReport report;
    QString text;
  };
  const Case cases[] = {
      {report(TLoadNotice::FilmFileBusy, "/run/f"),
       "Файл /run/f занят другим приложением или содержит атрибут \"только для чтения\"."},
      {report(TLoadNotice::ExecutableLocked, "/f.exe"),
       "Файл /f.exe занят другим приложением или содержит атрибут \"только для чтения\"."},
      {report(TLoadNotice::CannotCreatePackage, "/run/temp.zrcab"), "LoadFromFile: Не могу создать файл temp.zrcab."},
      {report(TLoadNotice::TemporaryFolder, ""),
       "Не удалось создать временную папку для фильмов. Проверьте свободное место на диске и права на временную папку."},
      {report(TLoadNotice::TemporaryFolder, "/run/x/"),
       "Не удалось записать фильм во временную папку «/run/x/». Проверьте свободное место на диске и права на "
       "временную папку."},
      {report(TLoadNotice::DamagedInPart, "/f.zrcab", 4, 3),
       "Файл фильма «/f.zrcab» повреждён. Сегмент 4 из\u00A05 прочитать не удалось. Будут воспроизведены только "
       "сегменты с\u00A01 по\u00A03."},
  };
  for (const auto& c : cases) {
    const TUserMessage m = LoadReportMessage(c.report, list);
    EXPECT_EQ(m.Text, c.text);
    EXPECT_EQ(m.Details, "internal");
  }
  struct Fault {
    TFilmErrc fault;
    QString text;
  };
  const Fault faults[] = {
      {TFilmErrc::Corrupt, "Файл фильма «/f» повреждён."},
      {TFilmErrc::NotAFilm, "Файл «/f» не является фильмом."},
      {TFilmErrc::Io, "Не удалось прочитать файл «/f»."},
      {TFilmErrc::NoMemory, "Не хватает памяти, чтобы загрузить фильм «/f»."},
  };
  for (const auto& f : faults) {
    const TUserMessage m = FilmLoadMessage(EFilmLoad("LoadSegmentFromStream: segment 1", f.fault, "/f"));
    EXPECT_EQ(m.Icon, QMessageBox::Critical);
    EXPECT_EQ(m.Text, f.text);
    EXPECT_EQ(m.Details, "LoadSegmentFromStream: segment 1");
  }
  // The cabinet component's message keeps its two lines, with the platform's line break.
  TLoadReport cabinet = report(TLoadNotice::TemporaryFolder, "/run/x/");
  cabinet.Details = "Failure writing to target file [0x0008].\r\nFile too large [0x001B].";
  EXPECT_EQ(LoadReportMessage(cabinet, list).Details, "Failure writing to target file [0x0008].\nFile too large [0x001B].");
}

TEST_F(TShellFixture, TheBoxShowsTheInternalMessageAsDetailsBelowItsText) {
  QString text, details, caption;
  QTimer::singleShot(0, Player.get(), [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    text = box->text(), details = box->detailedText(), caption = box->windowTitle();
    box->accept();
  });
  Player->TTelvoriPlayer::MessageBox(QMessageBox::Critical, "Error", "Файл фильма «x» повреждён.",
                                     "LoadSegmentFromStream: segment 1: bad size");
  EXPECT_EQ(caption, "Error");
  EXPECT_EQ(text, "Файл фильма «x» повреждён.");
  EXPECT_EQ(details, "LoadSegmentFromStream: segment 1: bad size");
}

// Qt's own words are Russian whatever the system's locale: the buttons of message boxes,
// button boxes and the Open dialog.
TEST_F(TShellFixture, QtsOwnButtonsSpeakRussian) {
  QMessageBox box;
  box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel | QMessageBox::Yes | QMessageBox::No);
  QDialogButtonBox buttons(QDialogButtonBox::Cancel | QDialogButtonBox::Close);
  struct TCase {
    QAbstractButton* Button;
    QString Expected;
  };
  const TCase cases[] = {
      {box.button(QMessageBox::Cancel), "Отмена"},         {box.button(QMessageBox::Yes), "Да"},
      {box.button(QMessageBox::No), "Нет"},                {buttons.button(QDialogButtonBox::Cancel), "Отмена"},
      {buttons.button(QDialogButtonBox::Close), "Закрыть"},
  };
  for (const TCase& c : cases) {
    ASSERT_NE(c.Button, nullptr);
    EXPECT_EQ(c.Button->text().remove('&'), c.Expected);
  }
}

// The Open dialog offers film packages first, then executable films and every file, and
// starts in the program's folder.
TEST_F(TShellFixture, TheOpenDialogOffersPackagesFirstThenExecutablesAndEveryFile) {
  QStringList filters;
  QString selected, directory, accept;
  QTimer::singleShot(0, Player.get(), [&] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    filters = dialog->nameFilters();
    selected = dialog->selectedNameFilter();
    directory = dialog->directory().absolutePath();
    if (auto* box = dialog->findChild<QDialogButtonBox*>(); box && box->button(QDialogButtonBox::Open))
      accept = box->button(QDialogButtonBox::Open)->text();
    dialog->reject();
  });
  EXPECT_TRUE(Player->ChooseWithTheDialog().isEmpty());
  EXPECT_EQ(filters, QStringList({"Telvori Files (*.zrcab)", "Исполняемые фильмы (*.exe)", "Все файлы (*)"}));
  EXPECT_EQ(selected, "Telvori Files (*.zrcab)");
  EXPECT_EQ(directory, QDir(QCoreApplication::applicationDirPath()).absolutePath());
  EXPECT_EQ(accept.remove('&'), "Открыть");
}

// "По размеру окна" enlarges a smaller picture to the window's height, and outlives the window.
TEST_F(TShellFixture, ByTheWindowsSizeASmallerPictureIsEnlargedAndTheChoiceIsKept) {
  const std::string film = Film({Solid("small", 320, 240, 4)});
  auto show = [&] {
    Load(film);
    Player->APlayExecute();
    Player->TimerTimer();
  };
  show();
  const QSize area = Player->PictureAreaSize();
  TPictureView* view = Player->centralWidget()->findChild<TPictureView*>();
  for (const bool on : {false, true, false}) {
    if (on != Find("AFitToWindow")->isChecked()) Find("AFitToWindow")->trigger();
    const TPlacement& p = Player->Placement();
    const int width = on ? area.height() * 4 / 3 : 320, height = on ? area.height() : 240;
    EXPECT_EQ(p.Scaled, on);
    EXPECT_EQ(QRect(p.Left, p.Top, on ? p.FitWidth : 320, on ? p.FitHeight : 240),
              QRect((area.width() - width) / 2, (area.height() - height) / 2, width, height));
    EXPECT_EQ(view->grab().toImage().pixel(area.width() / 2, 5) & 0xFFFFFF, on ? 0x204060u : 0x808080u);
  }
  Find("AFitToWindow")->trigger();
  Make();
  show();
  EXPECT_TRUE(Find("AFitToWindow")->isChecked() && Player->Placement().Scaled);
}

TEST_F(TShellFixture, TheOpenDialogStartsWhereTheUsersFilmsAre) {
  const QString root = QString::fromStdString(Root.string()), films = root + "/фильмы", gone = root + "/нет";
  fs::create_directories(Root / "фильмы");
  struct Case {
    const char* name;
    QString program, last, videos, expected;
  };
  const Case cases[] = {
      {"a build folder: itself", "/work/build/src", films, films, "/work/build/src"},
      {"beside /usr: itself", "/usrlocal/bin", films, films, "/usrlocal/bin"},
      {"/usr/local/bin: the last film's folder", "/usr/local/bin/", films, gone, films},
      {"/opt: the last film's folder", "/opt/veRirove/bin", films, gone, films},
      {"none yet: the videos folder", "/usr/bin", "", films, films},
      {"the last one gone, no videos: home", "/bin", gone, gone, root},
  };
  for (const auto& c : cases) EXPECT_EQ(OpenDialogFolder(c.program, c.last, c.videos, root), c.expected) << c.name;
  // A film that opens is remembered, by whatever way it came; one that fails is not.
  Player->NextFile = QString::fromStdString(Film({Solid("s", 4, 4, 2)}, "фильмы/a.zrcab"));
  Player->ALoadFromFileExecute();
  Player->OpenDroppedFilm(QString::fromStdString(Missing()));
  EXPECT_EQ(RememberedFilmFolder(), films);
}

// Counts the paint events a widget gets.
struct TPaintCounter : QObject {
  int Paints = 0;
  bool eventFilter(QObject*, QEvent* event) override {
    Paints += event->type() == QEvent::Paint;
    return false;
  }
};

// A film loads while the window paints and answers: the window and the banner come first, the
// commands that need the film wait for it, and closing the window calls the load off and ends
// the program at once. The test holds the executable film locked, so that the load waits until
// the row lets it go or closes the window.
TEST_F(TShellFixture, AFilmLoadsWhileTheWindowPaintsAndAnswers) {
  struct Case {
    const char* name;
    bool fromTheDialog, close;  // else from the command line; else the lock is let go
  };
  const Case cases[] = {{"the command line: the film plays", false, false},
                        {"the command line: closed during the load", false, true},
                        {"the Open dialog: closed during the load", true, true}};
  const std::vector<TWriterSegment> one = {Solid("a", 4, 4, 3)};
  const std::string film = (Root / "locked.exe").string();
  WriteFileBytes(film, MakeExecutableFilm(std::vector<uint8_t>(64, 0x90), MakeFilmPackage(WriteFilm(one))));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Make();
    EndWithMainWindow(*Player);
    int lock = ::open(film.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(lock, LOCK_EX), 0);
    TPaintCounter menuBar;
    Player->menuBar()->installEventFilter(&menuBar);
    // While loading: whether the menu bar was painted, and Open and Exit offered.
    std::vector<bool> during;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
      if (!Find<QLabel>("lblLoading")->isVisible()) return;
      poll.stop();
      during = {menuBar.Paints > 0, Find("ALoadFromFile")->isEnabled(), Find("AExit")->isEnabled()};
      if (c.close) Player->close();
      if (!c.close) ::close(std::exchange(lock, -1));
    });
    size_t segments = 99;
    QTimer::singleShot(0, Player.get(), [&] {
      menuBar.Paints = 0;
      Player->menuBar()->update();
      poll.start(5);
      Player->NextFile = QString::fromStdString(film);
      if (c.fromTheDialog) Player->ALoadFromFileExecute();
      if (!c.fromTheDialog) EXPECT_TRUE(StartPlayer(*Player, {film}));
      segments = Player->Core().Segments().size();
      if (c.close) return;
      EXPECT_EQ(Player->PlayState(), psPlaying);
      EXPECT_FALSE(Find<QLabel>("lblLoading")->isVisible());
      Player->close();
    });
    EXPECT_EQ(RunUntilTheProgramEnds(), 0);
    if (lock >= 0) ::close(lock);
    EXPECT_EQ(during, (std::vector<bool>{true, false, true}));
    EXPECT_EQ(segments, c.close ? 0u : 1u);
    // Nothing told (neither the lock nor the load called off), nothing left in the run's folder.
    EXPECT_TRUE(Player->Boxes.empty());
    for (const auto& entry : fs::recursive_directory_iterator(Root))
      if (entry.is_regular_file() && entry.path().parent_path().filename() != "veRirove") EXPECT_EQ(entry.path(), film);
  }
}

// ---- The display window ----

TEST_F(TShellFixture, TheDisplayWindowKeepsTheSizeOfWhatItShows) {
  EXPECT_FALSE(Display->windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_FALSE(Display->windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_TRUE(Display->windowFlags() & Qt::WindowCloseButtonHint);
  const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
  struct Case {
    const char* name;
    int width, height;
    QSize client;
    bool borderless;
  };
  const Case cases[] = {
      {"a small film: its own size", 320, 200, {320, 200}, false},
      {"a screen-sized film: the screen", screen.width(), screen.height(), screen, true},
      {"a larger film: the screen", screen.width() + 100, screen.height() + 10, screen, true},
      {"a small film again: a border again", 240, 160, {240, 160}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Player->AStopExecute();
    Load(Film({Solid("s", c.width, c.height, 4)}));
    Player->SetOwnWindow(true);
    Player->APlayExecute();
    ASSERT_TRUE(Display->isVisible());
    EXPECT_EQ(Display->size(), c.client);
    EXPECT_EQ(Display->minimumSize(), c.client);
    EXPECT_EQ(Display->maximumSize(), c.client);
    EXPECT_EQ(Display->windowFlags().testFlag(Qt::FramelessWindowHint), c.borderless);
    // What a drag on the border asks for changes nothing.
    Display->resize(c.client + QSize(120, 80));
    EXPECT_EQ(Display->size(), c.client);
    // The picture covers the window: no silver ground at its far corner (a larger film is
    // shrunk into the top left, keeping its proportions).
    Player->TimerTimer();
    Player->TimerTimer();
    const QImage shot = Display->View()->grab().toImage();
    EXPECT_EQ(shot.size(), c.client);
    const QPoint corner = c.width > screen.width() ? QPoint(0, 0) : QPoint(shot.width() - 1, shot.height() - 1);
    EXPECT_NE(shot.pixel(corner) & 0xFFFFFF, 0xC0C0C0u);
  }
}


// ---- Random access: the seek bar, the keys, the speed, the time, the picture ----

// A segment of `frames` solid frames at `rate` frames a second; frame k has colour
// 0x204060 + (k mod 150) × 0x010101.
QRgb FrameColour(int frame) { return 0x00204060u + uint32_t(frame % 150) * 0x010101u; }

TWriterSegment Timed(const std::string& name, int frames, uint8_t rate) {
  TWriterSegment s;
  s.Name = name;
  s.Width = 4, s.Height = 4, s.FrameRate = rate;
  for (int k = 0; k < frames; ++k) s.Pictures.push_back(std::vector<uint32_t>(16, FrameColour(k)));
  return s;
}

struct TRandomAccess : TShellFixture {
  // Three segments of ten frames at one frame a second: 30 seconds, frame k of segment s at
  // 10 s + k.
  void LoadThirtySeconds() { Load(Film({Timed("a", 10, 1), Timed("b", 10, 1), Timed("c", 10, 1)})); }
  // Brings the film into a state: playing, paused or stopped (pos: where it shows a frame).
  void Enter(TPlayState state, std::optional<TFramePos> pos = std::nullopt) {
    Player->AStopExecute();
    if (state == psStopped) return;
    Player->APlayExecute();
    if (pos) Player->SeekTo(*pos);
    if (state == psPaused) Player->APauseExecute();
    ASSERT_EQ(Player->PlayState(), state);
  }
  // The colour of the picture on screen (-1: none).
  int64_t Shown() const {
    const QImage& picture = Player->PresentedPicture();
    return picture.isNull() ? -1 : int64_t(picture.pixel(0, 0) & 0xFFFFFF);
  }
  QString Time() const { return Find<QLabel>("lblTime")->text(); }
};

TEST_F(TRandomAccess, AClickOnTheProgressBarSeeksInEveryState) {
  LoadThirtySeconds();
  TSeekBar* bar = Find<TSeekBar>("pbrProgress");
  ASSERT_EQ(bar->width(), 173);
  // 30 frames over 173 pixels: pixel 90 covers frame 90 × 30 ÷ 173 = 15, segment 2's sixth.
  struct Case {
    const char* name;
    TPlayState before, after;
  };
  const Case cases[] = {
      {"playing stays playing", psPlaying, psPlaying},
      {"paused stays paused", psPaused, psPaused},
      {"stopped pauses there", psStopped, psPaused},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Enter(c.before, TFramePos{0, 2});
    QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(90, 5));
    EXPECT_EQ(Player->PlayState(), c.after);
    EXPECT_EQ(Find<QTimer>("Timer")->isActive(), c.after == psPlaying);
    EXPECT_EQ(Player->ShownFrame(), (TFramePos{1, 5}));
    EXPECT_EQ(Shown(), FrameColour(5));
    EXPECT_EQ(Time(), "0:00:15 / 0:00:30");
    EXPECT_EQ(Find<QLabel>("pnlPath")->text(), "b");
    EXPECT_EQ(bar->value(), 16);
    // Playing on (resumed when paused) shows the frames after it.
    if (c.after == psPaused) Player->APauseExecute();
    Player->TimerTimer();
    Player->TimerTimer();
    EXPECT_EQ(Player->ShownFrame(), (TFramePos{1, 6}));
    EXPECT_EQ(Shown(), FrameColour(6));
  }
  EXPECT_TRUE(Player->Results.isEmpty());
  EXPECT_TRUE(Player->Boxes.empty());
}

TEST_F(TRandomAccess, ADragSeeksAndTheTipTellsTheTimeUnderThePointer) {
  LoadThirtySeconds();
  TSeekBar* bar = Find<TSeekBar>("pbrProgress");
  Enter(psPaused, TFramePos{0, 0});
  auto send = [&](QEvent::Type type, int x, Qt::MouseButtons buttons) {
    QMouseEvent event(type, QPointF(x, 5), bar->mapToGlobal(QPointF(x, 5)), type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                      buttons, Qt::NoModifier);
    QApplication::sendEvent(bar, &event);
  };
  send(QEvent::MouseButtonPress, 10, Qt::LeftButton);
  EXPECT_EQ(Player->ShownFrame(), (TFramePos{0, 1}));  // 10 × 30 ÷ 173
  send(QEvent::MouseMove, 150, Qt::LeftButton);
  EXPECT_EQ(Player->ShownFrame(), (TFramePos{2, 6}));  // 150 × 30 ÷ 173 = 26
  send(QEvent::MouseButtonRelease, 150, Qt::NoButton);
  send(QEvent::MouseMove, 60, Qt::NoButton);  // without the button only the tip follows
  EXPECT_EQ(Player->ShownFrame(), (TFramePos{2, 6}));
  EXPECT_EQ(Player->PlayState(), psPaused);
  struct Tip {
    int x;
    const char* text;
  };
  const Tip tips[] = {{0, "0:00:00"}, {60, "0:00:10"}, {100, "0:00:17"}, {172, "0:00:29"}, {500, "0:00:29"}};
  for (const auto& t : tips) {
    QHelpEvent help(QEvent::ToolTip, QPoint(t.x, 5), bar->mapToGlobal(QPoint(t.x, 5)));
    QApplication::sendEvent(bar, &help);
    EXPECT_EQ(bar->toolTip(), t.text) << t.x;
  }
  // Without a film the bar seeks nowhere and tells nothing.
  Player->AStopExecute();
  Player->OpenFilm(Missing());
  QHelpEvent help(QEvent::ToolTip, QPoint(60, 5), bar->mapToGlobal(QPoint(60, 5)));
  QApplication::sendEvent(bar, &help);
  EXPECT_EQ(bar->toolTip(), "");
  QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(60, 5));
  EXPECT_EQ(Player->PlayState(), psStopped);
}

TEST_F(TRandomAccess, TheKeysMoveThroughTheFilm) {
  LoadThirtySeconds();
  ASSERT_TRUE(QTest::qWaitForWindowActive(Player.get()));
  struct Case {
    const char* name;
    TFramePos from;
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    TFramePos to;
  };
  const Case cases[] = {
      {"→ 5 s", {0, 3}, Qt::Key_Right, {}, {0, 8}},
      {"→ 5 s into the next segment", {0, 7}, Qt::Key_Right, {}, {1, 2}},
      {"← 5 s", {1, 2}, Qt::Key_Left, {}, {0, 7}},
      {"← 5 s from the start", {0, 3}, Qt::Key_Left, {}, {0, 0}},
      {"Shift+→ 1 s", {0, 3}, Qt::Key_Right, Qt::ShiftModifier, {0, 4}},
      {"Shift+← 1 s", {1, 0}, Qt::Key_Left, Qt::ShiftModifier, {0, 9}},
      {"↑ 60 s past the end: the last frame", {0, 3}, Qt::Key_Up, {}, {2, 9}},
      {"↓ 60 s before the start: the first frame", {2, 3}, Qt::Key_Down, {}, {0, 0}},
      {"Home", {2, 3}, Qt::Key_Home, {}, {0, 0}},
      {"End", {0, 3}, Qt::Key_End, {}, {2, 9}},
      {"Page Down", {0, 3}, Qt::Key_PageDown, {}, {1, 0}},
      {"Page Down in the last segment", {2, 3}, Qt::Key_PageDown, {}, {2, 3}},
      {"Page Up", {2, 3}, Qt::Key_PageUp, {}, {1, 0}},
      {"Page Up in the first segment", {0, 3}, Qt::Key_PageUp, {}, {0, 0}},
      {". one frame on", {0, 3}, Qt::Key_Period, {}, {0, 4}},
      {". into the next segment", {0, 9}, Qt::Key_Period, {}, {1, 0}},
      {". at the last frame", {2, 9}, Qt::Key_Period, {}, {2, 9}},
      {", one frame back", {0, 3}, Qt::Key_Comma, {}, {0, 2}},
      {", into the segment before", {1, 0}, Qt::Key_Comma, {}, {0, 9}},
      // Without an index each segment is a chapter.
      {"Shift+N: the next chapter", {0, 3}, Qt::Key_N, Qt::ShiftModifier, {1, 0}},
      {"Shift+N in the last chapter", {2, 3}, Qt::Key_N, Qt::ShiftModifier, {2, 3}},
      {"Shift+P 3 s into a chapter: its start", {1, 3}, Qt::Key_P, Qt::ShiftModifier, {1, 0}},
      {"Shift+P 2 s into a chapter: the one before", {1, 2}, Qt::Key_P, Qt::ShiftModifier, {0, 0}},
      {"Shift+P in the first chapter", {0, 1}, Qt::Key_P, Qt::ShiftModifier, {0, 0}},
  };
  for (const TPlayState state : {psPaused, psPlaying}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (state == psPlaying ? ", playing" : ", paused"));
      Enter(state, c.from);
      QTest::keyClick(Player.get(), c.key, c.modifiers);
      EXPECT_EQ(Player->ShownFrame(), c.to);
      EXPECT_EQ(Shown(), FrameColour(c.to.Frame));
      // A frame step pauses; every other key keeps the state.
      const bool step = c.key == Qt::Key_Period || c.key == Qt::Key_Comma;
      EXPECT_EQ(Player->PlayState(), step ? psPaused : state);
    }
  }
  EXPECT_TRUE(Player->Results.isEmpty());
}

TEST_F(TRandomAccess, SpaceAndTheKeysWhileStopped) {
  LoadThirtySeconds();
  ASSERT_TRUE(QTest::qWaitForWindowActive(Player.get()));
  // Space: play, pause, play on.
  const TPlayState space[] = {psPlaying, psPaused, psPlaying};
  for (const TPlayState state : space) {
    QTest::keyClick(Player.get(), Qt::Key_Space);
    EXPECT_EQ(Player->PlayState(), state);
  }
  // Stopped, a key that moves pauses the film where it leads, counted from where Play would
  // start (the current segment's start); Space plays on from there.
  struct Case {
    const char* name;
    Qt::Key key;
    int32_t segment;  // current while stopped
    TFramePos to;
  };
  const Case cases[] = {
      {"→", Qt::Key_Right, 0, {0, 5}},
      {"→ from a chosen segment", Qt::Key_Right, 1, {1, 5}},
      {".", Qt::Key_Period, 2, {2, 0}},
      {",", Qt::Key_Comma, 0, {0, 0}},
      {"End", Qt::Key_End, 0, {2, 9}},
      {"Page Down", Qt::Key_PageDown, 1, {2, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Enter(psStopped);
    Player->ChooseSegment(c.segment);
    QTest::keyClick(Player.get(), c.key);
    EXPECT_EQ(Player->PlayState(), psPaused);
    EXPECT_EQ(Player->ShownFrame(), c.to);
    EXPECT_TRUE(Highlighted(Find<QToolButton>("btnPause")));
    EXPECT_FALSE(Find("ALoadFromFile")->isEnabled());
  }
  QTest::keyClick(Player.get(), Qt::Key_Space);
  EXPECT_EQ(Player->PlayState(), psPlaying);
  Player->TimerTimer();
  Player->TimerTimer();
  EXPECT_EQ(Player->ShownFrame(), (TFramePos{2, 1}));
  // Without a film the keys do nothing.
  Player->AStopExecute();
  Player->OpenFilm(Missing());
  for (const Qt::Key key : {Qt::Key_Space, Qt::Key_Right, Qt::Key_Period, Qt::Key_End, Qt::Key_PageDown}) {
    QTest::keyClick(Player.get(), key);
    EXPECT_EQ(Player->PlayState(), psStopped);
  }
}

TEST_F(TRandomAccess, TheTimeOnThePanel) {
  EXPECT_EQ(Time(), "");
  // 90 minutes and a bit over two segments: hours show.
  Load(Film({Timed("a", 3000, 1), Timed("b", 2401, 1)}));
  struct Case {
    const char* name;
    std::function<void()> act;
    QString time;
  };
  const Case cases[] = {
      {"loaded", [] {}, "0:00:00 / 1:30:01"},
      {"playing, before the first tick", [&] { Player->APlayExecute(); }, "0:00:00 / 1:30:01"},
      {"the first frame shown", [&] { Player->TimerTimer(); }, "0:00:00 / 1:30:01"},
      {"the second", [&] { Player->TimerTimer(); }, "0:00:01 / 1:30:01"},
      {"in the second segment", [&] { Player->SeekTo({1, 600}); }, "1:00:00 / 1:30:01"},
      {"faster", [&] { Player->SetSpeedStep(kNormalSpeed + 2); }, "1:00:00 / 1:30:01  ×1,5"},
      {"slowest", [&] { Player->SetSpeedStep(0); }, "1:00:00 / 1:30:01  ×0,25"},
      {"normal again", [&] { Player->SetSpeedStep(kNormalSpeed); }, "1:00:00 / 1:30:01"},
      {"stopped", [&] { Player->AStopExecute(); }, "0:00:00 / 1:30:01"},
      {"stopped on a chosen segment", [&] { Player->ChooseSegment(1); }, "0:50:00 / 1:30:01"},
  };
  for (const auto& c : cases) {
    c.act();
    EXPECT_EQ(Time(), c.time) << c.name;
  }
  // The time sits at the right end of the panel; the path panel keeps its place before it.
  const QRect time = Find<QLabel>("lblTime")->geometry(), path = Find<QLabel>("pnlPath")->geometry();
  EXPECT_EQ(time.right(), Find<QWidget>("pnlControls")->width() - 5);
  EXPECT_EQ(path.left(), 368);
  EXPECT_LT(path.right(), time.left());
  // No film: no time, the speed alone when it is not 1.
  Player->OpenFilm(Missing());
  EXPECT_EQ(Time(), "");
  Player->SetSpeedStep(kNormalSpeed + 3);
  EXPECT_EQ(Time(), "×2");
}

TEST_F(TRandomAccess, TheWheelOverThePictureSeeksAndWithCtrlChangesTheSpeed) {
  LoadThirtySeconds();
  auto wheel = [](QWidget* view, int delta, Qt::KeyboardModifiers modifiers) {
    QWheelEvent event({5, 5}, {5, 5}, {}, {0, delta}, Qt::NoButton, modifiers, Qt::NoScrollPhase, false);
    QApplication::sendEvent(view, &event);
  };
  struct Case {
    const char* name;
    TFramePos from;
    int delta;  // eighths of a degree, away from the user
    Qt::KeyboardModifiers modifiers;
    TFramePos to;
    double speed;
  };
  const Case cases[] = {
      {"a notch away: 5 s on", {0, 3}, 120, {}, {0, 8}, 1},
      {"a notch towards: 5 s back", {1, 2}, -120, {}, {0, 7}, 1},
      {"two notches at once", {0, 3}, 240, {}, {1, 3}, 1},
      {"half a notch: nothing yet", {0, 3}, 60, {}, {0, 3}, 1},
      {"the other half", {0, 3}, 60, {}, {0, 8}, 1},
      {"Ctrl: faster", {0, 3}, 120, Qt::ControlModifier, {0, 3}, 1.25},
      {"Ctrl, two notches towards: slower", {0, 3}, -240, Qt::ControlModifier, {0, 3}, 0.5},
  };
  QWidget* view = Player->centralWidget()->findChild<TPictureView*>();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Player->SetSpeedStep(kNormalSpeed);
    Enter(psPaused, c.from);
    wheel(view, c.delta, c.modifiers);
    EXPECT_EQ(Player->ShownFrame(), c.to);
    EXPECT_EQ(kSpeeds[Player->SpeedStep()], c.speed);
    EXPECT_EQ(Player->PlayState(), psPaused);
  }
  // The display window's picture takes the wheel too.
  Player->SetOwnWindow(true);
  Enter(psPlaying, TFramePos{1, 0});
  wheel(Display->View(), 120, {});
  EXPECT_EQ(Player->ShownFrame(), (TFramePos{1, 5}));
}

// The seek bar keeps 173 pixels at the starting width and takes a wider window's extra width,
// the time staying at the right end; at the smallest width the name keeps its first word.
TEST_F(TRandomAccess, TheSeekBarTakesAWiderWindowsWidthAndANarrowOneKeepsTheNamesFirstWord) {
  const QString name = QStringLiteral("Знакомство с программой и её окнами");
  Load(Film({Timed(name.toStdString(), 600, 1)}));
  Enter(psPlaying);
  auto* path = Find<QLabel>("pnlPath");
  const struct { int width, bar; QString shown; } rows[] = {
      {800, 173, name}, {1200, 573, name}, {500, 0, QStringLiteral("Знакомство…")}};  // 0: less than 173
  for (const auto& r : rows) {
    Player->resize(r.width, 600);
    QApplication::processEvents();
    const QRect bar = Find<TSeekBar>("pbrProgress")->geometry(), time = Find<QLabel>("lblTime")->geometry();
    EXPECT_EQ(bar, QRect(184, 7, r.bar ? r.bar : bar.width(), 10)) << r.width;
    EXPECT_LT(bar.width(), r.bar ? r.bar + 1 : 173) << r.width;
    EXPECT_EQ(time.right(), r.width - 5);
    EXPECT_EQ(path->geometry().left(), bar.right() + 12);
    EXPECT_LT(path->geometry().right(), time.left());
    EXPECT_EQ(path->text(), r.shown);
    EXPECT_EQ(path->toolTip(), r.shown == name ? QString() : name);
  }
}

TEST_F(TRandomAccess, SpeedStepsByTheKeys) {
  ASSERT_TRUE(QTest::qWaitForWindowActive(Player.get()));
  struct Step {
    Qt::Key key;
    double speed;
    const char* notice;
  };
  const Step steps[] = {
      {Qt::Key_BracketRight, 1.25, "Скорость ×1,25"}, {Qt::Key_BracketRight, 1.5, "Скорость ×1,5"},
      {Qt::Key_BracketRight, 2, "Скорость ×2"},       {Qt::Key_BracketRight, 4, "Скорость ×4"},
      {Qt::Key_BracketRight, 8, "Скорость ×8"},       {Qt::Key_BracketRight, 8, "Скорость ×8"},
      {Qt::Key_Backspace, 1, "Скорость ×1"},          {Qt::Key_BracketLeft, 0.75, "Скорость ×0,75"},
      {Qt::Key_BracketLeft, 0.5, "Скорость ×0,5"},    {Qt::Key_BracketLeft, 0.25, "Скорость ×0,25"},
      {Qt::Key_BracketLeft, 0.25, "Скорость ×0,25"},  {Qt::Key_BracketRight, 0.5, "Скорость ×0,5"},
      {Qt::Key_Backspace, 1, "Скорость ×1"},
  };
  for (const auto& s : steps) {
    QTest::keyClick(Player.get(), s.key);
    EXPECT_EQ(kSpeeds[Player->SpeedStep()], s.speed) << s.notice;
    EXPECT_EQ(Find<QLabel>("lblNotice")->text(), s.notice);
    EXPECT_TRUE(Find<QLabel>("lblNotice")->isVisible());
  }
}

// At a speed other than 1 the film keeps its own clock: each tick shows the last frame due,
// the ones before it are composed but not shown. The clock is the test's.
TEST_F(TRandomAccess, OtherSpeedsKeepTheFilmsClock) {
  int64_t now = 0;
  struct Case {
    int step;
    std::vector<int64_t> ticks;  // clock times of the ticks
  };
  const Case cases[] = {
      {0, {0, 30, 170, 330, 1000}},  // ×0,25
      {1, {0, 80, 81, 400}},         // ×0,5
      {2, {0, 100, 1000}},           // ×0,75
      {4, {0, 100, 200, 850}},       // ×1,25
      {6, {0, 10, 19, 20, 500}},     // ×2
      {7, {0, 35, 200}},             // ×4
      {8, {0, 1, 100, 450}},         // ×8
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(kSpeeds[c.step]);
    Make();
    Player->SetClock([&now] { return now; });
    // 25 frames a second: frame k at 40 × k ms.
    Load(Film({Timed("a", 200, 25)}));
    Player->SetSpeedStep(c.step);
    EXPECT_EQ(Find<QTimer>("Timer")->interval(), 16);
    std::vector<int> presented;
    QSignalSpy spy(Find<TSeekBar>("pbrProgress"), &QProgressBar::valueChanged);
    for (const int64_t t : c.ticks) {
      now = 1000000 + t;
      if (t == 0) Player->APlayExecute();
      Player->TimerTimer();
      const int due = int(double(t) * kSpeeds[c.step] / 40);
      ASSERT_TRUE(Player->ShownFrame());
      EXPECT_EQ(Player->ShownFrame()->Frame, due) << t;
      EXPECT_EQ(Shown(), FrameColour(due)) << t;
    }
    // Every frame was composed on the way (the progress moved by one each time).
    int last = 0;
    for (const auto& args : spy) {
      EXPECT_EQ(args.at(0).toInt(), last + 1);
      last = args.at(0).toInt();
    }
    EXPECT_EQ(Player->PlayState(), psPlaying);
  }
}

TEST_F(TRandomAccess, TheOwnSpeedTicksOneFrameAndPausesStopTheClock) {
  int64_t now = 0;
  Player->SetClock([&now] { return now; });
  Load(Film({Timed("a", 200, 25), Timed("b", 200, 10)}));
  // At 1 each tick is one frame, whatever the clock says.
  Player->APlayExecute();
  EXPECT_EQ(Find<QTimer>("Timer")->interval(), 40);
  for (int tick = 0; tick < 3; ++tick) {
    now += 10000;
    Player->TimerTimer();
  }
  EXPECT_EQ(Player->ShownFrame(), (TFramePos{0, 2}));
  // ×2 from there: frame 2's time is where the clock starts.
  Player->SetSpeedStep(kNormalSpeed + 3);
  EXPECT_EQ(Find<QTimer>("Timer")->interval(), 16);
  Player->TimerTimer();  // shows frame 3, composed before the change
  EXPECT_EQ(Player->ShownFrame(), (TFramePos{0, 3}));
  now += 100;  // 200 ms of film from frame 2 (80 ms): 280 ms, frame 7
  Player->TimerTimer();
  EXPECT_EQ(Player->ShownFrame(), (TFramePos{0, 7}));
  // A pause holds the clock, however long it lasts.
  Player->APauseExecute();
  now += 60000;
  Player->APauseExecute();
  Player->TimerTimer();
  EXPECT_EQ(Player->ShownFrame(), (TFramePos{0, 7}));
  now += 20;
  Player->TimerTimer();
  EXPECT_EQ(Player->ShownFrame(), (TFramePos{0, 8}));
  // Into the next segment at its own rate (10 a second): segment b starts at 8 s. The clock
  // starts again at the first tick after a seek.
  Player->SeekTo({0, 199});  // 7.96 s
  Player->TimerTimer();
  EXPECT_EQ(Player->ShownFrame(), (TFramePos{0, 199}));
  now += 20;  // 8.00 s
  Player->TimerTimer();
  EXPECT_EQ(Player->ShownFrame(), (TFramePos{1, 0}));
  now += 100;  // 8.2 s
  Player->TimerTimer();
  EXPECT_EQ(Player->ShownFrame(), (TFramePos{1, 2}));
  // Back at 1 the segment's interval returns.
  Player->SetSpeedStep(kNormalSpeed);
  EXPECT_EQ(Find<QTimer>("Timer")->interval(), 100);
  EXPECT_TRUE(Player->Results.isEmpty());
}

TEST_F(TRandomAccess, TheEndOfTheFilmAtAnotherSpeed) {
  int64_t now = 0;
  Player->SetClock([&now] { return now; });
  Load(Film({Timed("a", 10, 25)}));
  Player->SetSpeedStep(8);
  Player->APlayExecute();
  Player->TimerTimer();
  now += 1000;  // 8 s of film: past the end
  Player->TimerTimer();
  EXPECT_EQ(Player->PlayState(), psStopped);
  EXPECT_TRUE(Player->PresentedPicture().isNull());
  EXPECT_EQ(Find<TSeekBar>("pbrProgress")->value(), 0);
  EXPECT_TRUE(Player->Results.isEmpty());
}

// The pictures folder is the one the user's settings name (XDG_PICTURES_DIR), under a home
// of the test's own.
struct TPictures : TRandomAccess {
  fs::path Home;
  QByteArray SavedHome, SavedConfig;
  void SetUp() override {
    TRandomAccess::SetUp();
    SavedHome = qgetenv("HOME");
    SavedConfig = qgetenv("XDG_CONFIG_HOME");
    Home = Root / "дом";
    fs::create_directories(Home / ".config");
    qputenv("HOME", QByteArray::fromStdString(Home.string()));
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString((Home / ".config").string()));
    WriteFileBytes((Home / ".config" / "user-dirs.dirs").string(),
                   Bytes("XDG_PICTURES_DIR=\"$HOME/Изображения\"\n"));
  }
  void TearDown() override {
    qputenv("HOME", SavedHome);
    qputenv("XDG_CONFIG_HOME", SavedConfig);
    TRandomAccess::TearDown();
  }
  static std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }
  static std::vector<uint8_t> ReadFileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  fs::path Pictures() const { return Home / "Изображения"; }
};

TEST_F(TPictures, SIsSavedAsAPngNamedAfterTheFilmSegmentAndFrameNeverOverAnother) {
  ASSERT_TRUE(QTest::qWaitForWindowActive(Player.get()));
  Load(Film({Timed("a", 10, 1), Timed("b", 10, 1)}, "урок.zrcab"));
  Enter(psPaused, TFramePos{1, 3});
  const fs::path first = Pictures() / "урок-002-00003.png";
  const fs::path second = Pictures() / "урок-002-00003 (2).png";
  const fs::path third = Pictures() / "урок-002-00003 (3).png";
  QTest::keyClick(Player.get(), Qt::Key_S);
  ASSERT_TRUE(fs::exists(first));
  EXPECT_EQ(Find<QLabel>("lblNotice")->text(), "Кадр сохранён: " + QString::fromStdString(first.string()));
  const QImage saved(QString::fromStdString(first.string()));
  EXPECT_EQ(saved.size(), QSize(4, 4));
  EXPECT_EQ(saved.pixel(3, 3) & 0xFFFFFF, FrameColour(3));
  // Again: a second file; the first is kept as it was. A file of the user's own under the
  // next name is kept too.
  const auto before = fs::last_write_time(first);
  WriteFileBytes(second.string(), Bytes("mine"));
  QTest::keyClick(Player.get(), Qt::Key_S);
  EXPECT_EQ(fs::last_write_time(first), before);
  EXPECT_EQ(ReadFileBytes(second), Bytes("mine"));
  ASSERT_TRUE(fs::exists(third));
  EXPECT_EQ(QImage(QString::fromStdString(third.string())).pixel(0, 0) & 0xFFFFFF, FrameColour(3));
  // A folder under the name counts as taken as well.
  Player->SeekTo({0, 7});
  fs::create_directories(Pictures() / "урок-001-00007.png");
  EXPECT_EQ(Player->SavePicture(), QString::fromStdString((Pictures() / "урок-001-00007 (2).png").string()));
  EXPECT_TRUE(Player->Boxes.empty());
}

TEST_F(TPictures, WhenThePictureCannotBeSavedTheUserIsTold) {
  struct Case {
    const char* name;
    std::function<void()> prepare;
    bool shown;        // a frame is on screen
    const char* text;  // the beginning of the message or notice
  };
  const Case cases[] = {
      {"nothing on screen", [] {}, false, "Нет кадра на экране: сохранять нечего."},
      {"a file where the folder should be", [&] { WriteFileBytes(Pictures().string(), Bytes("x")); }, true,
       "Не удалось сохранить кадр: нет папки для изображений"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Make();
    std::error_code ec;
    fs::remove_all(Pictures(), ec);
    c.prepare();
    Load(Film({Timed("a", 10, 1)}));
    if (c.shown) Enter(psPaused, TFramePos{0, 1});
    EXPECT_EQ(Player->SavePicture(), "");
    const QString told = Player->Boxes.empty() ? Find<QLabel>("lblNotice")->text() : Player->Boxes.back().Text;
    EXPECT_TRUE(told.startsWith(QString::fromUtf8(c.text))) << told.toStdString();
    EXPECT_EQ(Player->PlayState(), c.shown ? psPaused : psStopped);
    EXPECT_FALSE(fs::is_directory(Pictures()));
  }
}

TEST_F(TRandomAccess, CtrlCCopiesThePictureOnScreen) {
  ASSERT_TRUE(QTest::qWaitForWindowActive(Player.get()));
  Load(Film({Timed("a", 10, 1)}));
  QGuiApplication::clipboard()->clear();
  QTest::keyClick(Player.get(), Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(Find<QLabel>("lblNotice")->text(), "Нет кадра на экране: копировать нечего.");
  EXPECT_TRUE(QGuiApplication::clipboard()->image().isNull());
  Enter(psPaused, TFramePos{0, 6});
  QTest::keyClick(Player.get(), Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(Find<QLabel>("lblNotice")->text(), "Кадр скопирован в буфер обмена.");
  const QImage copied = QGuiApplication::clipboard()->image();
  ASSERT_EQ(copied.size(), QSize(4, 4));
  EXPECT_EQ(copied.pixel(2, 2) & 0xFFFFFF, FrameColour(6));
}

TEST_F(TRandomAccess, FAndADoubleClickToggleFullScreenAndEscLeavesIt) {
  Load(Film({Timed("a", 10, 1)}));
  ASSERT_TRUE(QTest::qWaitForWindowActive(Player.get()));
  TPictureView* view = Player->centralWidget()->findChild<TPictureView*>();
  struct Step {
    const char* name;
    std::function<void()> act;
    bool full;
  };
  const Step steps[] = {
      {"F", [&] { QTest::keyClick(Player.get(), Qt::Key_F); }, true},
      {"F again", [&] { QTest::keyClick(Player.get(), Qt::Key_F); }, false},
      {"a double click", [&] { QTest::mouseDClick(view, Qt::LeftButton, {}, QPoint(5, 5)); }, true},
      {"Esc", [&] { QTest::keyClick(Player.get(), Qt::Key_Escape); }, false},
      {"Esc when not full screen", [&] { QTest::keyClick(Player.get(), Qt::Key_Escape); }, false},
      {"the menu item", [&] { Find("AFullScreen")->trigger(); }, true},
      {"a double click again", [&] { QTest::mouseDClick(view, Qt::LeftButton, {}, QPoint(5, 5)); }, false},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.name);
    s.act();
    EXPECT_EQ(Player->isFullScreen(), s.full);
    EXPECT_EQ(Find("AFullScreen")->isChecked(), s.full);
    EXPECT_EQ(Player->menuBar()->isVisible(), !s.full);
  }
  // The double click's press played the film, as any click does.
  EXPECT_EQ(Player->PlayState(), psPlaying);
  // Full screen brings the picture into the main window; leaving it returns the display window.
  Player->SetOwnWindow(true);
  ASSERT_TRUE(Display->isVisible());
  Player->SetFullScreen(true);
  EXPECT_FALSE(Player->InOwnWindow());
  EXPECT_FALSE(Display->isVisible());
  Player->SetFullScreen(false);
  EXPECT_TRUE(Player->InOwnWindow());
  EXPECT_TRUE(Display->isVisible());
  // A double click in the display window makes the main window full screen.
  QTest::mouseDClick(Display->View(), Qt::LeftButton, {}, QPoint(5, 5));
  EXPECT_TRUE(Player->isFullScreen());
}

// Full screen on the 1600 × 1000 screen: the 640 × 480 film fills the screen's height on
// black, both bars hidden until the pointer nears their edge (the picture staying put); the
// pointer hides over the picture after two seconds without moving.
TEST_F(TRandomAccess, FullScreenFillsTheScreenAndTheBarsComeBackNearTheirEdges) {
  ASSERT_EQ(QGuiApplication::primaryScreen()->geometry(), QRect(0, 0, 1600, 1000));
  Load(Film({Solid("demo", 640, 480, 4)}));
  Enter(psPaused, TFramePos{0, 0});
  TPictureView* view = Player->centralWidget()->findChild<TPictureView*>();
  QWidget* panel = Find<QWidget>("pnlControls");
  auto* hide = Player->findChild<QTimer*>("tmrHidePointer");
  auto onScreen = [&] {
    const TPlacement& p = Player->Placement();
    return QRect(view->mapTo(Player.get(), QPoint(p.Left, p.Top)), QSize(p.FitWidth, p.FitHeight));
  };
  Player->SetFullScreen(true);
  QApplication::processEvents();
  ASSERT_EQ(Player->geometry(), QRect(0, 0, 1600, 1000));
  const QImage shot = Player->grab().toImage();
  EXPECT_EQ(shot.pixel(60, 500) & 0xFFFFFF, 0u);
  EXPECT_EQ(shot.pixel(800, 999) & 0xFFFFFF, 0x204060u);  // no panel, nor a copy of it
  const struct { int y; bool menu, panel; } moves[] = {{500, false, false}, {960, false, true}, {990, false, true},
                                                        {30, true, false},  {0, true, false},   {500, false, false}};
  for (const auto& m : moves) {
    QTest::mouseMove(Player.get(), QPoint(800, m.y));
    QApplication::processEvents();
    EXPECT_EQ(Player->menuBar()->isVisible(), m.menu) << m.y;
    EXPECT_EQ(panel->isVisible(), m.panel) << m.y;
    EXPECT_EQ(onScreen(), QRect(133, 0, 1333, 1000)) << m.y;
  }
  // At rest over the picture the pointer hides; over the panel it stays.
  ASSERT_EQ(hide->interval(), 2000);
  for (const auto& [y, shape] : {std::pair(990, Qt::PointingHandCursor), std::pair(500, Qt::BlankCursor)}) {
    QTest::mouseMove(Player.get(), QPoint(800, y));
    QCursor::setPos(800, y);
    QMetaObject::invokeMethod(hide, "timeout");
    EXPECT_EQ(view->cursor().shape(), shape) << y;
  }
  QTest::keyClick(Player.get(), Qt::Key_Escape);
  QApplication::processEvents();
  EXPECT_TRUE(panel->isVisible() && Player->menuBar()->isVisible() && !hide->isActive());
  EXPECT_EQ(view->cursor().shape(), Qt::PointingHandCursor);
  EXPECT_EQ(view->grab().toImage().pixel(2, 2) & 0xFFFFFF, 0x808080u);
}

TEST_F(TRandomAccess, AFilmDroppedOntoAWindowOpensAfterStopping) {
  const std::string first = Film({Timed("a", 10, 1)}, "first.zrcab");
  const std::string second = Film({Timed("b", 5, 1), Timed("c", 5, 1)}, "second.zrcab");
  auto drop = [&](QWidget* target, const QList<QUrl>& urls, const QString& text = {}) {
    QMimeData data;
    if (!urls.isEmpty()) data.setUrls(urls);
    if (!text.isEmpty()) data.setText(text);
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    const bool accepted = enter.isAccepted();
    QDropEvent dropped(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    if (accepted) QApplication::sendEvent(target, &dropped);
    QApplication::processEvents();
    return accepted;
  };
  const auto url = [](const std::string& path) { return QUrl::fromLocalFile(QString::fromStdString(path)); };
  struct Case {
    const char* name;
    QWidget* target;
    QList<QUrl> urls;
    QString text;
    bool accepted;
    size_t segments;  // of the film afterwards
    QString path;
  };
  const Case cases[] = {
      {"a film onto the main window", Player.get(), {url(first)}, {}, true, 1, "first.zrcab"},
      {"another, while it plays", Player.get(), {url(second)}, {}, true, 2, "second.zrcab"},
      {"two files: the first", Display.get(), {url(first), url(second)}, {}, true, 1, "first.zrcab"},
      {"text is no film", Player.get(), {}, "first.zrcab", false, 1, "first.zrcab"},
      {"a web address is no film", Player.get(), {QUrl("http://example.org/f.zrcab")}, {}, false, 1, "first.zrcab"},
      {"a foreign file: its message, no film", Player.get(), {url(Foreign())}, {}, true, 0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (!Player->Core().Segments().empty()) Player->APlayExecute();
    EXPECT_EQ(drop(c.target, c.urls, c.text), c.accepted);
    EXPECT_EQ(Player->Core().Segments().size(), c.segments);
    EXPECT_EQ(QFileInfo(Player->FileName()).fileName(), c.path);
    // A film that opens waits stopped; what was not taken for one plays on.
    EXPECT_EQ(Player->PlayState(), c.accepted ? psStopped : psPlaying);
  }
  ASSERT_EQ(Player->Boxes.size(), 1u);
  EXPECT_TRUE(Player->Boxes[0].Text.startsWith("Данный формат файла не поддерживается"));
}

TEST_F(TRandomAccess, StartOnTheCommandLinePlaysFromThatTime) {
  const std::string film = Film({Timed("a", 10, 1), Timed("b", 10, 1), Timed("c", 10, 1)});
  struct Case {
    const char* name;
    std::vector<std::string> args;
    bool ok;
    std::optional<TFramePos> shown;  // the frame shown once the command line is read
  };
  const Case cases[] = {
      {"seconds", {film, "/start", "12"}, true, TFramePos{1, 2}},
      {"h:mm:ss.zzz", {"/START", "0:00:25.500", film}, true, TFramePos{2, 5}},
      // The time is the film's: it applies after /segm, wherever either is written.
      {"after /segm", {"/segm", "2", "/start", "3", film}, true, TFramePos{0, 3}},
      {"/segm written after it", {film, "/start", "23", "/segm", "1"}, true, TFramePos{2, 3}},
      {"/segm out of range", {film, "/segm", "9", "/start", "3"}, true, TFramePos{0, 3}},
      {"past the end: the last frame", {film, "/start", "1:00"}, true, TFramePos{2, 9}},
      {"zero", {film, "-start", "0"}, true, TFramePos{0, 0}},
      {"not a time", {film, "/start", "soon"}, false, std::nullopt},
      {"minutes beyond 59", {film, "/start", "1:75"}, false, std::nullopt},
      {"negative", {film, "/start", "-5"}, false, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Make();
    EXPECT_EQ(StartPlayer(*Player, c.args), c.ok);
    if (!c.ok) {
      ASSERT_EQ(Player->Boxes.size(), 1u);
      EXPECT_EQ(Player->Boxes[0].Text, "Неверный формат командной строки");
      EXPECT_EQ(Player->Boxes[0].Caption, "Ошибка");
      EXPECT_TRUE(Player->Core().Segments().empty());
      continue;
    }
    EXPECT_EQ(Player->PlayState(), psPlaying);
    EXPECT_TRUE(Find<QTimer>("Timer")->isActive());
    EXPECT_EQ(Player->ShownFrame(), c.shown);
    // Playing on from there.
    Player->TimerTimer();
    Player->TimerTimer();
    if (c.shown == TFramePos{2, 9}) {
      EXPECT_EQ(Player->PlayState(), psStopped);  // the film has ended
    } else {
      EXPECT_EQ(Player->ShownFrame(), (TFramePos{c.shown->Segment, c.shown->Frame + 1}));
    }
  }
  // A time in a segment that cannot be shown is told as playing it would be; the player stays.
  auto raw = std::vector<TRawSegment>{EncodeSegment(Timed("a", 10, 1)), EncodeSegment(Timed("b", 10, 1))};
  raw[1].BitsPerPixel = 16;
  const std::string deep = (Root / "deep.zrcab").string();
  WriteFileBytes(deep, MakeFilmPackage(WriteFilmRaw(raw)));
  Make();
  EXPECT_TRUE(StartPlayer(*Player, {deep, "/start", "12"}));
  ASSERT_EQ(Player->Boxes.size(), 1u);
  EXPECT_EQ(Player->Boxes[0].Text, QString::fromUtf8(kLbMessages[0]));
  EXPECT_EQ(Player->PlayState(), psStopped);
}

// ---- What the player remembers: the settings, the recent films, where films were left ----

std::string FileText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST_F(TShellFixture, ADamagedOrUnwritableSettingsFileCostsOnlyWhatItRemembers) {
  EXPECT_EQ(TPlayerSettings::UserFile(), QString::fromStdString((Root / "config/veRirove/veRirove.conf").string()));
  using namespace PlayerSettingsKey;
  const fs::path dir = Root / "settings";
  fs::create_directories(dir);
  struct Case {
    const char* name;
    std::string bytes;  // the file before; none when empty
    fs::path file;
    bool written;
  };
  const Case cases[] = {
      {"no file yet", "", dir / "new/veRirove.conf", true},
      // A count of records far beyond any kept, values of no kind the player writes, bytes of
      // no text: read as far as they make sense, then written over.
      {"garbage", std::string("\xff\xfe\0[[[\n[Films]\nRecent=@Variant(\\0\\0\\0\\x7f\\0)\n[Resume]\nsize=99999999\n"
                              "1\\path=/a.zrcab\n1\\position=zz\n\x01\x02", 90),
       dir / "garbage.conf", true},
      {"read-only", "[Films]\nRecent=/old.zrcab\n", dir / "read-only.conf", ::geteuid() == 0},
      {"its folder is a file", "", dir / "file/veRirove.conf", false},
  };
  WriteFileBytes((dir / "file").string(), std::vector<uint8_t>{'x'});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (!c.bytes.empty()) WriteFileBytes(c.file.string(), std::vector<uint8_t>(c.bytes.begin(), c.bytes.end()));
    if (std::string(c.name) == "read-only") fs::permissions(c.file, fs::perms::owner_read | fs::perms::group_read);
    const std::string before = FileText(c.file);
    TPlayerSettings settings(QString::fromStdString(c.file.string()));
    EXPECT_LE(settings.Records(kResumePositions, 200).size(), 200u);
    EXPECT_TRUE(settings.Flag("View/Nothing", true));
    settings.SetTexts(kRecentFilms, {"/a.zrcab", "/b, c.zrcab"});
    settings.SetFlag("View/Flag", false);
    // Kept for the run whatever the file.
    EXPECT_EQ(settings.Texts(kRecentFilms, 10), (QStringList{"/a.zrcab", "/b, c.zrcab"}));
    EXPECT_FALSE(settings.Flag("View/Flag", true));
    const std::string after = FileText(c.file);
    EXPECT_EQ(after.find("b, c.zrcab") != std::string::npos, c.written);
    if (!c.written) EXPECT_EQ(after, before);
  }
}

TEST_F(TShellFixture, RecentFilmsAndPlacesAreKeptWithinTheirLimits) {
  TPlayerSettings settings(QString::fromStdString((Root / "limits.conf").string()));
  TRecentFilms recent(settings);
  for (int i = 1; i <= 12; ++i) recent.Add(QStringLiteral("/films/%1.zrcab").arg(i));
  recent.Add(QStringLiteral("/films/5.zrcab"));
  QDir::setCurrent(QString::fromStdString(Root.string()));
  recent.Add(QStringLiteral("relative.zrcab"));
  recent.Remove(QStringLiteral("/films/12.zrcab"));
  EXPECT_EQ(recent.Paths(), (QStringList{QString::fromStdString((Root / "relative.zrcab").string()), "/films/5.zrcab",
                                         "/films/11.zrcab", "/films/10.zrcab", "/films/9.zrcab", "/films/8.zrcab",
                                         "/films/7.zrcab", "/films/6.zrcab", "/films/4.zrcab"}));
  recent.Clear();
  EXPECT_TRUE(recent.Paths().isEmpty());

  // Where a film of ten minutes was left.
  TResumePositions places(settings);
  const TFilmIdentity film{"/films/a.zrcab", 1000, 5000};
  struct Case {
    const char* name;
    int64_t position;
    TFilmIdentity reopened;
    std::optional<int64_t> recalled;
  };
  const Case cases[] = {
      {"10 s from the start", 10000, film, std::nullopt},
      {"just after", 10001, film, 10001},
      {"10 s before the end", 590000, film, std::nullopt},
      {"just before", 589999, film, 589999},
      {"a film of another size", 302000, {"/films/a.zrcab", 1001, 5000}, std::nullopt},
      {"a film modified since", 302000, {"/films/a.zrcab", 1000, 5001}, std::nullopt},
  };
  for (const auto& c : cases) {
    places.Remember(film, 200000, 600000);
    places.Remember(film, c.position, 600000);
    EXPECT_EQ(places.Recall(c.reopened, 600000), c.recalled) << c.name;
  }
  // Two hundred films at most: the one left longest ago goes.
  for (int i = 0; i <= TResumePositions::kMost; ++i)
    places.Remember({QStringLiteral("/films/%1.zrcab").arg(i), 1, 1}, 60000 + i, 600000);
  EXPECT_EQ(places.Recall({"/films/0.zrcab", 1, 1}, 600000), std::nullopt);
  EXPECT_EQ(places.Recall({"/films/1.zrcab", 1, 1}, 600000), 60001);
  EXPECT_EQ(places.Recall({"/films/200.zrcab", 1, 1}, 600000), 60200);
}

// ---- The film's index: chapters, idle stretches, the seek bar's marks and its previews ----

TEST(FilmIndexMoves, ChaptersAndJumpsOverIdleTime) {
  const TIndexedFilm indexed;
  const TTestFilm film(indexed.Source);
  const std::vector<TChapter> chapters = FilmChapters(film.Segments, &indexed.Index);
  ASSERT_EQ(chapters.size(), 3u);
  EXPECT_EQ(chapters[1].Title, "Часть 2");
  // An index of another film names frames this one has not: they are left out.
  TFilmIndex foreign = indexed.Index;
  foreign.Chapters.push_back({0, {0, 99}, "Часть 9", true});
  foreign.Chapters.push_back({0, {7, 0}, "Часть 3", true});
  EXPECT_EQ(FilmChapters(film.Segments, &foreign).size(), 3u);
  EXPECT_EQ(FilmChapters(film.Segments, nullptr).size(), 2u);

  struct Step {
    const char* name;
    TFramePos from;
    int direction;
    std::optional<TFramePos> to;
  };
  const Step steps[] = {
      {"next: the automatic chapter", {0, 3}, 1, TFramePos{0, 15}},
      {"next from an automatic chapter: the next segment", {0, 15}, 1, TFramePos{1, 0}},
      {"next in the last chapter: none", {1, 5}, 1, std::nullopt},
      {"back 1 s into a chapter: the one before", {0, 16}, -1, TFramePos{0, 0}},
      {"back 3 s into a chapter: its start", {0, 18}, -1, TFramePos{0, 15}},
      {"back 2 s into the first: its start", {0, 2}, -1, TFramePos{0, 0}},
      {"back from a segment's start: the automatic chapter", {1, 0}, -1, TFramePos{0, 15}},
  };
  for (const auto& s : steps) EXPECT_EQ(ChapterStep(chapters, film.Segments, s.from, s.direction), s.to) << s.name;

  struct Skip {
    const char* name;
    std::vector<TIdleStretch> idle;
    TFramePos shown;
    std::optional<TFramePos> to;
    int64_t skippedMs;
  };
  const std::vector<TIdleStretch>& idle = indexed.Index.Idle;
  const Skip skips[] = {
      {"the stretch's first second is kept", idle, {0, 5}, std::nullopt, 0},
      {"after a second: to the next change", idle, {0, 6}, TFramePos{0, 15}, 9000},
      {"its last frame", idle, {0, 14}, TFramePos{0, 15}, 1000},
      {"a stretch to the segment's end: the next segment", idle, {0, 21}, TFramePos{1, 0}, 9000},
      {"not idle", idle, {0, 16}, std::nullopt, 0},
      {"2 s is played", {{31000, 33000, {1, 1}}}, {1, 2}, std::nullopt, 0},
      {"to the film's end: its last frame", {{35000, 40000, {1, 5}}}, {1, 7}, TFramePos{1, 9}, 2000},
      {"a frame outside the film", idle, {0, 40}, std::nullopt, 0},
  };
  for (const auto& s : skips) {
    TFilmIndex index;
    index.Idle = s.idle;
    const std::optional<TIdleSkip> skip = IdleSkipAt(index, film.Segments, s.shown);
    EXPECT_EQ(skip ? std::optional<TFramePos>(skip->Target) : std::nullopt, s.to) << s.name;
    EXPECT_EQ(skip ? skip->SkippedMs : 0, s.skippedMs) << s.name;
  }
  const std::pair<int64_t, const char*> notices[] = {{42000, "Пропущено 0:42"},
                                                     {9999, "Пропущено 0:09"},
                                                     {754000, "Пропущено 12:34"},
                                                     {3723000, "Пропущено 1:02:03"}};
  for (const auto& [ms, text] : notices) EXPECT_EQ(IdleSkipNotice(ms), text);
}

TEST(FilmIndexMoves, TheSeekBarsMarksAndWhichPreviewShowsAFrame) {
  const TIndexedFilm indexed;
  const TTestFilm film(indexed.Source);
  const std::vector<TChapter> chapters = FilmChapters(film.Segments, &indexed.Index);
  const TSeekBarMarks marks = SeekBarMarks(film.Segments, indexed.Index, chapters);
  ASSERT_EQ(marks.Heat.size(), 40u);
  EXPECT_EQ(marks.Ticks, (std::vector<TSeekBarMarks::TTick>{{0, false}, {15, true}, {30, false}}));
  EXPECT_EQ(marks.Idle, (std::vector<TSeekBarMarks::TSpan>{{5, 15}, {20, 30}}));
  // A still screen is cold, a pixel typed warm, a new screen the hottest.
  EXPECT_EQ(marks.Heat[5], 0);
  EXPECT_GE(marks.Heat[1], 40);
  EXPECT_LT(marks.Heat[1], 160);
  EXPECT_EQ(marks.Heat[15], 255);
  EXPECT_EQ(marks.Heat[34], marks.Heat[1]);  // a pixel of 160 each
  // An index that covers fewer segments leaves the rest cold.
  TFilmIndex partial = indexed.Index;
  partial.Segments.resize(1);
  EXPECT_EQ(SeekBarMarks(film.Segments, partial, chapters).Heat[30], 0);

  struct Shows {
    TFramePos at;
    int preview;  // -1: none, a seek makes one
  };
  const Shows shows[] = {{{0, 0}, 0}, {{0, 4}, 0}, {{0, 12}, -1}, {{0, 15}, 1}, {{0, 25}, 1}, {{0, 26}, -1}, {{1, 9}, 2}};
  for (const auto& s : shows) {
    const TPreview* p = PreviewShowing(indexed.Index, film.Segments, chapters, s.at);
    EXPECT_EQ(p ? int(p - indexed.Index.Previews.data()) : -1, s.preview) << s.at.Segment << "/" << s.at.Frame;
  }
}

struct TIndexInTheWindow : TRandomAccess {
  TIndexedFilm Indexed;
  // Loads the film; its pass runs once it has loaded, and must find the chapters and idle
  // stretches written out by hand (the second time, from the index kept in the cache). The
  // hand-filled index, whose previews are marked, then takes its place.
  void LoadIndexed() {
    Load(Film(Indexed.Source, "indexed.zrcab"));
    TSeekBar* bar = Find<TSeekBar>("pbrProgress");
    for (int i = 0; i < 6000 && bar->Marks().Empty(); ++i) QTest::qWait(5);
    const TTestFilm film(Indexed.Source);
    const TSeekBarMarks expected =
        SeekBarMarks(film.Segments, Indexed.Index, FilmChapters(film.Segments, &Indexed.Index));
    EXPECT_EQ(bar->Marks().Ticks, expected.Ticks);
    EXPECT_EQ(bar->Marks().Idle, expected.Idle);
    EXPECT_TRUE(fs::exists(Root / "cache" / "veRirove"));
    Index()->SetIndex(std::make_shared<TFilmIndex>(Indexed.Index));
  }
  TFilmIndexControl* Index() const { return Player->findChild<TFilmIndexControl*>("ctlFilmIndex"); }
  void Hover(int x) {
    TSeekBar* bar = Find<TSeekBar>("pbrProgress");
    QMouseEvent move(QEvent::MouseMove, QPointF(x, 5), bar->mapToGlobal(QPointF(x, 5)), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(bar, &move);
  }
};

TEST_F(TIndexInTheWindow, PlayingSkipsIdleStretchesWhenAskedAndRemembersTheChoice) {
  LoadIndexed();
  for (const bool skip : {false, true}) {
    SCOPED_TRACE(skip ? "skipping" : "playing all");
    if (Find("ASkipIdle")->isChecked() != skip) Find("ASkipIdle")->trigger();
    Enter(psPlaying, TFramePos{0, 4});
    Find<QLabel>("lblNotice")->clear();
    // The first tick shows the frame sought, each one after it the next.
    for (int tick = 0; tick < 3; ++tick) Player->TimerTimer();
    EXPECT_EQ(Player->ShownFrame(), (skip ? TFramePos{0, 15} : TFramePos{0, 6}));
    EXPECT_EQ(Find<QLabel>("lblNotice")->text(), skip ? "Пропущено 0:09" : "");
    EXPECT_EQ(Player->PlayState(), psPlaying);
  }
  // The next run skips too; chapters inside segments are keys away.
  Make();
  EXPECT_TRUE(Find("ASkipIdle")->isChecked());
  LoadIndexed();
  ASSERT_TRUE(QTest::qWaitForWindowActive(Player.get()));
  Enter(psPaused, TFramePos{0, 3});
  QTest::keyClick(Player.get(), Qt::Key_N, Qt::ShiftModifier);
  EXPECT_EQ(Player->ShownFrame(), (TFramePos{0, 15}));
  EXPECT_TRUE(Player->Results.isEmpty());
}

TEST_F(TIndexInTheWindow, TheSeekBarShowsTheIndexAndAPreviewWhereThePointerIs) {
  LoadIndexed();
  TSeekBar* bar = Find<TSeekBar>("pbrProgress");
  ASSERT_EQ(bar->width(), 173);
  // 40 frames over 173 pixels: the new screen of frame 15 is hot, the idle stretch after frame 5
  // cold; a segment's start is ticked across the bar.
  EXPECT_EQ(bar->ColumnHeat(15 * 173 / 40 + 1), 255);
  EXPECT_EQ(bar->ColumnHeat(10 * 173 / 40), 0);
  const QImage shot = bar->grab().toImage();
  EXPECT_EQ(shot.pixel(30 * 173 / 40, 2) & 0xFFFFFF, 0u);
  EXPECT_NE(shot.pixel(15 * 173 / 40 + 2, 2), shot.pixel(10 * 173 / 40, 2));

  Enter(psPlaying, TFramePos{0, 2});
  const auto composed = Player->Core().ComposedFrame();
  const int32_t next = Player->Core().FrameIndex();
  struct Case {
    int x;
    const char* text;
    int64_t colour;  // of the picture at once; -1: its place waits for a seek
    QRgb made;       // what the seek makes
  };
  const Case cases[] = {
      {16 * 173 / 40 + 1, "0:00:16  Часть 2", TIndexedFilm::kPreviewColours[1], 0},
      {35 * 173 / 40 + 1, "0:00:35  Отчёт", TIndexedFilm::kPreviewColours[2], 0},
      {27 * 173 / 40 + 1, "0:00:27  Часть 2", -1, TIndexedFilm::kScreens[1]},
  };
  TPreviewPopup* popup = Index()->Popup();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    Hover(c.x);
    ASSERT_TRUE(popup->isVisible());
    EXPECT_EQ(popup->Text(), c.text);
    EXPECT_EQ(popup->Picture().isNull() ? -1 : int64_t(popup->Picture().pixel(80, 50) & 0xFFFFFF), c.colour);
    if (c.colour >= 0) continue;
    for (int i = 0; i < 2000 && popup->Picture().isNull(); ++i) QTest::qWait(5);
    ASSERT_FALSE(popup->Picture().isNull());
    EXPECT_EQ(popup->Picture().size(), QSize(160, 100));
    EXPECT_EQ(popup->Picture().pixel(80, 50) & 0xFFFFFF, c.made);
  }
  // The playing core was never asked: it stands where it stood, and the timer plays on.
  EXPECT_EQ(Player->Core().ComposedFrame(), composed);
  EXPECT_EQ(Player->Core().FrameIndex(), next);
  EXPECT_EQ(Player->PlayState(), psPlaying);
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(bar, &leave);
  EXPECT_FALSE(popup->isVisible());
  // Another film leaves the index behind.
  Player->AStopExecute();
  Load(Film({Timed("a", 10, 1)}));
  EXPECT_TRUE(bar->Marks().Empty());
  EXPECT_EQ(Player->findChild<TTransport*>()->Index(), nullptr);
}

struct TFilmMemory : TRandomAccess {
  // A minute: two segments of 30 frames at one frame a second.
  std::string Minute(const std::string& name) { return Film({Timed("a", 30, 1), Timed("b", 30, 1)}, name); }
  TRecentFilmsMenu* RecentMenu() const { return Find<TRecentFilmsMenu>("mnuRecentFilms"); }
  // The items of "Последние фильмы" as the menu shows them when it opens; greyed ones in brackets.
  QStringList RecentItems() const {
    emit RecentMenu()->aboutToShow();
    QStringList texts;
    for (const QAction* a : RecentMenu()->actions()) {
      const QString text = a->isSeparator() ? QStringLiteral("-") : a->text();
      texts << (TRecentFilmsMenu::Greyed(a) ? "[" + text + "]" : text);
    }
    return texts;
  }
  QAction* RecentItem(int index) const {
    emit RecentMenu()->aboutToShow();
    return RecentMenu()->actions().value(index);
  }
  QString Notice() const {
    const QLabel* notice = Find<QLabel>("lblNotice");
    return notice->isVisible() ? notice->text() : QString();
  }
};

TEST_F(TFilmMemory, TheFilmsOpenedLastAreOfferedNewestFirst) {
  const std::string first = Minute("first.zrcab"), second = Minute("second & co.zrcab"), third = Minute("third.zrcab");
  EXPECT_EQ(RecentItems(), (QStringList{"Очистить список"}));
  EXPECT_FALSE(Find("AClearRecentFilms")->isEnabled());
  // Opened through every way there is.
  ASSERT_TRUE(StartPlayer(*Player, {first, "/size", "640", "480"}));
  Player->AStopExecute();
  Player->NextFile = QString::fromStdString(second);
  Player->ALoadFromFileExecute();
  Player->OpenDroppedFilm(QString::fromStdString(third));
  Player->OpenDroppedFilm(QString::fromStdString(Foreign()));  // not opened: not listed
  EXPECT_EQ(RecentItems(), (QStringList{"&1 third.zrcab", "&2 second && co.zrcab", "&3 first.zrcab", "-", "Очистить список"}));
  EXPECT_EQ(RecentItem(0)->toolTip(), QString::fromStdString(third));
  // Chosen, a film opens (playback stopping first) and comes first.
  Player->Boxes.clear();
  Player->OpenDroppedFilm(QString::fromStdString(third));
  Player->APlayExecute();
  RecentItem(2)->trigger();
  Settle();
  EXPECT_EQ(Player->FileName(), QString::fromStdString(first));
  EXPECT_EQ(Player->PlayState(), psStopped);
  EXPECT_EQ(Player->Core().Segments().size(), 2u);
  // A film whose file is gone is greyed; chosen, it is told and goes, and the film open stays.
  fs::remove(second);
  EXPECT_EQ(RecentItems(), (QStringList{"&1 first.zrcab", "&2 third.zrcab", "[&3 second && co.zrcab]", "-", "Очистить список"}));
  RecentItem(2)->trigger();
  ASSERT_EQ(Player->Boxes.size(), 1u);
  EXPECT_EQ(Player->Boxes[0].Text, QString::fromStdString("Файл «" + second + "» не найден."));
  EXPECT_EQ(Player->Boxes[0].Icon, QMessageBox::Warning);
  EXPECT_EQ(Player->FileName(), QString::fromStdString(first));
  EXPECT_EQ(Player->ExitStatus(), 0);
  // The list outlives the window; "Очистить список" empties it.
  Make();
  EXPECT_EQ(RecentItems(), (QStringList{"&1 first.zrcab", "&2 third.zrcab", "-", "Очистить список"}));
  Find("AClearRecentFilms")->trigger();
  EXPECT_EQ(RecentItems(), (QStringList{"Очистить список"}));
}

TEST_F(TFilmMemory, AFilmLeftInTheMiddleOffersToGoOnFromThere) {
  // A film of its own for each case: nothing remembered of one case helps another.
  std::string film;
  const std::string other = Minute("other.zrcab");
  const QString offer = "Продолжить с 0:00:25? (Enter)";
  auto open = [&] {
    Player->NextFile = QString::fromStdString(film);
    Player->ALoadFromFileExecute();
  };
  auto at = [&](int second) { Player->SeekToTime(second * 1000); };
  // Opened again with its second segment still being read (until the offer is made, or for at
  // most 2 s): the offer counts the whole film.
  std::atomic<bool> hold = false;
  auto openHeld = [&] {
    hold = true;
    QObject::connect(Find("AResume"), &QAction::changed, Player.get(), [&] { hold = false; });
    Player->Session().OnSegmentRead = [&](int32_t read) {
      for (int ms = 0; read == 1 && hold && ms < 2000; ++ms) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    open();
  };
  struct Case {
    const char* name;
    std::function<void()> leave;  // from the film open and paused at 0:00:25
    std::function<void()> reopen;
    QString notice;
  };
  const Case cases[] = {
      {"closed paused", [&] { Player->close(); }, [&] { Make(); open(); }, offer},
      {"opened again while the rest is read", [&] { Player->close(); }, [&] { Make(); openHeld(); }, offer},
      {"another opened", [&] { Player->OpenDroppedFilm(QString::fromStdString(other)); }, open, offer},
      {"stopped, then another opened",
       [&] { Player->AStopExecute(); Player->OpenDroppedFilm(QString::fromStdString(other)); }, open, offer},
      {"on the command line", [&] { Player->close(); }, [&] { Make(); StartPlayer(*Player, {film}); }, offer},
      {"/start wins", [&] { Player->close(); }, [&] { Make(); StartPlayer(*Player, {film, "/start", "3"}); }, ""},
      {"/segm wins", [&] { Player->close(); }, [&] { Make(); StartPlayer(*Player, {film, "/segm", "1"}); }, ""},
      {"played to the end", [&] { at(59); Player->APauseExecute(); Player->TimerTimer(); Player->close(); },
       [&] { Make(); open(); }, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    film = Minute("film" + std::to_string(&c - cases) + ".zrcab");
    Make();
    open();
    Enter(psPaused, TFramePos{0, 25});
    c.leave();
    c.reopen();
    EXPECT_EQ(Notice(), c.notice);
    EXPECT_EQ(Find("AResume")->isEnabled(), !c.notice.isEmpty());
    hold = false;
    if (c.notice.isEmpty()) continue;
    // Enter goes on from there, playing.
    QTest::keyClick(Player.get(), Qt::Key_Return);
    EXPECT_EQ(Player->ShownFrame(), (TFramePos{0, 25}));
    EXPECT_EQ(Player->PlayState(), psPlaying);
    EXPECT_EQ(Notice(), "");
    EXPECT_FALSE(Find("AResume")->isEnabled());
  }
  // The offer lapses after 5 seconds.
  Enter(psPaused, TFramePos{0, 25});
  Player->OpenDroppedFilm(QString::fromStdString(film));
  ASSERT_EQ(Notice(), offer);
  auto* lapse = Find<QTimer>("tmrResumeOffer");
  EXPECT_EQ(lapse->interval(), 5000);
  QMetaObject::invokeMethod(lapse, "timeout");
  EXPECT_EQ(Notice(), "");
  EXPECT_FALSE(Find("AResume")->isEnabled());
}

// ---- Export ----

// Answers the modal window that comes up next (a dialog or a message box) with `answer`, once
// the event loop runs, unless `context` has gone by then. Whatever the answer does not close is
// rejected, so no test can hang on it.
void AnswerNextModal(std::function<void(QWidget*)> answer, QObject* context = qApp) {
  QTimer::singleShot(0, context, [answer] {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal) return;
    answer(modal);
    if (QApplication::activeModalWidget() == modal && modal->isVisible())
      if (auto* dialog = qobject_cast<QDialog*>(modal)) dialog->reject();
  });
}

// Clicks the button of a message box with this standard role, and tells the box's text.
std::function<void(QWidget*)> ClickInBox(QMessageBox::StandardButton button, QString* text = nullptr) {
  return [button, text](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    if (!box) return;
    if (text) *text = box->text();
    if (QAbstractButton* b = box->button(button)) b->click();
  };
}

// The bytes a file starts with, and whether they are those of the format.
std::string Head(const fs::path& path, size_t n = 64) {
  std::ifstream in(path, std::ios::binary);
  std::string bytes(n, '\0');
  in.read(bytes.data(), std::streamsize(n));
  bytes.resize(size_t(in.gcount()));
  return bytes;
}
bool HasMagic(const fs::path& path, TExportFormat format) {
  const std::string head = Head(path);
  const std::string ebml = "\x1A\x45\xDF\xA3";
  switch (format) {
    case TExportFormat::Mp4:
      return head.size() >= 8 && head.substr(4, 4) == "ftyp";
    case TExportFormat::WebM:
      return head.rfind(ebml, 0) == 0 && head.find("webm") != std::string::npos;
    case TExportFormat::Mkv:
      return head.rfind(ebml, 0) == 0 && head.find("matroska") != std::string::npos;
    case TExportFormat::Gif:
      return head.rfind("GIF8", 0) == 0;
  }
  return false;
}

struct TExport : TShellFixture {
  // What the window handed to the export, as the exporter saw it.
  struct TCall {
    std::string Out;
    TExportOptions Options;
    bool Replace = false;
    std::string FilmPath;
  };
  std::vector<TCall> Calls;
  // The gate: with Gated, the export waits at its first progress until Open or cancel.
  std::atomic<bool> Gated{false}, AtGate{false}, Open{false};

  void SetUp() override {
    TShellFixture::SetUp();
    InstallExporter();
  }
  void InstallExporter() {
    Player->SetExporter([this](const TSegments& segments, const std::string& out, const TExportOptions& options,
                               bool replace, const TExportProgressFn& progress, const std::atomic<bool>* cancel,
                               const std::string& filmPath) {
      Calls.push_back({out, options, replace, filmPath});
      const TExportProgressFn gated = [&](const TExportProgress& p) {
        progress(p);
        if (!Gated || AtGate.exchange(true)) return;
        while (!Open && !*cancel) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      };
      return ExportFilm(segments, out, options, replace, gated, cancel, filmPath);
    });
  }
  // Two segments of 16 × 12 whose colour changes every frame, at two frames a second: the
  // window's own timer, which runs while a test waits for an export, hardly moves it on.
  std::string SmallFilm(int frames = 4, const std::string& name = "урок.zrcab") {
    std::vector<TWriterSegment> segments = {Solid("Начало", 16, 12, frames), Solid("Конец", 16, 12, frames)};
    for (auto& segment : segments) segment.FrameRate = 2;
    return Film(segments, name);
  }
  // Opens the export dialog, lets `fill` set it, and presses "Экспорт". False when no dialog
  // came up.
  bool ExportWith(std::function<void(TfrmExport&)> fill) {
    bool shown = false;
    QObject context;  // no answer is left waiting when no dialog came up
    AnswerNextModal([&](QWidget* modal) {
      auto* dialog = qobject_cast<TfrmExport*>(modal);
      if (!dialog) return;
      shown = true;
      fill(*dialog);
      Child<QPushButton>(*dialog, "btnExport")->click();
    }, &context);
    Player->AExportExecute();
    return shown;
  }
  static void SetFile(TfrmExport& dialog, const fs::path& path) {
    QLineEdit* edtFile = Child<QLineEdit>(dialog, "edtFile");
    edtFile->setText(QString::fromStdString(path.string()));
    emit edtFile->textEdited(edtFile->text());
  }
  bool WaitForTheExport() {
    for (int i = 0; i < 12000 && Player->ExportRunning(); ++i) QTest::qWait(5);
    return !Player->ExportRunning();
  }
  bool WaitAtTheGate() {
    for (int i = 0; i < 12000 && !AtGate; ++i) QTest::qWait(5);
    return AtGate;
  }
  // The files in the film's folder, by name.
  std::set<std::string> Files() const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(Root))
      if (entry.is_regular_file()) names.insert(entry.path().filename().string());
    return names;
  }
};

TEST_F(TExport, TheCommandNeedsAFilmAndOneExportAtATime) {
  EXPECT_FALSE(Find("AExport")->isEnabled());
  // Without a film nothing opens.
  EXPECT_FALSE(ExportWith([](TfrmExport&) {}));
  Load(SmallFilm());
  EXPECT_TRUE(Find("AExport")->isEnabled());
  EXPECT_TRUE(Player->OpenFilm(Missing()) == false);
  EXPECT_FALSE(Find("AExport")->isEnabled());
  EXPECT_TRUE(Player->OpenFilm(SmallFilm(4, "b.zrcab")));
  EXPECT_TRUE(Find("AExport")->isEnabled());

  Gated = true;
  ASSERT_TRUE(ExportWith([&](TfrmExport& d) { SetFile(d, Root / "one.mp4"); }));
  ASSERT_TRUE(Player->ExportRunning());
  EXPECT_FALSE(Find("AExport")->isEnabled());
  // A second one is not offered while the first runs.
  EXPECT_FALSE(ExportWith([&](TfrmExport& d) { SetFile(d, Root / "two.mp4"); }));
  Open = true;
  ASSERT_TRUE(WaitForTheExport());
  EXPECT_TRUE(Find("AExport")->isEnabled());
  EXPECT_EQ(Calls.size(), 1u);
}

TEST_F(TExport, TheDialogOffersTheFilmsNameAndKeepsTheExtensionInStepWithTheFormat) {
  TExportRequest request;
  request.FilmPath = QString::fromStdString((Root / "урок.zrcab").string());
  request.Folder = QString::fromStdString(Root.string());
  request.BaseName = QStringLiteral("урок");
  request.SegmentCount = 3;
  request.CurrentSegment = 1;
  request.CurrentSegmentName = QStringLiteral("Вопросы & ответы");
  TfrmExport dialog(request);
  auto* edtFile = Child<QLineEdit>(dialog, "edtFile");
  auto* cbxFormat = Child<QComboBox>(dialog, "cbxFormat");
  auto* sldQuality = Child<QSlider>(dialog, "sldQuality");
  auto* spnQuality = Child<QSpinBox>(dialog, "spnQuality");
  auto* chkCursor = Child<QCheckBox>(dialog, "chkCursor");
  auto* chkSegment = Child<QCheckBox>(dialog, "chkSegment");
  const QString folder = QString::fromStdString(Root.string()) + QLatin1Char('/');
  EXPECT_EQ(edtFile->text(), folder + "урок.mp4");
  QStringList formats;
  for (int i = 0; i < cbxFormat->count(); ++i) formats << cbxFormat->itemText(i);
  EXPECT_EQ(formats, (QStringList{"MP4 — H.264", "WebM — VP9", "MKV — без потерь (FFV1)", "GIF — анимация"}));
  EXPECT_EQ(spnQuality->value(), kDefaultQuality);
  EXPECT_EQ(sldQuality->value(), kDefaultQuality);
  EXPECT_TRUE(chkCursor->isChecked());
  EXPECT_FALSE(chkSegment->isChecked());
  EXPECT_TRUE(chkSegment->isEnabled());
  EXPECT_EQ(chkSegment->text(), "Только &текущий сегмент: 2. Вопросы && ответы");

  struct Step {
    const char* name;
    std::function<void()> act;
    QString file;
    TExportFormat format;
    bool quality;
  };
  const std::vector<Step> steps = {
      {"WebM chosen", [&] { cbxFormat->setCurrentIndex(1); }, folder + "урок.webm", TExportFormat::WebM, true},
      {"lossless MKV", [&] { cbxFormat->setCurrentIndex(2); }, folder + "урок.mkv", TExportFormat::Mkv, false},
      {"GIF", [&] { cbxFormat->setCurrentIndex(3); }, folder + "урок.gif", TExportFormat::Gif, false},
      {"a name typed with another format's extension",
       [&] { SetFile(dialog, Root / "clip.WebM"); }, folder + "clip.WebM", TExportFormat::WebM, true},
      {"a name of its own extension gets the format's", [&] {
         SetFile(dialog, Root / "clip.avi");
         cbxFormat->setCurrentIndex(0);
       }, folder + "clip.avi.mp4", TExportFormat::Mp4, true},
  };
  for (const auto& s : steps) {
    s.act();
    EXPECT_EQ(edtFile->text(), s.file) << s.name;
    EXPECT_EQ(dialog.Format(), s.format) << s.name;
    EXPECT_EQ(sldQuality->isEnabled(), s.quality) << s.name;
    EXPECT_EQ(spnQuality->isEnabled(), s.quality) << s.name;
  }
  // A name without a folder goes to the film's folder; the extension is added.
  edtFile->setText(QStringLiteral("итог"));
  EXPECT_EQ(dialog.OutputPath(), folder + "итог.mp4");
  edtFile->setText(QStringLiteral("sub/../итог.gif"));
  EXPECT_EQ(dialog.OutputPath(), folder + "итог.mp4");

  // The slider and the number go together; the choice carries every setting.
  sldQuality->setValue(85);
  EXPECT_EQ(spnQuality->value(), 85);
  chkCursor->setChecked(false);
  chkSegment->setChecked(true);
  cbxFormat->setCurrentIndex(2);
  edtFile->setText(QStringLiteral("итог.mkv"));
  dialog.show();
  Child<QPushButton>(dialog, "btnExport")->click();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  const TExportChoice& choice = dialog.Choice();
  EXPECT_EQ(choice.Path, folder + "итог.mkv");
  EXPECT_FALSE(choice.Replace);
  EXPECT_EQ(choice.Options.Format, TExportFormat::Mkv);
  EXPECT_TRUE(choice.Options.Lossless);
  EXPECT_EQ(choice.Options.Quality, 85);
  EXPECT_FALSE(choice.Options.Cursor);
  EXPECT_EQ(choice.Options.Segment, 2);

  // A film of one segment: the whole film is that segment. A long name does not widen the
  // dialog.
  request.SegmentCount = 1;
  request.CurrentSegment = 0;
  request.CurrentSegmentName = QString(255, QChar(u'ж'));
  TfrmExport single(request);
  EXPECT_FALSE(Child<QCheckBox>(single, "chkSegment")->isEnabled());
  EXPECT_LT(single.width(), 900);
  QString topic;
  QObject::connect(&single, &TfrmExport::HelpRequested, [&](const QString& t) { topic = t; });
  Child<QPushButton>(single, "btnHelp")->click();
  EXPECT_EQ(topic, "::/export.htm");
}

TEST_F(TExport, TheDialogRefusesWhatCannotBeWritten) {
  fs::create_directories(Root / "папка.mp4");
  // A film named like a video: the only kind the export could be written over.
  const std::string film = Film({Solid("a", 16, 12, 2)}, "фильм.mp4");
  TExportRequest request;
  request.FilmPath = QString::fromStdString(film);
  request.Folder = QString::fromStdString(Root.string());
  request.BaseName = QStringLiteral("урок");
  request.SegmentCount = 1;
  struct Case {
    const char* name;
    std::string file;
    QString says;
  };
  const Case cases[] = {
      {"no name", "  ", "Укажите имя файла, в который записать видео."},
      {"a folder", (Root / "папка.mp4").string(), "это папка"},
      {"a folder that is not there", (Root / "нет" / "a.mp4").string(),
       "Папки «" + QString::fromStdString((Root / "нет").string()) + "» нет"},
      {"the film itself", film, "Нельзя записать видео в файл самого фильма"},
  };
  for (const auto& c : cases) {
    TfrmExport dialog(request);
    dialog.show();
    Child<QLineEdit>(dialog, "edtFile")->setText(QString::fromStdString(c.file));
    QString told;
    AnswerNextModal(ClickInBox(QMessageBox::Ok, &told));
    Child<QPushButton>(dialog, "btnExport")->click();
    EXPECT_TRUE(told.contains(c.says)) << c.name << ": " << told.toStdString();
    EXPECT_TRUE(dialog.isVisible()) << c.name;
    EXPECT_NE(dialog.result(), QDialog::Accepted) << c.name;
  }
}

TEST_F(TExport, TheSaveDialogOffersEachFormatsFileType) {
  TExportRequest request;
  request.Folder = QString::fromStdString(Root.string());
  request.BaseName = QStringLiteral("урок");
  request.Options.Format = TExportFormat::Gif;
  TfrmExport dialog(request);
  QStringList filters;
  QString selected, directory;
  AnswerNextModal([&](QWidget* modal) {
    auto* files = qobject_cast<QFileDialog*>(modal);
    if (!files) return;
    filters = files->nameFilters();
    selected = files->selectedNameFilter();
    directory = files->directory().absolutePath();
    files->selectFile(QString::fromStdString((Root / "другое.webm").string()));
    QMetaObject::invokeMethod(files, "accept");
  });
  Child<QPushButton>(dialog, "btnBrowse")->click();
  EXPECT_EQ(filters, (QStringList{"Видео MP4 (*.mp4)", "Видео WebM (*.webm)", "Видео Matroska без потерь (*.mkv)",
                                  "Анимация GIF (*.gif)"}));
  EXPECT_EQ(selected, "Анимация GIF (*.gif)");
  EXPECT_EQ(directory, QString::fromStdString(Root.string()));
  EXPECT_EQ(Child<QLineEdit>(dialog, "edtFile")->text(), QString::fromStdString((Root / "другое.webm").string()));
  EXPECT_EQ(dialog.Format(), TExportFormat::WebM);
}

TEST_F(TExport, EveryFormatIsWrittenWhileTheWindowPlaysOn) {
  Load(SmallFilm(6));
  struct Case {
    int index;
    const char* file;
    TExportFormat format;
    bool cursor, segment;
  };
  const Case cases[] = {
      {0, "a.mp4", TExportFormat::Mp4, true, false},
      {1, "b.webm", TExportFormat::WebM, false, false},
      {2, "c.mkv", TExportFormat::Mkv, true, true},
      {3, "d.gif", TExportFormat::Gif, true, false},
  };
  Player->APlayExecute();
  Player->TimerTimer();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const auto shownBefore = Player->ShownFrame();
    ASSERT_TRUE(shownBefore);
    ASSERT_TRUE(ExportWith([&](TfrmExport& d) {
      Child<QComboBox>(d, "cbxFormat")->setCurrentIndex(c.index);
      SetFile(d, Root / c.file);
      Child<QCheckBox>(d, "chkCursor")->setChecked(c.cursor);
      Child<QCheckBox>(d, "chkSegment")->setChecked(c.segment);
    }));
    ASSERT_TRUE(Player->ExportProgress());
    EXPECT_TRUE(Player->ExportProgress()->labelText().contains(QString::fromUtf8(c.file)));
    // The window's own film plays on, a frame a tick.
    EXPECT_EQ(Player->PlayState(), psPlaying);
    Player->TimerTimer();
    ASSERT_TRUE(WaitForTheExport());
    EXPECT_EQ(Player->PlayState(), psPlaying);
    EXPECT_NE(Player->ShownFrame(), shownBefore);
    EXPECT_TRUE(Player->Boxes.empty());
    const fs::path out = Root / c.file;
    ASSERT_TRUE(fs::exists(out));
    EXPECT_GT(fs::file_size(out), 0u);
    EXPECT_TRUE(HasMagic(out, c.format));
    EXPECT_EQ(Find<QLabel>("lblNotice")->text(), "Экспорт завершён: " + QString::fromStdString(out.string()));
    EXPECT_EQ(Player->ExportProgress(), nullptr);
    ASSERT_FALSE(Calls.empty());
    const TCall& call = Calls.back();
    EXPECT_EQ(call.Out, out.string());
    EXPECT_EQ(call.FilmPath, Player->FileName().toStdString());
    EXPECT_EQ(call.Options.Format, c.format);
    EXPECT_EQ(call.Options.Lossless, c.format == TExportFormat::Mkv);
    EXPECT_EQ(call.Options.Cursor, c.cursor);
    // The segment on screen when the dialog opened.
    EXPECT_EQ(call.Options.Segment, c.segment ? shownBefore->Segment + 1 : 0);
    EXPECT_EQ(call.Options.Quality, kDefaultQuality);
    EXPECT_FALSE(call.Replace);
  }
  // Nothing but the film and the four files: no file half written beside them.
  EXPECT_EQ(Files(), (std::set<std::string>{"урок.zrcab", "a.mp4", "b.webm", "c.mkv", "d.gif"}));
  // The next export offers what was chosen last, in the folder chosen last.
  std::optional<TExportFormat> offered;
  QString offeredFile;
  AnswerNextModal([&](QWidget* modal) {
    if (auto* d = qobject_cast<TfrmExport*>(modal)) {
      offered = d->Format();
      offeredFile = Child<QLineEdit>(*d, "edtFile")->text();
    }
  });
  Player->AExportExecute();
  EXPECT_EQ(offered, TExportFormat::Gif);
  EXPECT_EQ(offeredFile, QString::fromStdString((Root / "урок.gif").string()));
}

TEST_F(TExport, AnExistingFileIsReplacedOnlyWhenTheUserAgrees) {
  Load(SmallFilm());
  const fs::path out = Root / "урок.mp4";
  WriteFileBytes(out.string(), std::vector<uint8_t>{'o', 'l', 'd'});
  QString asked;
  // No: the dialog stays open (and is then left), the file as it was.
  EXPECT_TRUE(ExportWith([&](TfrmExport&) { AnswerNextModal(ClickInBox(QMessageBox::No, &asked)); }));
  EXPECT_EQ(asked, "Файл «" + QString::fromStdString(out.string()) + "» уже существует.\nЗаменить его?");
  EXPECT_FALSE(Player->ExportRunning());
  EXPECT_TRUE(Calls.empty());
  EXPECT_EQ(Head(out), "old");
  // Yes: replaced.
  EXPECT_TRUE(ExportWith([&](TfrmExport&) { AnswerNextModal(ClickInBox(QMessageBox::Yes)); }));
  ASSERT_TRUE(WaitForTheExport());
  ASSERT_EQ(Calls.size(), 1u);
  EXPECT_TRUE(Calls[0].Replace);
  EXPECT_TRUE(HasMagic(out, TExportFormat::Mp4));
  EXPECT_TRUE(Player->Boxes.empty());
}

TEST_F(TExport, CancelLeavesNoFileAndTheWindowUsable) {
  Load(SmallFilm(40));
  Gated = true;
  ASSERT_TRUE(ExportWith([&](TfrmExport& d) { SetFile(d, Root / "отмена.webm"); }));
  ASSERT_TRUE(WaitAtTheGate());
  QTest::qWait(20);
  QProgressDialog* progress = Player->ExportProgress();
  ASSERT_NE(progress, nullptr);
  EXPECT_TRUE(progress->isVisible());
  EXPECT_FALSE(progress->isModal());
  EXPECT_GT(progress->value(), 0);
  EXPECT_LT(progress->value(), 100);
  auto* cancel = progress->findChild<QPushButton*>();
  ASSERT_NE(cancel, nullptr);
  EXPECT_EQ(cancel->text(), "Отмена");
  cancel->click();
  ASSERT_TRUE(WaitForTheExport());
  EXPECT_EQ(Files(), std::set<std::string>{"урок.zrcab"});
  EXPECT_TRUE(Player->Boxes.empty());
  EXPECT_EQ(Find<QLabel>("lblNotice")->text(), "Экспорт отменён.");
  EXPECT_EQ(Player->ExportProgress(), nullptr);
  // The window plays, and exports again.
  EXPECT_TRUE(Find("AExport")->isEnabled());
  Player->APlayExecute();
  Player->TimerTimer();
  EXPECT_EQ(Player->ShownFrame(), (TFramePos{0, 0}));
  Gated = false;
  ASSERT_TRUE(ExportWith([&](TfrmExport& d) { SetFile(d, Root / "снова.webm"); }));
  ASSERT_TRUE(WaitForTheExport());
  EXPECT_TRUE(HasMagic(Root / "снова.webm", TExportFormat::WebM));
}

TEST_F(TExport, ClosingTheWindowOrOpeningAnotherFilmDuringAnExport) {
  // Another film: the export goes on with the film it started on, to its end.
  Load(SmallFilm(20));
  Gated = true;
  ASSERT_TRUE(ExportWith([&](TfrmExport& d) { SetFile(d, Root / "первый.mkv"); }));
  ASSERT_TRUE(WaitAtTheGate());
  ASSERT_TRUE(Player->OpenFilm(Film({Solid("другой", 8, 8, 3)}, "другой.zrcab")));
  Player->APlayExecute();
  Player->TimerTimer();
  Open = true;
  ASSERT_TRUE(WaitForTheExport());
  EXPECT_TRUE(HasMagic(Root / "первый.mkv", TExportFormat::Mkv));
  EXPECT_TRUE(Player->Boxes.empty());
  EXPECT_EQ(Player->PlayState(), psPlaying);

  // Closing: the export is cancelled and waited for, and leaves nothing.
  AtGate = false;
  Open = false;
  ASSERT_TRUE(ExportWith([&](TfrmExport& d) { SetFile(d, Root / "второй.mkv"); }));
  ASSERT_TRUE(WaitAtTheGate());
  Player->close();
  EXPECT_FALSE(Player->ExportRunning());
  EXPECT_FALSE(fs::exists(Root / "второй.mkv"));
  EXPECT_EQ(Files(), (std::set<std::string>{"урок.zrcab", "другой.zrcab", "первый.mkv"}));
  // And the window goes while another export runs.
  Make();
  InstallExporter();
  Load(SmallFilm(20));
  AtGate = false;
  ASSERT_TRUE(ExportWith([&](TfrmExport& d) { SetFile(d, Root / "третий.gif"); }));
  ASSERT_TRUE(WaitAtTheGate());
  Player.reset();
  EXPECT_FALSE(fs::exists(Root / "третий.gif"));
}

std::atomic<int> gSignalsHeard{0};
void HearSignal(int) { gSignalsHeard.fetch_add(1); }

TEST_F(TExport, ASignalDuringAnExportRemovesItsFileBeforeTheProgramEnds) {
  // The handler the program had before (in the player, the one that removes its temporary
  // folders and ends it) hears the signal once the export has cleaned up.
  struct sigaction hear {}, before {};
  hear.sa_handler = HearSignal;
  sigemptyset(&hear.sa_mask);
  ASSERT_EQ(::sigaction(SIGTERM, &hear, &before), 0);
  gSignalsHeard = 0;
  Load(SmallFilm(20));
  Gated = true;
  ASSERT_TRUE(ExportWith([&](TfrmExport& d) { SetFile(d, Root / "сигнал.mp4"); }));
  ASSERT_TRUE(WaitAtTheGate());
  ::raise(SIGTERM);
  EXPECT_EQ(gSignalsHeard, 0);
  ASSERT_TRUE(WaitForTheExport());
  EXPECT_EQ(gSignalsHeard, 1);
  EXPECT_EQ(Files(), std::set<std::string>{"урок.zrcab"});
  EXPECT_EQ(Find<QLabel>("lblNotice")->text(), "Экспорт отменён.");
  struct sigaction now {};
  ::sigaction(SIGTERM, &before, &now);
  EXPECT_EQ(now.sa_handler, &HearSignal);
}

TEST_F(TExport, FailuresAreToldInTheUsersWordsWithTheReasonBelow) {
  // From the engine itself: a segment without frames.
  Load(Film({Solid("кадры", 16, 12, 3), Solid("пусто", 16, 12, 0)}));
  Player->ChooseSegment(1);
  ASSERT_TRUE(ExportWith([&](TfrmExport& d) { Child<QCheckBox>(d, "chkSegment")->setChecked(true); }));
  ASSERT_TRUE(WaitForTheExport());
  ASSERT_EQ(Player->Boxes.size(), 1u);
  EXPECT_EQ(Player->Boxes[0].Text, "В сегменте 2 нет кадров: экспортировать нечего.");
  EXPECT_EQ(Player->Boxes[0].Caption, "veRirove");
  EXPECT_EQ(Files(), std::set<std::string>{"film.zrcab"});

  // Each failure the engine can give, with its reason under the text.
  struct Case {
    TExportErrc code;
    QMessageBox::Icon icon;
    QString says;
  };
  const QString file = "«" + QString::fromStdString((Root / "film.mp4").string()) + "»";
  const Case cases[] = {
      {TExportErrc::CannotCreate, QMessageBox::Warning, "Не удалось создать файл " + file},
      {TExportErrc::Write, QMessageBox::Critical, "Не удалось записать файл " + file},
      {TExportErrc::Encoder, QMessageBox::Critical, "в формате MP4 — H.264"},
      {TExportErrc::NoFrames, QMessageBox::Warning, "В фильме нет кадров"},
      {TExportErrc::NoMemory, QMessageBox::Critical, "Не хватает памяти, чтобы экспортировать фильм"},
  };
  for (const auto& c : cases) {
    Player->Boxes.clear();
    Player->SetExporter([&c](const TSegments&, const std::string&, const TExportOptions&, bool,
                             const TExportProgressFn&, const std::atomic<bool>*, const std::string&) {
      TExportResult result;
      result.Code = c.code;
      result.Details = "the reason";
      return result;
    });
    ASSERT_TRUE(ExportWith([](TfrmExport& d) { Child<QCheckBox>(d, "chkSegment")->setChecked(false); }));
    ASSERT_TRUE(WaitForTheExport());
    ASSERT_EQ(Player->Boxes.size(), 1u) << int(c.code);
    EXPECT_TRUE(Player->Boxes[0].Text.contains(c.says)) << Player->Boxes[0].Text.toStdString();
    EXPECT_EQ(Player->Boxes[0].Icon, c.icon) << int(c.code);
    EXPECT_EQ(Player->Boxes[0].Details, "the reason");
    EXPECT_TRUE(Find("AExport")->isEnabled());
  }
  // Failures that escape the engine are told as well (out of memory as such), and the window
  // goes on.
  for (const bool memory : {false, true}) {
    Player->Boxes.clear();
    Player->SetExporter([memory](const TSegments&, const std::string&, const TExportOptions&, bool,
                                 const TExportProgressFn&, const std::atomic<bool>*, const std::string&) -> TExportResult {
      if (memory) throw std::bad_alloc();
      throw std::runtime_error("broken");
    });
    ASSERT_TRUE(ExportWith([](TfrmExport&) {}));
    ASSERT_TRUE(WaitForTheExport());
    ASSERT_EQ(Player->Boxes.size(), 1u);
    EXPECT_EQ(Player->Boxes[0].Details, memory ? "out of memory" : "broken");
    EXPECT_EQ(Player->Boxes[0].Text.contains("Не хватает памяти"), memory);
  }
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // The screen of a desktop: 1600 × 1000.
  qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" VERIROVE_TEST_SCREEN);
  TPlayerApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
