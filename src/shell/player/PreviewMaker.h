// Previews of the film made by seeking: a second playback core, in a thread of its own and on
// copies of the film's segments (ShareSegments), composes the frame asked for, and a small
// picture of it comes back through the event loop. The core that plays the film is never
// asked: playing goes on as before, whatever is previewed.
#pragma once

#include <QImage>
#include <QObject>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>

#include "playback/FilmClock.h"

class TPreviewMaker : public QObject {
  Q_OBJECT

 public:
  // Previews are this wide; their height keeps the picture's proportions.
  static constexpr int kWidth = 160;

  explicit TPreviewMaker(QObject* parent = nullptr);
  // A preview being made is waited for.
  ~TPreviewMaker() override;

  // The film to preview: the maker's own copies of its segments. A preview of the film before
  // that is being made is waited for, and one asked for is not told.
  void SetFilm(TSegments copies);
  // How many segments the maker has (its copies may predate the film's later segments).
  size_t SegmentCount() const { return FSegmentCount; }
  // Asks for the preview of frame `pos`; one asked for before and not yet begun is dropped.
  void Request(TFramePos pos);

 signals:
  // The preview of `pos` (a null picture when the frame could not be composed), in the thread
  // the maker lives in.
  void Made(TFramePos pos, QImage picture);

 private:
  void Stop();
  void Run(TSegments segments, uint64_t generation);

  std::thread FThread;
  std::mutex FMutex;
  std::condition_variable FWake;
  std::optional<TFramePos> FPending;  // guarded by FMutex
  bool FStopping = false;             // guarded by FMutex
  uint64_t FGeneration = 0;           // the film's; results of an earlier one are dropped
  size_t FSegmentCount = 0;
};
