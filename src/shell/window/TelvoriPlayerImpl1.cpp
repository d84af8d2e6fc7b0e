#include "shell/window/TelvoriPlayerImpl1.h"

#include <algorithm>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QProgressDialog>
#include <QFileInfo>
#include <QMenu>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

#include "film/Messages.h"
#include "io/Version.h"
#include "shell/artwork/UzrArtwork.h"
#include "shell/dialogs/UzrHelp.h"
#include "shell/player/ExportController.h"
#include "shell/player/FilmChapters.h"
#include "shell/player/FilmSession.h"
#include "shell/player/PictureSaver.h"
#include "shell/widgets/LoadingBanner.h"
#include "shell/widgets/NoticeLabel.h"
#include "shell/widgets/UzrPresent.h"
#include "shell/widgets/UzrSeekBar.h"
#include "shell/widgets/WaitCursor.h"
#include "shell/window/ControlPanel.h"
#include "shell/window/FilmHistory.h"
#include "shell/window/FilmIndexControl.h"
#include "shell/window/PlayerActions.h"
#include "shell/window/RecentFilmsMenu.h"
#include "shell/window/SegmentsList.h"
#include "shell/window/UzrDisplay.h"
#include "shell/window/WindowModes.h"

bool TTelvoriPlayer::AutoFullScreen = false;

namespace {

const QColor kWindowGrey(128, 128, 128);

QString FileNamePart(const QString& path) { return QFileInfo(path).fileName(); }

}  // namespace

// ---- Creation and destruction ----

TTelvoriPlayer::TTelvoriPlayer(size_t frameBufferSize, QWidget* parent)
    : QMainWindow(parent), FActions(std::make_unique<TPlayerActions>(*this)), FTransport(new TTransport(*this, this)) {
  setWindowTitle(QStringLiteral("veRirove v") + QLatin1String(kVersion));
  setWindowIcon(ApplicationIcon());
  setMinimumSize(500, 300);
  for (const char* text : kLbMessages) lbMessages << QString::fromUtf8(text);
  connect(FTransport->Timer(), &QTimer::timeout, this, [this] { Guarded([this] { TimerTimer(); }); });
  setAcceptDrops(true);

  CreateControls();
  FModes = std::make_unique<TWindowModes>(*this, *FActions, *FTransport, *FView, *pnlControls);
  SetOuterBounds(QRect(374, 127, 800, 600));
  FExport = new TExportController(*this, *FActions->AExport);
  FExport->ShowNotice = [this](const QString& text) { ShowNotice(text); };
  FExport->ShowMessage = [this](const TUserMessage& m) {
    MessageBox(m.Icon, QStringLiteral("veRirove"), m.Text, m.Details);
  };
  BindActions();
  BindFilmHistory();
  ActiveFormCreate(frameBufferSize);
}

TTelvoriPlayer::~TTelvoriPlayer() { ActiveFormDestroy(); }

void TTelvoriPlayer::ActiveFormCreate(size_t frameBufferSize) {
  FSession = std::make_unique<TFilmSession>(*this);
  FSegments = std::make_unique<TSegmentsList>(*FSession, *FTransport);
  FTransport->SetLastResult(Core().AllocFrameBuffer(frameBufferSize));
  if (LastResult() != kResultOk) {
    // Deliberately "FormCreate: Segment Is Nil" rather than "Cannot Alloc Memory": that is
    // the text this failure has always been reported with.
    ShowResult("FormCreate", LastResult());
    return;
  }
  Core().GetDisplaySettings();
  SetPlayState(psStopped);
  SetShowPanel(true);
  SetOwnWindow(false);
  FSession->Loader().Loaded = false;
  FCreated = true;
}

void TTelvoriPlayer::ActiveFormDestroy() {
  if (FDestroyed) return;
  FDestroyed = true;
  FTransport->Timer()->stop();
  // An unfinished export is cancelled, its thread waited for and its file removed.
  FExport->Close();
  FSession->StopReading();
  LeaveFilm();
  if (FCreated) AStopExecute();
  Core().ClearSegments();
  FTransport->SetLastResult(Core().FreeFrameBuffer());
}

