// The main window and the display window on the offscreen platform. Ticks are driven by the
// tests (TimerTimer), never by waiting.
#include <gtest/gtest.h>

#include <unistd.h>

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <filesystem>

#include "film/Messages.h"
#include "filmwriter/FilmWriter.h"
#include "shell/TPlayerApplication.h"
#include "shell/TelvoriPlayerImpl1.h"
#include "shell/UzrSegments.h"
#include "shell/UzrCommandLine.h"
#include "shell/UzrDisplay.h"
#include "shell/UzrPictureView.h"
#include "shell/UzrPresent.h"
#include "shell/UzrStartup.h"
#include <QApplication>
#include <QContextMenuEvent>
#include <QPushButton>
#include <QScreen>
#include <QTableWidget>

#include "shell/UzrHelp.h"

namespace fs = std::filesystem;

namespace {

class TTestPlayer : public TTelvoriPlayer {
 public:
  using TTelvoriPlayer::TTelvoriPlayer;
  struct TBox {
    QMessageBox::Icon Icon;
    QString Caption, Text, Details;
  };
  std::vector<TBox> Boxes;
  QStringList Results;
  // What happens when the user closes each result box.
  std::vector<std::function<void()>> ResultDismissals;
  QString NextFile;

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
  }
  bool Highlighted(QToolButton* button) const { return Player->HighlightedButton() == button; }

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
  EXPECT_TRUE(Highlighted(Player->btnStop));
  EXPECT_TRUE(Player->pnlControls->isVisible());
  EXPECT_TRUE(Player->AShowPanel->isChecked());
  EXPECT_FALSE(Player->ASetOwnWindow->isChecked());
  EXPECT_FALSE(Player->btnInOwnWindow->isChecked());
  EXPECT_TRUE(Player->ALoadFromFile->isEnabled());
  EXPECT_FALSE(Player->Timer->isActive());
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
      {Player->APlay, "Воспроизведение", "Воспроизведение", QKeySequence(Qt::Key_F9), true},
      {Player->APause, "Пауза", "Пауза", QKeySequence(Qt::Key_F10), true},
      {Player->AStop, "Стоп", "Стоп", QKeySequence(Qt::Key_F11), true},
      {Player->ASegments, "Сегменты", "", QKeySequence(Qt::Key_F6), true},
      {Player->AAbout, "О программе ...", "", QKeySequence(), false},
      {Player->ALoadFromFile, "Загрузить", "Открыть файл", QKeySequence(Qt::CTRL | Qt::Key_O), true},
      {Player->AShowPanel, "Отображать панель", "", QKeySequence(Qt::Key_F7), false},
      {Player->ASetOwnWindow, "В отдельном окне", "В отдельном окне", QKeySequence(Qt::Key_F8), false},
      {Player->AExit, "Выход", "", QKeySequence(Qt::ALT | Qt::Key_F4), true},
      {Player->AHelp, "Справка", "", QKeySequence(Qt::Key_F1), true},
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
  EXPECT_EQ(items(top[0]->menu()), (QStringList{"Загрузить", "-", "Выход"}));
  EXPECT_EQ(items(top[1]->menu()), (QStringList{"Воспроизведение", "Пауза", "Стоп", "-", "Сегменты"}));
  EXPECT_EQ(items(top[2]->menu()), (QStringList{"Отображать панель", "В отдельном окне"}));
  EXPECT_EQ(items(top[3]->menu()), (QStringList{"Справка", "-", "О программе ..."}));
  EXPECT_EQ(items(Player->pupMain),
            (QStringList{"Загрузить", "-", "Воспроизведение", "Пауза", "Стоп", "-", "Сегменты",
                         "Отображать панель", "В отдельном окне", "-", "О программе ...", "-", "Выход"}));
  struct Button {
    QToolButton* button;
    int x, width;
    const char* hint;
  };
  const Button buttons[] = {{Player->btnLoadFromFile, 2, 20, "Открыть файл"}, {Player->btnPlay, 32, 18, "Воспроиведение"},
                            {Player->btnPause, 52, 20, "Пауза"},           {Player->btnStop, 74, 20, "Стоп"},
                            {Player->btnSegments, 102, 20, "Сегменты"},     {Player->SpeedButton1, 126, 20, "О программе..."},
                            {Player->btnInOwnWindow, 152, 18, "В отдельном окне"}};
  for (const auto& b : buttons) {
    EXPECT_EQ(b.button->geometry(), QRect(b.x, 2, b.width, 20)) << b.hint;
    EXPECT_EQ(b.button->toolTip(), QString::fromUtf8(b.hint));
    EXPECT_TRUE(b.button->autoRaise());
  }
  EXPECT_EQ(Player->pbrProgress->geometry().topLeft(), QPoint(184, 7));
  EXPECT_EQ(Player->pnlControls->height(), 24);
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
      {"Play", [&] { Player->APlayExecute(); }, psPlaying, Player->btnPlay, true, false},
      {"Pause", [&] { Player->APauseExecute(); }, psPaused, Player->btnPause, false, false},
      {"Play while paused", [&] { Player->APlayExecute(); }, psPlaying, Player->btnPlay, true, false},
      {"Pause", [&] { Player->APauseExecute(); }, psPaused, Player->btnPause, false, false},
      {"Pause while paused", [&] { Player->APauseExecute(); }, psPlaying, Player->btnPlay, true, false},
      {"Play while playing", [&] { Player->APlayExecute(); }, psPlaying, Player->btnPlay, true, false},
      {"Stop", [&] { Player->AStopExecute(); }, psStopped, Player->btnStop, false, true},
      {"Pause while stopped", [&] { Player->APauseExecute(); }, psStopped, Player->btnStop, false, true},
  };
  for (const auto& s : steps) {
    s.act();
    EXPECT_EQ(Player->PlayState(), s.state) << s.name;
    EXPECT_TRUE(Highlighted(s.highlighted)) << s.name;
    EXPECT_EQ(Player->Timer->isActive(), s.timer) << s.name;
    EXPECT_EQ(Player->ALoadFromFile->isEnabled(), s.load) << s.name;
    EXPECT_EQ(Player->btnLoadFromFile->isEnabled(), s.load) << s.name;
    EXPECT_TRUE(Player->APlay->isEnabled() && Player->APause->isEnabled() && Player->btnPlay->isEnabled());
  }
  EXPECT_EQ(Player->Core().CurSegment(), 0);
  EXPECT_EQ(Player->pbrProgress->value(), 0);
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
  EXPECT_FALSE(Player->Timer->isActive());
  EXPECT_EQ(Player->LastResult(), kResultSegmentIsNil);
}

