// The transport: the playback core with the play state, the playback timer and the clock of
// speeds other than the film's own, and the moves through the film (seek, frame, segment and
// chapter steps, and jumps over idle time). It knows no widget: what the windows show is its
// host's.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "index/FilmIndex.h"
#include "playback/FilmClock.h"
#include "playback/UzrPlayback.h"

class QTimer;

enum TPlayState : uint8_t { psStopped = 0, psPlaying = 3, psPaused = 4 };

// The playback speeds, slowest first, and the step of the film's own speed.
inline constexpr double kSpeeds[] = {0.25, 0.5, 0.75, 1, 1.25, 1.5, 2, 4, 8};
inline constexpr int kNormalSpeed = 3;
// A speed as the window writes it: "×1,5".
QString SpeedText(double speed);

class ITransportHost : public IPlaybackHost {
 public:
  // The play state has changed to `state`: the transport buttons, the commands and the captions
  // follow. `highlighted`: the state's button is lit (not for a pause that starts stopped).
  virtual void PlayStateShown(TPlayState state, bool highlighted) = 0;
  // A seek starts a stopped film as Play does: the window that shows the picture comes up.
  virtual void ShowPictureWindow() = 0;
  // Executes the Pause action (APause).
  virtual void ExecutePause() = 0;
  // Executes the Play action (APlay).
  virtual void ExecutePlay() = 0;
  // The time on screen or the speed has changed.
  virtual void TimeChanged() = 0;
};

class TTransport : public QObject {
  Q_OBJECT

 public:
  TTransport(ITransportHost& host, QObject* parent);

  TPlaybackCore& Core() { return FCore; }
  const TPlaybackCore& Core() const { return FCore; }
  const TSegments& Segments() const { return FCore.Segments(); }
  TPlayState PlayState() const { return FPlayState; }
  TResult LastResult() const { return FLastResult; }
  void SetLastResult(TResult result) { FLastResult = result; }
  // The playback timer ("Timer"), a child of the transport.
  QTimer* Timer() const { return FTimer; }

  // The state machine: stopped stops the timer and makes the first segment current; paused is
  // a toggle (pausing again plays on); whatever the change, the speed clock starts again.
  void SetPlayState(TPlayState state);
  // Starts playing from stopped at the current segment.
  void Play();
  // One tick of the timer: one frame at the film's own speed, else the frames due by the clock.
  void Tick();
  // Makes segment `index` (from 0) current, by the play state: stopped, the next Play starts
  // there; playing, playback starts again at its beginning; paused on it, nothing changes;
  // paused on another, playback stops there. Without segments nothing happens.
  void ChooseSegment(int32_t index);

  // ---- Random access ----
  // Shows frame `pos`: playing plays on from it, paused stays paused on it, and stopped
  // pauses there. Nothing happens without such a frame.
  void SeekTo(TFramePos pos);
  void SeekToTime(int64_t millis);
  void SeekBy(int64_t millis);
  void StepFrame(int direction);
  void StepSegment(int direction);
  // To the next (`direction` > 0) or previous chapter (ChapterStep), from the frame on screen or,
  // with none, from the current segment's start; the play state stays.
  void StepChapter(int direction);
  // The frame on screen: the one presented last; nothing while stopped.
  std::optional<TFramePos> ShownFrame() const { return FShownFrame; }
  // The picture composed last has been presented.
  void PictureShown();
  void ForgetShownFrame() { FShownFrame.reset(); }
  // The time of the film on screen: of the frame shown, or, before one is, of the start of
  // the current segment.
  int64_t ShownTime() const;
  // "0:01:23 / 0:05:00", with the speed when it is not the film's own.
  QString TimeText() const;

  // ---- Speed ----
  int SpeedStep() const { return FSpeedStep; }
  void SetSpeedStep(int step);
  // The clock that plays at speeds other than the film's own: milliseconds, never going back.
  void SetClock(std::function<int64_t()> clock) { FClock = std::move(clock); }
  // A segment has been made current: its frame interval.
  void SetSegmentInterval(int intervalMs);

  // ---- The film's index ----
  // The index of the film loaded: none until its pass has found one, nor without a film.
  void SetIndex(std::shared_ptr<const TFilmIndex> index) { FIndex = std::move(index); }
  const std::shared_ptr<const TFilmIndex>& Index() const { return FIndex; }
  // The chapters: each segment's start, and the index's automatic ones.
  std::vector<TChapter> Chapters() const;
  // Playing jumps over idle stretches (IdleSkipAt), and tells of each jump.
  void SetSkipIdle(bool on) { FSkipIdle = on; }
  bool SkipIdle() const { return FSkipIdle; }

 signals:
  // Playing has jumped over this much idle time.
  void IdleSkipped(qint64 skippedMs);

 private:
  // One tick at a speed other than the film's own: the frames due by the clock are played,
  // and only the last of them is shown.
  void SpeedTick();
  void ApplyTimerInterval();
  // After a tick: the jump over the idle stretch on screen, when it is due.
  void SkipIdleStretch();

  ITransportHost& FHost;
  TPlaybackCore FCore;
  QTimer* FTimer;
  TPlayState FPlayState = psStopped;
  TResult FLastResult = kResultOk;
  std::optional<TFramePos> FShownFrame;
  int FSpeedStep = kNormalSpeed;
  int FSegmentInterval = 100;  // the current segment's frame interval, for the film's own speed
  QElapsedTimer FElapsed;
  std::function<int64_t()> FClock;
  // The clock at a speed other than 1: film time FAnchorFilm at clock time FAnchorClock. It
  // starts again whenever playback starts, resumes, seeks or changes speed.
  bool FClockRunning = false;
  int64_t FAnchorFilm = 0;
  int64_t FAnchorClock = 0;
  int64_t FLastStepClock = 0;  // when a frame of a segment without a frame rate was played
  std::shared_ptr<const TFilmIndex> FIndex;
  bool FSkipIdle = false;
};
