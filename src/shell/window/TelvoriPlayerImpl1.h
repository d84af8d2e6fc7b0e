// The main window: the hub that holds the film session, the transport, the actions with their
// menus and control panel, the window modes and the export, and keeps the handlers of the
// program's commands and events. Each handler is a few lines that call the part that does the
// work; the failure report is the window's own.
#pragma once

#include <QImage>
#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

#include "film/FilmLoader.h"
#include "shell/player/ExportJob.h"
#include "shell/dialogs/UzrSegments.h"
#include "shell/player/LoadMessages.h"
#include "shell/player/Transport.h"
#include "shell/widgets/UzrPictureView.h"

class QDialog;
class QProgressDialog;
class QToolButton;
class TControlPanel;
class TExportController;
class TFilmHistory;
class TFilmIndexControl;
class TFilmSession;
class TLoadingBanner;
class TSegmentsList;
class TfrmDisplay;
class TNoticeLabel;
class TWindowModes;
struct TPlayerActions;

class TTelvoriPlayer : public QMainWindow, public ITransportHost, public IFilmLoaderUi, public IPictureSource {
  Q_OBJECT

 public:
  // Program-wide: each activation puts a screen-sized segment into the display window.
  static bool AutoFullScreen;

  explicit TTelvoriPlayer(size_t frameBufferSize = TPlaybackCore::kFrameBufferSize, QWidget* parent = nullptr);
  ~TTelvoriPlayer() override;

  // The display window comes after the main window (it does not exist while this one is
  // being created). It gets the window's commands with their shortcut keys and its context
  // menu, and closing it leaves separate-window mode.
  void SetDisplayWindow(TfrmDisplay* display);
  TfrmDisplay* DisplayWindow() const;
  // The segments dialog: the segment chosen there is made current by ChooseSegment, and its
  // help opens at the dialog's topic.
  void SetSegmentsDialog(TfrmSegments* segments);
  void SetAboutBox(QDialog* about) { frmAbout = about; }
  // Outer bounds (frame included), as the window is first placed and as the command line
  // asks for them.
  void SetOuterBounds(const QRect& bounds);
  // Lists the film's segments in the segments dialog: the loaded ones, or those of the film
  // file when the film is not loaded.
  void FillSegmentsGrid();
  // Makes segment `index` (from 0) current, by the transport state: stopped, the next Play
  // starts there; playing, playback starts again at its beginning (also when it is the
  // current one); paused on it, nothing changes; paused on another, playback stops there.
  // Without loaded segments (a list read from the film file alone) nothing happens.
  void ChooseSegment(int32_t index);
  // Runs `request` at once; while the film's later segments are still being read and it
  // needs one that has not arrived (it returns false), it runs again as they arrive, until it
  // is done or the reading ends. A later request takes the place of one waiting.
  void WhenArrived(std::function<bool()> request);
  // Whether segment `index` (from 0) is there, or will never come (the reading has ended).
  bool HasArrived(int32_t index) const;

  // Operations other parts call.
  void SetPlayState(TPlayState state) { FTransport->SetPlayState(state); }
  void ShowResult(const char* operation, TResult code) override;
  bool InOwnWindow() const;
  void SetOwnWindow(bool on);
  void SetShowPanel(bool visible);
  void PlacePicture();
  void PresentPicture() override;
  // The handler for failures that escape an event handler or a timer tick; details (the
  // internal message) go below the text, when there are any.
  void ApplicationEvents1Exception(const QString& message, const QString& details = {});
  // Runs an event handler and hands whatever it throws to ApplicationEvents1Exception, so
  // that no failure unwinds through the toolkit. A film that cannot be read is told in
  // Russian, naming the file, with the internal message as details. False when it threw.
  template <typename F>
  bool Guarded(F&& handler) {
    try {
      handler();
      return true;
    } catch (const EFilmLoad& e) {
      const TUserMessage message = FilmLoadMessage(e);
      ApplicationEvents1Exception(message.Text, message.Details);
    } catch (const EPlayback& e) {
      // A depth the player cannot show is told in its own words.
      ApplicationEvents1Exception(e.Code() == TPlaybackErrc::UnsupportedVideoMode ? lbMessages[0]
                                                                                 : QString::fromUtf8(e.what()));
    } catch (const std::exception& e) {
      ApplicationEvents1Exception(QString::fromUtf8(e.what()));
    } catch (...) {
      ApplicationEvents1Exception(QStringLiteral("Unknown failure"));
    }
    return false;
  }
  // A modal box owned by the window: the internal message, when there is one, as details.
  virtual void MessageBox(QMessageBox::Icon icon, const QString& caption, const QString& text,
                          const QString& details = {});

