#include "shell/TelvoriPlayerImpl1.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QScreen>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include "film/Messages.h"
#include "film/TempFolder.h"
#include "shell/UzrSegments.h"
#include "shell/UzrArtwork.h"
#include "shell/UzrDisplay.h"
#include "shell/UzrHelp.h"
#include "shell/UzrPresent.h"

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
  AShowPanel->setCheckable(true);
  ASetOwnWindow->setCheckable(true);

  QMenuBar* MainMenu1 = menuBar();
  QMenu* file = MainMenu1->addMenu(QStringLiteral("&Файл"));
  file->addAction(ALoadFromFile);
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
  pupMain->addAction(ALoadFromFile);
  pupMain->addSeparator();
  pupMain->addActions({APlay, APause, AStop});
  pupMain->addSeparator();
  pupMain->addActions({ASegments, AShowPanel, ASetOwnWindow});
  pupMain->addSeparator();
  pupMain->addAction(AAbout);
  pupMain->addSeparator();
  pupMain->addAction(AExit);
}

void TTelvoriPlayer::CreateControls() {
  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  FView = new TPictureView(*this, kWindowGrey, central);
  layout->addWidget(FView, 1);
  connect(FView, &TPictureView::MouseDown, this, &TTelvoriPlayer::spDisplayMouseDown);
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

  pbrProgress = new QProgressBar(pnlControls);
  pbrProgress->setObjectName(QStringLiteral("pbrProgress"));
  pbrProgress->setGeometry(184, 7, 173, 10);
  pbrProgress->setRange(0, 100);
  pbrProgress->setValue(0);
  pbrProgress->setTextVisible(false);

  pnlPath = new QLabel(pnlControls);
  pnlPath->setObjectName(QStringLiteral("pnlPath"));
  pnlPath->setGeometry(368, 3, 417, 19);
  pnlPath->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

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

void TTelvoriPlayer::TimerTimer() { FCore.TimerTimer(); }

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
}

TPictureView* TTelvoriPlayer::ViewInUse() const {
  return (FOwnWindow && frmDisplay) ? frmDisplay->View() : FView;
}

// ---- The host side of playback ----

void TTelvoriPlayer::ExecuteStop() { AStop->trigger(); }

void TTelvoriPlayer::SegmentActivated(const Segment& segment, int intervalMs) {
  Timer->setInterval(intervalMs);
  if (AutoFullScreen) {
    const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
    SetOwnWindow(screen.width() == segment.Width && screen.height() == segment.Height);
  }
  PlacePicture();
  if (FPlayState == psPlaying) {
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
  const bool loaded = FLoader->LoadFilm(path);
  if (loaded) FCore.TakeFilm(FLoader->TakeSegments());
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
  dialog.setNameFilter(QStringLiteral("Telvori Files (*.zrcab)"));
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
  TWaitCursor wait;
  SetFileName(chosen);
  if (InOwnWindow() && frmDisplay) {
    frmDisplay->show();
    frmDisplay->raise();
  }
  OpenFilm(chosen.toStdString());
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
  FView->update();
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
