#include "shell/player/FilmSession.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

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

namespace {

// The folder of the film opened last, in the player's settings.
constexpr char kLastFilmFolder[] = "Films/LastFolder";

// The player's settings file (~/.config/veRirove/veRirove.conf).
QString SettingsFile() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
         QStringLiteral("/veRirove/veRirove.conf");
}

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
  QSettings settings(SettingsFile(), QSettings::IniFormat);
  settings.setValue(QLatin1String(kLastFilmFolder), QFileInfo(filmPath).absolutePath());
  settings.sync();
}

QString RememberedFilmFolder() {
  // A damaged file may hold anything there: only a text counts.
  const QVariant folder = QSettings(SettingsFile(), QSettings::IniFormat).value(QLatin1String(kLastFilmFolder));
  return folder.typeId() == QMetaType::QString ? folder.toString() : QString();
}

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