TEST_F(TShellFixture, ProgressRunsOverThreeSegmentsAndReturnsToZero) {
  Load(Film({Solid("a", 4, 4, 10), Solid("b", 4, 4, 20), Solid("c", 4, 4, 5)}));
  EXPECT_EQ(Player->pbrProgress->maximum(), 35);
  QSignalSpy spy(Player->pbrProgress, &QProgressBar::valueChanged);
  Player->APlayExecute();
  for (int tick = 0; tick < 100 && Player->PlayState() == psPlaying; ++tick) Player->TimerTimer();
  QList<int> values;
  for (const auto& args : spy) values << args.at(0).toInt();
  QList<int> expected;
  for (int i = 1; i <= 35; ++i) expected << i;
  expected << 0;
  EXPECT_EQ(values, expected);
  EXPECT_EQ(Player->PlayState(), psStopped);
  EXPECT_EQ(Player->pnlPath->text(), "film.zrcab");
}

TEST_F(TShellFixture, SegmentNamesShowWhilePlayingAndTheFileNameOtherwise) {
  Load(Film({Solid("Первый", 4, 4, 1), Solid("Второй", 4, 4, 3)}, "lesson.zrcab"));
  EXPECT_EQ(Player->pnlPath->text(), "lesson.zrcab");
  Player->APlayExecute();
  EXPECT_EQ(Player->pnlPath->text(), "Первый");
  EXPECT_EQ(Player->Timer->interval(), 40);
  Player->TimerTimer();  // the one frame of the first segment, then the second is active
  EXPECT_EQ(Player->pnlPath->text(), "Второй");
  EXPECT_EQ(Display->windowTitle(), "lesson.zrcab:  Второй");
  Player->AStopExecute();
  EXPECT_EQ(Player->pnlPath->text(), "lesson.zrcab");
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
    EXPECT_FALSE(Player->pnlControls->isVisible());
    EXPECT_FALSE(Player->AShowPanel->isChecked());
    EXPECT_EQ(Player->PictureAreaSize().height(), before.height() + 24);
    QTest::keyClick(Player.get(), Qt::Key_F7);
    EXPECT_TRUE(Player->pnlControls->isVisible());
    EXPECT_EQ(Player->PictureAreaSize(), before);

    QTest::keyClick(Player.get(), Qt::Key_F8);
    EXPECT_TRUE(Player->InOwnWindow());
    EXPECT_TRUE(Player->ASetOwnWindow->isChecked());
    EXPECT_TRUE(Player->btnInOwnWindow->isChecked());
    // The display window shows only while playing.
    EXPECT_EQ(Display->isVisible(), state == psPlaying);
    QTest::keyClick(Display->isVisible() ? static_cast<QWidget*>(Display.get()) : Player.get(), Qt::Key_F8);
    EXPECT_FALSE(Player->InOwnWindow());
    EXPECT_FALSE(Display->isVisible());
    EXPECT_FALSE(Player->btnInOwnWindow->isChecked());
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
  EXPECT_FALSE(Player->ASetOwnWindow->isChecked());
  EXPECT_EQ(Player->PlayState(), psPlaying);  // playing on in the main window
}

