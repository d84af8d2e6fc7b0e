// CabMsSystem: libmspack's system (mspack_system) over the FDI callbacks of a context, and
// libmspack's codes as FDI's.
#pragma once

#include <mspack.h>

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

// libmspack's system for the layer: files are the virtual cabinet being read and the target
// being written, memory comes from the context's callbacks. It works for the context a
// TContextScope set, not through its own address (libmspack copies it).
mspack_system MsSystem();

// libmspack's error code as an FDI error.
FDIERROR MapLibraryError(int err);
// Whether libmspack decompresses a folder of this compression type and level.
bool ValidCompression(uint16_t type);

}  // namespace fdi
