// Random access: seeks to any frame, the state each segment starts from, and the checkpoints
// taken while frames are composed and restored by seeks.
#include "playback/UzrPlayback.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "playback/TrackRecords.h"

namespace {

// What playing the film from its start does to the palette and the cursor record over one
// segment: every frame of an 8-bit segment reads one palette record and every frame reads one
// cursor record. Copies of the streams read them, so the segment's own positions stay.
template <class TStart>
void PlayThrough(const Segment& segment, TStart& start) {
  if (segment.FrameCount <= 0) return;
  TMemoryStream track = segment.CursStream;
  track.SetPosition(0);
  for (int32_t frame = 0; frame < segment.FrameCount && track.Remaining(); ++frame)
    ReadCursorRecord(track, start.Cursor);
  if (segment.BitsPerPixel != 8 || !segment.PaletteStream) return;
  TMemoryStream records = *segment.PaletteStream;
  records.SetPosition(0);
  for (int32_t frame = 0; frame < segment.FrameCount && records.Remaining(); ++frame)
    ReadPaletteRecord(records, start.Palette);
}

}  // namespace

const TPlaybackCore::TSegmentStart& TPlaybackCore::StartState(int32_t index) {
  // From the nearest state known at or before the segment: the one asked for last, or one of
  // those kept every kStartStride segments.
  if (FStrideStarts.empty()) FStrideStarts.push_back({FFilmPalette, TCursorRec{}});
  const size_t kept = std::min(size_t(index) / kStartStride, FStrideStarts.size() - 1);
  int32_t from = FLastStartIndex;
  if (from < 0 || from > index || size_t(from) < kept * kStartStride) {
    from = int32_t(kept * kStartStride);
    FLastStart = FStrideStarts[kept];
  }
  for (int32_t i = from; i < index; ++i) {
    PlayThrough(*FSegments[size_t(i)], FLastStart);
    if (size_t(i + 1) == FStrideStarts.size() * kStartStride) FStrideStarts.push_back(FLastStart);
  }
  FLastStartIndex = index;
  return FLastStart;
}

void TPlaybackCore::ForgetStartStates() {
  FStrideStarts.clear();
  FLastStartIndex = -1;
}

bool TPlaybackCore::AtSegmentStart() {
  const TSegmentStart& start = StartState(FCurSegment);
  return start.Palette == FPalette && start.Cursor == FCursorRec;
}

void TPlaybackCore::TakeStartState() {
  const TSegmentStart& start = StartState(FCurSegment);
  FPalette = start.Palette;
  FCursorRec = start.Cursor;
  FCanonical = true;
}

void TPlaybackCore::RestartSegment() {
  Rewind();
  ClearSurfaces();
  RestartTracks();
  TakeStartState();
}

TResult TPlaybackCore::SeekFrame(TFramePos pos) {
  if (pos.Segment < 0 || size_t(pos.Segment) >= FSegments.size()) return kResultOutOfIndexBound;
  const int32_t frameCount = FSegments[size_t(pos.Segment)]->FrameCount;
  if (pos.Frame < 0 || pos.Frame >= frameCount) return kResultOutOfIndexBound;
  if (!FFrameBuffer) return kResultSegmentIsNil;
  const bool loaded =
      FLoadedSegment == pos.Segment && FCurSegment == pos.Segment && FPicture && FFrameImage;
  // The frame sought is shown, and the step to the frame after it has been taken.
  if (loaded && FCanonical && FComposed == pos &&
      (FSegmentEnded || (FFrameIndex == pos.Frame + 1 && FFrameIndex < frameCount))) {
    FHost.SetProgress(PlayedFrames());
    return kResultOk;
  }
  if (!loaded) {
    FCurSegment = pos.Segment;
    const TResult r = SetCurSegment();
    if (r != kResultOk) return r;
    TakeStartState();
  }
  // Frames are deltas and only play forwards: from the picture shown when the frame lies
  // ahead of it, from the last checkpoint before the frame when that is nearer, or from the
  // segment's start.
  const bool ahead = FCanonical && !FSegmentEnded &&
                     (FComposed ? FComposed->Frame < pos.Frame : FFrameIndex == 0);
  const int32_t shown = FComposed ? FComposed->Frame : -1;
  const TCheckpoint* checkpoint = FCheckpoints.Before(pos.Segment, pos.Frame);
  bool restored = false;
  if (checkpoint && (!ahead || checkpoint->FrameIndex > shown))
    restored = RestoreCheckpoint(*checkpoint);
  if (!restored && !ahead) RestartSegment();
  for (bool composed = restored;; composed = false) {
    if (!composed) {
      const int stops = FStops;
      DecodeFrame();
      if (FStops != stops || !HasCurrentSegment()) {
        // Reported by the decoder; the next seek starts the segment afresh.
        FLoadedSegment = -1;
        return FLastResult != kResultOk ? FLastResult : kResultFrameIsNil;
      }
      ComposeFrame();
      FComposed = TFramePos{FCurSegment, FFrameIndex};
      NoteComposed();
    }
    const bool reached = FFrameIndex >= pos.Frame;
    const TResult r = NextFrame();
    if (r == kResultOutOfIndexBound) {
      FSegmentEnded = true;
      break;
    }
    if (r != kResultOk) return r;
    if (reached) break;
  }
  FHost.SetProgress(PlayedFrames());
  return kResultOk;
}

