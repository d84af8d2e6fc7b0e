#include "shell/player/FilmSession.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QStandardPaths>
#include <QThread>
#include <exception>
#include <functional>
#include <thread>
#include <vector>

#include "shell/app/PlayerSettings.h"
#include "shell/player/LoadMessages.h"
#include "shell/player/Transport.h"

// The window as the loader reaches it. Between Begin and End the loader runs on a thread of
// its own: every call is posted to the session on the window's thread, in order, which keeps
// or tells it; else each is passed on at once.
class TFilmSession::TUiRelay : public IFilmLoaderUi {
 public:
  TUiRelay(IFilmLoaderUi& ui, TFilmSession& session) : FUi(ui), FSession(session) {}

  // Set before the loading thread starts and after it has ended.
  void Begin(int generation) {
    FGeneration = generation;
    FThreaded = true;
  }
  void End() { FThreaded = false; }

  void ShowMessage(const TLoadReport& report) override {
    Pass([report](IFilmLoaderUi& ui) { ui.ShowMessage(report); });
  }
  void SetBannerVisible(bool visible) override {
    if (!FThreaded) return FUi.SetBannerVisible(visible);
    // Shown while Load waits; hidden when it stops waiting.
    if (!visible) return;
    Post([](TFilmSession& session, int generation) {
      if (generation != session.FGeneration || !session.FWait) return;
      session.FBannerShown = true;
      session.FUi.SetBannerVisible(true);
    });
  }
  void FillSegmentsGrid(const std::vector<TSegmentListEntry>& entries) override {
    Pass([entries](IFilmLoaderUi& ui) { ui.FillSegmentsGrid(entries); });
  }
  void SetProgressMax(int64_t frames) override {
    Pass([frames](IFilmLoaderUi& ui) { ui.SetProgressMax(frames); });
  }
  void FileNameChanged(const std::string& path) override {
    Pass([path](IFilmLoaderUi& ui) { ui.FileNameChanged(path); });
  }
  void Waiting() override {
    if (!FThreaded) FUi.Waiting();
  }
  void SegmentsArrived(int32_t read) override {
    Post([](TFilmSession& session, int generation) { session.Arrived(generation); });
    if (FSession.OnSegmentRead) FSession.OnSegmentRead(read);
  }

 private:
  void Post(std::function<void(TFilmSession&, int)> call) {
    QMetaObject::invokeMethod(
        FSession.FInbox.get(), [this, call = std::move(call), generation = FGeneration] { call(FSession, generation); },
        Qt::QueuedConnection);
  }
  void Pass(std::function<void(IFilmLoaderUi&)> call) {
    // The window's own calls (the path set while later segments are read) go straight on.
    if (!FThreaded || QThread::currentThread() == FSession.FInbox->thread()) return call(FUi);
    Post([call = std::move(call)](TFilmSession& session, int generation) { session.Deliver(generation, call); });
  }

  IFilmLoaderUi& FUi;
  TFilmSession& FSession;
  bool FThreaded = false;
  int FGeneration = 0;
};

TFilmSession::TFilmSession(IFilmLoaderUi& ui)
    : FUi(ui),
      FInbox(std::make_unique<QObject>()),
      FRunFolder(std::make_unique<TRunFolder>()),
      FRelay(std::make_unique<TUiRelay>(ui, *this)),
      FLoader(std::make_unique<TFilmLoader>(*FRelay, FRunFolder->Path(), FRunFolder->Error())) {
  FLoader->CancelFlag = &FCancel;
}

TFilmSession::~TFilmSession() {
  // The reading is called off before the folder and the loader go.
  FCancel = true;
  Join();
}

void TFilmSession::Join() {
  if (FReader.joinable()) FReader.join();
  FRelay->End();
}

void TFilmSession::StopReading() {
  if (!Reading() || FLoading) return;
  FCancel = true;
  Join();
  // What the thread posted goes unheard; the film ends with the segments there.
  ++FGeneration;
  FinishReading(true, nullptr);
}

void TFilmSession::Deliver(int generation, const std::function<void(IFilmLoaderUi&)>& call) {
  if (generation != FGeneration) return;
  if (FWait) {
    FKept.push_back(call);
  } else {
    call(FUi);
  }
}

void TFilmSession::Arrived(int generation) {
  if (generation != FGeneration) return;
  if (FWait) {
    FFirstArrived = true;
    FWait->quit();
    return;
  }
  TakeArrived();
}

void TFilmSession::Ended(int generation, bool loaded, bool cancelled, std::exception_ptr failure) {
  if (generation != FGeneration) return;
  FEnded = true;
  FLoaded = loaded;
  FCancelled = cancelled;
  FFailure = failure;
  if (FWait) return FWait->quit();
  Join();
  FinishReading(cancelled, failure);
}

void TFilmSession::TakeArrived() {
  if (!FTransport) return;
  auto segments = FLoader->TakeSegments();
  if (segments.empty()) return;
  FTransport->Core().AppendSegments(std::move(segments));
  FUi.SegmentsArrived(int32_t(FTransport->Core().Segments().size()));
}

