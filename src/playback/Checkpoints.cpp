#include "playback/Checkpoints.h"

#include <lz4.h>

#include <algorithm>
#include <cstring>

namespace {

// Chunks small enough to stay in the cache between unpacking and combining with the reference.
constexpr size_t kChunkBytes = size_t{128} << 10;
// A checkpoint is taken at least every this much work, however small the pictures are.
constexpr int64_t kMinSpacing = int64_t{64} << 10;
// A segment whose share of a shared budget holds fewer pictures than this keeps no reference.
constexpr size_t kReferenceShare = 4;

void XorInto(uint8_t* out, const uint8_t* with, size_t n) {
  for (size_t i = 0; i < n; ++i) out[i] ^= with[i];
}

}  // namespace

// ---- TPackedBytes ----

void TPackedBytes::Pack(std::span<const uint8_t> bytes, std::span<const uint8_t> reference) {
  FSize = bytes.size();
  FChunks.clear();
  FData.clear();
  std::vector<uint8_t> delta(std::min(kChunkBytes, bytes.size()));
  std::vector<uint8_t> packed(static_cast<size_t>(LZ4_compressBound(int(kChunkBytes))));
  // Compressing pays when it saves an eighth at least; less is not worth the unpacking.
  const auto compress = [&](const uint8_t* from, size_t n, TChunkKind kind) {
    const int size = LZ4_compress_default(reinterpret_cast<const char*>(from),
                                          reinterpret_cast<char*>(packed.data()), int(n),
                                          int(packed.size()));
    if (size <= 0 || size_t(size) >= n - n / 8) return false;
    FData.insert(FData.end(), packed.begin(), packed.begin() + size);
    FChunks.push_back({kind, uint32_t(size)});
    return true;
  };
  for (size_t at = 0; at < bytes.size(); at += kChunkBytes) {
    const size_t n = std::min(kChunkBytes, bytes.size() - at);
    const uint8_t* chunk = bytes.data() + at;
    if (!reference.empty()) {
      const uint8_t* base = reference.data() + at;
      if (std::memcmp(chunk, base, n) == 0) {
        FChunks.push_back({TChunkKind::SameAsReference, 0});
        continue;
      }
      std::memcpy(delta.data(), chunk, n);
      XorInto(delta.data(), base, n);
      if (compress(delta.data(), n, TChunkKind::Lz4AgainstReference)) continue;
    }
    if (compress(chunk, n, TChunkKind::Lz4)) continue;
    FData.insert(FData.end(), chunk, chunk + n);
    FChunks.push_back({TChunkKind::Plain, uint32_t(n)});
  }
  FData.shrink_to_fit();
  FChunks.shrink_to_fit();
}

bool TPackedBytes::Unpack(std::span<uint8_t> out, std::span<const uint8_t> reference) const {
  if (out.size() != FSize) return false;
  const uint8_t* data = FData.data();
  size_t at = 0;
  for (const TChunk& chunk : FChunks) {
    const size_t n = std::min(kChunkBytes, FSize - at);
    uint8_t* to = out.data() + at;
    const bool againstReference =
        chunk.Kind == TChunkKind::SameAsReference || chunk.Kind == TChunkKind::Lz4AgainstReference;
    if (againstReference && reference.size() != FSize) return false;
    switch (chunk.Kind) {
      case TChunkKind::SameAsReference:
        std::memcpy(to, reference.data() + at, n);
        break;
      case TChunkKind::Plain:
        std::memcpy(to, data, n);
        break;
      case TChunkKind::Lz4:
      case TChunkKind::Lz4AgainstReference:
        if (LZ4_decompress_safe(reinterpret_cast<const char*>(data), reinterpret_cast<char*>(to),
                                int(chunk.Stored), int(n)) != int(n))
          return false;
        if (chunk.Kind == TChunkKind::Lz4AgainstReference) XorInto(to, reference.data() + at, n);
        break;
    }
    data += chunk.Stored;
    at += n;
  }
  return at == FSize;
}

size_t TPackedBytes::MemoryBytes() const {
  return FData.capacity() + FChunks.capacity() * sizeof(TChunk);
}

size_t TCheckpoint::MemoryBytes() const {
  return sizeof(*this) + CursorArea.capacity() + Picture.MemoryBytes() + FrameImage.MemoryBytes();
}

// ---- TCheckpointStore ----

namespace {

// Whether the frame whose work runs from workBefore to workAfter crosses a multiple of spacing.
bool OnGrid(int64_t workBefore, int64_t workAfter, int64_t spacing) {
  return workBefore / spacing < workAfter / spacing;
}

}  // namespace

void TCheckpointStore::Reset(size_t segments) {
  FSegments.clear();
  FSegmentCount = segments;
  FBytes = 0;
  FWork.clear();
  FTotalWork = 0;
  FHandedBytes = 0;
}