void TPlaybackCore::NoteComposed() {
  const int64_t before = FWork;
  FWork += FFrameWork;
  // Only a segment played as seeks play it, whose frames are in the buffer and whose frame
  // went all the way into the picture, has checkpoints taken; not the ticks that play on past
  // its last frame when a film that ended is not started again.
  if (!FCanonical || FLoadedSegment != FCurSegment || !HasCurrentSegment() || FPendingRuns ||
      !FPicture || !FFrameImage || !FCursorArea || FFrameIndex >= CurrentSegment().FrameCount)
    return;
  if (FCheckpoints.Wanted(FCurSegment, FPicture->SizeBytes(), before, FWork, FFrameIndex))
    TakeCheckpoint(before);
}

void TPlaybackCore::TakeCheckpoint(int64_t workBefore) {
  try {
    auto c = std::make_unique<TCheckpoint>();
    c->FrameIndex = FFrameIndex;
    c->CurFrame = FCurFrame;
    c->Work = FWork;
    c->FrameWork = FWork - workBefore;
    c->Palette = FPalette;
    const Segment& segment = CurrentSegment();
    c->PalettePosition = segment.PaletteStream ? segment.PaletteStream->Position() : 0;
    c->CursorPosition = FCursorStream->Position();
    c->CursorIndex = FCursorRec.Index, c->CursorX = FCursorRec.X, c->CursorY = FCursorRec.Y;
    c->CursorLeft = FCursorLeft, c->CursorTop = FCursorTop;
    c->SavedWidth = FSavedWidth, c->SavedHeight = FSavedHeight;
    c->CursorDrawn = FCursorDrawn;
    c->CursorAreaWidth = FCursorArea->Width(), c->CursorAreaHeight = FCursorArea->Height();
    c->CursorArea.assign(FCursorArea->Pixels().begin(), FCursorArea->Pixels().end());
    c->Picture.Pack(FPicture->Pixels(), FCheckpoints.Reference(FCurSegment, FPicture->Pixels()));
    c->FrameImageCurrent = FFrameImageCurrent;
    c->LastFullFrame = FLastFullFrame;
    if (FFrameImageCurrent) c->FrameImage.Pack(FFrameImage->Pixels(), {});
    FCheckpoints.Add(FCurSegment, std::move(c));
  } catch (const std::bad_alloc&) {
    // Without this checkpoint seeks only cost more.
  }
}

bool TPlaybackCore::RestoreCheckpoint(const TCheckpoint& c) {
  if (!HasCurrentSegment() || !FPicture || !FFrameImage) return false;
  const bool indexed = FFilmBits == 8;
  if (!FCursorArea || FCursorArea->Width() != c.CursorAreaWidth ||
      FCursorArea->Height() != c.CursorAreaHeight) {
    auto area = TRasterBitmap::Create(c.CursorAreaWidth, c.CursorAreaHeight, indexed ? 8 : 32);
    if (!area) return false;
    if (indexed) area->SetColorTable(FPalette);
    FCursorArea = std::move(area);
  }
  if (FCursorArea->SizeBytes() != c.CursorArea.size() ||
      !c.Picture.Unpack(FPicture->Pixels(), FCheckpoints.Reference(FCurSegment)) ||
      (c.FrameImageCurrent && !c.FrameImage.Unpack(FFrameImage->Pixels(), {})))
    return false;
  std::memcpy(FCursorArea->Bits(), c.CursorArea.data(), c.CursorArea.size());
  FCurFrame = c.CurFrame;
  FFrameIndex = c.FrameIndex;
  FComposed = TFramePos{FCurSegment, c.FrameIndex};
  FSegmentEnded = false;
  FPendingRuns.reset();
  FPalette = c.Palette;
  if (indexed) FPicture->SetColorTable(FPalette);
  Segment& segment = CurrentSegment();
  if (segment.PaletteStream) segment.PaletteStream->SetPosition(c.PalettePosition);
  FCursorStream->SetPosition(c.CursorPosition);
  FCursorRec = {c.CursorIndex, c.CursorX, c.CursorY};
  FCursorLeft = c.CursorLeft, FCursorTop = c.CursorTop;
  FSavedWidth = c.SavedWidth, FSavedHeight = c.SavedHeight;
  FCursorDrawn = c.CursorDrawn;
  FFrameImageCurrent = c.FrameImageCurrent;
  FLastFullFrame = c.LastFullFrame;
  FWork = c.Work;
  FCanonical = true;
  return true;
}