void TFilmSession::FinishReading(bool cancelled, std::exception_ptr failure) {
  if (!FTransport) return;
  TakeArrived();
  FTransport->Core().SetMoreComing(false);
  FUi.ReadingEnded();
  if (!cancelled && failure && OnReadingFailed) OnReadingFailed(failure);
}

bool TFilmSession::Load(const std::string& path, TTransport& transport) {
  StopReading();
  transport.Core().UnloadFilm();
  transport.ForgetShownFrame();
  FTransport = &transport;
  FCancel = false;
  FCancelled = false;
  FFirstArrived = FEnded = FLoaded = false;
  FFailure = nullptr;
  FKept.clear();
  FBannerShown = false;
  const int generation = ++FGeneration;
  {
    QEventLoop wait;
    FWait = &wait;
    FLoading = true;
    FRelay->Begin(generation);
    FReader = std::thread([this, path, generation] {
      bool loaded = false, cancelled = false;
      std::exception_ptr failure;
      try {
        loaded = FLoader->LoadFilm(path);
      } catch (const ELoadCancelled&) {
        cancelled = true;
      } catch (...) {
        failure = std::current_exception();
      }
      QMetaObject::invokeMethod(
          FInbox.get(),
          [this, generation, loaded, cancelled, failure] { Ended(generation, loaded, cancelled, failure); },
          Qt::QueuedConnection);
    });
    // The loop also ends when the program is ending (the window closed): the load is called
    // off then, and ends within a block of the package.
    wait.exec();
    FWait = nullptr;
    FLoading = false;
  }
  if (!FEnded && !FFirstArrived) {
    FCancel = true;
    FCancelled = true;
  }
  const bool readingOn = FFirstArrived && !FEnded && !FCancelled;
  if (!readingOn) {
    Join();
    ++FGeneration;  // what the thread posted since goes unheard
  }
  if (FBannerShown) FUi.SetBannerVisible(false);
  std::vector<std::function<void(IFilmLoaderUi&)>> kept;
  kept.swap(FKept);
  if (!FCancelled)
    for (const auto& call : kept) call(FUi);
  if (FCancelled) {
    FLoader->UnloadFilm();
    FTransport = nullptr;
    return false;
  }
  if (readingOn) {
    // The first segment plays while the rest is read.
    transport.Core().TakeFilm(FLoader->TakeSegments());
    transport.Core().SetMoreComing(true);
    return true;
  }
  FTransport = nullptr;
  if (FFailure) std::rethrow_exception(FFailure);
  if (FLoaded) transport.Core().TakeFilm(FLoader->TakeSegments());
  return FLoaded;
}

void TFilmSession::Unload(TTransport& transport) {
  StopReading();
  FTransport = nullptr;
  FLoader->UnloadFilm();
  transport.Core().UnloadFilm();
  transport.ForgetShownFrame();
  SetFileName(QString());
}

bool TFilmSession::ExtractFilmFile() {
  const std::string path = FLoader->FileName();
  return !path.empty() && FilmPathExists(path) && FLoader->LoadFromFile(path);
}

TUserMessage TFilmSession::Report(const TLoadReport& report, const QStringList& lbMessages) {
  FFilmFailed = true;
  return LoadReportMessage(report, lbMessages);
}

bool TFilmSession::EndAfterFailure() {
  FFilmFailed = true;
  if (!FCloseOnFinish || FEndQueued) return false;
  FEndQueued = true;
  return true;
}

namespace {

bool IsSystemFolder(const QString& folder) {
  const QString clean = QDir::cleanPath(folder);
  for (const char* system : {"/usr", "/opt"})
    if (clean == QLatin1String(system) || clean.startsWith(QLatin1String(system) + QLatin1Char('/'))) return true;
  return clean == QLatin1String("/bin") || clean == QLatin1String("/sbin");
}

}  // namespace

QString OpenDialogFolder(const QString& programFolder, const QString& lastFilmFolder, const QString& videos,
                         const QString& home) {
  if (!IsSystemFolder(programFolder)) return programFolder;
  for (const QString& folder : {lastFilmFolder, videos})
    if (!folder.isEmpty() && QFileInfo(folder).isDir()) return folder;
  return home;
}

void RememberFilmFolder(const QString& filmPath) {
  TPlayerSettings().SetText(PlayerSettingsKey::kLastFilmFolder, QFileInfo(filmPath).absolutePath());
}

QString RememberedFilmFolder() { return TPlayerSettings().Text(PlayerSettingsKey::kLastFilmFolder); }

QString AskForFilmFile(QWidget* parent) {
  QFileDialog dialog(parent);
  dialog.setDirectory(OpenDialogFolder(QCoreApplication::applicationDirPath(), RememberedFilmFolder(),
                                       QStandardPaths::writableLocation(QStandardPaths::MoviesLocation),
                                       QDir::homePath()));
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
