#include "playback/UzrPlayback.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

void TPlaybackCore::TFrameBufferDeleter::operator()(uint8_t* p) const { std::free(p); }

TPlaybackCore::TPlaybackCore(IPlaybackHost& host) : FHost(host) {}

TPlaybackCore::~TPlaybackCore() = default;

// ---- Frame decoder ----

TResult TPlaybackCore::AllocFrameBuffer(size_t size) {
  // calloc hands out zeroed pages that the system commits only when they are touched.
  FFrameBuffer.reset(static_cast<uint8_t*>(std::calloc(size ? size : 1, 1)));
  FLoadedSize = FDirtySize = 0;
  // The buffer's size bounds where frames lie, so a new buffer may decode otherwise.
  FCheckpoints.Reset(FSegments.size());
  if (!FFrameBuffer) {
    FFrameBufferSize = 0;
    return kResultSegmentIsNil;
  }
  FFrameBufferSize = size;
  return kResultOk;
}

TResult TPlaybackCore::FreeFrameBuffer() {
  FFrameBuffer.reset();
  FFrameBufferSize = FLoadedSize = FDirtySize = 0;
  FCheckpoints.Reset(FSegments.size());
  return kResultOk;
}

TResult TPlaybackCore::LoadFrames() {
  if (!FFrameBuffer) return kResultSegmentIsNil;
  if (!HasCurrentSegment()) return kResultOutOfIndexBound;
  const TMemoryStream& stream = CurrentSegment().SegStream;
  const size_t size = stream.Size();
  if (size > FFrameBufferSize) throw EPlayback(TPlaybackErrc::SegmentTooBig, "Segment is too big");
  // The buffer holds the segment's data from its first byte and zeros after it. Only the
  // part that an earlier, longer segment left behind needs clearing: the rest is zero.
  if (FDirtySize > size) std::memset(FFrameBuffer.get() + size, 0, FDirtySize - size);
  if (size) std::memcpy(FFrameBuffer.get(), stream.Data(), size);
  FLoadedSize = FDirtySize = size;
  return kResultOk;
}

TResult TPlaybackCore::Rewind() {
  FCurFrame = FFrameBuffer ? 0 : -1;
  FFrameIndex = 0;
  FComposed.reset();
  FSegmentEnded = false;
  return kResultOk;
}

TResult TPlaybackCore::NextFrame() {
  if (FCurFrame < 0) return kResultFrameIsNil;
  if (!FFrameBuffer) return kResultSegmentIsNil;
  if (FSegments.empty()) return kResultOutOfIndexBound;
  ++FFrameIndex;
  if (!HasCurrentSegment() || FFrameIndex >= CurrentSegment().FrameCount)
    return kResultOutOfIndexBound;
  // A record past the loaded data reads as zeros: its length is 0.
  TByteReader data(std::span<const uint8_t>(FFrameBuffer.get(), FLoadedSize));
  data.Seek(size_t(std::min<int64_t>(FCurFrame, int64_t(FLoadedSize))));
  const uint32_t length = data.ReadU32();
  FCurFrame = std::min<int64_t>(FCurFrame + length, int64_t(FFrameBufferSize));
  return kResultOk;
}

void TPlaybackCore::SelectVideoMode(int bitsPerPixel) {
  switch (bitsPerPixel) {
    case 8:
      FPixelBytes = 1, FValueBytes = 1, FRunCountBytes = 1;
      break;
    case 24:
      FPixelBytes = 3, FValueBytes = 3, FRunCountBytes = 2;
      break;
    case 32:
      FPixelBytes = 4, FValueBytes = 3, FRunCountBytes = 2;
      break;
    default:
      // Reported to the user and playback stops; the player goes on running.
      throw EPlayback(TPlaybackErrc::UnsupportedVideoMode,
                      "SelectVideoMode: " + std::to_string(bitsPerPixel) + " bits per pixel cannot be played");
  }
}

void TPlaybackCore::ApplyPaletteRecord() {
  TMemoryStream* stream = CurrentSegment().PaletteStream.get();
  if (stream) ReadPaletteRecord(*stream, FPalette);
}

void TPlaybackCore::FailDecode(TResult code) {
  FLastResult = code;
  ExecuteHostStop();
  FHost.ShowResult("DXTimerPlayTimer", code);
}

void TPlaybackCore::DecodeFrame() {
  FPendingRuns.reset();
  FFrameWork = kFrameStepWork;
  if (!HasCurrentSegment()) return;
  if (FCurFrame < 0 || !FFrameBuffer) return FailDecode(kResultFrameIsNil);
  if (!FFrameImage) return FailDecode(kResultNoFrameImage);
  if (FFilmBits != 8 && FFilmBits != 24 && FFilmBits != 32) return;

  // Combined with the picture in ComposeFrame, or expanded into the frame image now.
  FPendingRuns = LocateRuns(LoadedFrames(), FCurFrame, FFilmBits);
  if (!FStraightComposition) ExpandPendingRuns();
  if (FFilmBits == 8) ApplyPaletteRecord();
}

void TPlaybackCore::ExpandPendingRuns() {
  // Part of the frame image may stay as it was, so it must be what the frames before made
  // of it: the last whole frame, then this one over it.
  CatchUpFrameImage();
  ExpandIntoFrameImage(*FPendingRuns);
  FPendingRuns.reset();
}

void TPlaybackCore::ExpandIntoFrameImage(const TFrameRuns& runs) {
  FFrameWork += int64_t(runs.Bytes);
  ExpandRuns(LoadedFrames(), runs, Format(), *FFrameImage);
}

