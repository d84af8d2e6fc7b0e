// Runs the index pass beside playback: on a thread of its own at a lower priority than the
// player's (nice +10 for that thread), so that playing never waits for it.
//
//   TIndexWorker worker;
//   TIndexOptions options;
//   options.FilmPalette = core.FilmPalette();
//   options.Checkpoints = [](THandedCheckpoints&& c) { /* queue it; core.AdoptCheckpoints */ };
//   worker.Start(core.Segments(), filmPath, options,
//                {.Progress = [](int64_t done, int64_t total) { /* queue a signal */ },
//                 .Finished = [](std::shared_ptr<const TFilmIndex> index, std::string failure) {
//                   /* queue a signal carrying them */ }});
//   ...
//   worker.Cancel();  // before the film goes: at most 0.5 s, and no callback afterwards
//
// The callbacks come on the worker's thread: a window turns them into queued signals. They
// must not call Cancel or Start (the worker would wait for itself). Give no film path for a
// damaged film: its index holds only what could be read and is not to be kept.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "index/FilmIndex.h"
#include "index/IndexPass.h"

class TIndexWorker {
 public:
  struct TCallbacks {
    // Frames played so far and the film's frames; every 256 frames and at the end.
    std::function<void(int64_t done, int64_t total)> Progress;
    // The index (incomplete when the pass ended early at a segment it could not play, which
    // `failure` then names); not called when cancelled.
    std::function<void(std::shared_ptr<const TFilmIndex> index, std::string failure)> Finished;
  };

  TIndexWorker() = default;
  ~TIndexWorker() { Cancel(); }
  TIndexWorker(const TIndexWorker&) = delete;
  TIndexWorker& operator=(const TIndexWorker&) = delete;

  // Indexes the film whose segments these are. They are copied here (ShareSegments), on the
  // caller's thread, so the caller's core may go on playing them. With a film path, a kept
  // index of the film (IndexCache.h) is handed over at once, and a complete one is kept; a
  // kept index holds no checkpoints, so with options.Checkpoints the film is played for them
  // afterwards all the same. A pass already running is cancelled first.
  void Start(const TSegments& segments, const std::string& filmPath, TIndexOptions options, TCallbacks callbacks);
  // Ends the pass and waits for its thread.
  void Cancel();
  // The worker's thread has not ended (a pass, or the play for checkpoints after a kept
  // index, is still going).
  bool Running() const { return FRunning.load(); }

 private:
  std::thread FThread;
  std::atomic<bool> FCancel{false};
  std::atomic<bool> FRunning{false};
};
