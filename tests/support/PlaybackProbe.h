// What the playback tests look at inside the core beyond what the front ends use: the run
// layout of a video mode, the surfaces' rebuilds, the cursor track's position, the step to
// the next segment and the checkpoints of a segment.
#pragma once

#include <cstdint>
#include <vector>

#include "playback/UzrPlayback.h"

struct TPlaybackProbe {
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
};
