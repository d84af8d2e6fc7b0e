#include "shell/player/FilmSession.h"

#include <QCoreApplication>
#include <QFileDialog>

#include "shell/player/LoadMessages.h"
#include "shell/player/Transport.h"

TFilmSession::TFilmSession(IFilmLoaderUi& ui)
    : FRunFolder(std::make_unique<TRunFolder>()),
      FLoader(std::make_unique<TFilmLoader>(ui, FRunFolder->Path(), FRunFolder->Error())) {}

bool TFilmSession::Load(const std::string& path, TTransport& transport) {
  transport.Core().UnloadFilm();
  transport.ForgetShownFrame();
  const bool loaded = FLoader->LoadFilm(path);
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

QString AskForFilmFile(QWidget* parent) {
  QFileDialog dialog(parent);
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