void TTelvoriPlayer::BindActions() {
  const TPlayerActions& a = *FActions;
  const std::pair<QAction*, std::function<void()>> handlers[] = {
      {a.APlay, [this] { APlayExecute(); }},
      {a.APause, [this] { APauseExecute(); }},
      {a.AStop, [this] { AStopExecute(); }},
      {a.ASegments, [this] { ASegmentsExecute(); }},
      {a.AAbout, [this] { AAboutExecute(); }},
      {a.ALoadFromFile, [this] { ALoadFromFileExecute(); }},
      {a.AShowPanel, [this] { AShowPanelExecute(); }},
      {a.ASetOwnWindow, [this] { ASetOwnWindowExecute(); }},
      {a.AExit, [this] { AExitExecute(); }},
      {a.AHelp, [this] { AHelpExecute(); }},
      {a.AExport, [this] { AExportExecute(); }},
      {a.APlayPause, [this] { APlayPauseExecute(); }},
      {a.ABack5, [this] { SeekBy(-5000); }},
      {a.AForward5, [this] { SeekBy(5000); }},
      {a.ABack1, [this] { SeekBy(-1000); }},
      {a.AForward1, [this] { SeekBy(1000); }},
      {a.ABack60, [this] { SeekBy(-60000); }},
      {a.AForward60, [this] { SeekBy(60000); }},
      {a.AFilmStart, [this] { if (const auto first = FirstFrame(Core().Segments())) SeekTo(*first); }},
      {a.AFilmEnd, [this] { WhenArrived([this] {
         if (!HasArrived(INT32_MAX)) return false;
         if (const auto last = LastFrame(Core().Segments())) SeekTo(*last);
         return true;
       }); }},
      {a.APrevSegment, [this] { StepSegment(-1); }},
      {a.ANextSegment, [this] { WhenArrived([this] {
         const auto shown = FTransport->ShownFrame();
         if (!HasArrived((shown ? shown->Segment : std::max(Core().CurSegment(), 0)) + 1)) return false;
         StepSegment(1);
         return true;
       }); }},
      {a.APrevChapter, [this] { FTransport->StepChapter(-1); }},
      {a.ANextChapter, [this] { FTransport->StepChapter(1); }},
      {a.APrevFrame, [this] { StepFrame(-1); }},
      {a.ANextFrame, [this] { StepFrame(1); }},
      {a.ASlower, [this] { SetSpeedStep(SpeedStep() - 1); }},
      {a.AFaster, [this] { SetSpeedStep(SpeedStep() + 1); }},
      {a.ANormalSpeed, [this] { SetSpeedStep(kNormalSpeed); }},
      {a.AFullScreen, [this] { AFullScreenExecute(); }},
      {a.ALeaveFullScreen, [this] { SetFullScreen(false); }},
      {a.ASavePicture, [this] { ASavePictureExecute(); }},
      {a.ACopyPicture, [this] { ACopyPictureExecute(); }},
      {a.AFitToWindow, [this] { FModes->SetFitToWindow(FActions->AFitToWindow->isChecked()); }},
  };
  for (const auto& [action, handler] : handlers)
    connect(action, &QAction::triggered, this, [this, handler] { Guarded(handler); });
}

void TTelvoriPlayer::BindFilmHistory() {
  FHistory = new TFilmHistory(*FActions->mnuRecentFilms, *FActions->AResume, this);
  FHistory->ShowOffer = [this](const QString& text) {
    if (text.isEmpty()) {
      lblNotice->hide();
    } else {
      lblNotice->Show(text, FModes->ViewInUse(), TFilmHistory::kOfferMs);
    }
  };
  // Going on plays on from there, stopped or paused alike.
  FHistory->GoOnFrom = [this](int64_t millis) {
    Guarded([&] {
      SeekToTime(millis);
      if (PlayState() == psPaused) FActions->APause->trigger();
    });
  };
  connect(FActions->mnuRecentFilms, &TRecentFilmsMenu::FilmChosen, this, &TTelvoriPlayer::OpenDroppedFilm);
  connect(FActions->mnuRecentFilms, &TRecentFilmsMenu::MissingFilmChosen, this, [this](const QString& path) {
    const TUserMessage message = LoadReportMessage({TLoadNotice::NoSuchFile, path.toStdString()}, lbMessages);
    MessageBox(message.Icon, QStringLiteral("veRirove"), message.Text, message.Details);
  });
}

int64_t TTelvoriPlayer::FilmLength() {
  const int64_t read = FilmMillis(Core().Segments());
  return FSession->Reading() ? std::max(read, FSegments->ListedMillis()) : read;
}

void TTelvoriPlayer::LeaveFilm() {
  const std::optional<int64_t> position = ShownFrame() ? std::optional<int64_t>(ShownTime()) : std::nullopt;
  FHistory->FilmLeft(position, FilmLength());
  FIndex->FilmLeft();
}

