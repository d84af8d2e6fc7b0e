// The main window: it holds the film and the playback core, the actions with their menus
// and control panel, the transport state, the picture's place and the failure report.
#pragma once

#include <QElapsedTimer>
#include <QIcon>
#include <QImage>
#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>
#include <QProgressDialog>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

#include "film/FilmLoader.h"
#include "film/TempFolder.h"
#include "playback/UzrPlayback.h"
#include "shell/UzrExport.h"
#include "shell/UzrSegments.h"
#include "shell/UzrPictureView.h"
#include "shell/UzrPlacement.h"
#include "shell/UzrSeekBar.h"
#include "shell/UzrUserMessage.h"

class QAction;
class QLabel;
class QMenu;
class QProgressBar;
class QTimer;
class QToolButton;

class QDialog;
class TfrmDisplay;
enum class TTransportGlyph;

// The user's words for a notice of loading (items 1 to 3 of the message list where they
// apply) and for a film that cannot be read.
TUserMessage LoadReportMessage(const TLoadReport& report, const QStringList& lbMessages);
TUserMessage FilmLoadMessage(const EFilmLoad& failure);

enum TPlayState : uint8_t { psStopped = 0, psPlaying = 3, psPaused = 4 };

// The playback speeds, slowest first, and the step of the film's own speed.
inline constexpr double kSpeeds[] = {0.25, 0.5, 0.75, 1, 1.25, 1.5, 2, 4, 8};
inline constexpr int kNormalSpeed = 3;
// A speed as the window writes it: "×1,5".
QString SpeedText(double speed);

