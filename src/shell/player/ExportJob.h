// The job that writes an export in a thread of its own while the window plays on, from the
// choice made in the export dialog.
#pragma once

#include <QObject>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "export/FilmExport.h"
#include "shell/dialogs/UzrExport.h"

class TSignalCatcher;

// One export in a thread of its own. Progress and the end are told in the thread the job
// lives in (the window's), through its event loop. While it runs, SIGINT, SIGTERM and SIGHUP
// cancel it first, so that its unfinished file is removed; once it has ended, the signal is
// raised again and ends the program as it would have.
class TExportJob : public QObject {
  Q_OBJECT

 public:
  using TExporter = std::function<TExportResult(const TSegments&, const std::string&, const TExportOptions&, bool,
                                                const TExportProgressFn&, const std::atomic<bool>*, const std::string&)>;

  // `segments` are the job's own copies (ShareSegments): the window may play, unload or
  // replace its film meanwhile.
  TExportJob(TSegments segments, TExportChoice choice, std::string filmPath, TExporter exporter,
             QObject* parent = nullptr);
  // An unfinished export is cancelled and waited for: it leaves no file behind.
  ~TExportJob() override;

  void Start();
  // Ends the export as Cancelled within a frame; Finished follows.
  void Cancel() { FCancel = true; }
  bool Running() const { return FThread.joinable(); }
  const TExportChoice& Choice() const { return FChoice; }

 signals:
  void Progress(qint64 frames, qint64 totalFrames);
  // The thread has ended.
  void Finished(const TExportResult& result);

 private:
  void Ended(const TExportResult& result);

  TSegments FSegments;
  TExportChoice FChoice;
  std::string FFilmPath;
  TExporter FExporter;
  std::atomic<bool> FCancel{false};
  // The latest progress; one notice at a time is on its way to the job's thread.
  std::atomic<int64_t> FFrames{0}, FTotalFrames{0};
  std::atomic<bool> FProgressPending{false};
  std::unique_ptr<TSignalCatcher> FSignals;
  std::thread FThread;
};