TEST_F(TShellFixture, TheEndOfTheFilmClosesTheDisplayWindowAndOnRequestTheProgram) {
  for (bool closeOnFinish : {false, true}) {
    Make();
    Load(Film({Solid("s", 8, 6, 3)}));
    Player->FCloseOnFinish = closeOnFinish;
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
  EXPECT_FALSE(Player->Timer->isActive());
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
    Player->pupMain->hide();
    c.ask();
    EXPECT_TRUE(Player->pupMain->isVisible());
    EXPECT_EQ(Player->PlayState(), psPlaying);
  }
  Player->pupMain->hide();
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
  EXPECT_EQ(Player->pnlPath->text(), "chosen.zrcab");
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
  EXPECT_FALSE(Player->ALoadFromFile->isEnabled());
  EXPECT_FALSE(Player->btnLoadFromFile->isEnabled());
}

TEST_F(TShellFixture, TheSegmentsDialogListsNumbersNamesAndDurations) {
  Load(Film({Solid("Первый", 2, 2, 3), Solid("Второй", 2, 2, 2)}));
  Player->Core().Segments()[0]->FrameCount = 1234;
  Player->Core().Segments()[0]->FrameRate = 10;
  Player->Core().Segments()[1]->FrameRate = 0;
  Player->ASegmentsExecute();
  ASSERT_TRUE(Segments->isVisible());
  EXPECT_EQ(Segments->windowTitle(), "Управление Сегментами");
  QTableWidget* grid = Segments->sgdSegments;
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
  };
  const Case cases[] = {
      {"stopped: becomes current", psStopped, 0, 2, psStopped, 2, false},
      {"playing: restarts there", psPlaying, 0, 1, psPlaying, 1, true},
      {"playing the same: restarts it", psPlaying, 1, 1, psPlaying, 1, true},
      {"paused on the same: stays paused", psPaused, 1, 1, psPaused, 1, false},
      {"paused, another: stops there", psPaused, 0, 2, psStopped, 2, false},
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
    Segments->sgdSegments->setCurrentCell(c.row, 1);
    QTest::keyClick(Segments->sgdSegments, Qt::Key_Return);
    EXPECT_FALSE(Segments->isVisible());
    EXPECT_EQ(Player->PlayState(), c.after);
    EXPECT_EQ(Player->Core().CurSegment(), c.segment);
    if (c.restarted) {
      EXPECT_EQ(Player->Core().FrameIndex(), 0);
    }
    if (c.before == psPaused && c.after == psPaused) {
      EXPECT_EQ(Player->Core().FrameIndex(), frameBefore);
    }
  }
  // After a choice while stopped, Play starts at the chosen segment.
  Player->APlayExecute();
  EXPECT_EQ(Player->pnlPath->text(), "c");
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
      {"Enter", [](TfrmSegments& d) { QTest::keyClick(d.sgdSegments, Qt::Key_Return); }, {2}},
      {"keypad Enter", [](TfrmSegments& d) { QTest::keyClick(d.sgdSegments, Qt::Key_Enter); }, {2}},
      {"double click", [](TfrmSegments& d) { emit d.sgdSegments->cellDoubleClicked(2, 1); }, {2}},
      {"the button", [](TfrmSegments& d) { d.btnClose->click(); }, {2}},
      {"Esc", [](TfrmSegments& d) { QTest::keyClick(d.sgdSegments, Qt::Key_Escape); }, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TfrmSegments dialog;
    dialog.SetRows({{"a", 5, 25}, {"b", 5, 25}, {"c", 5, 25}});
    dialog.show();
    dialog.sgdSegments->setCurrentCell(2, 1);
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
  Segments->AHelp->trigger();
  ASSERT_EQ(spy.size(), 1);
  EXPECT_EQ(spy[0].at(0).toString(), "::/veRirove_v1_2.htm#Segments");
#ifdef VERIROVE_HAVE_CHMLIB
  // The viewer comes up over the dialog, which stays on top; over the main window it is an
  // ordinary window.
  ASSERT_NE(HelpViewer(), nullptr);
  EXPECT_TRUE(HelpViewer()->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  Player->AHelp->trigger();
  EXPECT_FALSE(HelpViewer()->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  CloseHelpViewer();
#endif
}

TEST_F(TShellFixture, AFilmThatIsNotLoadedIsListedFromItsFile) {
  const auto path = Film({Solid("x", 2, 2, 5), Solid("y", 2, 2, 5)});
  Player->SetFileName(QString::fromStdString(path));
  Player->ASegmentsExecute();
  ASSERT_TRUE(Segments->isVisible());
  EXPECT_EQ(Segments->sgdSegments->rowCount(), 2);
  EXPECT_EQ(Segments->sgdSegments->item(1, 1)->text(), "y");
  EXPECT_TRUE(Player->Core().Segments().empty());
  // Choosing only closes the dialog.
  emit Segments->sgdSegments->cellDoubleClicked(1, 1);
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
    EXPECT_EQ(Player->pnlPath->text(), "");
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
    QSignalSpy progress(Player->pbrProgress, &QProgressBar::valueChanged);
    std::vector<std::string> args = {c.film};
    if (c.closeOnFinish) args.push_back("/closeonfinish");
    ASSERT_TRUE(StartPlayer(*Player, args));
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
  Player->FCloseOnFinish = true;
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
  Player->FCloseOnFinish = true;
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
  EXPECT_EQ(Player->pnlPath->text(), "kept.zrcab");
  EXPECT_TRUE(Player->Loader().Loaded);
  EXPECT_TRUE(Player->Boxes.empty());
  Player->ASegmentsExecute();
  EXPECT_TRUE(Segments->isVisible());
  EXPECT_EQ(Segments->sgdSegments->rowCount(), 2);
  Player->APlayExecute();
  EXPECT_EQ(Player->PlayState(), psPlaying);
  EXPECT_EQ(Player->pnlPath->text(), "a");
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
      Player->pbrProgress->setValue(3);
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
      EXPECT_EQ(Player->pnlPath->text(), "");
      EXPECT_EQ(Player->pbrProgress->value(), 0);
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
  EXPECT_EQ(Player->pnlPath->text(), "damaged.zrcab");
  Player->ASegmentsExecute();
  EXPECT_EQ(Segments->sgdSegments->rowCount(), 1);  // only the segment that plays
  Segments->close();
  Player->APlayExecute();
  for (int tick = 0; tick < 20 && Player->PlayState() == psPlaying; ++tick) Player->TimerTimer();
  EXPECT_EQ(Player->PlayState(), psStopped);
  EXPECT_EQ(Player->pbrProgress->maximum(), 3);
  EXPECT_EQ(Player->ExitStatus(), 1);
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
    TFilmFault fault;
    QString text;
  };
  const Fault faults[] = {
      {TFilmFault::Damaged, "Файл фильма «/f» повреждён."},
      {TFilmFault::NotAFilm, "Файл «/f» не является фильмом."},
      {TFilmFault::Io, "Не удалось прочитать файл «/f»."},
      {TFilmFault::NoMemory, "Не хватает памяти, чтобы загрузить фильм «/f»."},
  };
  for (const auto& f : faults) {
    const TUserMessage m = FilmLoadMessage(EFilmLoad("LoadSegmentFromStream: segment 1", f.fault, "/f"));
    EXPECT_EQ(m.Icon, QMessageBox::Critical);
    EXPECT_EQ(m.Text, f.text);
    EXPECT_EQ(m.Details, "LoadSegmentFromStream: segment 1");
  }
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

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  qputenv("QT_QPA_PLATFORM", "offscreen");
  TPlayerApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
