// CabIntf: the FDI-shaped layer over libmspack (see CabIntf.h).
//
// libmspack reads a single cabinet well, but its way of joining a set (append/prepend) keeps
// only the first cabinet's files of a folder that crosses a boundary, and it refuses a set in
// which the crossing files change from one boundary to the next. So this layer parses every
// cabinet header itself and gives libmspack one virtual cabinet per folder: a made-up
// header with that one folder (and one empty file, as libmspack wants one), then the
// folder's data blocks, read in place from the real cabinet files. A block that is split
// between two cabinets becomes one block. Each file to extract is described to libmspack by
// its public mscabd_file record (folder, offset, length). libmspack only decompresses. The
// set logic, the notifications and the errors belong to this layer.
//
// libmspack's codes map to FDI's: a write failure is FDIERROR_TARGET_FILE (with the write's
// errno), bad block sizes, checksums, truncated data and read failures FDIERROR_CORRUPT_CABINET,
// a decompression failure FDIERROR_MDI_FAIL, no memory FDIERROR_ALLOC_FAIL.
//
// Memory from package numbers: a cabinet's folder and file tables are read only after the
// header has been checked against the file's real size; cabinets other than the one being
// processed keep only their first and last folder; a virtual folder holds at most 65,535
// blocks (its count field is 16 bits); libmspack's single allocations are capped.
//
// The layer's parts: CabMember reads a cabinet file's header and tables, CabSetWalk finds the
// cabinets of a set a folder runs through, CabVirtual gathers the folder's data blocks into the
// virtual cabinet, CabMsSystem lets libmspack read and write through the callbacks, and CabCopy
// goes through the entries with their notifications. This file makes and ends the context and
// turns a copy's failure into the ERF record.
#include "cabinet/CabIntf.h"

#include <mspack.h>

#include <cerrno>
#include <new>
#include <stdexcept>

#include "cabinet/CabCopy.h"
#include "cabinet/CabMsSystem.h"

using namespace fdi;

namespace {

void SetError(ERF* erf, FDIERROR code, int err) {
  if (erf == nullptr) return;
  erf->erfOper = code;
  erf->erfType = err;
  erf->fError = 1;
}

}  // namespace

HFDI FDICreate(PFNALLOC pfnalloc, PFNFREE pfnfree, PFNOPEN pfnopen, PFNREAD pfnread,
               PFNWRITE pfnwrite, PFNCLOSE pfnclose, PFNSEEK pfnseek, int /*cpuType*/, ERF* perf) {
  if (perf) *perf = ERF{};
  if (!pfnalloc || !pfnfree || !pfnopen || !pfnread || !pfnwrite || !pfnclose || !pfnseek) {
    SetError(perf, FDIERROR_ALLOC_FAIL, 0);
    return nullptr;
  }
  int selftest = MSPACK_ERR_OK;
  MSPACK_SYS_SELFTEST(selftest);
  if (selftest != MSPACK_ERR_OK) {
    SetError(perf, FDIERROR_MDI_FAIL, 0);
    return nullptr;
  }
  void* memory = pfnalloc(sizeof(TContext));
  if (memory == nullptr) {
    SetError(perf, FDIERROR_ALLOC_FAIL, 0);
    return nullptr;
  }
  auto* ctx =
      new (memory) TContext{pfnalloc, pfnfree, pfnopen, pfnread, pfnwrite, pfnclose, pfnseek, perf};
  ctx->System.Sys = MsSystem();
  ctx->System.Ctx = ctx;
  TContextScope scope(ctx);
  ctx->Cabd = mspack_create_cab_decompressor(&ctx->System.Sys);
  if (ctx->Cabd == nullptr) {
    ctx->~TContext();
    pfnfree(memory);
    SetError(perf, FDIERROR_ALLOC_FAIL, 0);
    return nullptr;
  }
  return ctx;
}

bool FDICopy(HFDI hfdi, const char* pszCabinet, const char* pszCabPath, int flags,
             PFNFDINOTIFY pfnfdin, void* /*pfnfdid*/, void* pvUser) {
  auto* ctx = static_cast<TContext*>(hfdi);
  if (ctx == nullptr) return false;
  if (ctx->Erf) *ctx->Erf = ERF{};
  if (pfnfdin == nullptr) throw std::invalid_argument("FDICopy: no notification handler");
  TContextScope scope(ctx);
  try {
    TCopy copy(*ctx, pszCabinet ? pszCabinet : "", pszCabPath ? pszCabPath : "", flags, pfnfdin,
               pvUser);
    copy.Run();
    return true;
  } catch (const TFdiFailure& failure) {
    SetError(ctx->Erf, failure.Code, failure.Errno);
  } catch (const std::bad_alloc&) {
    SetError(ctx->Erf, FDIERROR_ALLOC_FAIL, ENOMEM);
  } catch (...) {
    // Not a cabinet error: a handler's or a callback's own exception, or a fault of this
    // layer. It goes on as it is, once the set is let go.
    ResetSet(*ctx);
    throw;
  }
  const int saved = errno;
  ResetSet(*ctx);  // after a failure nothing is kept
  errno = saved;
  return false;
}

bool FDIDestroy(HFDI hfdi) {
  auto* ctx = static_cast<TContext*>(hfdi);
  if (ctx == nullptr) return false;
  TContextScope scope(ctx);
  ResetSet(*ctx);
  if (ctx->Cabd) mspack_destroy_cab_decompressor(ctx->Cabd);
  const PFNFREE freeFn = ctx->Free;
  ctx->~TContext();
  freeFn(ctx);
  return true;
}
