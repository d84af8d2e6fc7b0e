#include "shell/player/Transport.h"

#include <QTimer>
#include <algorithm>

#include "shell/player/FilmChapters.h"

QString SpeedText(double speed) {
  return QStringLiteral("×") + QString::number(speed).replace(QLatin1Char('.'), QLatin1Char(','));
}

TTransport::TTransport(ITransportHost& host, QObject* parent)
    : QObject(parent), FHost(host), FCore(host), FTimer(new QTimer(this)) {
  FTimer->setObjectName(QStringLiteral("Timer"));
  FTimer->setTimerType(Qt::PreciseTimer);
  FTimer->setInterval(100);
  FElapsed.start();
  FClock = [this] { return FElapsed.elapsed(); };
}

void TTransport::SetPlayState(TPlayState state) {
  TPlayState stored = state;
  bool highlighted = true;
  switch (state) {
    case psStopped:
      FTimer->stop();
      FCore.Stop();
      break;
    case psPlaying:
      break;
    case psPaused:
      // A toggle: pausing stops the timer, pausing again plays on.
      if (FPlayState == psPaused) {
        stored = psPlaying;
      } else if (FPlayState != psPlaying) {
        highlighted = false;
      }
      if (FPlayState != psStopped) {
        if (FTimer->isActive())
          FTimer->stop();
        else
          FTimer->start();
      }
      break;
  }
  FPlayState = stored;
  // Whatever the change, a clock running at another speed starts again from the picture.
  FClockRunning = false;
  if (FPlayState == psStopped) FShownFrame.reset();
  FHost.PlayStateShown(FPlayState, highlighted);
}

void TTransport::Play() {
  if (FCore.Segments().empty() || FPlayState != psStopped) return;
  SetPlayState(psPlaying);
  FLastResult = FCore.SetCurSegment();
  if (FLastResult != kResultOk) {
    FHost.ShowResult("APlay_PauseExecute", FLastResult);
    return;
  }
  FTimer->start();
}

void TTransport::Tick() {
  // At the film's own speed every tick is one frame, as it always was.
  if (FSpeedStep == kNormalSpeed) {
    FCore.TimerTimer();
  } else {
    SpeedTick();
  }
  SkipIdleStretch();
}

void TTransport::SkipIdleStretch() {
  if (!FSkipIdle || !FIndex || FPlayState != psPlaying || !FShownFrame) return;
  const std::optional<TIdleSkip> skip = IdleSkipAt(*FIndex, FCore.Segments(), *FShownFrame);
  if (!skip) return;
  SeekTo(skip->Target);
  if (FLastResult == kResultOk && FShownFrame == skip->Target) emit IdleSkipped(skip->SkippedMs);
}

void TTransport::ChooseSegment(int32_t index) {
  if (FCore.Segments().empty()) return;
  switch (FPlayState) {
    case psStopped:
      FCore.SelectSegment(index);
      FHost.TimeChanged();
      break;
    case psPlaying:
      // Stopping makes the first segment current, so the choice comes after it.
      FHost.ExecuteStop();
      FCore.SelectSegment(index);
      FHost.ExecutePlay();
      break;
    case psPaused:
      if (index != FCore.CurSegment()) {
        FHost.ExecuteStop();
        FCore.SelectSegment(index);
        // The clock shows where Play goes on, as after a choice while stopped.
        FHost.TimeChanged();
      }
      break;
  }
}

// ---- Random access ----

void TTransport::PictureShown() {
  if (const auto composed = FCore.ComposedFrame()) FShownFrame = composed;
}

int64_t TTransport::ShownTime() const {
  const auto& segments = FCore.Segments();
  if (FShownFrame) return FrameTime(segments, *FShownFrame);
  return SegmentStart(segments, std::max(FCore.CurSegment(), 0));
}

QString TTransport::TimeText() const {
  const auto& segments = FCore.Segments();
  QString text;
  if (!segments.empty()) {
    // The film's length once all of it has been read.
    text = QString::fromStdString(FormatClock(ShownTime())) + QStringLiteral(" / ") +
           (FCore.MoreComing() ? QStringLiteral("…") : QString::fromStdString(FormatClock(FilmMillis(segments))));
  }
  if (FSpeedStep != kNormalSpeed) {
    if (!text.isEmpty()) text += QStringLiteral("  ");
    text += SpeedText(kSpeeds[FSpeedStep]);
  }
  return text;
}

void TTransport::SeekTo(TFramePos pos) {
  const auto& segments = FCore.Segments();
  if (pos.Segment < 0 || size_t(pos.Segment) >= segments.size() || pos.Frame < 0 ||
      pos.Frame >= segments[size_t(pos.Segment)]->FrameCount)
    return;
  const TPlayState before = FPlayState;
  if (before == psStopped) {
    // Stopped, the film is paused at the frame: it starts as Play starts it.
    FHost.ShowPictureWindow();
    SetPlayState(psPlaying);
  }
  // Paused after playing, the picture may hold the frame already (composed, not yet shown).
  const bool composed = before != psStopped && FCore.CurSegment() == pos.Segment && FCore.ComposedFrame() == pos;
  FLastResult = composed ? kResultOk : FCore.SeekFrame(pos);
  if (FLastResult != kResultOk) {
    // A failure of decoding has stopped playback and been told; one of activation is told here.
    if (FPlayState != psStopped) {
      const TResult failure = FLastResult;
      FHost.ExecuteStop();
      FHost.ShowResult("SeekFrame", failure);
    }
    return;
  }
  FHost.PresentPicture();
  FClockRunning = false;
  if (before == psStopped) {
    // Pausing switches the timer over: started here, it ends stopped.
    FTimer->start();
    SetPlayState(psPaused);
  } else if (before == psPlaying) {
    // The frame shown gets its whole interval.
    FTimer->start();
  }
}

