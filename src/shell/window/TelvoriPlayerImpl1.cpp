#include "shell/window/TelvoriPlayerImpl1.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QImageWriter>
#include <QStandardPaths>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QProgressDialog>
#include <QScreen>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include "film/Messages.h"
#include "film/TempFolder.h"
#include "shell/dialogs/UzrSegments.h"
#include "shell/artwork/UzrArtwork.h"
#include "shell/window/UzrDisplay.h"
#include "shell/dialogs/UzrHelp.h"
#include "shell/widgets/UzrPresent.h"
#include "shell/widgets/UzrSeekBar.h"

bool TTelvoriPlayer::AutoFullScreen = false;

namespace {

constexpr QRgb kWhite = 0xFFFFFFFF;
constexpr QRgb kBlack = 0xFF000000;
const QColor kWindowGrey(128, 128, 128);

// The hourglass over the whole application until the scope ends, on every way out.
class TWaitCursor {
 public:
  TWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~TWaitCursor() { QApplication::restoreOverrideCursor(); }
  TWaitCursor(const TWaitCursor&) = delete;
  TWaitCursor& operator=(const TWaitCursor&) = delete;
};

QString FileNamePart(const QString& path) { return QFileInfo(path).fileName(); }

}  // namespace

// ---- The user's words for loading ----

namespace {

QString Quoted(const std::string& path) { return QStringLiteral("«%1»").arg(QString::fromStdString(path)); }

// The message list's "%s" items, with the path in place.
QString WithPath(const QString& pattern, const std::string& path) {
  QString text = pattern;
  return text.replace(QStringLiteral("%s"), QString::fromStdString(path));
}

QString FaultSentence(TFilmFault fault, const std::string& path) {
  switch (fault) {
    case TFilmFault::CutShort:
      return QStringLiteral("Файл фильма %1 обрывается: вероятно, он скопирован или скачан не полностью.")
          .arg(Quoted(path));
    case TFilmFault::NotAFilm:
      return QStringLiteral("Файл %1 не является фильмом.").arg(Quoted(path));
    case TFilmFault::Io:
      return QStringLiteral("Не удалось прочитать файл %1.").arg(Quoted(path));
    case TFilmFault::NoMemory:
      return QStringLiteral("Не хватает памяти, чтобы загрузить фильм %1.").arg(Quoted(path));
    case TFilmFault::Damaged:
      break;
  }
  return QStringLiteral("Файл фильма %1 повреждён.").arg(Quoted(path));
}

}  // namespace

TUserMessage LoadReportMessage(const TLoadReport& report, const QStringList& lbMessages) {
  TUserMessage m;
  m.Details = QString::fromStdString(report.Details);
  switch (report.Notice) {
    case TLoadNotice::NoSuchFile:
      m.Icon = QMessageBox::Warning;
      m.Text = QStringLiteral("Файл %1 не найден.").arg(Quoted(report.Path));
      m.Details.clear();
      break;
    case TLoadNotice::IsAFolder:
      m.Icon = QMessageBox::Warning;
      m.Text = QStringLiteral("%1 — это папка, а не файл фильма.").arg(Quoted(report.Path));
      break;
    case TLoadNotice::FilmFileBusy:
    case TLoadNotice::ExecutableLocked:
      m.Text = WithPath(lbMessages.value(1), report.Path);
      break;
    case TLoadNotice::CannotCreatePackage:
      m.Text = lbMessages.value(2);
      break;
    case TLoadNotice::FormatNotSupported:
      m.Text = lbMessages.value(3);
      if (!report.Path.empty()) m.Text += QStringLiteral("\n") + QString::fromStdString(report.Path);
      break;
    case TLoadNotice::TemporaryFolder:
      m.Icon = QMessageBox::Critical;
      m.Text = report.Path.empty()
                   ? QStringLiteral("Не удалось создать временную папку для фильмов.")
                   : QStringLiteral("Не удалось записать фильм во временную папку %1.").arg(Quoted(report.Path));
      m.Text += QStringLiteral(" Проверьте свободное место на диске и права на временную папку.");
      break;
    case TLoadNotice::DamagedInPart: {
      // The segments after the damaged one are not read either: "only" says so.
      m.Icon = QMessageBox::Warning;
      // No-break spaces keep "2 из 3" and "с 1 по 4" on one line.
      const QString playable =
          report.Playable == 1 ? QStringLiteral("Будет воспроизведён только первый сегмент.")
                               : QStringLiteral("Будут воспроизведены только сегменты с\u00A01 по\u00A0%1.").arg(report.Playable);
      m.Text = FaultSentence(report.Fault, report.Path) +
               QStringLiteral(" Сегмент %1 из\u00A0%2 прочитать не удалось. ").arg(report.DamagedSegment).arg(report.Total) +
               playable;
      break;
    }
  }
  return m;
}

TUserMessage FilmLoadMessage(const EFilmLoad& failure) {
  TUserMessage m;
  m.Icon = QMessageBox::Critical;
  m.Text = FaultSentence(failure.Fault, failure.Path);
  m.Details = QString::fromUtf8(failure.what());
  return m;
}

// ---- Creation and destruction ----

TTelvoriPlayer::TTelvoriPlayer(size_t frameBufferSize, QWidget* parent) : QMainWindow(parent) {
  setWindowTitle(QStringLiteral("veRirove v1.4.1"));
  setWindowIcon(ApplicationIcon());
  setMinimumSize(500, 300);
  SetOuterBounds(QRect(374, 127, 800, 600));
  for (const char* text : kLbMessages) lbMessages << QString::fromUtf8(text);

  Timer = new QTimer(this);
  Timer->setTimerType(Qt::PreciseTimer);
  Timer->setInterval(100);
  connect(Timer, &QTimer::timeout, this, [this] { Guarded([this] { TimerTimer(); }); });
  FElapsed.start();
  FClock = [this] { return FElapsed.elapsed(); };
  FNoticeTimer = new QTimer(this);
  FNoticeTimer->setSingleShot(true);
  FNoticeTimer->setInterval(4000);
  connect(FNoticeTimer, &QTimer::timeout, this, [this] { lblNotice->hide(); });
  setAcceptDrops(true);

  CreateActions();
  CreateControls();
  ActiveFormCreate(frameBufferSize);
}

TTelvoriPlayer::~TTelvoriPlayer() { ActiveFormDestroy(); }

void TTelvoriPlayer::ActiveFormCreate(size_t frameBufferSize) {
  // The private temporary folder; without one nothing can be loaded, and the loader says so.
  FRunFolder = std::make_unique<TRunFolder>();
  FLoader = std::make_unique<TFilmLoader>(*this, FRunFolder->Path(), FRunFolder->Error());

  FLastResult = FCore.AllocFrameBuffer(frameBufferSize);
  if (FLastResult != kResultOk) {
    // Deliberately "FormCreate: Segment Is Nil" rather than "Cannot Alloc Memory": that is
    // the text this failure has always been reported with.
    ShowResult("FormCreate", FLastResult);
    return;
  }
  FCore.GetDisplaySettings();
  SetPlayState(psStopped);
  SetShowPanel(true);
  SetOwnWindow(false);
  FLoader->Loaded = false;
  FCreated = true;
}