void TTelvoriPlayer::PictureWheel(int notches, Qt::KeyboardModifiers modifiers) {
  Guarded([&] {
    if (modifiers & Qt::ControlModifier) {
      SetSpeedStep(SpeedStep() + notches);
    } else {
      SeekBy(5000 * int64_t{notches});
    }
  });
}

void TTelvoriPlayer::CreateControls() {
  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  FView = new TPictureView(*this, kWindowGrey, central);
  layout->addWidget(FView, 1);
  connect(FView, &TPictureView::MouseDown, this, &TTelvoriPlayer::spDisplayMouseDown);
  connect(FView, &TPictureView::DoubleClicked, this, [this] { FActions->AFullScreen->trigger(); });
  connect(FView, &TPictureView::WheelTurned, this, &TTelvoriPlayer::PictureWheel);
  FView->SetContextMenu(FActions->pupMain);

  pnlControls = new TControlPanel(*FActions, *FTransport, central);
  pnlControls->hide();
  layout->addWidget(pnlControls);
  setCentralWidget(central);
  connect(pnlControls, &TControlPanel::SeekRequested, this, [this](TFramePos pos) { Guarded([&] { SeekTo(pos); }); });
  FIndex = new TFilmIndexControl(*FActions, *FTransport, *pnlControls->SeekBar(), *this);
  connect(FTransport, &TTransport::IdleSkipped, this,
          [this](qint64 ms) { ShowNotice(QString::fromStdString(IdleSkipNotice(ms))); });

  lblNotice = new TNoticeLabel(FView);
  FBanner = std::make_unique<TLoadingBanner>(FView);

  setContextMenuPolicy(Qt::CustomContextMenu);
  connect(this, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { FActions->pupMain->popup(mapToGlobal(at)); });
}

void TTelvoriPlayer::SetDisplayWindow(TfrmDisplay* display) {
  FModes->SetDisplayWindow(display);
  if (!display) return;
  display->addActions(actions());
  display->SetContextMenu(FActions->pupMain);
  // Its picture's MouseDown stays unheard: the window has no controls, a click there plays
  // nothing.
  connect(display, &TfrmDisplay::Closed, this, [this] { SetOwnWindow(false); });
  connect(display->View(), &TPictureView::DoubleClicked, this, [this] { FActions->AFullScreen->trigger(); });
  connect(display->View(), &TPictureView::WheelTurned, this, &TTelvoriPlayer::PictureWheel);
  connect(display, &TfrmDisplay::FilmDropped, this, &TTelvoriPlayer::OpenDroppedFilm, Qt::QueuedConnection);
}

TfrmDisplay* TTelvoriPlayer::DisplayWindow() const { return FModes->DisplayWindow(); }

void TTelvoriPlayer::SetSegmentsDialog(TfrmSegments* segments) {
  FSegments->SetDialog(segments);
  if (!segments) return;
  segments->setWindowIcon(windowIcon());
  connect(segments, &TfrmSegments::SegmentChosen, this, &TTelvoriPlayer::ChooseSegment);
  connect(segments, &TfrmSegments::HelpRequested, this, &TTelvoriPlayer::frmSegmentsHelpRequested);
}

void TTelvoriPlayer::SetOuterBounds(const QRect& bounds) { FModes->SetOuterBounds(bounds); }

void TTelvoriPlayer::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  FModes->ApplyOuterBoundsOnceFramed();
}

void TTelvoriPlayer::moveEvent(QMoveEvent* event) {
  QMainWindow::moveEvent(event);
  FModes->ApplyOuterBoundsOnceFramed();
}

// ---- Transport ----

void TTelvoriPlayer::PlayStateShown(TPlayState state, bool highlighted) {
  pnlControls->ShowPlayState(state, highlighted);
  FActions->FollowPlayState(state);
  if (state == psStopped) ShowPathOfFilm();
  UpdateTime();
  repaint();
}

void TTelvoriPlayer::ShowPathOfFilm() { pnlControls->SetPathText(FileNamePart(FileName())); }

void TTelvoriPlayer::APlayExecute() {
  if (PlayState() == psPaused) {
    FActions->APause->trigger();
    return;
  }
  TWaitCursor wait;
  FModes->ShowDisplayWindow(true);
  FTransport->Play();
}

void TTelvoriPlayer::APauseExecute() {
  if (PlayState() == psPlaying || PlayState() == psPaused) SetPlayState(psPaused);
}

void TTelvoriPlayer::AStopExecute() {
  if (ShownFrame()) FHistory->FilmStopped(ShownTime());
  SetPlayState(psStopped);
  FModes->HideDisplayWindow();
  pnlControls->SeekBar()->setValue(0);
  // The client area goes grey: the last picture is wiped.
  FPresented = QImage();
  FView->update();
  if (DisplayWindow()) DisplayWindow()->View()->update();
}

