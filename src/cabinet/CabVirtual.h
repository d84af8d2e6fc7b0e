// CabVirtual: the virtual cabinet libmspack decompresses (one folder, perhaps gathered from
// several cabinet files of a set) and the state of a set kept between two FDICopy calls.
#pragma once

#include <mspack.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "cabinet/CabMember.h"

namespace fdi {

// ---------------------------------------------------------------------------------------------
// A virtual cabinet: one folder, perhaps gathered from several cabinet files.

// A part of a folder: folder Folder of the cabinet with set index Cabinet.
struct TPart {
  int Cabinet = 0;
  uint16_t Folder = 0;
  bool operator==(const TPart&) const = default;
};

// A data block as it lies in a cabinet file.
struct TRawBlock {
  TMember* Member = nullptr;
  uint64_t HeaderPos = 0;
  uint64_t DataPos = 0;
  uint16_t Data = 0;    // cbData
  uint16_t Uncomp = 0;  // cbUncomp; 0 for the first part of a split block
};

// The data blocks of one part as walked. CutShort: the cabinet file ends inside them (when
// salvaging; otherwise that fails), and Blocks holds the complete ones before the end.
struct TWalk {
  std::vector<TRawBlock> Blocks;
  bool CutShort = false;
};

// A block as libmspack gets it: in place, or joined from the parts of a split block.
struct TVirtualBlock {
  std::vector<const TRawBlock*> Pieces;  // one unless joined
  uint32_t Data = 0;
  uint16_t Uncomp = 0;
};

// Bytes of the virtual file: a run of a cabinet file, or of Memory (Member null).
struct TSegment {
  uint64_t Start = 0;
  uint64_t Length = 0;
  TMember* Member = nullptr;
  uint64_t Offset = 0;
};

struct TVirtualCabinet {
  std::string Name = "(folder of a cabinet set)";
  std::vector<TPart> Parts;
  std::vector<uint8_t> Memory;
  std::vector<TSegment> Segments;
  uint64_t Size = 0;
  uint64_t Available = 0;  // uncompressed bytes its blocks hold
  bool CutShort = false;   // a cabinet file ends inside the folder's data (when salvaging)
  mscabd_cabinet* Cab = nullptr;

  void AddMemory(const uint8_t* bytes, size_t n) {
    if (n == 0) return;
    Segments.push_back({Size, n, nullptr, Memory.size()});
    Memory.insert(Memory.end(), bytes, bytes + n);
    Size += n;
  }
  void AddRange(TMember* member, uint64_t offset, uint64_t n) {
    if (n == 0) return;
    if (!Segments.empty()) {
      TSegment& last = Segments.back();
      if (last.Member == member && last.Offset + last.Length == offset) {
        last.Length += n;
        Size += n;
        return;
      }
    }
    Segments.push_back({Size, n, member, offset});
    Size += n;
  }

  // Lays out the bytes: the header of a cabinet of one folder of these blocks, then the
  // blocks, each in place or joined from its pieces.
  void Lay(const std::vector<TVirtualBlock>& blocks, uint16_t compression, uint8_t reserve,
           uint16_t setID);

  // libmspack's read: a count, or -1 with the callback's errno in ctx.InputErrno.
  int Read(TContext& ctx, uint64_t pos, void* dst, int n);
};

// The cabinets of a set that are open, the walks of their folders and the virtual cabinet
// libmspack decompresses. Kept in the context from one FDICopy to the next while the last
// folder goes on into a cabinet already opened, so that the next FDICopy finds the earlier
// cabinets at hand and libmspack goes on decompressing where it stopped.
struct TSetState {
  std::map<int, std::unique_ptr<TMember>> Members;  // by set index
  std::map<std::pair<int, uint16_t>, TWalk> Walks;
  std::unique_ptr<TVirtualCabinet> Virtual;
};

void DropVirtual(TContext& ctx);
void ResetSet(TContext& ctx);

}  // namespace fdi
