// CabContext: what the parts of the FDI-like layer (CabIntf) share: the cabinet format's
// sizes and flags, the failure that travels inside FDICopy, and the context FDICreate makes.
#pragma once

#include <mspack.h>

#include <cstddef>
#include <cstdint>

#include "cabinet/CabIntf.h"

namespace fdi {

// ---------------------------------------------------------------------------------------------
// The format.

constexpr size_t kHeaderSize = 36;
constexpr size_t kHeaderReserveFieldsSize = 4;
constexpr size_t kFolderFixedSize = 8;
constexpr size_t kFileFixedSize = 16;
constexpr size_t kDataFixedSize = 8;
constexpr size_t kMaxStringSize = 256;  // 255 bytes and the NUL
constexpr uint16_t kFlagPrev = 0x0001;
constexpr uint16_t kFlagNext = 0x0002;
constexpr uint16_t kFlagReserve = 0x0004;
constexpr uint16_t kFolderFromPrev = 0xFFFD;
constexpr uint16_t kFolderToNext = 0xFFFE;
constexpr uint16_t kFolderPrevAndNext = 0xFFFF;
constexpr uint16_t kAttribExec = 0x40;
// Compressed bytes in one block (libmspack's CAB_INPUTMAX) and uncompressed (CAB_BLOCKMAX).
constexpr uint32_t kMaxBlockData = 32768 + 6144;
constexpr uint32_t kMaxBlockUncomp = 32768;
constexpr size_t kMaxFolderBlocks = 0xFFFF;

inline bool IsContinuedFromPrev(uint16_t folder) {
  return folder == kFolderFromPrev || folder == kFolderPrevAndNext;
}
inline bool IsContinuedToNext(uint16_t folder) {
  return folder == kFolderToNext || folder == kFolderPrevAndNext;
}

// Failures inside FDICopy travel as this and end up in the ERF record.
struct TFdiFailure {
  FDIERROR Code;
  int Errno;
};

[[noreturn]] inline void Fail(FDIERROR code, int err = 0) { throw TFdiFailure{code, err}; }

// ---------------------------------------------------------------------------------------------
// The context and libmspack's view of the callbacks.

struct TContext;
struct TVirtualCabinet;
struct TSetState;

struct TSystem {
  mspack_system Sys;
  TContext* Ctx;
};

struct TContext {
  PFNALLOC Alloc;
  PFNFREE Free;
  PFNOPEN Open;
  PFNREAD Read;
  PFNWRITE Write;
  PFNCLOSE Close;
  PFNSEEK Seek;
  ERF* Erf;
  TSystem System{};
  mscab_decompressor* Cabd = nullptr;
  TVirtualCabinet* Virtual = nullptr;  // the one cabinet libmspack may open for reading
  TSetState* Set = nullptr;            // cabinets kept open while a folder goes on (CabVirtual.h)
  INT_PTR Output = -1;                 // where libmspack writes the file being extracted
  int OutputErrno = 0;
  bool OutputComplete = false;         // the write callback wants no more of the file
  int InputErrno = 0;
};

// The name libmspack is given for the output; recognised by address.
inline constexpr char kOutputName[] = "(target)";

}  // namespace fdi