void TTelvoriPlayer::TimerTimer() { FTransport->Tick(); }

void TTelvoriPlayer::APlayPauseExecute() {
  if (PlayState() == psPlaying) {
    FActions->APause->trigger();
  } else {
    FActions->APlay->trigger();
  }
}

void TTelvoriPlayer::ShowPictureWindow() { FModes->ShowDisplayWindow(); }
void TTelvoriPlayer::ExecutePause() { FActions->APause->trigger(); }
void TTelvoriPlayer::ExecutePlay() { FActions->APlay->trigger(); }
void TTelvoriPlayer::ExecuteStop() { FActions->AStop->trigger(); }

void TTelvoriPlayer::SetSpeedStep(int step) {
  FTransport->SetSpeedStep(step);
  ShowNotice(QStringLiteral("Скорость ") + SpeedText(kSpeeds[SpeedStep()]));
}

void TTelvoriPlayer::UpdateTime() {
  pnlControls->SetTimeText(FTransport->TimeText());
  // A film loaded since gets its index pass once all of it has been read; none starts while
  // the window goes.
  if (FSession && !FDestroyed)
    FIndex->FollowFilm(FileName().toStdString(), FSession->Loading() || FSession->Reading(),
                       ExitStatus() != 0);
}

void TTelvoriPlayer::ShowNotice(const QString& text) {
  FHistory->WithdrawOffer();
  lblNotice->Show(text, FModes->ViewInUse());
}

// ---- Reports ----

void TTelvoriPlayer::ShowResult(const char* operation, TResult code) {
  FSession->MarkFailed();
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
  FTransport->Timer()->stop();
  FSession->MarkFailed();
  MessageBox(QMessageBox::Critical, QStringLiteral("Error"), message, details);
  AStopExecute();
  EndAfterFailure();
}

void TTelvoriPlayer::EndAfterFailure() {
  // Not at once: the failure may be reported inside a playback tick, or before the event
  // loop runs.
  if (FSession->EndAfterFailure() && !FDestroyed) QTimer::singleShot(0, this, [this] { close(); });
}

int TTelvoriPlayer::ExitStatus() const { return FSession->ExitStatus(); }
void TTelvoriPlayer::SetCloseOnFinish(bool on) { FSession->SetCloseOnFinish(on); }

// ---- Own window, panel, full screen ----

bool TTelvoriPlayer::InOwnWindow() const { return FModes->InOwnWindow(); }
void TTelvoriPlayer::SetOwnWindow(bool on) { FModes->SetOwnWindow(on); }

void TTelvoriPlayer::SetShowPanel(bool visible) {
  pnlControls->setVisible(visible);
  FActions->AShowPanel->setChecked(visible);
}

void TTelvoriPlayer::AShowPanelExecute() {
  SetShowPanel(!pnlControls->isVisible());
  // The layout gives the picture area its new size before the picture is placed again.
  centralWidget()->layout()->activate();
  PlacePicture();
}

void TTelvoriPlayer::ASetOwnWindowExecute() { SetOwnWindow(!InOwnWindow()); }
void TTelvoriPlayer::AExitExecute() { close(); }
void TTelvoriPlayer::AFullScreenExecute() { SetFullScreen(!isFullScreen()); }
void TTelvoriPlayer::SetFullScreen(bool on) { FModes->SetFullScreen(on); }

void TTelvoriPlayer::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  // Full screen may also end by the window system's doing: the commands follow.
  if (event->type() == QEvent::WindowStateChange && FModes) FModes->WindowStateChanged();
}

// ---- Segments, About, help ----

void TTelvoriPlayer::ASegmentsExecute() { FSegments->Toggle(); }
void TTelvoriPlayer::FillSegmentsGrid() { FSegments->Fill(); }

void TTelvoriPlayer::frmSegmentsHelpRequested(const QString& topic) {
  // Owned by the dialog, so that the help comes up over it.
  HtmlHelp(FSegments->Dialog(), HelpPath() + topic);
}

void TTelvoriPlayer::AAboutExecute() {
  if (frmAbout) frmAbout->exec();
}

void TTelvoriPlayer::AHelpExecute() { HtmlHelp(this, HelpPath()); }

// ---- Placing and presenting the picture ----