class TTelvoriPlayer : public QMainWindow,
                       public IPlaybackHost,
                       public IFilmLoaderUi,
                       public IPictureSource {
  Q_OBJECT

 public:
  // Program-wide: each activation puts a screen-sized segment into the display window.
  static bool AutoFullScreen;

  explicit TTelvoriPlayer(size_t frameBufferSize = TPlaybackCore::kFrameBufferSize,
                          QWidget* parent = nullptr);
  ~TTelvoriPlayer() override;

  // The display window comes after the main window (it does not exist while this one is
  // being created). It gets the window's commands with their shortcut keys and its context
  // menu, and closing it leaves separate-window mode.
  void SetDisplayWindow(TfrmDisplay* display);
  TfrmDisplay* DisplayWindow() const { return frmDisplay; }
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

  // Operations other parts call.
  void SetPlayState(TPlayState state);
  void ShowResult(const char* operation, TResult code) override;
  bool InOwnWindow() const { return FOwnWindow; }
  void SetOwnWindow(bool on);
  void SetShowPanel(bool visible);
  void ResetTransportGlyphs();
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
  TFilmLoader& Loader() { return *FLoader; }
  // Loads the film at path and hands it to the playback core; the film loaded before is
  // released first, whatever the load gives.
  bool LoadFilm(const std::string& path);
  // Loads the film at path for the user: every failure is told, a film without segments
  // too. True when the film can be played (also when only its first segments could be
  // read); false leaves the window without a film. An empty path does nothing.
  bool OpenFilm(const std::string& path);
  // 1 when the film opened last could not be opened or played without an error (it is
  // missing, damaged even in part, has no segments, or its playback failed), or when an
  // error was reported before any film; else 0.
  int ExitStatus() const { return FFilmFailed ? 1 : 0; }
  void SetFileName(const QString& path);
  QString FileName() const { return QString::fromStdString(FLoader->FileName()); }

  // ---- Random access ----
  // Shows frame `pos`: playing plays on from it, paused stays paused on it, and stopped
  // pauses there. Nothing happens without such a frame.
  void SeekTo(TFramePos pos);
  // SeekTo the frame on screen at `millis` of the film.
  void SeekToTime(int64_t millis);
  // SeekTo the frame `millis` away from the one on screen (back when negative).
  void SeekBy(int64_t millis);
  // One frame forward or back from the one on screen, pausing.
  void StepFrame(int direction);
  // The start of the next segment with frames, or of the previous one (of the first, in the
  // first).
  void StepSegment(int direction);
  // The frame on screen: the one presented last; nothing while stopped.
  std::optional<TFramePos> ShownFrame() const { return FShownFrame; }
  // The time of the film on screen: of the frame shown, or, before one is, of the start of
  // the current segment.
  int64_t ShownTime() const;
  // The speed, an index into kSpeeds.
  int SpeedStep() const { return FSpeedStep; }
  void SetSpeedStep(int step);
  // The clock that plays at speeds other than the film's own: milliseconds, never going back.
  void SetClock(std::function<int64_t()> clock) { FClock = std::move(clock); }
  // Full screen: the main window covers the screen without its menu bar, the picture in it.
  void SetFullScreen(bool on);
  // Saves the picture on screen as a PNG in the user's pictures folder, named after the film,
  // the segment (from 1) and the frame (from 0), never over an existing file. The path saved
  // to, or empty when nothing was saved (the reason has been told).
  QString SavePicture();
  // Opens a film dropped onto a window: playback stops first.
  void OpenDroppedFilm(const QString& path);

  // ---- Export ----
  // Whether an export is being written; there is one at a time.
  bool ExportRunning() const { return FExport != nullptr; }
  // The function that writes the file, in the export's thread: ExportFilm unless a test puts
  // another around it.
  void SetExporter(TExportJob::TExporter exporter) { FExporter = std::move(exporter); }
  // The progress of the running export, with its Cancel button; none otherwise.
  QProgressDialog* ExportProgress() const { return dlgExportProgress; }

  TPlaybackCore& Core() { return FCore; }
  TPlayState PlayState() const { return FPlayState; }
  TResult LastResult() const { return FLastResult; }
  bool FCloseOnFinish = false;
  QStringList lbMessages;

  // The picture as last presented, and where it goes.
  const QImage& PresentedPicture() const override { return FPresented; }
  const TPlacement& Placement() const override { return FPlacement; }
  const TPictureView* PictureViewInUse() const override { return ViewInUse(); }
  QSize PictureAreaSize() const;

  // Actions, shared by the menus, the context menu and the shortcut keys.
  QAction *APlay, *APause, *AStop, *ASegments, *AAbout, *ALoadFromFile, *AShowPanel,
      *ASetOwnWindow, *AExit, *AHelp;
  // Commands beside them: moving through the film, its speed, full screen, the picture.
  QAction *APlayPause, *ABack5, *AForward5, *ABack1, *AForward1, *ABack60, *AForward60,
      *AFilmStart, *AFilmEnd, *APrevSegment, *ANextSegment, *APrevFrame, *ANextFrame, *ASlower,
      *AFaster, *ANormalSpeed, *AFullScreen, *ALeaveFullScreen, *ASavePicture, *ACopyPicture;
  // "Экспорт...": the loaded film to a video file; enabled with a film and no export running.
  QAction* AExport;
  QMenu* pupMain = nullptr;
  QTimer* Timer = nullptr;
  QWidget* pnlControls = nullptr;
  QToolButton *btnLoadFromFile, *btnPlay, *btnPause, *btnStop, *btnSegments, *SpeedButton1,
      *btnInOwnWindow;
  TSeekBar* pbrProgress = nullptr;
  QLabel* pnlPath = nullptr;
  // The time on screen and the film's length ("0:01:23 / 0:05:00"), with the speed when it is
  // not the film's own; at the right end of the panel.
  QLabel* lblTime = nullptr;
  // A short notice over the picture (the speed, where a picture was saved); it goes by itself.
  QLabel* lblNotice = nullptr;
  QLabel *lblLoading = nullptr, *lblLoading_Shadow = nullptr;
  // The transport button whose picture is highlighted.
  QToolButton* HighlightedButton() const { return FHighlighted; }

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
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void ActiveFormCreate(size_t frameBufferSize);
  void ActiveFormDestroy();
  void CreateActions();
  void CreateControls();
  void spDisplayMouseDown(Qt::MouseButton button);
  void FormResize() { PlacePicture(); }
  void ShowPathOfFilm();
  void Highlight(QToolButton* button, TTransportGlyph glyph);
  void SetGlyph(QToolButton* button, TTransportGlyph glyph, bool highlighted);
  void ApplyOuterBoundsOnceFramed();
  // The view the picture goes to: the display window's in separate-window mode, else ours.
  TPictureView* ViewInUse() const;
  void frmSegmentsHelpRequested(const QString& topic);
  void CreateNavigationActions(QMenu* actionsMenu, QMenu* viewMenu);
  // One tick at a speed other than the film's own: the frames due by the clock are played,
  // and only the last of them is shown.
  void SpeedTick();
  void ApplyTimerInterval();
  void UpdateTime();
  void LayOutPanel();
  void ShowNotice(const QString& text);
  // Opens the film at `path` for the user, as the Open dialog does with the file chosen.
  void OpenChosenFilm(const QString& path);
  // The window shows no film: none is loaded, the path panel and the segments list are empty.
  void ShowNoFilm();
  // Starts writing the file chosen in the export dialog from copies of the loaded segments.
  void StartExport(TSegments segments, const TExportChoice& choice, const QString& filmPath);
  void ExportEnded(const TExportResult& result);
  void UpdateExportAction();
  // A failure was reported for the film: the exit status becomes 1, and with /closeonfinish
  // the program ends (after the event that reported it).
  void EndAfterFailure();

  // IPlaybackHost.
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

  TPlaybackCore FCore{*this};
  std::unique_ptr<TRunFolder> FRunFolder;  // this window's own temporary folder
  std::unique_ptr<TFilmLoader> FLoader;
  TPlayState FPlayState = psStopped;
  TResult FLastResult = kResultOk;
  bool FOwnWindow = false;
  bool FCreated = false;  // ActiveFormCreate ran to its end
  bool FDestroyed = false;
  bool FFilmFailed = false;  // see ExitStatus
  bool FEndQueued = false;
  QToolButton* FHighlighted = nullptr;
  QPointer<TfrmDisplay> frmDisplay;
  QPointer<TfrmSegments> frmSegments;
  QPointer<QDialog> frmAbout;
  QRect FOuterBounds;
  bool FOuterBoundsPending = false;  // the frame was not known when the bounds were set
  TPictureView* FView = nullptr;
  QImage FPresented;
  TPlacement FPlacement;
  // The transport pictures, made once: white transparent, and black transparent (highlighted).
  QIcon FGlyphs[3][2];

  std::optional<TFramePos> FShownFrame;
  int FSpeedStep = kNormalSpeed;
  int FSegmentInterval = 100;  // the current segment's frame interval, for the film's own speed
  QElapsedTimer FElapsed;
  std::function<int64_t()> FClock;
  // The clock at a speed other than 1: film time FAnchorFilm at clock time FAnchorClock. It
  // starts again whenever playback starts, resumes, seeks or changes speed.
  bool FClockRunning = false;
  int64_t FAnchorFilm = 0;
  int64_t FAnchorClock = 0;
  int64_t FLastStepClock = 0;  // when a frame of a segment without a frame rate was played
  QTimer* FNoticeTimer = nullptr;
  bool FOwnWindowBeforeFullScreen = false;
  Qt::WindowStates FStateBeforeFullScreen;

  // The export running, a child of the window; the options and folder chosen last, offered
  // again while the program runs.
  QPointer<TExportJob> FExport;
  QPointer<QProgressDialog> dlgExportProgress;
  TExportJob::TExporter FExporter = ExportFilm;
  TExportOptions FExportOptions;
  QString FExportFolder;
};