void TCheckpointStore::Resize(size_t segments) {
  FSegmentCount = std::max(FSegmentCount, segments);
  // Shares made for fewer segments leave none for the new ones.
  FWork.clear();
  FTotalWork = 0;
  FHandedBytes = 0;
}

void TCheckpointStore::ShareByWork(std::vector<int64_t> work) {
  work.resize(FSegmentCount);
  FTotalWork = 0;
  FHandedBytes = 0;
  for (int64_t& w : work) {
    w = std::max<int64_t>(w, 1);
    FTotalWork += w;
  }
  FWork = std::move(work);
}

size_t TCheckpointStore::Share(int32_t segment) const {
  if (FWork.empty() || segment < 0 || size_t(segment) >= FWork.size()) return FBudget;
  if (!FTotalWork) return 0;
  // What segments taken out left of the budget goes to the others by their work; rounded
  // down, so that the shares add up to it at most.
  const uint64_t left = FBudget - std::min(FBudget, FHandedBytes);
  return size_t((unsigned __int128)left * uint64_t(FWork[size_t(segment)]) / uint64_t(FTotalWork));
}

void TCheckpointStore::SetBudget(size_t bytes) {
  FBudget = bytes;
  // Over the new budget: whole segments go, least recently used first.
  while (FBytes > FBudget) {
    TSegmentCheckpoints* oldest = LeastRecentlyUsed(nullptr, true);
    if (!oldest) break;
    Forget(*oldest);
  }
}

TSegmentCheckpoints* TCheckpointStore::Find(int32_t segment) {
  if (segment < 0 || size_t(segment) >= FSegmentCount) return nullptr;
  return &FSegments[segment];
}

const TSegmentCheckpoints* TCheckpointStore::Find(int32_t segment) const {
  const auto at = FSegments.find(segment);
  return at == FSegments.end() ? nullptr : &at->second;
}

bool TCheckpointStore::Wanted(int32_t segment, size_t pictureBytes, int64_t workBefore,
                              int64_t workAfter, int32_t frame) {
  TSegmentCheckpoints* s = Find(segment);
  if (!s) return false;
  // Reaching a frame from the checkpoint before it touches about four pictures' worth of
  // bytes, a few times what restoring the checkpoint costs; closer checkpoints would cost
  // more to take while playing than they save.
  if (!s->Spacing) s->Spacing = std::max(kMinSpacing, 4 * int64_t(pictureBytes));
  if (!OnGrid(workBefore, workAfter, s->Spacing)) return false;
  return std::none_of(s->Items.begin(), s->Items.end(),
                      [&](const auto& c) { return c->FrameIndex == frame; });
}

std::span<const uint8_t> TCheckpointStore::Reference(int32_t segment,
                                                     std::span<const uint8_t> picture) {
  TSegmentCheckpoints* s = Find(segment);
  if (!s) return {};
  if (s->Reference.empty() && !FWork.empty() && picture.size() > Share(segment) / kReferenceShare)
    return {};
  if (s->Reference.empty()) {
    s->Reference.assign(picture.begin(), picture.end());
    s->Bytes += s->Reference.capacity();
    FBytes += s->Reference.capacity();
  }
  return s->Reference;
}

std::span<const uint8_t> TCheckpointStore::Reference(int32_t segment) const {
  const TSegmentCheckpoints* s = Find(segment);
  if (!s) return {};
  return s->Reference;
}

void TCheckpointStore::Forget(TSegmentCheckpoints& segment) {
  FBytes -= segment.Bytes;
  segment.Items.clear();
  // Handed back, not only emptied (assigning {} keeps the vector's memory): a picture for
  // every segment played would otherwise stay, whatever the budget.
  std::vector<uint8_t>().swap(segment.Reference);
  segment.Bytes = 0;
  segment.Adopted = false;
}

void TCheckpointStore::Widen(TSegmentCheckpoints& segment) {
  segment.Spacing *= 2;
  std::erase_if(segment.Items, [&](const std::unique_ptr<TCheckpoint>& c) {
    if (OnGrid(c->Work - c->FrameWork, c->Work, segment.Spacing)) return false;
    segment.Bytes -= c->MemoryBytes();
    FBytes -= c->MemoryBytes();
    return true;
  });
}

TSegmentCheckpoints* TCheckpointStore::LeastRecentlyUsed(const TSegmentCheckpoints* keep,
                                                         bool adopted) {
  TSegmentCheckpoints* oldest = nullptr;
  const auto older = [&](const TSegmentCheckpoints& s) {
    if (!oldest) return true;
    if (s.Adopted != oldest->Adopted) return !s.Adopted;
    return s.LastUse < oldest->LastUse;
  };
  for (auto& [number, segment] : FSegments)
    if (&segment != keep && segment.Bytes && (adopted || !segment.Adopted) && older(segment))
      oldest = &segment;
  return oldest;
}