void TTelvoriPlayer::ActiveFormDestroy() {
  if (FDestroyed) return;
  FDestroyed = true;
  Timer->stop();
  // An unfinished export is cancelled, its thread waited for and its file removed.
  if (dlgExportProgress) dlgExportProgress->close();
  delete FExport.data();
  if (FCreated) AStopExecute();
  FCore.ClearSegments();
  FLastResult = FCore.FreeFrameBuffer();
}

void TTelvoriPlayer::CreateActions() {
  auto make = [this](const char* caption, const char* hint, QKeySequence key, int image,
                     void (TTelvoriPlayer::*handler)()) {
    auto* action = new QAction(QString::fromUtf8(caption), this);
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
    connect(action, &QAction::triggered, this, [this, handler] { Guarded([this, handler] { (this->*handler)(); }); });
    addAction(action);
    return action;
  };
  APlay = make("Воспроизведение", "Воспроизведение", Qt::Key_F9, 0, &TTelvoriPlayer::APlayExecute);
  APause = make("Пауза", "Пауза", Qt::Key_F10, 1, &TTelvoriPlayer::APauseExecute);
  AStop = make("Стоп", "Стоп", Qt::Key_F11, 2, &TTelvoriPlayer::AStopExecute);
  ASegments = make("Сегменты", nullptr, Qt::Key_F6, 3, &TTelvoriPlayer::ASegmentsExecute);
  AAbout = make("О программе ...", nullptr, {}, -1, &TTelvoriPlayer::AAboutExecute);
  ALoadFromFile = make("Загрузить", "Открыть файл", QKeySequence(Qt::CTRL | Qt::Key_O), 6,
                       &TTelvoriPlayer::ALoadFromFileExecute);
  AShowPanel = make("Отображать панель", nullptr, Qt::Key_F7, -1, &TTelvoriPlayer::AShowPanelExecute);
  ASetOwnWindow = make("В отдельном окне", "В отдельном окне", Qt::Key_F8, -1,
                       &TTelvoriPlayer::ASetOwnWindowExecute);
  AExit = make("Выход", nullptr, QKeySequence(Qt::ALT | Qt::Key_F4), 8, &TTelvoriPlayer::AExitExecute);
  AHelp = make("Справка", nullptr, Qt::Key_F1, 4, &TTelvoriPlayer::AHelpExecute);
  AExport = make("Экспорт...", "Сохранить фильм в видеофайл", QKeySequence(Qt::CTRL | Qt::Key_E), -1,
                 &TTelvoriPlayer::AExportExecute);
  AExport->setEnabled(false);
  AShowPanel->setCheckable(true);
  ASetOwnWindow->setCheckable(true);

  QMenuBar* MainMenu1 = menuBar();
  QMenu* file = MainMenu1->addMenu(QStringLiteral("&Файл"));
  file->addActions({ALoadFromFile, AExport});
  file->addSeparator();
  file->addAction(AExit);
  QMenu* actions = MainMenu1->addMenu(QStringLiteral("&Действия"));
  actions->addActions({APlay, APause, AStop});
  actions->addSeparator();
  actions->addAction(ASegments);
  QMenu* view = MainMenu1->addMenu(QStringLiteral("&Вид"));
  view->addActions({AShowPanel, ASetOwnWindow});
  QMenu* help = MainMenu1->addMenu(QStringLiteral("&Справка"));
  help->addAction(AHelp);
  help->addSeparator();
  help->addAction(AAbout);

  pupMain = new QMenu(this);
  pupMain->addActions({ALoadFromFile, AExport});
  pupMain->addSeparator();
  pupMain->addActions({APlay, APause, AStop});
  pupMain->addSeparator();
  pupMain->addActions({ASegments, AShowPanel, ASetOwnWindow});
  pupMain->addSeparator();
  pupMain->addAction(AAbout);
  pupMain->addSeparator();
  pupMain->addAction(AExit);

  CreateNavigationActions(actions, view);
}

void TTelvoriPlayer::CreateNavigationActions(QMenu* actionsMenu, QMenu* viewMenu) {
  // The keys people know from other players; none of them is one of the keys above.
  auto make = [this](const char* caption, QKeySequence key, std::function<void()> handler) {
    auto* action = new QAction(QString::fromUtf8(caption), this);
    action->setShortcut(key);
    action->setShortcutContext(Qt::WindowShortcut);
    connect(action, &QAction::triggered, this, [this, handler] { Guarded(handler); });
    addAction(action);
    return action;
  };
  APlayPause = make("Воспроизведение / пауза", Qt::Key_Space, [this] { APlayPauseExecute(); });
  ABack5 = make("Назад на 5 секунд", Qt::Key_Left, [this] { SeekBy(-5000); });
  AForward5 = make("Вперёд на 5 секунд", Qt::Key_Right, [this] { SeekBy(5000); });
  ABack1 = make("Назад на 1 секунду", QKeySequence(Qt::SHIFT | Qt::Key_Left), [this] { SeekBy(-1000); });
  AForward1 = make("Вперёд на 1 секунду", QKeySequence(Qt::SHIFT | Qt::Key_Right), [this] { SeekBy(1000); });
  ABack60 = make("Назад на 1 минуту", Qt::Key_Down, [this] { SeekBy(-60000); });
  AForward60 = make("Вперёд на 1 минуту", Qt::Key_Up, [this] { SeekBy(60000); });
  AFilmStart = make("В начало фильма", Qt::Key_Home, [this] {
    if (const auto first = FirstFrame(FCore.Segments())) SeekTo(*first);
  });
  AFilmEnd = make("К последнему кадру", Qt::Key_End, [this] {
    if (const auto last = LastFrame(FCore.Segments())) SeekTo(*last);
  });
  APrevSegment = make("Предыдущий сегмент", Qt::Key_PageUp, [this] { StepSegment(-1); });
  ANextSegment = make("Следующий сегмент", Qt::Key_PageDown, [this] { StepSegment(1); });
  APrevFrame = make("Предыдущий кадр", Qt::Key_Comma, [this] { StepFrame(-1); });
  ANextFrame = make("Следующий кадр", Qt::Key_Period, [this] { StepFrame(1); });
  ASlower = make("Медленнее", Qt::Key_BracketLeft, [this] { SetSpeedStep(FSpeedStep - 1); });
  AFaster = make("Быстрее", Qt::Key_BracketRight, [this] { SetSpeedStep(FSpeedStep + 1); });
  ANormalSpeed = make("Обычная скорость", Qt::Key_Backspace, [this] { SetSpeedStep(kNormalSpeed); });
  AFullScreen = make("Во весь экран", Qt::Key_F, [this] { AFullScreenExecute(); });
  AFullScreen->setCheckable(true);
  ALeaveFullScreen = make("Выйти из полноэкранного режима", Qt::Key_Escape, [this] { SetFullScreen(false); });
  // Esc belongs to full screen only; otherwise it stays the key of whatever has the focus.
  ALeaveFullScreen->setEnabled(false);
  ASavePicture = make("Сохранить кадр", Qt::Key_S, [this] { ASavePictureExecute(); });
  ACopyPicture = make("Копировать кадр", QKeySequence(Qt::CTRL | Qt::Key_C), [this] { ACopyPictureExecute(); });

  actionsMenu->addSeparator();
  actionsMenu->addAction(APlayPause);
  QMenu* go = actionsMenu->addMenu(QStringLiteral("Переход"));
  go->addActions({ABack5, AForward5, ABack1, AForward1, ABack60, AForward60});
  go->addSeparator();
  go->addActions({AFilmStart, AFilmEnd, APrevSegment, ANextSegment});
  go->addSeparator();
  go->addActions({APrevFrame, ANextFrame});
  QMenu* speed = actionsMenu->addMenu(QStringLiteral("Скорость"));
  speed->addActions({ASlower, AFaster, ANormalSpeed});
  actionsMenu->addSeparator();
  actionsMenu->addActions({ASavePicture, ACopyPicture});
  viewMenu->addSeparator();
  viewMenu->addAction(AFullScreen);
  // In full screen the menu bar is hidden: the context menu offers the way back.
  pupMain->addSeparator();
  pupMain->addActions({AFullScreen, ASavePicture, ACopyPicture});
}

