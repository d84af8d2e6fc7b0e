// The main window's side of loading: the Open dialog, films dropped onto a window, the
// loader's notices and banner, and the window with a film or without one. The loading itself
// is the film session's (player/FilmSession).
#include <QAction>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QTimer>

#include "io/ScopeGuard.h"
#include "shell/player/ExportController.h"
#include "shell/player/FilmSession.h"
#include "shell/widgets/LoadingBanner.h"
#include "shell/widgets/UzrSeekBar.h"
#include "shell/widgets/WaitCursor.h"
#include "shell/window/ControlPanel.h"
#include "shell/window/FilmHistory.h"
#include "shell/window/PlayerActions.h"
#include "shell/window/SegmentsList.h"
#include "shell/window/TelvoriPlayerImpl1.h"
#include "shell/window/UzrDisplay.h"
#include "shell/window/WindowModes.h"

TFilmLoader& TTelvoriPlayer::Loader() { return FSession->Loader(); }
QString TTelvoriPlayer::FileName() const { return FSession->FileName(); }
void TTelvoriPlayer::SetFileName(const QString& path) { FSession->SetFileName(path); }

bool TTelvoriPlayer::LoadFilm(const std::string& path) {
  if (FSession->Loading()) return false;
  LeaveFilm();
  FWaitingRequest = nullptr;
  // The window paints and answers while the film loads: the commands that need a film, or
  // would load another, wait for it.
  QAction* const waiting[] = {FActions->ALoadFromFile, FActions->ASegments, FActions->APlay, FActions->APlayPause,
                              FActions->AStop};
  for (QAction* action : waiting) action->setEnabled(false);
  FExport->SetHasFilm(false);
  const auto restore = OnScopeExit([&] {
    for (QAction* action : waiting) action->setEnabled(true);
    FActions->FollowPlayState(PlayState());
    UpdateTime();
    // A film is exported whole: once all of it has been read.
    FExport->SetHasFilm(!Core().Segments().empty() && !FSession->Reading());
    if (FSession->Reading()) {
      SetProgressMax(TotalFrames(Core().Segments()));
      FSegments->Arrived();
    }
  });
  // A failure while the later segments are read is told as one of an event handler.
  FSession->OnReadingFailed = [this](std::exception_ptr failure) { Guarded([&] { std::rethrow_exception(failure); }); };
  return FSession->Load(path, *FTransport);
}

void TTelvoriPlayer::SegmentsArrived(int32_t) {
  // The film's length and the segments dialog grow with it.
  SetProgressMax(TotalFrames(Core().Segments()));
  UpdateTime();
  FSegments->Arrived();
  if (FWaitingRequest) {
    // Kept until it has run: it may ask for what comes next.
    const std::function<bool()> request = FWaitingRequest;
    bool done = true;
    Guarded([&] { done = request() || !FSession->Reading(); });
    if (done) FWaitingRequest = nullptr;
  }
}

void TTelvoriPlayer::ReadingEnded() {
  if (FDestroyed) return;
  SegmentsArrived(int32_t(Core().Segments().size()));
  FWaitingRequest = nullptr;
  FExport->SetHasFilm(!Core().Segments().empty());
}

void TTelvoriPlayer::WhenArrived(std::function<bool()> request) {
  FWaitingRequest = nullptr;
  if (!request() && FSession->Reading()) FWaitingRequest = std::move(request);
}

bool TTelvoriPlayer::HasArrived(int32_t index) const {
  return !FSession->Reading() || (index >= 0 && size_t(index) < FTransport->Segments().size());
}

void TTelvoriPlayer::SeekBy(int64_t millis) {
  if (millis <= 0 || !FSession->Reading()) return FTransport->SeekBy(millis);
  const int64_t target = FTransport->ShownTime() + millis;
  WhenArrived([this, target] {
    if (target >= FilmMillis(Core().Segments()) && !HasArrived(INT32_MAX)) return false;
    FTransport->SeekToTime(target);
    return true;
  });
}