void TPlaybackCore::CatchUpFrameImage() {
  // Only a frame combined straight with the picture makes the image lag (ComposeFrame), and
  // every rebuild or clearing of the surfaces marks it current again.
  if (FFrameImageCurrent || !FFrameBuffer) return;
  // A whole frame writes every pixel, so the image after it depends on that frame alone.
  ExpandIntoFrameImage(LocateRuns(LoadedFrames(), FLastFullFrame, FFilmBits));
  FFrameImageCurrent = true;
}

const TRasterBitmap* TPlaybackCore::FrameImage() {
  if (FPendingRuns && FFrameImage) ExpandPendingRuns();
  CatchUpFrameImage();
  return FFrameImage.get();
}

// ---- Activation and the playback step ----

void TPlaybackCore::ExecuteHostStop() {
  ++FStops;
  FHost.ExecuteStop();
}

void TPlaybackCore::TakeFilm(std::vector<std::unique_ptr<Segment>> segments) {
  UnloadFilm();
  FFilmPalette = FPalette;
  FSegments = std::move(segments);
  FCheckpoints.Reset(FSegments.size());
  FCurSegment = FSegments.empty() ? -1 : 0;
}

void TPlaybackCore::AddSegment(std::unique_ptr<Segment> segment) {
  if (FSegments.empty()) FFilmPalette = FPalette;
  FSegments.push_back(std::move(segment));
  // The segments before keep their checkpoints and the palettes they start from.
  FCheckpoints.Resize(FSegments.size());
  ForgetStartStates();
  if (FCurSegment < 0 || FSegments.size() == 1) FCurSegment = 0;
}

void TPlaybackCore::UnloadFilm() {
  ClearSegments();
  FLoadedSegment = -1;
  Rewind();
  FCurSegment = -1;
}

bool TPlaybackCore::SelectSegment(int32_t index) {
  if (index < 0 || size_t(index) >= FSegments.size()) return false;
  FCurSegment = index;
  return true;
}

TResult TPlaybackCore::SetCurSegment() {
  if (!FFrameBuffer) return kResultSegmentIsNil;
  if (FCurSegment < 0 || size_t(FCurSegment) >= FSegments.size()) FCurSegment = 0;
  if (FSegments.empty()) return kResultNoSegments;
  GetDisplaySettings();
  Rewind();
  ClearSurfaces();
  Segment& segment = CurrentSegment();
  FHost.SegmentActivated(segment, FrameInterval(segment.FrameRate));
  FCursorStream = &segment.CursStream;
  RestartTracks();
  // Playing on from the segment before, or from a seek in it, the segment starts from the
  // palette and cursor record seeks start it from; Play after Stop or a chosen segment may not.
  FCanonical = AtSegmentStart();
  FLoadedSegment = -1;
  const TResult r = LoadFrames();
  if (r == kResultOk) FLoadedSegment = FCurSegment;
  return r;
}

void TPlaybackCore::RestartTracks() {
  Segment& segment = CurrentSegment();
  FCursorStream->SetPosition(0);
  if (segment.BitsPerPixel == 8 && segment.PaletteStream) segment.PaletteStream->SetPosition(0);
  FWork = 0;
}

TResult TPlaybackCore::NextSegment() {
  if (!FFrameBuffer) return kResultSegmentIsNil;
  ++FCurSegment;
  if (int64_t(FCurSegment) + 1 > int64_t(FSegments.size())) return kResultOutOfIndexBound;
  return SetCurSegment();
}

void TPlaybackCore::TimerPlayTimer() {
  if (FSegmentEnded) {
    // A seek composed the segment's last frame: playing on starts the next segment.
    FSegmentEnded = false;
    return EndSegment();
  }
  const int stops = FStops;
  DecodeFrame();
  // A decoder failure has stopped playback and been reported.
  if (FStops != stops || !HasCurrentSegment()) return;
  ComposeFrame();
  FComposed = TFramePos{FCurSegment, FFrameIndex};
  NoteComposed();
  FHost.FrameComposed();
  FHost.SetProgress(PlayedFrames() + 1);
  const TResult r = NextFrame();
  if (r == kResultOk) return;
  if (r == kResultOutOfIndexBound) return EndSegment();
  ExecuteHostStop();
  FHost.ShowResult("TimerPlayTimer", r);
}

void TPlaybackCore::EndSegment() {
  if (NextSegment() == kResultOk) return;
  ExecuteHostStop();
  FHost.FilmFinished();
}

void TPlaybackCore::TimerTimer() {
  const int stops = FStops;
  if (FFrameIndex == 0) {
    TimerPlayTimer();
    // A film that ended in that step is not played on from its first segment.
    if (FStops != stops) return;
  }
  FHost.PresentPicture();
  TimerPlayTimer();
}

int64_t TPlaybackCore::PlayedFrames() const {
  if (FSegments.empty() || FCurSegment < 0) return 0;
  // The frames of the segments before, counted on from the last segment asked about: playing
  // on from segment to segment adds one segment's frames, not all of those before it.
  const size_t before = std::min(size_t(FCurSegment), FSegments.size());
  for (; FFramesBeforeSegment < before; ++FFramesBeforeSegment)
    FFramesBefore += FSegments[FFramesBeforeSegment]->FrameCount;
  for (; FFramesBeforeSegment > before; --FFramesBeforeSegment)
    FFramesBefore -= FSegments[FFramesBeforeSegment - 1]->FrameCount;
  return FFramesBefore + FFrameIndex;
}

void TPlaybackCore::ClearSegments() {
  FSegments.clear();
  FCheckpoints.Reset(0);
  ForgetStartStates();
  FFramesBeforeSegment = 0;
  FFramesBefore = 0;
  // The track borrowed from a segment goes with it.
  FCursorStream = &FEmptyTrack;
}
