// What the playback tests, benchmarks and fuzz targets look at inside the core beyond what the
// front ends use: a film built segment by segment, the steps of a frame one by one, the frame
// image, the run layout of a video mode, the surfaces' rebuilds, the cursor and its track, the
// step to the next segment and the checkpoints.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "playback/UzrPlayback.h"

struct TPlaybackProbe {
  static constexpr int32_t kCursorSize = TPlaybackCore::kCursorSize;  // the system cursor size
  // Adds a segment at the end of the film; the first one added becomes current.
  static void AddSegment(TPlaybackCore& core, std::unique_ptr<Segment> segment) {
    core.AddSegment(std::move(segment));
  }
  // The steps of a frame, which TimerPlayTimer takes in turn.
  static TResult Rewind(TPlaybackCore& core) { return core.Rewind(); }
  static TResult NextFrame(TPlaybackCore& core) { return core.NextFrame(); }
  static void DecodeFrame(TPlaybackCore& core) { core.DecodeFrame(); }
  static void ComposeFrame(TPlaybackCore& core) { core.ComposeFrame(); }
  static int64_t PlayedFrames(const TPlaybackCore& core) { return core.PlayedFrames(); }
  // The frame image as the last decoded frame left it.
  static const TRasterBitmap* FrameImage(TPlaybackCore& core) { return core.FrameImage(); }
  // Offset of the current frame record in the frame buffer; -1 when there is none.
  static int64_t CurFrame(const TPlaybackCore& core) { return core.CurFrame(); }
  // The cursor record of the frame composed last, and where its saved area lies.
  static const TCursorRec& CursorRec(const TPlaybackCore& core) { return core.CursorRec(); }
  static int32_t CursorLeft(const TPlaybackCore& core) { return core.CursorLeft(); }
  static int32_t CursorTop(const TPlaybackCore& core) { return core.CursorTop(); }
  // Every frame expanded into the frame image first (false), or whole frames straight into the
  // picture (the default); the pictures are the same.
  static void SetStraightComposition(TPlaybackCore& core, bool on) { core.SetStraightComposition(on); }
  // The memory the checkpoints may take, and the memory they take.
  static void SetCheckpointBudget(TPlaybackCore& core, size_t bytes) { core.SetCheckpointBudget(bytes); }
  static size_t CheckpointBytes(const TPlaybackCore& core) { return core.CheckpointBytes(); }
  static void SelectVideoMode(TPlaybackCore& core, int bits) { core.SelectVideoMode(bits); }
  static int PixelBytes(const TPlaybackCore& core) { return core.FPixelBytes; }
  static int ValueBytes(const TPlaybackCore& core) { return core.FValueBytes; }
  static int RunCountBytes(const TPlaybackCore& core) { return core.FRunCountBytes; }
  static int64_t RowBytes(const TPlaybackCore& core) { return core.FRowBytes; }
  // How many times the surfaces have been built.
  static int SurfaceBuilds(const TPlaybackCore& core) { return core.FSurfaceBuilds; }
  static const TMemoryStream& CursorTrack(const TPlaybackCore& core) { return *core.FCursorStream; }
  static TResult NextSegment(TPlaybackCore& core) { return core.NextSegment(); }
  // The frames of a segment's checkpoints, in order.
  static std::vector<int32_t> CheckpointFrames(const TPlaybackCore& core, int32_t segment) {
    return core.FCheckpoints.Frames(segment);
  }
  // A segment's spacing of checkpoints, in work; 0 when not yet known.
  static int64_t CheckpointSpacing(const TPlaybackCore& core, int32_t segment) {
    return core.FCheckpoints.Spacing(segment);
  }
};
