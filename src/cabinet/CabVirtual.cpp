// CabVirtual: the virtual cabinet of one folder: its bytes as libmspack reads them, and how a
// copy gathers the folder's data blocks from the cabinets of the set and makes it.
#include "cabinet/CabVirtual.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <span>
#include <utility>
#include <vector>

#include "cabinet/CabCopy.h"
#include "cabinet/CabMsSystem.h"
#include "io/ByteReader.h"

namespace fdi {

namespace {

void Put16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(uint8_t(v));
  out.push_back(uint8_t(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
  Put16(out, uint16_t(v));
  Put16(out, uint16_t(v >> 16));
}

}  // namespace

int TVirtualCabinet::Read(TContext& ctx, uint64_t pos, void* dst, int n) {
  size_t done = 0;
  try {
    while (done < size_t(n) && pos < Size) {
      auto it = std::upper_bound(Segments.begin(), Segments.end(), pos,
                                 [](uint64_t p, const TSegment& s) { return p < s.Start; });
      --it;
      const uint64_t inSegment = pos - it->Start;
      const size_t take = size_t(std::min<uint64_t>(size_t(n) - done, it->Length - inSegment));
      uint8_t* out = static_cast<uint8_t*>(dst) + done;
      if (it->Member == nullptr) {
        std::memcpy(out, Memory.data() + it->Offset + inSegment, take);
      } else {
        const size_t got = ReadAt(ctx, it->Member->OpenHandle(), it->Offset + inSegment, out, take);
        done += got;
        if (got < take) break;  // the cabinet file is shorter than its blocks say
        pos += take;
        continue;
      }
      done += take;
      pos += take;
    }
  } catch (const TFdiFailure& failure) {
    ctx.InputErrno = failure.Errno;
    return -1;
  }
  return int(done);
}

void TVirtualCabinet::Lay(const std::vector<TVirtualBlock>& blocks, uint16_t compression,
                          uint8_t reserve, uint16_t setID) {
  // Header: no set flags, the data reserve of the set, one folder and one empty file
  // (libmspack wants one). The files to extract are described to libmspack directly.
  const size_t filesOffset =
      kHeaderSize + (reserve ? kHeaderReserveFieldsSize : 0) + kFolderFixedSize;
  const size_t headerSize = filesOffset + kFileFixedSize + 2;
  uint64_t dataSize = 0;
  for (const TVirtualBlock& b : blocks) dataSize += kDataFixedSize + reserve + b.Data;
  const uint64_t total = headerSize + dataSize;
  if (total > UINT32_MAX) Fail(FDIERROR_CORRUPT_CABINET);

  std::vector<uint8_t> h;
  h.reserve(headerSize);
  h.insert(h.end(), {'M', 'S', 'C', 'F'});
  Put32(h, 0);
  Put32(h, uint32_t(total));
  Put32(h, 0);
  Put32(h, uint32_t(filesOffset));
  Put32(h, 0);
  h.push_back(3);
  h.push_back(1);
  Put16(h, 1);  // folders
  Put16(h, 1);  // files
  Put16(h, reserve ? kFlagReserve : 0);
  Put16(h, setID);
  Put16(h, 0);
  if (reserve) {
    Put16(h, 0);
    h.push_back(0);
    h.push_back(reserve);
  }
  Put32(h, uint32_t(headerSize));
  Put16(h, uint16_t(blocks.size()));
  Put16(h, compression);
  Put32(h, 0);  // the empty file
  Put32(h, 0);
  Put16(h, 0);
  Put16(h, 0x21);
  Put16(h, 0);
  Put16(h, 0);
  h.push_back('f');
  h.push_back(0);
  AddMemory(h.data(), h.size());

  for (const TVirtualBlock& b : blocks) {
    if (b.Pieces.size() == 1) {
      const TRawBlock& raw = *b.Pieces.front();
      AddRange(raw.Member, raw.HeaderPos, kDataFixedSize + reserve + raw.Data);
      continue;
    }
    // A joined block has no checksum: each part's sum covers only its own bytes.
    std::vector<uint8_t> joined;
    Put32(joined, 0);
    Put16(joined, uint16_t(b.Data));
    Put16(joined, b.Uncomp);
    joined.resize(joined.size() + reserve, 0);
    AddMemory(joined.data(), joined.size());
    for (const TRawBlock* piece : b.Pieces) AddRange(piece->Member, piece->DataPos, piece->Data);
  }
}

void DropVirtual(TContext& ctx) {
  if (ctx.Set == nullptr || !ctx.Set->Virtual) return;
  if (ctx.Set->Virtual->Cab) ctx.Cabd->close(ctx.Cabd, ctx.Set->Virtual->Cab);
  ctx.Virtual = nullptr;
  ctx.Set->Virtual.reset();
}

void ResetSet(TContext& ctx) {
  DropVirtual(ctx);
  delete ctx.Set;
  ctx.Set = nullptr;
}

// ---------------------------------------------------------------------------------------------
// The folder's data, gathered by a copy.

const TWalk& TCopy::Walk(const TPart& part) {
  const auto key = std::make_pair(part.Cabinet, part.Folder);
  auto it = Set().Walks.find(key);
  if (it != Set().Walks.end()) return it->second;

  TMember* m = Find(part.Cabinet);
  const TFolder& folder = m->FolderAt(part.Folder);
  TWalk walk;
  walk.Blocks.reserve(std::min<size_t>(folder.BlockCount, 4096));
  uint64_t pos = folder.DataOffset;
  const size_t headerSize = kDataFixedSize + m->DataReserve;
  uint8_t header[kDataFixedSize + 255];
  auto cutShort = [&] {
    if (!FSalvage) Fail(FDIERROR_CORRUPT_CABINET);
    walk.CutShort = true;
    FCutShortMet = true;
  };
  for (uint32_t i = 0; i < folder.BlockCount; ++i) {
    if (ReadAt(FCtx, m->OpenHandle(), pos, header, headerSize) != headerSize) {
      cutShort();
      break;
    }
    TByteReader r(std::span<const uint8_t>(header, headerSize));
    r.ReadU32();  // csum: libmspack tests it on blocks given in place
    TRawBlock block;
    block.Member = m;
    block.HeaderPos = pos;
    block.DataPos = pos + headerSize;
    block.Data = r.ReadU16();
    block.Uncomp = r.ReadU16();
    // Sizes no block can have are damage, not a cut.
    if (block.Data > kMaxBlockData || block.Uncomp > kMaxBlockUncomp) {
      Fail(FDIERROR_CORRUPT_CABINET);
    }
    if (block.DataPos + block.Data > m->Size) {
      cutShort();
      break;
    }
    walk.Blocks.push_back(block);
    pos = block.DataPos + block.Data;
  }
  return Set().Walks.emplace(key, std::move(walk)).first->second;
}

std::vector<TVirtualBlock> TCopy::Blocks(const std::vector<TPart>& parts, bool* cutShort) {
  std::vector<TVirtualBlock> out;
  TVirtualBlock pending;  // a split block being joined
  for (size_t p = 0; p < parts.size(); ++p) {
    const TMember* m = Find(parts[p].Cabinet);
    const bool mayContinue = parts[p].Folder == m->LastFolderIndex() && m->LastFolderContinues;
    const TWalk& walk = Walk(parts[p]);
    const std::vector<TRawBlock>& blocks = walk.Blocks;
    if (walk.CutShort && blocks.empty()) {
      if (cutShort) *cutShort = true;
      return out;  // a split block whose rest is cut off is left out
    }
    if (!pending.Pieces.empty() && blocks.empty()) Fail(FDIERROR_CORRUPT_CABINET);
    for (size_t b = 0; b < blocks.size(); ++b) {
      const TRawBlock& block = blocks[b];
      // Blocks before a cut are never a part's last, so never the first part of a split one.
      const bool lastOfPart = b + 1 == blocks.size() && !walk.CutShort;
      if (!pending.Pieces.empty() && b != 0) Fail(FDIERROR_CORRUPT_CABINET);
      pending.Pieces.push_back(&block);
      pending.Data += block.Data;
      if (pending.Data > kMaxBlockData) Fail(FDIERROR_CORRUPT_CABINET);
      if (block.Uncomp == 0) {
        // The first part of a split block: only the last block of a folder that goes on.
        if (!lastOfPart || !mayContinue) Fail(FDIERROR_CORRUPT_CABINET);
        continue;
      }
      pending.Uncomp = block.Uncomp;
      out.push_back(std::move(pending));
      pending = {};
      if (out.size() > kMaxFolderBlocks) Fail(FDIERROR_CORRUPT_CABINET);
    }
    if (walk.CutShort) {
      if (cutShort) *cutShort = true;
      return out;
    }
  }
  return out;
}

uint64_t TCopy::Available(const std::vector<TVirtualBlock>& blocks) {
  uint64_t total = 0;
  for (const TVirtualBlock& b : blocks) total += b.Uncomp;
  return total;
}

void TCopy::DropWalksOutside(const std::vector<TPart>& parts) {
  for (auto it = Set().Walks.begin(); it != Set().Walks.end();) {
    const TPart part{it->first.first, it->first.second};
    if (std::find(parts.begin(), parts.end(), part) == parts.end()) {
      it = Set().Walks.erase(it);
    } else {
      ++it;
    }
  }
}

uint16_t TCopy::FolderCompression(const std::vector<TPart>& parts) {
  const uint16_t compression =
      Find(parts.front().Cabinet)->FolderAt(parts.front().Folder).Compression;
  for (const TPart& part : parts) {
    if (Find(part.Cabinet)->FolderAt(part.Folder).Compression != compression) {
      Fail(FDIERROR_CORRUPT_CABINET);
    }
  }
  if (!ValidCompression(compression)) Fail(FDIERROR_BAD_COMPR_TYPE);
  return compression;
}

TVirtualCabinet& TCopy::Virtual(const std::vector<TPart>& parts) {
  if (Set().Virtual && Set().Virtual->Parts == parts) return *Set().Virtual;
  DropVirtual(FCtx);
  // Walks of folders no longer in use are dropped, so memory follows the current folder.
  DropWalksOutside(parts);
  const uint16_t compression = FolderCompression(parts);

  bool cutShort = false;
  const std::vector<TVirtualBlock> blocks = Blocks(parts, &cutShort);
  auto vc = std::make_unique<TVirtualCabinet>();
  vc->Parts = parts;
  vc->Available = Available(blocks);
  vc->CutShort = cutShort;
  vc->Lay(blocks, compression, FK->DataReserve, FK->SetID);

  Set().Virtual = std::move(vc);
  TVirtualCabinet& made = *Set().Virtual;
  FCtx.Virtual = &made;
  FCtx.InputErrno = 0;
  made.Cab = FCtx.Cabd->open(FCtx.Cabd, made.Name.c_str());
  if (made.Cab == nullptr) {
    const int err = FCtx.Cabd->last_error(FCtx.Cabd);
    Fail(MapLibraryError(err), FCtx.InputErrno);
  }
  if (made.Cab->folders == nullptr || made.Cab->folders->next != nullptr ||
      made.Cab->folders->num_blocks != blocks.size()) {
    Fail(FDIERROR_CORRUPT_CABINET);
  }
  return made;
}

}  // namespace fdi
