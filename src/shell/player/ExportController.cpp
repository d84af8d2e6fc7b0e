#include "shell/player/ExportController.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QProgressDialog>
#include <algorithm>

#include "shell/dialogs/UzrHelp.h"

TExportController::TExportController(QWidget& window, QAction& action)
    : QObject(&window), FWindow(window), FAction(action) {}

void TExportController::SetHasFilm(bool hasFilm) {
  FHasFilm = hasFilm;
  UpdateAction();
}

void TExportController::UpdateAction() { FAction.setEnabled(FHasFilm && !FExport); }

void TExportController::Execute(const TSegments& segments, const QString& filmPath, int32_t current) {
  if (segments.empty() || FExport || FClosed) return;
  // The copies are taken now: the file is written from the film the dialog was opened on.
  TSegments copies = ShareSegments(segments);
  TExportRequest request;
  request.FilmPath = filmPath;
  request.Folder = FExportFolder.isEmpty() ? DefaultExportFolder(request.FilmPath) : FExportFolder;
  request.BaseName = QFileInfo(request.FilmPath).completeBaseName();
  if (request.BaseName.isEmpty()) request.BaseName = QStringLiteral("veRirove");
  request.Options = FExportOptions;
  request.SegmentCount = int32_t(segments.size());
  request.CurrentSegment = std::clamp(current, 0, request.SegmentCount - 1);
  request.CurrentSegmentName = QString::fromStdString(segments[size_t(request.CurrentSegment)]->Name);

  TfrmExport dialog(request, &FWindow);
  connect(&dialog, &TfrmExport::HelpRequested, this,
          [&dialog](const QString& topic) { HtmlHelp(&dialog, HelpPath() + topic); });
  // Playback goes on while the dialog is open.
  if (dialog.exec() != QDialog::Accepted || FClosed) return;
  const TExportChoice& choice = dialog.Choice();
  FExportOptions = choice.Options;
  FExportOptions.Segment = 0;
  FExportFolder = QFileInfo(choice.Path).absolutePath();
  Start(std::move(copies), choice, request.FilmPath);
}

void TExportController::Start(TSegments segments, const TExportChoice& choice, const QString& filmPath) {
  FExport = new TExportJob(std::move(segments), choice, filmPath.toStdString(), FExporter, this);
  UpdateAction();

  // Not modal: the window can be watched and used while the file is written.
  auto* progress = new QProgressDialog(&FWindow);
  dlgExportProgress = progress;
  progress->setObjectName(QStringLiteral("dlgExportProgress"));
  progress->setAttribute(Qt::WA_DeleteOnClose);
  progress->setWindowTitle(QStringLiteral("Экспорт фильма"));
  progress->setLabelText(QStringLiteral("Запись видео в файл\n%1").arg(QFileInfo(choice.Path).fileName()));
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
  connect(FExport, &TExportJob::Finished, this, &TExportController::Ended);
  progress->show();
  FExport->Start();
}

void TExportController::Ended(const TExportResult& result) {
  TExportJob* job = FExport;
  if (!job) return;
  const TExportChoice choice = job->Choice();
  FExport = nullptr;
  job->deleteLater();
  if (dlgExportProgress) dlgExportProgress->close();
  UpdateAction();
  if (result) {
    ShowNotice(QStringLiteral("Экспорт завершён: %1").arg(QDir::toNativeSeparators(choice.Path)));
    return;
  }
  if (result.Code == TExportErrc::Cancelled) {
    ShowNotice(QStringLiteral("Экспорт отменён."));
    return;
  }
  ShowMessage(ExportResultMessage(result, choice.Path, choice.Options));
}

void TExportController::Close() {
  FClosed = true;
  if (dlgExportProgress) dlgExportProgress->close();
  delete FExport.data();
}