void TTelvoriPlayer::CreateControls() {
  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  FView = new TPictureView(*this, kWindowGrey, central);
  layout->addWidget(FView, 1);
  connect(FView, &TPictureView::MouseDown, this, &TTelvoriPlayer::spDisplayMouseDown);
  connect(FView, &TPictureView::DoubleClicked, this, [this] { AFullScreen->trigger(); });
  FView->SetContextMenu(pupMain);

  pnlControls = new QWidget(central);
  pnlControls->setObjectName(QStringLiteral("pnlControls"));
  pnlControls->setFixedHeight(24);
  pnlControls->setAutoFillBackground(true);
  QFont bold = pnlControls->font();
  bold.setBold(true);
  pnlControls->setFont(bold);
  pnlControls->hide();
  layout->addWidget(pnlControls);
  setCentralWidget(central);

  auto button = [this](const char* name, int x, int width, const char* hint, void (TTelvoriPlayer::*handler)()) {
    auto* b = new QToolButton(pnlControls);
    b->setObjectName(QString::fromUtf8(name));
    b->setAutoRaise(true);
    b->setGeometry(x, 2, width, 20);
    b->setIconSize(QSize(16, 16));
    b->setToolTip(QString::fromUtf8(hint));
    connect(b, &QToolButton::clicked, this, [this, handler] { Guarded([this, handler] { (this->*handler)(); }); });
    return b;
  };
  btnLoadFromFile = button("btnLoadFromFile", 2, 20, "Открыть файл", &TTelvoriPlayer::ALoadFromFileExecute);
  // The tool tip's missing letter is deliberate: the button has always read so (the action's
  // hint is spelt right).
  btnPlay = button("btnPlay", 32, 18, "Воспроиведение", &TTelvoriPlayer::APlayExecute);
  btnPause = button("btnPause", 52, 20, "Пауза", &TTelvoriPlayer::APauseExecute);
  btnStop = button("btnStop", 74, 20, "Стоп", &TTelvoriPlayer::AStopExecute);
  btnSegments = button("btnSegments", 102, 20, "Сегменты", &TTelvoriPlayer::ASegmentsExecute);
  // Deliberate: the "?" button's hint names the About box, yet it opens the help, as it always
  // has; the About box is in the menus.
  SpeedButton1 = button("SpeedButton1", 126, 20, "О программе...", &TTelvoriPlayer::AHelpExecute);
  btnInOwnWindow = button("btnInOwnWindow", 152, 18, "В отдельном окне", &TTelvoriPlayer::ASetOwnWindowExecute);
  btnInOwnWindow->setCheckable(true);
  btnLoadFromFile->setIcon(ImageListIcon(6));
  btnSegments->setIcon(ImageListIcon(3));
  SpeedButton1->setIcon(ImageListIcon(4));
  btnInOwnWindow->setIcon(OwnWindowIcon());

  pbrProgress = new TSeekBar(pnlControls);
  pbrProgress->setObjectName(QStringLiteral("pbrProgress"));
  pbrProgress->setGeometry(184, 7, 173, 10);
  pbrProgress->setRange(0, 100);
  pbrProgress->setValue(0);
  pbrProgress->setTextVisible(false);
  pbrProgress->SetTipText([this](int64_t frame) {
    const auto pos = FrameOfFilm(FCore.Segments(), frame);
    return pos ? QString::fromStdString(FormatClock(FrameTime(FCore.Segments(), *pos))) : QString();
  });
  connect(pbrProgress, &TSeekBar::SeekRequested, this, [this](int64_t frame) {
    Guarded([this, frame] {
      if (const auto pos = FrameOfFilm(FCore.Segments(), frame)) SeekTo(*pos);
    });
  });

  pnlPath = new QLabel(pnlControls);
  pnlPath->setObjectName(QStringLiteral("pnlPath"));
  pnlPath->setGeometry(368, 3, 417, 19);
  pnlPath->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

  lblTime = new QLabel(pnlControls);
  lblTime->setObjectName(QStringLiteral("lblTime"));
  lblTime->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  pnlControls->installEventFilter(this);

  lblNotice = new QLabel(FView);
  lblNotice->setObjectName(QStringLiteral("lblNotice"));
  lblNotice->setStyleSheet(QStringLiteral("QLabel { background: rgba(0, 0, 0, 170); color: white; padding: 4px 8px; }"));
  lblNotice->hide();

  // The loading banner: black text on a white shadow one pixel to the right and below.
  auto banner = [this](const char* name, QColor colour, int at) {
    auto* label = new QLabel(QStringLiteral("Загрузка фильма ..."), FView);
    label->setObjectName(QString::fromUtf8(name));
    QFont font(QStringLiteral("Times New Roman"));
    font.setPixelSize(16);
    font.setBold(true);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
    label->setAttribute(Qt::WA_TranslucentBackground);
    label->move(at, at);
    label->adjustSize();
    label->hide();
    return label;
  };
  lblLoading_Shadow = banner("lblLoading_Shadow", Qt::white, 9);
  lblLoading = banner("lblLoading", Qt::black, 8);

  setContextMenuPolicy(Qt::CustomContextMenu);
  connect(this, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { pupMain->popup(mapToGlobal(at)); });
}

void TTelvoriPlayer::SetDisplayWindow(TfrmDisplay* display) {
  frmDisplay = display;
  if (!display) return;
  display->addActions(actions());
  display->SetContextMenu(pupMain);
  // Its picture's MouseDown stays unheard: the window has no controls, a click there plays
  // nothing.
  connect(display, &TfrmDisplay::Closed, this, [this] { SetOwnWindow(false); });
  connect(display->View(), &TPictureView::DoubleClicked, this, [this] { AFullScreen->trigger(); });
  connect(display, &TfrmDisplay::FilmDropped, this, &TTelvoriPlayer::OpenDroppedFilm, Qt::QueuedConnection);
}

