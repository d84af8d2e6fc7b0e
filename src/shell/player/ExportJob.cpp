#include "shell/player/ExportJob.h"

#include <csignal>

namespace {

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP};
// What the handler touches: lock-free atomics only.
std::atomic<std::atomic<bool>*> gCancelOnSignal{nullptr};
std::atomic<int> gEndingSignal{0};

void CancelOnSignal(int sig) {
  gEndingSignal.store(sig);
  if (std::atomic<bool>* cancel = gCancelOnSignal.load()) cancel->store(true);
}

}  // namespace

// The signals that end the program, caught for the time of an export.
class TEndingSignals {
 public:
  explicit TEndingSignals(std::atomic<bool>* cancel) {
    gEndingSignal = 0;
    gCancelOnSignal = cancel;
    struct sigaction action {};
    action.sa_handler = CancelOnSignal;
    sigemptyset(&action.sa_mask);
    for (size_t i = 0; i < std::size(kEndingSignals); ++i) {
      // A signal the program was started to ignore stays ignored.
      FCaught[i] = ::sigaction(kEndingSignals[i], nullptr, &FBefore[i]) == 0 && FBefore[i].sa_handler != SIG_IGN &&
                   ::sigaction(kEndingSignals[i], &action, nullptr) == 0;
    }
  }
  // Only once the export's thread has ended: the handlers before come back, and a signal
  // caught meanwhile goes to them.
  ~TEndingSignals() {
    for (size_t i = 0; i < std::size(kEndingSignals); ++i)
      if (FCaught[i]) ::sigaction(kEndingSignals[i], &FBefore[i], nullptr);
    gCancelOnSignal = nullptr;
    if (const int sig = gEndingSignal.exchange(0)) ::raise(sig);
  }
  TEndingSignals(const TEndingSignals&) = delete;
  TEndingSignals& operator=(const TEndingSignals&) = delete;

 private:
  struct sigaction FBefore[std::size(kEndingSignals)] {};
  bool FCaught[std::size(kEndingSignals)] = {};
};

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
  FSignals = std::make_unique<TEndingSignals>(&FCancel);
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
