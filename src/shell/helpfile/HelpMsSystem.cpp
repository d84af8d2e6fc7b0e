#include "shell/helpfile/HelpMsSystem.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

// libmspack's file objects: a reader of an input, or the writer of an output.
struct TMsFile {
  const THelpMsInput* Input = nullptr;  // null for an output
  THelpMsOutput* Output = nullptr;
  uint64_t Pos = 0;
};

TMsFile* FileOf(mspack_file* file) { return reinterpret_cast<TMsFile*>(file); }

mspack_file* MsOpen(mspack_system*, const char* name, int mode) {
  TMsFile* file = nullptr;
  if (mode == MSPACK_SYS_OPEN_READ)
    file = new (std::nothrow) TMsFile{reinterpret_cast<const THelpMsInput*>(name), nullptr, 0};
  else if (mode == MSPACK_SYS_OPEN_WRITE)
    file = new (std::nothrow) TMsFile{nullptr, reinterpret_cast<THelpMsOutput*>(const_cast<char*>(name)), 0};
  return reinterpret_cast<mspack_file*>(file);
}

void MsClose(mspack_file* file) { delete FileOf(file); }

int MsRead(mspack_file* file, void* buffer, int bytes) {
  TMsFile* f = FileOf(file);
  if (!f->Input || bytes < 0) return -1;
  if (f->Pos >= f->Input->Size) return 0;
  const size_t got = std::min(size_t(bytes), size_t(f->Input->Size - f->Pos));
  std::memcpy(buffer, f->Input->Data + f->Pos, got);
  f->Pos += got;
  return int(got);
}

int MsWrite(mspack_file* file, void* buffer, int bytes) {
  TMsFile* f = FileOf(file);
  if (!f->Output || bytes < 0 || bytes > f->Output->Limit - f->Output->Bytes->size()) return -1;
  f->Output->Bytes->append(static_cast<const char*>(buffer), bytes);
  return bytes;
}

int MsSeek(mspack_file* file, off_t offset, int mode) {
  TMsFile* f = FileOf(file);
  if (!f->Input) return -1;
  int64_t base = 0;
  switch (mode) {
    case MSPACK_SYS_SEEK_START:
      break;
    case MSPACK_SYS_SEEK_CUR:
      base = int64_t(f->Pos);
      break;
    case MSPACK_SYS_SEEK_END:
      base = int64_t(f->Input->Size);
      break;
    default:
      return -1;
  }
  // Within the input or at its end; reading there gives nothing.
  if (offset < -base || offset > int64_t(f->Input->Size) - base) return -1;
  f->Pos = uint64_t(base + offset);
  return 0;
}

off_t MsTell(mspack_file* file) { return off_t(FileOf(file)->Pos); }

void MsMessage(mspack_file*, const char*, ...) {}  // libmspack's warnings are not shown

// Nothing libmspack keeps for a help file comes near this: its LZX window is 2 MiB at most.
constexpr size_t kMaxLibraryAlloc = size_t(16) << 20;

void* MsAlloc(mspack_system*, size_t bytes) { return bytes > kMaxLibraryAlloc ? nullptr : std::malloc(bytes); }

void MsFree(void* ptr) { std::free(ptr); }

void MsCopy(void* src, void* dest, size_t bytes) { std::memmove(dest, src, bytes); }

mspack_system gSystem{MsOpen, MsClose, MsRead, MsWrite, MsSeek, MsTell, MsMessage, MsAlloc, MsFree, MsCopy, nullptr};

}  // namespace

mspack_system* HelpMsSystem() { return &gSystem; }
