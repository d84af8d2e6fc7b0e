// CabMsSystem: libmspack's system over the FDI callbacks (see CabMsSystem.h).
#include "cabinet/CabMsSystem.h"

#include <cerrno>
#include <cstring>
#include <new>

#include "cabinet/CabVirtual.h"

namespace fdi {

namespace {

// libmspack's file objects: the output, or a reader of the virtual cabinet.
struct TMsFile {
  mspack_file Base;  // unused; libmspack treats the pointer as opaque
  TContext* Ctx;
  TVirtualCabinet* Cab;  // null for the output
  uint64_t Pos = 0;
};

// The context libmspack is working for. Its self pointer cannot lead there: for its
// decompressors libmspack copies the mspack_system struct and changes read and write. Every
// entry point of this layer sets the context for the thread while it runs, and libmspack
// calls back only from inside them.
thread_local TContext* GCurrentContext = nullptr;

TContext* ContextOf(mspack_system*) { return GCurrentContext; }
TMsFile* FileOf(mspack_file* file) { return reinterpret_cast<TMsFile*>(file); }

mspack_file* MsOpen(mspack_system* self, const char* filename, int mode) {
  TContext* ctx = ContextOf(self);
  TVirtualCabinet* cab = nullptr;  // null: the output
  if (mode == MSPACK_SYS_OPEN_READ && ctx->Virtual && filename == ctx->Virtual->Name.c_str()) {
    cab = ctx->Virtual;
  } else if (mode != MSPACK_SYS_OPEN_WRITE || filename != kOutputName || ctx->Output == -1) {
    return nullptr;
  }
  auto* file = new (std::nothrow) TMsFile{{}, ctx, cab, 0};
  return reinterpret_cast<mspack_file*>(file);
}

void MsClose(mspack_file* file) { delete FileOf(file); }  // the output is closed by its owner

int MsRead(mspack_file* file, void* buffer, int bytes) {
  TMsFile* f = FileOf(file);
  if (f->Cab == nullptr || bytes < 0) return -1;
  const int got = f->Cab->Read(*f->Ctx, f->Pos, buffer, bytes);
  if (got > 0) f->Pos += uint64_t(got);
  return got;
}

int MsWrite(mspack_file* file, void* buffer, int bytes) {
  TMsFile* f = FileOf(file);
  TContext* ctx = f->Ctx;
  if (f->Cab != nullptr || bytes < 0 || ctx->Output == -1) return -1;
  errno = 0;
  const uint32_t wrote = ctx->Write(ctx->Output, buffer, uint32_t(bytes));
  if (wrote == kFdiWriteComplete && bytes > 0) {
    // Written, and the file needs no more: a failed write is the one way to stop libmspack.
    ctx->OutputComplete = true;
    return -1;
  }
  if (wrote != uint32_t(bytes)) {
    ctx->OutputErrno = errno ? errno : EIO;
    return -1;
  }
  return bytes;
}

int MsSeek(mspack_file* file, off_t offset, int mode) {
  TMsFile* f = FileOf(file);
  if (f->Cab == nullptr) return -1;
  int64_t base = 0;
  switch (mode) {
    case MSPACK_SYS_SEEK_START:
      base = 0;
      break;
    case MSPACK_SYS_SEEK_CUR:
      base = int64_t(f->Pos);
      break;
    case MSPACK_SYS_SEEK_END:
      base = int64_t(f->Cab->Size);
      break;
    default:
      return -1;
  }
  const int64_t target = base + int64_t(offset);
  if (target < 0) return -1;
  f->Pos = uint64_t(target);
  return 0;
}

off_t MsTell(mspack_file* file) { return off_t(FileOf(file)->Pos); }

void MsMessage(mspack_file*, const char*, ...) {}  // libmspack's warnings are not shown

// libmspack's free gets no context, so each block carries its free callback in front.
constexpr size_t kAllocPrefix = 16;
constexpr size_t kMaxLibraryAlloc = size_t(64) << 20;

void* MsAlloc(mspack_system* self, size_t bytes) {
  TContext* ctx = ContextOf(self);
  if (bytes > kMaxLibraryAlloc) return nullptr;
  auto* block = static_cast<uint8_t*>(ctx->Alloc(uint32_t(bytes + kAllocPrefix)));
  if (block == nullptr) return nullptr;
  const PFNFREE freeFn = ctx->Free;
  std::memcpy(block, &freeFn, sizeof freeFn);
  return block + kAllocPrefix;
}

void MsFree(void* ptr) {
  if (ptr == nullptr) return;
  uint8_t* block = static_cast<uint8_t*>(ptr) - kAllocPrefix;
  PFNFREE freeFn;
  std::memcpy(&freeFn, block, sizeof freeFn);
  freeFn(block);
}

void MsCopy(void* src, void* dest, size_t bytes) { std::memcpy(dest, src, bytes); }

}  // namespace

TContextScope::TContextScope(TContext* ctx) : FPrevious(GCurrentContext) { GCurrentContext = ctx; }
TContextScope::~TContextScope() { GCurrentContext = FPrevious; }

mspack_system MsSystem() {
  return mspack_system{MsOpen,    MsClose, MsRead, MsWrite, MsSeek, MsTell,
                       MsMessage, MsAlloc, MsFree, MsCopy,  nullptr};
}

FDIERROR MapLibraryError(int err) {
  switch (err) {
    case MSPACK_ERR_WRITE:
      return FDIERROR_TARGET_FILE;
    case MSPACK_ERR_NOMEMORY:
      return FDIERROR_ALLOC_FAIL;
    case MSPACK_ERR_DECRUNCH:
      return FDIERROR_MDI_FAIL;
    case MSPACK_ERR_OPEN:
    case MSPACK_ERR_READ:
    case MSPACK_ERR_SEEK:
    case MSPACK_ERR_SIGNATURE:
    case MSPACK_ERR_DATAFORMAT:
    case MSPACK_ERR_CHECKSUM:
      return FDIERROR_CORRUPT_CABINET;
    default:
      return FDIERROR_MDI_FAIL;
  }
}

bool ValidCompression(uint16_t type) {
  const int method = MSCABD_COMP_METHOD(type);
  const int level = MSCABD_COMP_LEVEL(type);
  switch (method) {
    case MSCAB_COMP_NONE:
    case MSCAB_COMP_MSZIP:
      return true;
    case MSCAB_COMP_QUANTUM:
      return level >= 10 && level <= 21;
    case MSCAB_COMP_LZX:
      return level >= 15 && level <= 21;
    default:
      return false;
  }
}

}  // namespace fdi