bool TCheckpointStore::Add(int32_t segment, std::unique_ptr<TCheckpoint> checkpoint) {
  TSegmentCheckpoints* s = Find(segment);
  if (!s || !s->Spacing) return false;
  const size_t need = checkpoint->MemoryBytes();
  const size_t share = Share(segment);
  while (FBytes + need > FBudget || s->Bytes + need > share) {
    // With shares, a segment keeps to its own; otherwise others make room first.
    TSegmentCheckpoints* other = FWork.empty() ? LeastRecentlyUsed(s) : nullptr;
    if (other && FBytes + need > FBudget) {
      Forget(*other);
      continue;
    }
    // Handed checkpoints stay as the core that made them spaced them.
    if (s->Adopted) return false;
    if (s->Items.empty()) {
      // Not even one checkpoint fits beside the reference. With shares, the next one is
      // tried twice as far on, so that a segment whose share holds none does not pack a
      // picture at every step of the spacing for nothing.
      Forget(*s);
      if (!FWork.empty()) s->Spacing *= 2;
      return false;
    }
    Widen(*s);
    if (!OnGrid(checkpoint->Work - checkpoint->FrameWork, checkpoint->Work, s->Spacing)) {
      if (s->Items.empty()) Forget(*s);
      return false;
    }
  }
  s->Bytes += need;
  FBytes += need;
  s->LastUse = ++FUses;
  const auto at = std::upper_bound(
      s->Items.begin(), s->Items.end(), checkpoint->FrameIndex,
      [](int32_t frame, const std::unique_ptr<TCheckpoint>& c) { return frame < c->FrameIndex; });
  s->Items.insert(at, std::move(checkpoint));
  return true;
}

const TCheckpoint* TCheckpointStore::Before(int32_t segment, int32_t frame) {
  const auto found = FSegments.find(segment);
  if (found == FSegments.end()) return nullptr;
  TSegmentCheckpoints* s = &found->second;
  const auto at = std::upper_bound(
      s->Items.begin(), s->Items.end(), frame,
      [](int32_t f, const std::unique_ptr<TCheckpoint>& c) { return f < c->FrameIndex; });
  if (at == s->Items.begin()) return nullptr;
  s->LastUse = ++FUses;
  return std::prev(at)->get();
}

bool TCheckpointStore::Has(int32_t segment) const {
  const TSegmentCheckpoints* s = Find(segment);
  return s && !s->Items.empty();
}

bool TCheckpointStore::HasAdopted(int32_t segment) const {
  const TSegmentCheckpoints* s = Find(segment);
  return s && s->Adopted && !s->Items.empty();
}

TSegmentCheckpoints TCheckpointStore::Take(int32_t segment) {
  if (!FWork.empty() && segment >= 0 && size_t(segment) < FWork.size() && FWork[size_t(segment)]) {
    // Done with: its share, less what it hands over, goes to the segments still to come.
    FTotalWork -= FWork[size_t(segment)];
    FWork[size_t(segment)] = 0;
    if (const TSegmentCheckpoints* s = Find(segment)) FHandedBytes += s->Bytes;
  }
  const auto at = FSegments.find(segment);
  if (at == FSegments.end()) return {};
  TSegmentCheckpoints taken = std::move(at->second);
  FSegments.erase(at);
  FBytes -= taken.Bytes;
  if (taken.Items.empty()) return {};
  return taken;
}

bool TCheckpointStore::Adopt(int32_t segment, TSegmentCheckpoints&& checkpoints) {
  if (checkpoints.Items.empty() || segment < 0 || size_t(segment) >= FSegmentCount ||
      HasAdopted(segment) || checkpoints.Bytes > FBudget)
    return false;
  if (TSegmentCheckpoints* own = Find(segment)) Forget(*own);
  while (FBytes + checkpoints.Bytes > FBudget) {
    TSegmentCheckpoints* other = LeastRecentlyUsed(nullptr, true);
    if (!other) break;
    Forget(*other);
  }
  TSegmentCheckpoints& s = FSegments[segment];
  s = std::move(checkpoints);
  s.Adopted = true;
  s.LastUse = ++FUses;
  FBytes += s.Bytes;
  return true;
}

std::vector<int32_t> TCheckpointStore::Frames(int32_t segment) const {
  std::vector<int32_t> frames;
  if (const TSegmentCheckpoints* s = Find(segment))
    for (const auto& c : s->Items) frames.push_back(c->FrameIndex);
  return frames;
}

int64_t TCheckpointStore::Spacing(int32_t segment) const {
  const TSegmentCheckpoints* s = Find(segment);
  return s ? s->Spacing : 0;
}