void TTelvoriPlayer::ChooseSegment(int32_t index) {
  WhenArrived([this, index] {
    if (!HasArrived(index)) return false;
    FTransport->ChooseSegment(index);
    return true;
  });
}

bool TTelvoriPlayer::OpenFilm(const std::string& path, bool offerResume) {
  if (path.empty() || FSession->Loading()) return false;
  FSession->BeginOpen();
  bool loaded = false;
  Guarded([&] { loaded = LoadFilm(path); });
  // The window was closed while the film loaded: there is nothing to tell.
  if (FSession->LoadCancelled()) return false;
  if (loaded && Core().Segments().empty()) {
    const TUserMessage message = NoSegmentsMessage(path);
    MessageBox(message.Icon, QStringLiteral("veRirove"), message.Text);
    loaded = false;
  }
  if (!loaded) {
    ShowNoFilm();
    EndAfterFailure();
  } else {
    RememberFilmFolder(QString::fromStdString(path));
    FHistory->FilmOpened(QString::fromStdString(path), FilmLength(), offerResume);
  }
  return loaded;
}

void TTelvoriPlayer::ShowNoFilm() {
  FWaitingRequest = nullptr;
  FSession->Unload(*FTransport);
  FSegments->Clear();
  pnlControls->SeekBar()->setRange(0, 100);
  pnlControls->SeekBar()->setValue(0);
  if (DisplayWindow()) DisplayWindow()->hide();
  FPresented = QImage();
  UpdateTime();
  FExport->SetHasFilm(false);
  FView->update();
}

void TTelvoriPlayer::ShowMessage(const TLoadReport& report) {
  const TUserMessage message = FSession->Report(report, lbMessages);
  MessageBox(message.Icon, QStringLiteral("veRirove"), message.Text, message.Details);
}

void TTelvoriPlayer::SetBannerVisible(bool visible) {
  // On the display window when the picture goes there, on the main window otherwise.
  FBanner->SetVisible(visible, FModes->ViewInUse());
}

void TTelvoriPlayer::FillSegmentsGrid(const std::vector<TSegmentListEntry>& entries) { FSegments->SetRows(entries); }

void TTelvoriPlayer::SetProgressMax(int64_t frames) {
  pnlControls->SeekBar()->setMaximum(int(std::clamp<int64_t>(frames, 0, INT32_MAX)));
}

void TTelvoriPlayer::FileNameChanged(const std::string& path) {
  pnlControls->SetPathText(QFileInfo(QString::fromStdString(path)).fileName());
}

QString TTelvoriPlayer::ChooseFilmFile() { return AskForFilmFile(this); }

void TTelvoriPlayer::ALoadFromFileExecute() {
  const QString chosen = ChooseFilmFile();
  // Cancel changes nothing: the film that was open stays open and playable.
  if (!chosen.isEmpty()) OpenChosenFilm(chosen);
}

void TTelvoriPlayer::OpenChosenFilm(const QString& path) {
  // One film at a time: the film being loaded stays.
  if (FSession->Loading()) return;
  TWaitCursor wait;
  SetFileName(path);
  FModes->ShowDisplayWindow();
  OpenFilm(path.toStdString());
}

void TTelvoriPlayer::OpenDroppedFilm(const QString& path) {
  if (path.isEmpty() || FSession->Loading()) return;
  // A film is opened only while stopped.
  if (PlayState() != psStopped) FActions->AStop->trigger();
  Guarded([&] { OpenChosenFilm(path); });
}

void TTelvoriPlayer::dragEnterEvent(QDragEnterEvent* event) {
  if (!FSession->Loading() && !DroppedFilm(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void TTelvoriPlayer::dropEvent(QDropEvent* event) {
  const QString path = DroppedFilm(event->mimeData());
  if (path.isEmpty()) return;
  event->acceptProposedAction();
  // After the drop has been answered: the drag's source is not kept waiting by the loading or
  // its messages.
  QTimer::singleShot(0, this, [this, path] { OpenDroppedFilm(path); });
}