// ---- Checkpoints handed from a second core ----

std::vector<int32_t> THandedCheckpoints::Frames() const {
  std::vector<int32_t> frames;
  for (const auto& c : FCheckpoints.Items) frames.push_back(c->FrameIndex);
  return frames;
}

int64_t TPlaybackCore::EstimatedWork(const Segment& segment) const {
  return int64_t(segment.SegStream.Size()) + std::max(segment.FrameCount, 0) * kFrameStepWork;
}

void TPlaybackCore::ShareCheckpointBudget() {
  std::vector<int64_t> work;
  work.reserve(FSegments.size());
  for (const auto& segment : FSegments) work.push_back(EstimatedWork(*segment));
  FCheckpoints.ShareByWork(std::move(work));
}

void TPlaybackCore::SetFilmPalette(const TColorTable& palette) {
  FPalette = FFilmPalette = palette;
  // Every segment starts from another state now: what was worked out or kept from the old
  // one no longer holds.
  ForgetStartStates();
  const bool shared = FCheckpoints.Shared();
  FCheckpoints.Reset(FSegments.size());
  if (shared) ShareCheckpointBudget();
  FCanonical = false;
}

THandedCheckpoints TPlaybackCore::TakeCheckpoints(int32_t segment) {
  THandedCheckpoints handed;
  if (segment < 0 || size_t(segment) >= FSegments.size()) return handed;
  // Taken out even when there are none: with a shared budget the segment is done with.
  TSegmentCheckpoints taken = FCheckpoints.Take(segment);
  if (taken.Empty()) return handed;
  const Segment& s = *FSegments[size_t(segment)];
  const TSegmentStart& start = StartState(segment);
  handed.FSegment = segment;
  handed.FCursorShown = FCursorShown;
  handed.FFrameBufferSize = FFrameBufferSize;
  handed.FStartPalette = start.Palette;
  handed.FStartCursor = start.Cursor;
  handed.FWidth = s.Width, handed.FHeight = s.Height, handed.FBitsPerPixel = s.BitsPerPixel;
  handed.FFrames = s.SegStream;
  handed.FTrack = s.CursStream;
  handed.FCheckpoints = std::move(taken);
  return handed;
}

bool TPlaybackCore::AdoptCheckpoints(THandedCheckpoints&& handed) {
  const int32_t index = handed.FSegment;
  if (handed.Empty() || index < 0 || size_t(index) >= FSegments.size()) return false;
  const Segment& s = *FSegments[size_t(index)];
  const auto same = [](const TMemoryStream& a, const TMemoryStream& b) {
    return a.Data() == b.Data() && a.Size() == b.Size();
  };
  if (handed.FCursorShown != FCursorShown ||
      handed.FFrameBufferSize != FFrameBufferSize || !FFrameBuffer || handed.FWidth != s.Width ||
      handed.FHeight != s.Height || handed.FBitsPerPixel != s.BitsPerPixel ||
      !same(handed.FFrames, s.SegStream) || !same(handed.FTrack, s.CursStream) ||
      FCheckpoints.HasAdopted(index))
    return false;
  // Last, as it may play through the tracks of the segments before.
  const TSegmentStart& start = StartState(index);
  if (handed.FStartPalette != start.Palette || handed.FStartCursor != start.Cursor) return false;
  return FCheckpoints.Adopt(index, std::move(handed.FCheckpoints));
}
