#include "shell/player/FilmSession.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QStandardPaths>
#include <exception>
#include <functional>
#include <thread>
#include <vector>

#include "shell/app/PlayerSettings.h"
#include "shell/player/LoadMessages.h"
#include "shell/player/Transport.h"

// The window as the loader reaches it. Called on the window's thread, it passes every call on
// at once. While a load runs on its own thread (Hold), it keeps what the loader tells, to be
// told on the window's thread when the load has ended (Release); only the banner comes at
// once, through the event loop the window's thread waits in.
class TFilmSession::TUiRelay : public IFilmLoaderUi {
 public:
  explicit TUiRelay(IFilmLoaderUi& ui) : FUi(ui) {}

  void Hold(QObject* loop) {
    FLoop = loop;
    FKept.clear();
    FBannerShown = false;
  }
  // Hides the banner and tells what was kept, unless the load was called off.
  void Release(bool tell) {
    FLoop = nullptr;
    if (FBannerShown) FUi.SetBannerVisible(false);
    std::vector<std::function<void(IFilmLoaderUi&)>> kept;
    kept.swap(FKept);
    if (tell)
      for (const auto& call : kept) call(FUi);
  }

  void ShowMessage(const TLoadReport& report) override {
    Pass([report](IFilmLoaderUi& ui) { ui.ShowMessage(report); });
  }
  void SetBannerVisible(bool visible) override {
    if (!FLoop) return FUi.SetBannerVisible(visible);
    // Hidden by Release, after the load.
    if (!visible) return;
    QMetaObject::invokeMethod(
        FLoop,
        [this] {
          FBannerShown = true;
          FUi.SetBannerVisible(true);
        },
        Qt::QueuedConnection);
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
    if (!FLoop) FUi.Waiting();
  }

 private:
  void Pass(std::function<void(IFilmLoaderUi&)> call) {
    if (FLoop) {
      FKept.push_back(std::move(call));
    } else {
      call(FUi);
    }
  }

  IFilmLoaderUi& FUi;
  QObject* FLoop = nullptr;  // the loop the window's thread waits in while a load runs
  std::vector<std::function<void(IFilmLoaderUi&)>> FKept;
  bool FBannerShown = false;
};

TFilmSession::TFilmSession(IFilmLoaderUi& ui)
    : FRunFolder(std::make_unique<TRunFolder>()),
      FRelay(std::make_unique<TUiRelay>(ui)),
      FLoader(std::make_unique<TFilmLoader>(*FRelay, FRunFolder->Path(), FRunFolder->Error())) {
  FLoader->CancelFlag = &FCancel;
}

TFilmSession::~TFilmSession() = default;

bool TFilmSession::Load(const std::string& path, TTransport& transport) {
  transport.Core().UnloadFilm();
  transport.ForgetShownFrame();
  FCancel = false;
  FCancelled = false;
  bool loaded = false;
  std::exception_ptr failure;
  {
    QEventLoop wait;
    FRelay->Hold(&wait);
    FLoading = true;
    std::thread reader([&] {
      try {
        loaded = FLoader->LoadFilm(path);
      } catch (const ELoadCancelled&) {
        FCancelled = true;
      } catch (...) {
        failure = std::current_exception();
      }
      QMetaObject::invokeMethod(&wait, [&wait] { wait.quit(); }, Qt::QueuedConnection);
    });
    // The loop also ends when the program is ending (the window closed): the load is called
    // off then, and ends within a block of the package.
    wait.exec();
    FCancel = true;
    reader.join();
    FLoading = false;
  }
  FRelay->Release(!FCancelled);
  if (FCancelled) {
    FLoader->UnloadFilm();
    return false;
  }
  if (failure) std::rethrow_exception(failure);
  if (loaded) transport.Core().TakeFilm(FLoader->TakeSegments());
  return loaded;
}

void TFilmSession::Unload(TTransport& transport) {
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