void TTelvoriPlayer::SetSegmentsDialog(TfrmSegments* segments) {
  frmSegments = segments;
  if (!segments) return;
  segments->setWindowIcon(windowIcon());
  connect(segments, &TfrmSegments::SegmentChosen, this, &TTelvoriPlayer::ChooseSegment);
  connect(segments, &TfrmSegments::HelpRequested, this, &TTelvoriPlayer::frmSegmentsHelpRequested);
}

void TTelvoriPlayer::SetOuterBounds(const QRect& bounds) {
  // The frame's size is known only once the window system has framed the window: until then
  // the client area takes the whole size, and the size is corrected when the frame arrives.
  FOuterBounds = bounds;
  const QSize frame = frameGeometry().size() - geometry().size();
  FOuterBoundsPending = frame.isEmpty();
  move(bounds.topLeft());
  resize(bounds.size() - frame);
}

void TTelvoriPlayer::ApplyOuterBoundsOnceFramed() {
  if (!FOuterBoundsPending || isMaximized() || isFullScreen()) return;
  const QSize frame = frameGeometry().size() - geometry().size();
  if (frame.isEmpty()) return;  // not framed (yet, or ever: no window manager)
  FOuterBoundsPending = false;
  resize(FOuterBounds.size() - frame);
  move(FOuterBounds.topLeft());
}

void TTelvoriPlayer::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  ApplyOuterBoundsOnceFramed();
}

void TTelvoriPlayer::moveEvent(QMoveEvent* event) {
  QMainWindow::moveEvent(event);
  ApplyOuterBoundsOnceFramed();
}

// ---- Transport state ----

void TTelvoriPlayer::SetGlyph(QToolButton* button, TTransportGlyph glyph, bool highlighted) {
  QIcon& icon = FGlyphs[int(glyph)][highlighted];
  if (icon.isNull()) {
    // Normally white is the transparent colour; the highlighted picture shows its white
    // background, with black transparent instead.
    icon = QIcon(GlyphWithTransparentColour(TransportGlyphImage(glyph), highlighted ? kBlack : kWhite));
  }
  button->setIcon(icon);
}

void TTelvoriPlayer::ResetTransportGlyphs() {
  SetGlyph(btnPlay, TTransportGlyph::Play, false);
  SetGlyph(btnPause, TTransportGlyph::Pause, false);
  SetGlyph(btnStop, TTransportGlyph::Stop, false);
  FHighlighted = nullptr;
}

void TTelvoriPlayer::Highlight(QToolButton* button, TTransportGlyph glyph) {
  SetGlyph(button, glyph, true);
  FHighlighted = button;
}

void TTelvoriPlayer::SetPlayState(TPlayState state) {
  ResetTransportGlyphs();
  ALoadFromFile->setEnabled(false);
  TPlayState stored = state;
  switch (state) {
    case psStopped:
      Timer->stop();
      FCore.Stop();
      APlay->setEnabled(true);
      btnPlay->setEnabled(true);
      btnLoadFromFile->setEnabled(true);
      Highlight(btnStop, TTransportGlyph::Stop);
      ShowPathOfFilm();
      ALoadFromFile->setEnabled(true);
      break;
    case psPlaying:
      APause->setEnabled(true);
      btnLoadFromFile->setEnabled(false);
      Highlight(btnPlay, TTransportGlyph::Play);
      break;
    case psPaused:
      // A toggle: pausing stops the timer, pausing again plays on.
      if (FPlayState == psPlaying) {
        Highlight(btnPause, TTransportGlyph::Pause);
      } else if (FPlayState == psPaused) {
        SetPlayState(psPlaying);
        stored = psPlaying;
      }
      if (FPlayState != psStopped) {
        if (Timer->isActive())
          Timer->stop();
        else
          Timer->start();
      }
      break;
  }
  FPlayState = stored;
  // Whatever the change, a clock running at another speed starts again from the picture.
  FClockRunning = false;
  if (FPlayState == psStopped) FShownFrame.reset();
  UpdateTime();
  repaint();
}

void TTelvoriPlayer::ShowPathOfFilm() { pnlPath->setText(FileNamePart(FileName())); }

void TTelvoriPlayer::APlayExecute() {
  if (FPlayState == psPaused) {
    APause->trigger();
    return;
  }
  TWaitCursor wait;
  if (InOwnWindow() && frmDisplay) {
    frmDisplay->show();
    frmDisplay->raise();
    frmDisplay->activateWindow();
  }
  if (FCore.Segments().empty() || FPlayState != psStopped) return;
  SetPlayState(psPlaying);
  const TResult r = FCore.SetCurSegment();
  FLastResult = r;
  if (r != kResultOk) {
    ShowResult("APlay_PauseExecute", r);
    return;
  }
  Timer->start();
}

void TTelvoriPlayer::APauseExecute() {
  if (FPlayState == psPlaying || FPlayState == psPaused) SetPlayState(psPaused);
}

void TTelvoriPlayer::AStopExecute() {
  SetPlayState(psStopped);
  if (InOwnWindow() && frmDisplay) frmDisplay->hide();
  pbrProgress->setValue(0);
  // The client area goes grey: the last picture is wiped.
  FPresented = QImage();
  FView->update();
  if (frmDisplay) frmDisplay->View()->update();
}

void TTelvoriPlayer::TimerTimer() {
  // At the film's own speed every tick is one frame, as it always was.
  if (FSpeedStep == kNormalSpeed) {
    FCore.TimerTimer();
  } else {
    SpeedTick();
  }
}

void TTelvoriPlayer::APlayPauseExecute() {
  if (FPlayState == psPlaying) {
    APause->trigger();
  } else {
    APlay->trigger();
  }
}

// ---- Reports ----

void TTelvoriPlayer::ShowResult(const char* operation, TResult code) {
  FFilmFailed = true;
  ResultBox(QString::fromUtf8(operation) + QStringLiteral(": ") + QString::fromUtf8(ResultText(code)),
            [this] { EndAfterFailure(); });
}

void TTelvoriPlayer::ResultBox(const QString& text, std::function<void()> dismissed) {
  // No owner window: the main window stays usable while the box is open.
  auto* box = new QMessageBox(QMessageBox::Information, QStringLiteral("Result"), text, QMessageBox::Ok);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setModal(false);
  connect(box, &QMessageBox::finished, this, [dismissed] { dismissed(); });
  box->show();
}

void TTelvoriPlayer::MessageBox(QMessageBox::Icon icon, const QString& caption, const QString& text,
                                const QString& details) {
  QMessageBox box(icon, caption, text, QMessageBox::Ok, this);
  // The internal message (English, with offsets) is for whoever reports the fault.
  if (!details.isEmpty()) box.setDetailedText(details);
  box.exec();
}

void TTelvoriPlayer::ApplicationEvents1Exception(const QString& message, const QString& details) {
  // No tick may run while the dialog is open.
  Timer->stop();
  FFilmFailed = true;
  MessageBox(QMessageBox::Critical, QStringLiteral("Error"), message, details);
  AStopExecute();
  EndAfterFailure();
}

void TTelvoriPlayer::EndAfterFailure() {
  FFilmFailed = true;
  if (!FCloseOnFinish || FEndQueued || FDestroyed) return;
  FEndQueued = true;
  // Not at once: the failure may be reported inside a playback tick, or before the event
  // loop runs.
  QTimer::singleShot(0, this, [this] { close(); });
}

