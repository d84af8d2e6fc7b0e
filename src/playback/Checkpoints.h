// Checkpoints of the decoding state, which make seeking cheap.
//
// A film's frames are exclusive-or deltas, so a picture can only be reached by playing its
// segment from the start. A checkpoint holds everything the playback core needs to go on
// from a frame as if it had played up to it; a seek restores the last checkpoint at or
// before the frame sought and plays on from there.
//
// Where checkpoints go: every frame is given a cost, the bytes a decode of it touches (its
// runs, a constant for the cursor and the rest of the step, and the whole picture when the
// frame leaves part of the frame image as it was). The work from the segment's start to a
// frame is the sum of those costs. A checkpoint is taken after the frame whose work crosses
// a multiple of the segment's spacing, so reaching any frame from the checkpoint before it
// costs about one spacing at most, and the places do not depend on how playback got there.
//
// Memory: all checkpoints of all segments keep within one budget. A new checkpoint first
// pushes out the checkpoints of the segment used longest ago, then, if its own segment
// alone is over, the segment's spacing doubles and the checkpoints off the wider grid go.
// A segment takes memory here only once it has been played: a film's count of segments,
// which costs a few bytes each in the film, costs nothing.
//
// A whole film at once (ShareByWork): a pass that plays the film from its start to hand
// every segment's checkpoints to the player cannot let segments push each other out, or
// the last segments played would own the budget. Instead every segment gets a share of the
// budget in proportion to its work (the bytes its frames hold, and a step for each frame),
// and a segment over its share doubles its own spacing, as above, until it fits. A segment
// taken out (handed over) is done with: what its share left unused goes to the segments not
// yet taken out, by their work, so a film whose first segments pack small leaves the rest
// room. The shares of the segments not taken out add up to what those taken out left of the
// budget, so all segments' checkpoints fit in it together after the pass. A
// segment's spacing comes to about the film's work over the budget times what one of its
// checkpoints takes (within a factor of two), and never closer than playing spaces them:
// close where pictures pack small (a calm screen), far apart where they do not (noise), and
// wider the longer the film. A segment whose share would hold fewer than four pictures keeps
// no reference: each of its pictures is packed on its own, which makes a checkpoint larger
// but saves the whole picture a reference takes.
//
// Handing over (Take, Adopt): a segment's checkpoints are one value that owns its memory, so
// one store can give them to another on another thread. Own checkpoints, which playing made
// with the playing spacing, never push out adopted ones, and adopted ones replace them.
//
// Pictures are packed in chunks, each against a reference (the picture of the segment's
// first checkpoint): a chunk the same as the reference costs nothing, one that changed
// little is its exclusive-or with the reference compressed with LZ4, and one that does not
// compress (noise) is kept as it is, so that it unpacks at the speed of a copy.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <vector>

#include "raster/URaster.h"

// Bytes packed in chunks; see above.
class TPackedBytes {
 public:
  // Packs `bytes`; `reference` is empty or as long as `bytes`.
  void Pack(std::span<const uint8_t> bytes, std::span<const uint8_t> reference);
  // Unpacks into `out`, as long as the bytes packed, with the same reference; false when
  // they do not fit together.
  bool Unpack(std::span<uint8_t> out, std::span<const uint8_t> reference) const;
  size_t Size() const { return FSize; }
  // The memory the packed bytes take.
  size_t MemoryBytes() const;

 private:
  enum class TChunkKind : uint8_t { SameAsReference, Plain, Lz4, Lz4AgainstReference };
  struct TChunk {
    TChunkKind Kind = TChunkKind::Plain;
    uint32_t Stored = 0;  // bytes in FData
  };
  size_t FSize = 0;
  std::vector<TChunk> FChunks;
  std::vector<uint8_t> FData;
};

// The decoding state after a frame has been composed, while the frame buffer still points
// at that frame (before the step to the next one).
struct TCheckpoint {
  int32_t FrameIndex = 0;
  int64_t CurFrame = 0;
  int64_t Work = 0;       // the work from the segment's start up to and including this frame
  int64_t FrameWork = 0;  // this frame's part of it
  TColorTable Palette{};
  size_t PalettePosition = 0;
  size_t CursorPosition = 0;
  // The cursor record and the area saved under the cursor drawn into the picture.
  uint16_t CursorIndex = 0, CursorX = 0, CursorY = 0;
  int32_t CursorLeft = 0, CursorTop = 0, SavedWidth = 0, SavedHeight = 0;
  bool CursorDrawn = false;
  int32_t CursorAreaWidth = 0, CursorAreaHeight = 0;
  std::vector<uint8_t> CursorArea;
  // The picture as composed, cursor included.
  TPackedBytes Picture;
  // The frame image when it is current; otherwise it lags behind LastFullFrame, whose runs
  // cover the whole frame and rebuild it.
  bool FrameImageCurrent = true;
  int64_t LastFullFrame = -1;
  TPackedBytes FrameImage;