  // Loading (the loader's operations, through the window).
  TFilmLoader& Loader();
  // Loads the film at path and hands it to the playback core; the film loaded before is
  // released first, whatever the load gives.
  bool LoadFilm(const std::string& path);
  // Loads the film at path for the user: every failure is told, a film without segments
  // too. True when the film can be played (also when only its first segments could be
  // read); false leaves the window without a film. An empty path does nothing. A film opened
  // becomes the newest of the recent films, and with `offerResume` going on from where it was
  // left is offered.
  bool OpenFilm(const std::string& path, bool offerResume = true);
  // 1 when the film opened last could not be opened or played without an error, or when an
  // error was reported before any film; else 0.
  int ExitStatus() const;
  // "/closeonfinish": the program ends after the last segment, or after a failure once told.
  void SetCloseOnFinish(bool on);
  void SetFileName(const QString& path);
  QString FileName() const;

  // ---- Random access: see TTransport ----
  void SeekTo(TFramePos pos) { FTransport->SeekTo(pos); }
  void SeekToTime(int64_t millis) { FTransport->SeekToTime(millis); }
  // Forwards past the segments read so far, it waits for them.
  void SeekBy(int64_t millis);
  void StepFrame(int direction) { FTransport->StepFrame(direction); }
  void StepSegment(int direction) { FTransport->StepSegment(direction); }
  std::optional<TFramePos> ShownFrame() const { return FTransport->ShownFrame(); }
  int64_t ShownTime() const { return FTransport->ShownTime(); }
  // The speed, an index into kSpeeds.
  int SpeedStep() const { return FTransport->SpeedStep(); }
  void SetSpeedStep(int step);
  void SetClock(std::function<int64_t()> clock) { FTransport->SetClock(std::move(clock)); }
  // Full screen: the main window covers the screen, the picture fills it (see TWindowModes).
  void SetFullScreen(bool on);
  // Saves the picture on screen as a PNG in the user's pictures folder, named after the film,
  // the segment (from 1) and the frame (from 0), never over an existing file. The path saved
  // to, or empty when nothing was saved (the reason has been told).
  QString SavePicture();
  // Opens a film dropped onto a window: playback stops first.
  void OpenDroppedFilm(const QString& path);
  // The mouse wheel over a picture: `notches` forward (negative: back) seek 5 s each, or with
  // Ctrl change the speed a step each.
  void PictureWheel(int notches, Qt::KeyboardModifiers modifiers);

  // ---- Export ----
  // Whether an export is being written; there is one at a time.
  bool ExportRunning() const;
  // The function that writes the file, in the export's thread (ExportFilm unless a test puts
  // another around it).
  void SetExporter(TExportJob::TExporter exporter);
  // The progress of the running export, with its Cancel button; none otherwise.
  QProgressDialog* ExportProgress() const;

  TPlaybackCore& Core() { return FTransport->Core(); }
  TFilmSession& Session() { return *FSession; }
  TPlayState PlayState() const { return FTransport->PlayState(); }
  TResult LastResult() const { return FTransport->LastResult(); }
  QStringList lbMessages;

