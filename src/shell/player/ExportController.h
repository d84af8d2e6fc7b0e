// The export from the player: the dialog on the loaded film, then the job that writes the file
// in a thread of its own with a progress window, one at a time, and what the user is told at
// its end. The choices made are offered again while the program runs.
#pragma once

#include <QObject>
#include <QPointer>
#include <QProgressDialog>
#include <functional>

#include "shell/player/ExportJob.h"

class QAction;
class QWidget;

class TExportController : public QObject {
  Q_OBJECT

 public:
  // `action` is "Экспорт...", enabled with a film and no export running; `window` owns the
  // dialogs.
  TExportController(QWidget& window, QAction& action);

  // What the user is told: a notice over the picture, or a message in a box.
  std::function<void(const QString&)> ShowNotice;
  std::function<void(const TUserMessage&)> ShowMessage;

  // Whether an export is being written.
  bool Running() const { return FExport != nullptr; }
  // The progress of the running export, with its Cancel button; none otherwise.
  QProgressDialog* Progress() const { return dlgExportProgress; }
  // The function that writes the file, in the export's thread: ExportFilm unless a test puts
  // another around it.
  void SetExporter(TExportJob::TExporter exporter) { FExporter = std::move(exporter); }
  // The film loaded now has segments, or none is loaded.
  void SetHasFilm(bool hasFilm);
  // Opens the export dialog on the film's segments (`current` from 0: the segment on screen)
  // and starts writing the file chosen from copies of them.
  void Execute(const TSegments& segments, const QString& filmPath, int32_t current);
  // The window closes: an unfinished export is cancelled, its thread waited for and its file
  // removed; nothing is started afterwards.
  void Close();

 private:
  void Start(TSegments segments, const TExportChoice& choice, const QString& filmPath);
  void Ended(const TExportResult& result);
  void UpdateAction();

  QWidget& FWindow;
  QAction& FAction;
  bool FHasFilm = false;
  bool FClosed = false;
  // The export running, a child of the controller.
  QPointer<TExportJob> FExport;
  QPointer<QProgressDialog> dlgExportProgress;
  TExportJob::TExporter FExporter = ExportFilm;
  TExportOptions FExportOptions;
  QString FExportFolder;
};
