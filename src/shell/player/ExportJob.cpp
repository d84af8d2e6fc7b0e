#include "shell/player/ExportJob.h"

#include "io/SignalCatcher.h"

TExportJob::TExportJob(TSegments segments, TExportChoice choice, std::string filmPath, TExporter exporter,
                       QObject* parent)
    : QObject(parent),
      FSegments(std::move(segments)),
      FChoice(std::move(choice)),
      FFilmPath(std::move(filmPath)),
      FExporter(std::move(exporter)) {}

TExportJob::~TExportJob() {
  FCancel = true;
  if (FThread.joinable()) FThread.join();
  FSignals.reset();
}

void TExportJob::Start() {
  if (FThread.joinable()) return;
  // Until the thread has ended: a signal caught meanwhile cancels the export, and goes to the
  // handlers before once the job has cleaned up.
  FSignals = std::make_unique<TSignalCatcher>(TSignalCatcher::THandOn::AtEnd, &FCancel);
  FThread = std::thread([this] {
    const TExportProgressFn progress = [this](const TExportProgress& p) {
      FFrames = p.Frames;
      FTotalFrames = p.TotalFrames;
      // The window hears of the latest figures only, however often the engine calls.
      if (FProgressPending.exchange(true)) return;
      QMetaObject::invokeMethod(
          this,
          [this] {
            FProgressPending = false;
            emit Progress(FFrames.load(), FTotalFrames.load());
          },
          Qt::QueuedConnection);
    };
    TExportResult result;
    try {
      result = FExporter(FSegments, FChoice.Path.toStdString(), FChoice.Options, FChoice.Replace, progress, &FCancel,
                         FFilmPath);
    } catch (const std::bad_alloc&) {
      result = TExportResult{};
      result.Code = TExportErrc::NoMemory;
      result.Details = "out of memory";
    } catch (const std::exception& e) {
      result = TExportResult{};
      result.Code = TExportErrc::Playback;
      result.Details = e.what();
    }
    // Told through the event loop: a job deleted before then drops the notice with itself.
    QMetaObject::invokeMethod(this, [this, result] { Ended(result); }, Qt::QueuedConnection);
  });
}

void TExportJob::Ended(const TExportResult& result) {
  // The thread has nothing left to do but return.
  if (FThread.joinable()) FThread.join();
  FSignals.reset();
  emit Finished(result);
}
