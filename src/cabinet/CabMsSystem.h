// CabMsSystem: libmspack's system (mspack_system) over the FDI callbacks of a context, and
// libmspack's codes as FDI's.
#pragma once

#include <mspack.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>

#include "cabinet/CabContext.h"

namespace fdi {

// Sets the context libmspack calls back for while an entry point of the layer runs.
class TContextScope {
 public:
  explicit TContextScope(TContext* ctx);
  ~TContextScope();
  TContextScope(const TContextScope&) = delete;
  TContextScope& operator=(const TContextScope&) = delete;

 private:
  TContext* FPrevious;
};

mspack_file* MsOpen(mspack_system* self, const char* filename, int mode);
void MsClose(mspack_file* file);
int MsRead(mspack_file* file, void* buffer, int bytes);
int MsWrite(mspack_file* file, void* buffer, int bytes);
int MsSeek(mspack_file* file, off_t offset, int mode);
off_t MsTell(mspack_file* file);
void MsMessage(mspack_file*, const char*, ...);
void* MsAlloc(mspack_system* self, size_t bytes);
void MsFree(void* ptr);
void MsCopy(void* src, void* dest, size_t bytes);

FDIERROR MapLibraryError(int err);
bool ValidCompression(uint16_t type);

}  // namespace fdi