  size_t MemoryBytes() const;
};

// One segment's checkpoints and the reference their pictures are packed against. A value
// that owns its memory: moved between stores, and between threads, as it is.
struct TSegmentCheckpoints {
  int64_t Spacing = 0;  // 0: not yet known
  std::vector<uint8_t> Reference;
  std::vector<std::unique_ptr<TCheckpoint>> Items;  // by frame
  size_t Bytes = 0;     // the memory all of it takes
  uint64_t LastUse = 0;
  bool Adopted = false;  // handed over from another store

  bool Empty() const { return Items.empty(); }
};

class TCheckpointStore {
 public:
  // The memory all checkpoints may take unless SetBudget says otherwise.
  static constexpr size_t kDefaultBudget = size_t{64} << 20;

  // Forgets every checkpoint; room for `segments` segments.
  void Reset(size_t segments);
  // Room for more segments; the checkpoints kept stay.
  void Resize(size_t segments);
  void SetBudget(size_t bytes);
  // The memory all checkpoints take, references included.
  size_t Bytes() const { return FBytes; }

  // Whether a checkpoint belongs after a frame whose work runs from workBefore to workAfter
  // in a segment whose pictures have `pictureBytes` bytes, and none is there yet.
  bool Wanted(int32_t segment, size_t pictureBytes, int64_t workBefore, int64_t workAfter,
              int32_t frame);
  // The picture a segment's checkpoints are packed against: `picture` itself for the first.
  std::span<const uint8_t> Reference(int32_t segment, std::span<const uint8_t> picture);
  // Keeps a checkpoint, making room as described above; false when it cannot be kept.
  bool Add(int32_t segment, std::unique_ptr<TCheckpoint> checkpoint);
  // The last checkpoint at or before `frame`; nothing when there is none.
  const TCheckpoint* Before(int32_t segment, int32_t frame);
  std::span<const uint8_t> Reference(int32_t segment) const;

  // The frames of a segment's checkpoints, in order (for tests).
  std::vector<int32_t> Frames(int32_t segment) const;
  int64_t Spacing(int32_t segment) const;

  // Shares the budget among all segments by their work, one figure a segment (see above),
  // until the next Reset or Resize.
  void ShareByWork(std::vector<int64_t> work);
  bool Shared() const { return !FWork.empty(); }
  // Whether a segment has checkpoints, and whether they were adopted.
  bool Has(int32_t segment) const;
  bool HasAdopted(int32_t segment) const;
  // Takes a segment's checkpoints out of the store; empty when it has none.
  TSegmentCheckpoints Take(int32_t segment);
  // Keeps checkpoints another store took out for `segment`, in place of the segment's own,
  // pushing out other segments' own checkpoints first and adopted ones, used longest ago,
  // after them. Refused, with nothing changed, when they are empty, the segment is not in
  // the film, it has adopted checkpoints already or they are over the whole budget.
  bool Adopt(int32_t segment, TSegmentCheckpoints&& checkpoints);

 private:
  // The segment's checkpoints, made when first asked for; nothing for a segment not in the film.
  TSegmentCheckpoints* Find(int32_t segment);
  const TSegmentCheckpoints* Find(int32_t segment) const;
  void Forget(TSegmentCheckpoints& segment);
  // Doubles a segment's spacing and drops the checkpoints off the wider grid.
  void Widen(TSegmentCheckpoints& segment);
  // The segment with checkpoints used longest ago, `keep` (if given) aside; adopted ones
  // only with `adopted`, and only when no segment has own checkpoints.
  TSegmentCheckpoints* LeastRecentlyUsed(const TSegmentCheckpoints* keep, bool adopted = false);
  // A segment's share of the budget when the budget is shared by work; the budget otherwise.
  size_t Share(int32_t segment) const;

  size_t FSegmentCount = 0;
  std::map<int32_t, TSegmentCheckpoints> FSegments;  // by segment: those played
  size_t FBudget = kDefaultBudget;
  size_t FBytes = 0;
  uint64_t FUses = 0;
  // By segment, when the budget is shared by work; 0 once a segment has been taken out.
  std::vector<int64_t> FWork;
  int64_t FTotalWork = 0;     // of the segments not taken out
  size_t FHandedBytes = 0;    // what the segments taken out took with them
};