// ---- Own window and panel ----

void TTelvoriPlayer::SetOwnWindow(bool on) {
  FOwnWindow = on;
  if (!on) {
    if (frmDisplay) frmDisplay->hide();
    PlacePicture();
    FView->update();
  } else if (frmDisplay) {
    FView->update();
    PlacePicture();
    if (FPlayState == psPlaying) {
      frmDisplay->show();
      frmDisplay->raise();
    }
  }
  ASetOwnWindow->setChecked(FOwnWindow);
  btnInOwnWindow->setChecked(FOwnWindow);
}

void TTelvoriPlayer::SetShowPanel(bool visible) {
  pnlControls->setVisible(visible);
  AShowPanel->setChecked(visible);
}

void TTelvoriPlayer::AShowPanelExecute() {
  SetShowPanel(!pnlControls->isVisible());
  // The layout gives the picture area its new size before the picture is placed again.
  centralWidget()->layout()->activate();
  PlacePicture();
}

void TTelvoriPlayer::ASetOwnWindowExecute() { SetOwnWindow(!FOwnWindow); }

void TTelvoriPlayer::AExitExecute() { close(); }

void TTelvoriPlayer::ASegmentsExecute() {
  if (!frmSegments) return;
  if (frmSegments->isVisible()) {
    frmSegments->close();
    return;
  }
  FillSegmentsGrid();
  if (frmSegments->HasFirstRow()) frmSegments->show();
}

void TTelvoriPlayer::FillSegmentsGrid() {
  if (!frmSegments) return;
  if (!FCore.Segments().empty()) {
    std::vector<TSegmentListEntry> entries;
    for (const auto& segment : FCore.Segments())
      entries.push_back({segment->Name, segment->FrameCount, segment->FrameRate});
    frmSegments->SetRows(entries);
    return;
  }
  // No film loaded: the list at the head of the film file, extracted afresh. The player's
  // segments stay unloaded.
  const std::string path = FLoader->FileName();
  if (path.empty() || !FilmPathExists(path) || !FLoader->LoadFromFile(path)) return;
  frmSegments->SetRows({});
  FLoader->ReadFilmFileSegmentList();
}

void TTelvoriPlayer::ChooseSegment(int32_t index) {
  if (FCore.Segments().empty()) return;
  switch (FPlayState) {
    case psStopped:
      FCore.SelectSegment(index);
      UpdateTime();
      break;
    case psPlaying:
      // Stopping makes the first segment current, so the choice comes after it.
      AStop->trigger();
      FCore.SelectSegment(index);
      APlay->trigger();
      break;
    case psPaused:
      if (index != FCore.CurSegment()) {
        AStop->trigger();
        FCore.SelectSegment(index);
      }
      break;
  }
}

void TTelvoriPlayer::frmSegmentsHelpRequested(const QString& topic) {
  // Owned by the dialog, so that the help comes up over it.
  HtmlHelp(frmSegments, HelpPath() + topic);
}

void TTelvoriPlayer::AAboutExecute() {
  if (frmAbout) frmAbout->exec();
}

void TTelvoriPlayer::AHelpExecute() { HtmlHelp(this, HelpPath()); }

// ---- Placing and presenting the picture ----

QSize TTelvoriPlayer::PictureAreaSize() const { return FView->size(); }

void TTelvoriPlayer::PlacePicture() {
  if (!FCore.HasCurrentSegment()) return;
  const Segment& segment = *FCore.Segments()[size_t(FCore.CurSegment())];
  FPlacement.Scaled = false;
  if (frmDisplay && InOwnWindow()) {
    const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
    const QRect current = frmDisplay->frameGeometry();
    const QSize decoration = frmDisplay->Decoration();
    const auto p = PlaceDisplayWindow(segment.Width, segment.Height, FCore.FrameWidth(),
                                      FCore.FrameHeight(), screen.width(), screen.height(),
                                      TRect{current.x(), current.y(), current.width(), current.height()},
                                      decoration.width(), decoration.height());
    frmDisplay->ApplyPlacement(p);
    FPlacement = TPlacement{};
    FPlacement.Scaled = p.Scaled;
    FPlacement.FitWidth = p.FitWidth;
    FPlacement.FitHeight = p.FitHeight;
    frmDisplay->repaint();
    return;
  }
  const QSize area = PictureAreaSize();
  FPlacement = PlaceInMainWindow(segment.Width, segment.Height, FCore.FrameWidth(),
                                 FCore.FrameHeight(), area.width(), area.height());
  FView->update();
}

void TTelvoriPlayer::PresentPicture() {
  const TRasterBitmap* picture = FCore.Picture();
  if (!picture || !FCore.HasCurrentSegment()) return;
  // The copy is kept for repainting (the core composes the next frame into its picture right
  // away); its buffer is reused from tick to tick.
  CopyToPresented(*picture, FCore.Palette(), FPresented);
  ViewInUse()->update();
  if (const auto composed = FCore.ComposedFrame()) FShownFrame = composed;
  UpdateTime();
}

TPictureView* TTelvoriPlayer::ViewInUse() const {
  return (FOwnWindow && frmDisplay) ? frmDisplay->View() : FView;
}

// ---- The host side of playback ----

void TTelvoriPlayer::ExecuteStop() { AStop->trigger(); }

void TTelvoriPlayer::SegmentActivated(const Segment& segment, int intervalMs) {
  FSegmentInterval = intervalMs;
  ApplyTimerInterval();
  if (AutoFullScreen) {
    const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
    SetOwnWindow(screen.width() == segment.Width && screen.height() == segment.Height);
  }
  PlacePicture();
  // Paused, a segment is made current only by a seek, which shows its picture: its name too.
  if (FPlayState != psStopped) {
    pnlPath->setText(QString::fromStdString(segment.Name));
    if (frmDisplay)
      frmDisplay->setWindowTitle(FileNamePart(FileName()) + QStringLiteral(":  ") + pnlPath->text());
  }
}

void TTelvoriPlayer::SetProgress(int64_t position) {
  pbrProgress->setValue(int(std::clamp<int64_t>(position, 0, INT32_MAX)));
}

void TTelvoriPlayer::FilmFinished() {
  if (frmDisplay) frmDisplay->repaint();
  repaint();
  if (frmDisplay) frmDisplay->close();
  if (FCloseOnFinish) close();
}

int TTelvoriPlayer::ScreenBits() const {
  const QScreen* screen = QGuiApplication::primaryScreen();
  return screen ? screen->depth() : 32;
}

// ---- The loader's side ----

bool TTelvoriPlayer::LoadFilm(const std::string& path) {
  FCore.UnloadFilm();
  FShownFrame.reset();
  const bool loaded = FLoader->LoadFilm(path);
  if (loaded) FCore.TakeFilm(FLoader->TakeSegments());
  UpdateTime();
  UpdateExportAction();
  return loaded;
}

void TTelvoriPlayer::SetFileName(const QString& path) { FLoader->SetFileName(path.toStdString()); }