void TTransport::SeekToTime(int64_t millis) {
  if (const auto pos = FrameAtTime(FCore.Segments(), millis)) SeekTo(*pos);
}

void TTransport::SeekBy(int64_t millis) {
  if (FCore.Segments().empty()) return;
  SeekToTime(std::max<int64_t>(ShownTime() + millis, 0));
}

void TTransport::StepFrame(int direction) {
  const auto& segments = FCore.Segments();
  if (segments.empty()) return;
  if (FPlayState == psPlaying) FHost.ExecutePause();
  std::optional<TFramePos> target;
  if (FShownFrame) {
    target = direction > 0 ? FrameAfter(segments, *FShownFrame) : FrameBefore(segments, *FShownFrame);
  } else {
    // Nothing shown yet: the first frame of the current segment, or of the film.
    const int32_t current = std::max(FCore.CurSegment(), 0);
    target = size_t(current) < segments.size() && segments[size_t(current)]->FrameCount > 0
                 ? std::optional<TFramePos>(TFramePos{current, 0})
                 : FirstFrame(segments);
  }
  if (target) SeekTo(*target);
}

void TTransport::StepSegment(int direction) {
  const auto& segments = FCore.Segments();
  if (segments.empty()) return;
  const int32_t current = FShownFrame ? FShownFrame->Segment : std::max(FCore.CurSegment(), 0);
  if (direction > 0) {
    for (size_t i = size_t(current) + 1; i < segments.size(); ++i)
      if (segments[i]->FrameCount > 0) return SeekTo({int32_t(i), 0});
    return;
  }
  for (int32_t i = current - 1; i >= 0; --i)
    if (segments[size_t(i)]->FrameCount > 0) return SeekTo({i, 0});
  if (size_t(current) < segments.size() && segments[size_t(current)]->FrameCount > 0) SeekTo({current, 0});
}

std::vector<TChapter> TTransport::Chapters() const { return FilmChapters(FCore.Segments(), FIndex.get()); }

void TTransport::StepChapter(int direction) {
  const auto& segments = FCore.Segments();
  if (segments.empty()) return;
  const TFramePos from = FShownFrame ? *FShownFrame : TFramePos{std::max(FCore.CurSegment(), 0), 0};
  if (const auto target = ChapterStep(Chapters(), segments, from, direction)) SeekTo(*target);
}

// ---- Speed ----

void TTransport::SetSpeedStep(int step) {
  FSpeedStep = std::clamp(step, 0, int(std::size(kSpeeds)) - 1);
  FClockRunning = false;
  ApplyTimerInterval();
  FHost.TimeChanged();
}

void TTransport::SetSegmentInterval(int intervalMs) {
  FSegmentInterval = intervalMs;
  ApplyTimerInterval();
}

void TTransport::ApplyTimerInterval() {
  // At another speed the clock is looked at about sixty times a second, whatever the frame
  // rate: frames due in between are played but not shown.
  constexpr int kSpeedTick = 16;
  FTimer->setInterval(FSpeedStep == kNormalSpeed ? FSegmentInterval : kSpeedTick);
}

void TTransport::SpeedTick() {
  // One tick may decode for this long at most; a film that cannot keep up plays slower.
  constexpr int64_t kTickBudget = 100;
  const double speed = kSpeeds[FSpeedStep];
  const auto& segments = FCore.Segments();
  const int64_t now = FClock();
  if (!FClockRunning) {
    FClockRunning = true;
    FAnchorClock = FLastStepClock = now;
    FAnchorFilm = ShownTime();
  }
  const int64_t due = FAnchorFilm + int64_t(double(now - FAnchorClock) * speed);
  int played = 0;
  while (FPlayState == psPlaying && FTimer->isActive() && FCore.HasCurrentSegment() && !FCore.WaitingForSegment()) {
    const Segment& segment = *segments[size_t(FCore.CurSegment())];
    const TFramePos next{FCore.CurSegment(), FCore.FrameIndex()};
    if (segment.FrameRate == 0) {
      // A segment without a frame rate lasts no time on the film's clock: a frame per interval
      // it is played at (at this speed), while the clock waits.
      if (played > 0 || double(now - FLastStepClock) * speed < FSegmentInterval) break;
      FAnchorFilm = FrameTime(segments, next);
      FAnchorClock = now;
    } else if (FrameTime(segments, next) > due) {
      break;
    }
    if (played > 0 && FClock() - now > kTickBudget) {
      // Behind the clock: it starts again from here.
      FAnchorFilm = FrameTime(segments, next);
      FAnchorClock = FClock();
      break;
    }
    FCore.TimerPlayTimer();
    FLastStepClock = now;
    ++played;
  }
  // Only a picture the core has composed since the segment began is shown; a segment just made
  // current has a cleared one.
  const auto composed = FCore.ComposedFrame();
  if (FPlayState == psPlaying && composed && composed != FShownFrame) FHost.PresentPicture();
}