  // The picture as last presented, and where it goes.
  const QImage& PresentedPicture() const override { return FPresented; }
  const TPlacement& Placement() const override;
  const TPictureView* PictureViewInUse() const override;
  QSize PictureAreaSize() const;
  // The transport button whose picture is highlighted.
  QToolButton* HighlightedButton() const;

 signals:
  // The main window has closed: the program ends.
  void Closed();

 public slots:
  void APlayExecute();
  void APauseExecute();
  void AStopExecute();
  void ALoadFromFileExecute();
  void ASegmentsExecute();
  void AAboutExecute();
  void AHelpExecute();
  void AShowPanelExecute();
  void ASetOwnWindowExecute();
  void AExitExecute();
  void TimerTimer();
  void APlayPauseExecute();
  void AFullScreenExecute();
  void ASavePictureExecute() { SavePicture(); }
  void ACopyPictureExecute();
  void AExportExecute();

 protected:
  // Seams for dialogs, so that tests can answer them. The result box calls `dismissed` when
  // the user has closed it.
  virtual void ResultBox(const QString& text, std::function<void()> dismissed);
  virtual QString ChooseFilmFile();

  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void ActiveFormCreate(size_t frameBufferSize);
  void ActiveFormDestroy();
  void CreateControls();
  void BindActions();
  void BindFilmHistory();
  void spDisplayMouseDown(Qt::MouseButton button);
  void FormResize() { PlacePicture(); }
  void ShowPathOfFilm();
  void frmSegmentsHelpRequested(const QString& topic);
  void UpdateTime();
  void ShowNotice(const QString& text);
  // Opens the film at `path` for the user, as the Open dialog does with the file chosen.
  void OpenChosenFilm(const QString& path);
  // The window shows no film: none is loaded, the path panel and the segments list are empty.
  void ShowNoFilm();
  // A failure was reported for the film: the exit status becomes 1, and with /closeonfinish
  // the program ends (after the event that reported it).
  void EndAfterFailure();
  // The film open is left (closed, or another opened): its place is remembered.
  void LeaveFilm();
  // The film's length: while its later segments are still being read, as its list gives it.
  int64_t FilmLength();

  // ITransportHost (with the playback core's IPlaybackHost).
  void PlayStateShown(TPlayState state, bool highlighted) override;
  void ShowPictureWindow() override;
  void ExecutePause() override;
  void ExecutePlay() override;
  void TimeChanged() override { UpdateTime(); }
  void ExecuteStop() override;
  void SegmentActivated(const Segment& segment, int intervalMs) override;
  void SetProgress(int64_t position) override;
  void FilmFinished() override;
  int ScreenBits() const override;

  // IFilmLoaderUi.
  void ShowMessage(const TLoadReport& report) override;
  void SetBannerVisible(bool visible) override;
  void FillSegmentsGrid(const std::vector<TSegmentListEntry>& entries) override;
  void SetProgressMax(int64_t frames) override;
  void FileNameChanged(const std::string& path) override;
  void SegmentsArrived(int32_t read) override;
  void ReadingEnded() override;

  std::unique_ptr<TPlayerActions> FActions;
  TTransport* FTransport;
  std::unique_ptr<TFilmSession> FSession;
  std::unique_ptr<TWindowModes> FModes;
  TFilmHistory* FHistory = nullptr;
  TExportController* FExport = nullptr;
  TFilmIndexControl* FIndex = nullptr;
  TControlPanel* pnlControls = nullptr;
  TPictureView* FView = nullptr;
  TNoticeLabel* lblNotice = nullptr;
  std::unique_ptr<TLoadingBanner> FBanner;
  std::unique_ptr<TSegmentsList> FSegments;
  QPointer<QDialog> frmAbout;
  QImage FPresented;
  bool FCreated = false;  // ActiveFormCreate ran to its end
  bool FDestroyed = false;
  std::function<bool()> FWaitingRequest;  // what waits for segments being read
};