void TTelvoriPlayer::ShowMessage(const TLoadReport& report) {
  // Every notice is about a film that did not load, or not all of it.
  FFilmFailed = true;
  const TUserMessage message = LoadReportMessage(report, lbMessages);
  MessageBox(message.Icon, QStringLiteral("veRirove"), message.Text, message.Details);
}

void TTelvoriPlayer::SetBannerVisible(bool visible) {
  // On the display window when the picture goes there, on the main window otherwise.
  QWidget* host = ViewInUse();
  for (QLabel* label : {lblLoading_Shadow, lblLoading}) {
    if (label->parentWidget() != host) label->setParent(host);
    label->setVisible(visible);
    if (visible) label->raise();
  }
  if (visible) host->repaint();
}

void TTelvoriPlayer::FillSegmentsGrid(const std::vector<TSegmentListEntry>& entries) {
  if (frmSegments) frmSegments->SetRows(entries);
}

void TTelvoriPlayer::SetProgressMax(int64_t frames) {
  pbrProgress->setMaximum(int(std::clamp<int64_t>(frames, 0, INT32_MAX)));
}

void TTelvoriPlayer::FileNameChanged(const std::string& path) {
  pnlPath->setText(FileNamePart(QString::fromStdString(path)));
}

QString TTelvoriPlayer::ChooseFilmFile() {
  QFileDialog dialog(this);
  dialog.setDirectory(QCoreApplication::applicationDirPath());
  // Film packages first, as the dialog has always opened; then executable films, which the
  // player reads the same way, and every file.
  dialog.setNameFilters({QStringLiteral("Telvori Files (*.zrcab)"), QStringLiteral("Исполняемые фильмы (*.exe)"),
                         QStringLiteral("Все файлы (*)")});
  dialog.setDefaultSuffix(QStringLiteral("zrcab"));
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setSizeGripEnabled(true);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().first();
}

void TTelvoriPlayer::ALoadFromFileExecute() {
  const QString chosen = ChooseFilmFile();
  // Cancel changes nothing: the film that was open stays open and playable.
  if (chosen.isEmpty()) return;
  OpenChosenFilm(chosen);
}

void TTelvoriPlayer::OpenChosenFilm(const QString& path) {
  TWaitCursor wait;
  SetFileName(path);
  if (InOwnWindow() && frmDisplay) {
    frmDisplay->show();
    frmDisplay->raise();
  }
  OpenFilm(path.toStdString());
}

void TTelvoriPlayer::OpenDroppedFilm(const QString& path) {
  if (path.isEmpty()) return;
  // A film is opened only while stopped.
  if (FPlayState != psStopped) AStop->trigger();
  Guarded([&] { OpenChosenFilm(path); });
}

void TTelvoriPlayer::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  // Full screen may also end by the window system's doing: the commands follow.
  if (event->type() != QEvent::WindowStateChange || !AFullScreen) return;
  const bool full = isFullScreen();
  AFullScreen->setChecked(full);
  ALeaveFullScreen->setEnabled(full);
  menuBar()->setVisible(!full);
}