QSize TTelvoriPlayer::PictureAreaSize() const { return FView->size(); }
void TTelvoriPlayer::PlacePicture() { FModes->PlacePicture(); }
const TPlacement& TTelvoriPlayer::Placement() const { return FModes->Placement(); }
const TPictureView* TTelvoriPlayer::PictureViewInUse() const { return FModes->ViewInUse(); }
QToolButton* TTelvoriPlayer::HighlightedButton() const { return pnlControls->HighlightedButton(); }

void TTelvoriPlayer::PresentPicture() {
  const TRasterBitmap* picture = Core().Picture();
  if (!picture || !Core().HasCurrentSegment()) return;
  // The copy is kept for repainting (the core composes the next frame into its picture right
  // away); its buffer is reused from tick to tick.
  CopyToPresented(*picture, Core().Palette(), FPresented);
  FModes->ViewInUse()->update();
  FTransport->PictureShown();
  UpdateTime();
}

// ---- The host side of playback ----

void TTelvoriPlayer::SegmentActivated(const Segment& segment, int intervalMs) {
  FTransport->SetSegmentInterval(intervalMs);
  if (AutoFullScreen) {
    const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
    SetOwnWindow(screen.width() == segment.Width && screen.height() == segment.Height);
  }
  PlacePicture();
  // Paused, a segment is made current only by a seek, which shows its picture: its name too.
  if (PlayState() != psStopped) {
    pnlControls->SetPathText(QString::fromStdString(segment.Name));
    if (DisplayWindow())
      DisplayWindow()->setWindowTitle(FileNamePart(FileName()) + QStringLiteral(":  ") + pnlControls->PathText());
  }
}

void TTelvoriPlayer::SetProgress(int64_t position) {
  pnlControls->SeekBar()->setValue(int(std::clamp<int64_t>(position, 0, INT32_MAX)));
}

void TTelvoriPlayer::FilmFinished() {
  FHistory->FilmFinished();
  if (DisplayWindow()) DisplayWindow()->repaint();
  repaint();
  if (DisplayWindow()) DisplayWindow()->close();
  if (FSession->CloseOnFinish()) close();
}

int TTelvoriPlayer::ScreenBits() const {
  const QScreen* screen = QGuiApplication::primaryScreen();
  return screen ? screen->depth() : 32;
}

// ---- The picture on screen ----

QString TTelvoriPlayer::SavePicture() {
  if (FPresented.isNull() || !ShownFrame()) {
    ShowNotice(QStringLiteral("Нет кадра на экране: сохранять нечего."));
    return {};
  }
  const TPictureSave saved = SavePictureFile(FPresented, FileName(), *ShownFrame());
  if (saved.Path.isEmpty()) {
    MessageBox(saved.Failure.Icon, QStringLiteral("veRirove"), saved.Failure.Text);
    return {};
  }
  ShowNotice(QStringLiteral("Кадр сохранён: %1").arg(saved.Path));
  return saved.Path;
}

void TTelvoriPlayer::ACopyPictureExecute() {
  if (FPresented.isNull() || !ShownFrame()) {
    ShowNotice(QStringLiteral("Нет кадра на экране: копировать нечего."));
    return;
  }
  QGuiApplication::clipboard()->setImage(FPresented);
  ShowNotice(QStringLiteral("Кадр скопирован в буфер обмена."));
}

// ---- Window events ----

void TTelvoriPlayer::spDisplayMouseDown(Qt::MouseButton button) {
  if (button == Qt::LeftButton) FActions->APlay->trigger();
}

void TTelvoriPlayer::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  if (FModes) FormResize();
}

void TTelvoriPlayer::closeEvent(QCloseEvent* event) {
  // A film being loaded is called off: the program ends without waiting for it.
  FSession->CancelLoad();
  ActiveFormDestroy();
  if (DisplayWindow()) DisplayWindow()->close();
  QMainWindow::closeEvent(event);
  // The program ends with its main window: the segments dialog, the help, the About box and
  // result boxes go too (a modal one ends its own event loop).
  for (QWidget* window : QApplication::topLevelWidgets())
    if (window != this && window->isVisible()) window->close();
  emit Closed();
}

// ---- Export ----

bool TTelvoriPlayer::ExportRunning() const { return FExport->Running(); }
void TTelvoriPlayer::SetExporter(TExportJob::TExporter exporter) { FExport->SetExporter(std::move(exporter)); }
QProgressDialog* TTelvoriPlayer::ExportProgress() const { return FExport->Progress(); }

void TTelvoriPlayer::AExportExecute() {
  const int32_t current = ShownFrame() ? ShownFrame()->Segment : Core().CurSegment();
  FExport->Execute(Core().Segments(), FileName(), current);
}
