#include "index/IndexWorker.h"

#include <sys/resource.h>
#include <unistd.h>

#include "index/IndexCache.h"

namespace {

// The calling thread gives way to the others: nice +10 for it alone (Linux takes a thread's
// id here). SCHED_IDLE would starve it on a busy machine, and then a cancel could wait for it
// far longer than the 0.5 s the player allows.
void LowerThisThread() { ::setpriority(PRIO_PROCESS, id_t(::gettid()), 10); }

}  // namespace

void TIndexWorker::Start(const TSegments& segments, const std::string& filmPath, TIndexOptions options,
                         TCallbacks callbacks) {
  Cancel();
  FCancel = false;
  FRunning = true;
  FThread = std::thread([this, copies = ShareSegments(segments), filmPath, options = std::move(options),
                         callbacks = std::move(callbacks)] {
    LowerThisThread();
    auto index = std::make_shared<TFilmIndex>();
    std::string failure;
    if (!filmPath.empty() && ReadIndexCache(filmPath, options.IdleMs, *index)) {
      if (callbacks.Finished) callbacks.Finished(std::move(index), std::move(failure));
      // The kept index holds no checkpoints: the film is played for them all the same.
      if (options.Checkpoints) IndexFilm(copies, options, &FCancel, callbacks.Progress);
    } else {
      *index = IndexFilm(copies, options, &FCancel, callbacks.Progress, &failure);
      if (!FCancel && !filmPath.empty()) WriteIndexCache(filmPath, options.IdleMs, *index);
      if (!FCancel && callbacks.Finished) callbacks.Finished(std::move(index), std::move(failure));
    }
    FRunning = false;
  });
}

void TIndexWorker::Cancel() {
  FCancel = true;
  if (FThread.joinable()) FThread.join();
  FRunning = false;
}