void TTelvoriPlayer::dragEnterEvent(QDragEnterEvent* event) {
  if (!DroppedFilm(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void TTelvoriPlayer::dropEvent(QDropEvent* event) {
  const QString path = DroppedFilm(event->mimeData());
  if (path.isEmpty()) return;
  event->acceptProposedAction();
  // After the drop has been answered: the drag's source is not kept waiting by the loading or
  // its messages.
  QTimer::singleShot(0, this, [this, path] { OpenDroppedFilm(path); });
}

bool TTelvoriPlayer::OpenFilm(const std::string& path) {
  if (path.empty()) return false;
  FFilmFailed = false;
  bool loaded = false;
  Guarded([&] { loaded = LoadFilm(path); });
  if (loaded && FCore.Segments().empty()) {
    MessageBox(QMessageBox::Warning, QStringLiteral("veRirove"),
               QStringLiteral("В фильме %1 нет ни одного сегмента.").arg(Quoted(path)));
    loaded = false;
  }
  if (!loaded) {
    ShowNoFilm();
    EndAfterFailure();
  }
  return loaded;
}

void TTelvoriPlayer::ShowNoFilm() {
  FLoader->UnloadFilm();
  FCore.UnloadFilm();
  SetFileName(QString());
  if (frmSegments) {
    frmSegments->SetRows({});
    frmSegments->hide();
  }
  pbrProgress->setRange(0, 100);
  pbrProgress->setValue(0);
  if (frmDisplay) frmDisplay->hide();
  FPresented = QImage();
  FShownFrame.reset();
  UpdateTime();
  UpdateExportAction();
  FView->update();
}

// ---- Random access: seeking, frame steps, speed, the time ----

QString SpeedText(double speed) {
  return QStringLiteral("×") + QString::number(speed).replace(QLatin1Char('.'), QLatin1Char(','));
}

int64_t TTelvoriPlayer::ShownTime() const {
  const auto& segments = FCore.Segments();
  if (FShownFrame) return FrameTime(segments, *FShownFrame);
  return SegmentStart(segments, std::max(FCore.CurSegment(), 0));
}

void TTelvoriPlayer::SeekTo(TFramePos pos) {
  const auto& segments = FCore.Segments();
  if (pos.Segment < 0 || size_t(pos.Segment) >= segments.size() || pos.Frame < 0 ||
      pos.Frame >= segments[size_t(pos.Segment)]->FrameCount)
    return;
  const TPlayState before = FPlayState;
  if (before == psStopped) {
    // Stopped, the film is paused at the frame: it starts as Play starts it.
    if (InOwnWindow() && frmDisplay) {
      frmDisplay->show();
      frmDisplay->raise();
    }
    SetPlayState(psPlaying);
  }
  // Paused after playing, the picture may hold the frame already (composed, not yet shown).
  const bool composed = before != psStopped && FCore.CurSegment() == pos.Segment && FCore.ComposedFrame() == pos;
  const TResult r = composed ? kResultOk : FCore.SeekFrame(pos);
  FLastResult = r;
  if (r != kResultOk) {
    // A failure of decoding has stopped playback and been told; one of activation is told here.
    if (FPlayState != psStopped) {
      AStop->trigger();
      ShowResult("SeekFrame", r);
    }
    return;
  }
  PresentPicture();
  FClockRunning = false;
  if (before == psStopped) {
    // Pausing switches the timer over: started here, it ends stopped.
    Timer->start();
    SetPlayState(psPaused);
  } else if (before == psPlaying) {
    // The frame shown gets its whole interval.
    Timer->start();
  }
}

void TTelvoriPlayer::SeekToTime(int64_t millis) {
  if (const auto pos = FrameAtTime(FCore.Segments(), millis)) SeekTo(*pos);
}

void TTelvoriPlayer::SeekBy(int64_t millis) {
  if (FCore.Segments().empty()) return;
  SeekToTime(std::max<int64_t>(ShownTime() + millis, 0));
}

void TTelvoriPlayer::StepFrame(int direction) {
  const auto& segments = FCore.Segments();
  if (segments.empty()) return;
  if (FPlayState == psPlaying) APause->trigger();
  std::optional<TFramePos> target;
  if (FShownFrame) {
    target = direction > 0 ? FrameAfter(FCore.Segments(), *FShownFrame) : FrameBefore(FCore.Segments(), *FShownFrame);
  } else {
    // Nothing shown yet: the first frame of the current segment, or of the film.
    const int32_t current = std::max(FCore.CurSegment(), 0);
    target = size_t(current) < segments.size() && segments[size_t(current)]->FrameCount > 0
                 ? std::optional<TFramePos>(TFramePos{current, 0})
                 : FirstFrame(segments);
  }
  if (target) SeekTo(*target);
}

void TTelvoriPlayer::StepSegment(int direction) {
  const auto& segments = FCore.Segments();
  if (segments.empty()) return;
  const int32_t current = FShownFrame ? FShownFrame->Segment : std::max(FCore.CurSegment(), 0);
  if (direction > 0) {
    for (size_t i = size_t(current) + 1; i < segments.size(); ++i)
      if (segments[i]->FrameCount > 0) return SeekTo({int32_t(i), 0});
    return;
  }
  for (int32_t i = current - 1; i >= 0; --i)
    if (segments[size_t(i)]->FrameCount > 0) return SeekTo({i, 0});
  if (size_t(current) < segments.size() && segments[size_t(current)]->FrameCount > 0) SeekTo({current, 0});
}

void TTelvoriPlayer::SetSpeedStep(int step) {
  FSpeedStep = std::clamp(step, 0, int(std::size(kSpeeds)) - 1);
  FClockRunning = false;
  ApplyTimerInterval();
  UpdateTime();
  ShowNotice(QStringLiteral("Скорость ") + SpeedText(kSpeeds[FSpeedStep]));
}

void TTelvoriPlayer::ApplyTimerInterval() {
  // At another speed the clock is looked at about sixty times a second, whatever the frame
  // rate: frames due in between are played but not shown.
  constexpr int kSpeedTick = 16;
  Timer->setInterval(FSpeedStep == kNormalSpeed ? FSegmentInterval : kSpeedTick);
}

void TTelvoriPlayer::SpeedTick() {
  // One tick may decode for this long at most; a film that cannot keep up plays slower.
  constexpr int64_t kTickBudget = 100;
  const double speed = kSpeeds[FSpeedStep];
  const auto& segments = FCore.Segments();
  const int64_t now = FClock();
  if (!FClockRunning) {
    FClockRunning = true;
    FAnchorClock = FLastStepClock = now;
    FAnchorFilm = ShownTime();
  }
  const int64_t due = FAnchorFilm + int64_t(double(now - FAnchorClock) * speed);
  int played = 0;
  while (FPlayState == psPlaying && Timer->isActive() && FCore.HasCurrentSegment()) {
    const Segment& segment = *segments[size_t(FCore.CurSegment())];
    const TFramePos next{FCore.CurSegment(), FCore.FrameIndex()};
    if (segment.FrameRate == 0) {
      // A segment without a frame rate lasts no time on the film's clock: a frame per interval
      // it is played at (at this speed), while the clock waits.
      if (played > 0 || double(now - FLastStepClock) * speed < FSegmentInterval) break;
      FAnchorFilm = FrameTime(segments, next);
      FAnchorClock = now;
    } else if (FrameTime(segments, next) > due) {
      break;
    }
    if (played > 0 && FClock() - now > kTickBudget) {
      // Behind the clock: it starts again from here.
      FAnchorFilm = FrameTime(segments, next);
      FAnchorClock = FClock();
      break;
    }
    FCore.TimerPlayTimer();
    FLastStepClock = now;
    ++played;
  }
  // Only a picture the core has composed since the segment began is shown; a segment just made
  // current has a cleared one.
  const auto composed = FCore.ComposedFrame();
  if (FPlayState == psPlaying && composed && composed != FShownFrame) PresentPicture();
}

void TTelvoriPlayer::UpdateTime() {
  if (!lblTime) return;
  const auto& segments = FCore.Segments();
  QString text;
  if (!segments.empty()) {
    text = QString::fromStdString(FormatClock(ShownTime())) + QStringLiteral(" / ") +
           QString::fromStdString(FormatClock(FilmMillis(segments)));
  }
  if (FSpeedStep != kNormalSpeed) {
    if (!text.isEmpty()) text += QStringLiteral("  ");
    text += SpeedText(kSpeeds[FSpeedStep]);
  }
  if (text == lblTime->text()) return;
  lblTime->setText(text);
  LayOutPanel();
}

void TTelvoriPlayer::LayOutPanel() {
  // The time at the right end; the path panel from its place up to it.
  constexpr int kPathLeft = 368, kMargin = 4;
  const int width = pnlControls->width();
  const int timeWidth = lblTime->text().isEmpty() ? 0 : lblTime->sizeHint().width();
  lblTime->setGeometry(width - kMargin - timeWidth, 3, timeWidth, 19);
  pnlPath->setGeometry(kPathLeft, 3, std::max(0, width - kPathLeft - 2 * kMargin - timeWidth), 19);
}

bool TTelvoriPlayer::eventFilter(QObject* watched, QEvent* event) {
  if (watched == pnlControls && event->type() == QEvent::Resize) LayOutPanel();
  return QMainWindow::eventFilter(watched, event);
}

void TTelvoriPlayer::ShowNotice(const QString& text) {
  // Over the picture, in the window that shows it.
  QWidget* host = ViewInUse();
  if (lblNotice->parentWidget() != host) lblNotice->setParent(host);
  lblNotice->setText(text);
  lblNotice->adjustSize();
  lblNotice->move(8, 8);
  lblNotice->show();
  lblNotice->raise();
  FNoticeTimer->start();
}

void TTelvoriPlayer::AFullScreenExecute() { SetFullScreen(!isFullScreen()); }

void TTelvoriPlayer::SetFullScreen(bool on) {
  if (on == isFullScreen()) {
    AFullScreen->setChecked(on);
    ALeaveFullScreen->setEnabled(on);
    return;
  }
  if (on) {
    // The picture comes into the main window for the time; the display window returns after.
    FOwnWindowBeforeFullScreen = FOwnWindow;
    if (FOwnWindow) SetOwnWindow(false);
    FStateBeforeFullScreen = windowState() & ~Qt::WindowFullScreen;
    menuBar()->hide();
    showFullScreen();
  } else {
    menuBar()->show();
    setWindowState(FStateBeforeFullScreen);
    show();
    if (FOwnWindowBeforeFullScreen) SetOwnWindow(true);
    FOwnWindowBeforeFullScreen = false;
  }
  AFullScreen->setChecked(on);
  ALeaveFullScreen->setEnabled(on);
  centralWidget()->layout()->activate();
  PlacePicture();
}

QString TTelvoriPlayer::SavePicture() {
  if (FPresented.isNull() || !FShownFrame) {
    ShowNotice(QStringLiteral("Нет кадра на экране: сохранять нечего."));
    return {};
  }
  const QString folder = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
  if (folder.isEmpty() || !QDir().mkpath(folder)) {
    MessageBox(QMessageBox::Warning, QStringLiteral("veRirove"),
               QStringLiteral("Не удалось сохранить кадр: нет папки для изображений %1.").arg(Quoted(folder.toStdString())));
    return {};
  }
  // Named as zrfilm names its pictures: the segment from 1, the frame within it from 0.
  QString stem = QFileInfo(FileName()).completeBaseName();
  if (stem.isEmpty()) stem = QStringLiteral("veRirove");
  stem += QStringLiteral("-%1-%2").arg(FShownFrame->Segment + 1, 3, 10, QLatin1Char('0')).arg(FShownFrame->Frame, 5, 10, QLatin1Char('0'));
  // A file that exists is never written over: the next free number goes into the name. The
  // file is made only when it does not exist, so another program cannot slip one in between.
  constexpr int kAttempts = 1000;
  for (int attempt = 1; attempt <= kAttempts; ++attempt) {
    const QString name = attempt == 1 ? stem + QStringLiteral(".png") : stem + QStringLiteral(" (%1).png").arg(attempt);
    const QString path = QDir(folder).filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
      if (QFileInfo::exists(path)) continue;
      MessageBox(QMessageBox::Warning, QStringLiteral("veRirove"),
                 QStringLiteral("Не удалось сохранить кадр в файл %1: %2").arg(Quoted(path.toStdString()), file.errorString()));
      return {};
    }
    QImageWriter writer(&file, "png");
    if (!writer.write(FPresented)) {
      const QString reason = writer.errorString();
      file.remove();
      MessageBox(QMessageBox::Warning, QStringLiteral("veRirove"),
                 QStringLiteral("Не удалось сохранить кадр в файл %1: %2").arg(Quoted(path.toStdString()), reason));
      return {};
    }
    file.close();
    ShowNotice(QStringLiteral("Кадр сохранён: %1").arg(path));
    return path;
  }
  MessageBox(QMessageBox::Warning, QStringLiteral("veRirove"),
             QStringLiteral("Не удалось сохранить кадр: в папке %1 уже есть файлы с именами %2.png … %2 (%3).png.")
                 .arg(Quoted(folder.toStdString()), stem)
                 .arg(kAttempts));
  return {};
}

void TTelvoriPlayer::ACopyPictureExecute() {
  if (FPresented.isNull() || !FShownFrame) {
    ShowNotice(QStringLiteral("Нет кадра на экране: копировать нечего."));
    return;
  }
  QGuiApplication::clipboard()->setImage(FPresented);
  ShowNotice(QStringLiteral("Кадр скопирован в буфер обмена."));
}

// ---- Window events ----

void TTelvoriPlayer::spDisplayMouseDown(Qt::MouseButton button) {
  if (button == Qt::LeftButton) APlay->trigger();
}

void TTelvoriPlayer::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  FormResize();
}

void TTelvoriPlayer::closeEvent(QCloseEvent* event) {
  ActiveFormDestroy();
  if (frmDisplay) frmDisplay->close();
  QMainWindow::closeEvent(event);
  // The program ends with its main window: the segments dialog, the help, the About box and
  // result boxes go too (a modal one ends its own event loop).
  for (QWidget* window : QApplication::topLevelWidgets())
    if (window != this && window->isVisible()) window->close();
  emit Closed();
}

// ---- Export ----

void TTelvoriPlayer::UpdateExportAction() { AExport->setEnabled(!FCore.Segments().empty() && !FExport); }

void TTelvoriPlayer::AExportExecute() {
  const auto& segments = FCore.Segments();
  if (segments.empty() || FExport) return;
  // The copies are taken now: the file is written from the film the dialog was opened on.
  TSegments copies = ShareSegments(segments);
  TExportRequest request;
  request.FilmPath = FileName();
  request.Folder = FExportFolder.isEmpty() ? DefaultExportFolder(request.FilmPath) : FExportFolder;
  request.BaseName = QFileInfo(request.FilmPath).completeBaseName();
  if (request.BaseName.isEmpty()) request.BaseName = QStringLiteral("veRirove");
  request.Options = FExportOptions;
  request.SegmentCount = int32_t(segments.size());
  request.CurrentSegment = std::clamp(FShownFrame ? FShownFrame->Segment : FCore.CurSegment(), 0, request.SegmentCount - 1);
  request.CurrentSegmentName = QString::fromStdString(segments[size_t(request.CurrentSegment)]->Name);

  TfrmExport dialog(request, this);
  connect(&dialog, &TfrmExport::HelpRequested, this,
          [&dialog](const QString& topic) { HtmlHelp(&dialog, HelpPath() + topic); });
  // Playback goes on while the dialog is open.
  if (dialog.exec() != QDialog::Accepted || FDestroyed) return;
  const TExportChoice& choice = dialog.Choice();
  FExportOptions = choice.Options;
  FExportOptions.Segment = 0;
  FExportFolder = QFileInfo(choice.Path).absolutePath();
  StartExport(std::move(copies), choice, request.FilmPath);
}

void TTelvoriPlayer::StartExport(TSegments segments, const TExportChoice& choice, const QString& filmPath) {
  FExport = new TExportJob(std::move(segments), choice, filmPath.toStdString(), FExporter, this);
  UpdateExportAction();

  // Not modal: the window can be watched and used while the file is written.
  auto* progress = new QProgressDialog(this);
  dlgExportProgress = progress;
  progress->setObjectName(QStringLiteral("dlgExportProgress"));
  progress->setAttribute(Qt::WA_DeleteOnClose);
  progress->setWindowTitle(QStringLiteral("Экспорт фильма"));
  progress->setLabelText(QStringLiteral("Запись видео в файл\n%1").arg(FileNamePart(choice.Path)));
  progress->setCancelButtonText(QStringLiteral("Отмена"));
  progress->setModal(false);
  progress->setAutoClose(false);
  progress->setAutoReset(false);
  progress->setMinimumDuration(0);
  progress->setMinimumWidth(360);
  progress->setRange(0, 100);
  progress->setValue(0);
  connect(progress, &QProgressDialog::canceled, FExport, &TExportJob::Cancel);
  connect(FExport, &TExportJob::Progress, progress, [progress](qint64 frames, qint64 total) {
    if (total > 0) progress->setValue(int(std::clamp<qint64>(frames * 100 / total, 0, 100)));
  });
  connect(FExport, &TExportJob::Finished, this, &TTelvoriPlayer::ExportEnded);
  progress->show();
  FExport->Start();
}

void TTelvoriPlayer::ExportEnded(const TExportResult& result) {
  TExportJob* job = FExport;
  if (!job) return;
  const TExportChoice choice = job->Choice();
  FExport = nullptr;
  job->deleteLater();
  if (dlgExportProgress) dlgExportProgress->close();
  UpdateExportAction();
  if (result) {
    ShowNotice(QStringLiteral("Экспорт завершён: %1").arg(QDir::toNativeSeparators(choice.Path)));
    return;
  }
  if (result.Code == TExportErrc::Cancelled) {
    ShowNotice(QStringLiteral("Экспорт отменён."));
    return;
  }
  const TUserMessage message = ExportResultMessage(result, choice.Path, choice.Options);
  MessageBox(message.Icon, QStringLiteral("veRirove"), message.Text, message.Details);
}
