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
#include "cabinet/CabIntf.h"

#include <mspack.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "cabinet/CabTargets.h"
#include "io/ByteReader.h"

namespace {

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
constexpr size_t kMaxLibraryAlloc = size_t(64) << 20;
constexpr size_t kInputBufferSize = 64 * 1024;

bool IsContinuedFromPrev(uint16_t folder) {
  return folder == kFolderFromPrev || folder == kFolderPrevAndNext;
}
bool IsContinuedToNext(uint16_t folder) {
  return folder == kFolderToNext || folder == kFolderPrevAndNext;
}

// Failures inside FDICopy travel as this and end up in the ERF record.
struct TFdiFailure {
  FDIERROR Code;
  int Errno;
};

[[noreturn]] void Fail(FDIERROR code, int err = 0) { throw TFdiFailure{code, err}; }

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
  TSetState* Set = nullptr;            // cabinets kept open while a folder goes on (below)
  INT_PTR Output = -1;                 // where libmspack writes the file being extracted
  int OutputErrno = 0;
  int InputErrno = 0;
};

// The name libmspack is given for the output; recognised by address.
const char kOutputName[] = "(target)";

// Reads up to n bytes at offset through the callbacks; short only at the end of the file.
size_t ReadAt(TContext& ctx, INT_PTR handle, uint64_t offset, void* dst, size_t n) {
  if (offset > uint64_t(LONG_MAX)) Fail(FDIERROR_CORRUPT_CABINET);
  errno = 0;
  if (ctx.Seek(handle, long(offset), FDI_SEEK_SET) != long(offset)) {
    Fail(FDIERROR_CORRUPT_CABINET, errno);
  }
  size_t got = 0;
  while (got < n) {
    const uint32_t want = uint32_t(std::min<size_t>(n - got, size_t(1) << 30));
    errno = 0;
    const uint32_t r = ctx.Read(handle, static_cast<uint8_t*>(dst) + got, want);
    if (r == uint32_t(-1)) Fail(FDIERROR_CORRUPT_CABINET, errno);
    if (r == 0 || r > want) break;
    got += r;
  }
  return got;
}

// ---------------------------------------------------------------------------------------------
// One cabinet file of the set, with its parsed header.

struct TFolder {
  uint32_t DataOffset = 0;  // coffCabStart
  uint16_t BlockCount = 0;  // cCFData
  uint16_t Compression = 0;
};

struct TEntry {
  std::string Name;
  uint32_t Size = 0;
  uint32_t Offset = 0;  // in the uncompressed folder, counted from its start in its first cabinet
  uint16_t Folder = 0;  // iFolder as stored
  uint16_t Date = 0;
  uint16_t Time = 0;
  uint16_t Attribs = 0;
};

// Sequential reading of a cabinet file through a buffer, for the header tables.
class TInput {
 public:
  TInput(TContext& ctx, INT_PTR handle, uint64_t size)
      : FCtx(ctx), FHandle(handle), FSize(size), FBuffer(kInputBufferSize) {}

  uint64_t Position() const { return FPos; }
  void SeekTo(uint64_t pos) { FPos = std::min(pos, FSize); }
  bool Skip(uint64_t n) {
    if (n > FSize - FPos) return false;
    FPos += n;
    return true;
  }

  // A view of the next n bytes (n at most the buffer size), or false when the file ends first.
  bool Take(size_t n, std::span<const uint8_t>& out) {
    if (n > FSize - FPos || !Ensure(n)) return false;
    out = std::span<const uint8_t>(FBuffer.data() + (FPos - FBufferStart), n);
    FPos += n;
    return true;
  }

  // A NUL-terminated string of at most 255 bytes.
  bool TakeString(std::string& s) {
    const size_t avail = size_t(std::min<uint64_t>(kMaxStringSize, FSize - FPos));
    if (avail == 0 || !Ensure(avail)) return false;
    const uint8_t* p = FBuffer.data() + (FPos - FBufferStart);
    const void* nul = std::memchr(p, 0, avail);
    if (nul == nullptr) return false;
    const size_t len = size_t(static_cast<const uint8_t*>(nul) - p);
    s.assign(reinterpret_cast<const char*>(p), len);
    FPos += len + 1;
    return true;
  }

 private:
  bool Ensure(size_t n) {
    if (FPos >= FBufferStart && FPos + n <= FBufferStart + FBufferLength) return true;
    FBufferStart = FPos;
    FBufferLength = ReadAt(FCtx, FHandle, FPos, FBuffer.data(),
                           size_t(std::min<uint64_t>(FBuffer.size(), FSize - FPos)));
    return FBufferLength >= n;
  }

  TContext& FCtx;
  INT_PTR FHandle;
  uint64_t FSize;
  uint64_t FPos = 0;
  std::vector<uint8_t> FBuffer;
  uint64_t FBufferStart = 0;
  size_t FBufferLength = 0;
};

class TMember {
 public:
  // Opens the cabinet file; a failure is FDIERROR_CABINET_NOT_FOUND with the open's errno.
  TMember(TContext& ctx, std::string path, std::string folder)
      : FCtx(ctx), Path(std::move(path)), Folder(std::move(folder)) {
    OpenHandle();
  }
  ~TMember() { Release(); }

  // The open handle, opened again when it was let go between two FDICopy calls.
  INT_PTR OpenHandle() {
    if (Handle == -1) {
      errno = 0;
      Handle = FCtx.Open(Path.c_str(), FDI_O_BINARY | FDI_O_RDONLY | FDI_O_SEQUENTIAL, 0);
      if (Handle == -1) Fail(FDIERROR_CABINET_NOT_FOUND, errno);
    }
    return Handle;
  }
  void Release() {
    if (Handle != -1) FCtx.Close(Handle);
    Handle = -1;
  }
  TMember(const TMember&) = delete;
  TMember& operator=(const TMember&) = delete;

  // Reads and checks the header, folder and file tables. Only the cabinet being processed
  // keeps its whole tables (keepTables); the others keep what the set logic needs.
  void Parse(bool keepTables) {
    PrevName.clear();
    PrevDisk.clear();
    NextName.clear();
    NextDisk.clear();
    FirstFolderContinued = LastFolderContinues = false;
    DropTables();
    const INT_PTR handle = OpenHandle();
    errno = 0;
    const long end = FCtx.Seek(handle, 0, FDI_SEEK_END);
    if (end < 0) Fail(FDIERROR_CORRUPT_CABINET, errno);
    Size = uint64_t(end);

    TInput in(FCtx, handle, Size);
    std::span<const uint8_t> bytes;
    if (!in.Take(4, bytes) || std::memcmp(bytes.data(), "MSCF", 4) != 0) {
      Fail(FDIERROR_NOT_A_CABINET);
    }
    if (!in.Take(kHeaderSize - 4, bytes)) Fail(FDIERROR_CORRUPT_CABINET);
    TByteReader header(bytes);
    header.Skip(4);    // reserved1
    header.ReadU32();  // cbCabinet: the data is found through the offsets, not the total
    header.Skip(4);    // reserved2
    const uint32_t filesOffset = header.ReadU32();
    header.Skip(4);   // reserved3
    header.ReadU8();  // minor version
    const uint8_t major = header.ReadU8();
    FolderCount = header.ReadU16();
    FileCount = header.ReadU16();
    Flags = header.ReadU16();
    SetID = header.ReadU16();
    Index = header.ReadU16();
    if (major != 1) Fail(FDIERROR_UNKNOWN_CABINET_VERSION);

    if (Flags & kFlagReserve) {
      if (!in.Take(kHeaderReserveFieldsSize, bytes)) Fail(FDIERROR_CORRUPT_CABINET);
      TByteReader reserve(bytes);
      HeaderReserve = reserve.ReadU16();
      FolderReserve = reserve.ReadU8();
      DataReserve = reserve.ReadU8();
      if (!in.Skip(HeaderReserve)) Fail(FDIERROR_CORRUPT_CABINET);
    }
    if (Flags & kFlagPrev) {
      if (!in.TakeString(PrevName) || !in.TakeString(PrevDisk)) Fail(FDIERROR_CORRUPT_CABINET);
    }
    if (Flags & kFlagNext) {
      if (!in.TakeString(NextName) || !in.TakeString(NextDisk)) Fail(FDIERROR_CORRUPT_CABINET);
    }

    // The folder table follows the header; check its whole extent before reading it.
    const size_t folderSize = kFolderFixedSize + FolderReserve;
    if (uint64_t(FolderCount) * folderSize > Size - in.Position()) Fail(FDIERROR_CORRUPT_CABINET);
    if (keepTables) Folders.reserve(FolderCount);
    for (uint32_t i = 0; i < FolderCount; ++i) {
      if (!in.Take(folderSize, bytes)) Fail(FDIERROR_CORRUPT_CABINET);
      TByteReader r(bytes);
      TFolder folder;
      folder.DataOffset = r.ReadU32();
      folder.BlockCount = r.ReadU16();
      folder.Compression = r.ReadU16();
      if (i == 0) FirstFolder = folder;
      if (i + 1 == FolderCount) LastFolder = folder;
      if (keepTables) Folders.push_back(folder);
    }

    // Each file entry takes at least its fixed part and a NUL.
    if (filesOffset > Size || uint64_t(FileCount) * (kFileFixedSize + 1) > Size - filesOffset) {
      Fail(FDIERROR_CORRUPT_CABINET);
    }
    in.SeekTo(filesOffset);
    if (keepTables) Entries.reserve(FileCount);
    for (uint32_t i = 0; i < FileCount; ++i) {
      if (!in.Take(kFileFixedSize, bytes)) Fail(FDIERROR_CORRUPT_CABINET);
      TByteReader r(bytes);
      TEntry entry;
      entry.Size = r.ReadU32();
      entry.Offset = r.ReadU32();
      entry.Folder = r.ReadU16();
      entry.Date = r.ReadU16();
      entry.Time = r.ReadU16();
      entry.Attribs = r.ReadU16();
      if (!in.TakeString(entry.Name)) Fail(FDIERROR_CORRUPT_CABINET);
      if (entry.Folder < kFolderFromPrev) {
        if (entry.Folder >= FolderCount) Fail(FDIERROR_CORRUPT_CABINET);
      } else {
        // A continuation names the first or last folder, so there must be one, and the
        // header must name the neighbour it continues into.
        if (FolderCount == 0) Fail(FDIERROR_CORRUPT_CABINET);
        if (IsContinuedFromPrev(entry.Folder)) {
          if (!(Flags & kFlagPrev)) Fail(FDIERROR_CORRUPT_CABINET);
          FirstFolderContinued = true;
        }
        if (IsContinuedToNext(entry.Folder)) {
          if (!(Flags & kFlagNext)) Fail(FDIERROR_CORRUPT_CABINET);
          LastFolderContinues = true;
        }
      }
      if (keepTables) Entries.push_back(std::move(entry));
    }
  }

  // Keeps only what the set logic needs of a cabinet that is no longer the processed one.
  void DropTables() {
    std::vector<TFolder>().swap(Folders);
    std::vector<TEntry>().swap(Entries);
  }
  bool HasTables() const { return Folders.size() == FolderCount; }

  const TFolder& FolderAt(uint16_t i) const {
    if (i == 0) return FirstFolder;
    if (i + 1 == FolderCount) return LastFolder;
    return Folders.at(i);
  }
  uint16_t LastFolderIndex() const { return uint16_t(FolderCount - 1); }

  // The folder of an entry: continuations name the first or the last one.
  uint16_t FolderOf(const TEntry& entry) const {
    if (entry.Folder < kFolderFromPrev) return entry.Folder;
    return IsContinuedFromPrev(entry.Folder) ? 0 : LastFolderIndex();
  }

 private:
  TContext& FCtx;

 public:
  std::string Path;
  std::string Folder;   // where the file was found, ending in '/' unless empty
  INT_PTR Handle = -1;  // -1 while let go
  uint64_t Size = 0;
  uint16_t FolderCount = 0;
  uint16_t FileCount = 0;
  uint16_t Flags = 0;
  uint16_t SetID = 0;
  uint16_t Index = 0;
  uint16_t HeaderReserve = 0;
  uint8_t FolderReserve = 0;
  uint8_t DataReserve = 0;
  std::string PrevName, PrevDisk, NextName, NextDisk;
  TFolder FirstFolder, LastFolder;
  std::vector<TFolder> Folders;       // whole table only when kept
  std::vector<TEntry> Entries;        // only when kept
  bool FirstFolderContinued = false;  // the first folder began in the previous cabinet
  bool LastFolderContinues = false;   // the last folder goes on in the next cabinet
};

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

  // libmspack's read: a count, or -1 with the callback's errno in ctx.InputErrno.
  int Read(TContext& ctx, uint64_t pos, void* dst, int n) {
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
          const size_t got =
              ReadAt(ctx, it->Member->OpenHandle(), it->Offset + inSegment, out, take);
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

class TContextScope {
 public:
  explicit TContextScope(TContext* ctx) : FPrevious(GCurrentContext) { GCurrentContext = ctx; }
  ~TContextScope() { GCurrentContext = FPrevious; }
  TContextScope(const TContextScope&) = delete;
  TContextScope& operator=(const TContextScope&) = delete;

 private:
  TContext* FPrevious;
};

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

void Put16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(uint8_t(v));
  out.push_back(uint8_t(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
  Put16(out, uint16_t(v));
  Put16(out, uint16_t(v >> 16));
}

// ---------------------------------------------------------------------------------------------
// One FDICopy.

class TCopy {
 public:
  TCopy(TContext& ctx, std::string name, std::string path, int flags, PFNFDINOTIFY notify,
        void* user)
      : FCtx(ctx),
        FName(std::move(name)),
        FPath(std::move(path)),
        FSalvage((flags & kFdiCopySalvageCutShort) != 0),
        FNotify(notify),
        FUser(user) {}

  void Run() {
    OpenProcessed();
    TellCabinetInfo(*FK, FPath);

    for (size_t j = 0; j < FK->Entries.size(); ++j) {
      const TEntry& entry = FK->Entries[j];
      if (IsContinuedFromPrev(entry.Folder)) {
        std::string name = entry.Name, prev = FK->PrevName, disk = FK->PrevDisk;
        FDINOTIFICATION n = Record();
        n.psz1 = name.data();
        n.psz2 = prev.data();
        n.psz3 = disk.data();
        Tell(fdintPARTIAL_FILE, n);
        continue;
      }

      if (FSalvage && LiesPastCut(entry)) Fail(FDIERROR_CORRUPT_CABINET);

      std::string name = entry.Name;
      FDINOTIFICATION n = Record();
      n.psz1 = name.data();
      n.cb = int32_t(entry.Size);
      n.date = entry.Date;
      n.time = entry.Time;
      n.attribs = entry.Attribs;
      n.iFolder = entry.Folder;
      const INT_PTR hf = Tell(fdintCOPY_FILE, n);
      if (hf == 0) continue;

      ExtractEntry(entry, hf);

      name = entry.Name;
      FDINOTIFICATION c = Record();
      c.psz1 = name.data();
      c.hf = hf;
      c.date = entry.Date;
      c.time = entry.Time;
      c.attribs = entry.Attribs;
      c.iFolder = entry.Folder;
      c.cb = (entry.Attribs & kAttribExec) ? 1 : 0;
      if (Tell(fdintCLOSE_FILE_INFO, c) == 0) Fail(FDIERROR_TARGET_FILE);
    }
    // Salvaging never hides a cut: one that only skipped files met still fails the copy.
    if (FCutShortMet) Fail(FDIERROR_CORRUPT_CABINET);

    // The set is kept only while its folder goes on into a cabinet opened already, and
    // then without open files: they are opened again when needed.
    if (Set().Members.upper_bound(FK->Index) == Set().Members.end()) {
      ResetSet(FCtx);
    } else {
      FK->DropTables();
      for (auto& [index, member] : Set().Members) member->Release();
    }
  }

 private:
  TSetState& Set() { return *FCtx.Set; }

  // The cabinet to process: one kept open from the FDICopy before, or opened now.
  void OpenProcessed() {
    const std::string full = FPath + FName;
    TMember* kept = nullptr;
    if (FCtx.Set) {
      for (auto& [index, member] : FCtx.Set->Members) {
        if (member->Path == full) kept = member.get();
      }
    }
    if (kept != nullptr) {
      const int index = kept->Index;
      kept->Parse(true);
      if (kept->Index != index) Fail(FDIERROR_CORRUPT_CABINET);  // changed under us
      // A virtual cabinet over a middle folder of a cabinet no longer processed would need
      // that cabinet's full tables again: such a one is let go.
      const TVirtualCabinet* vc = Set().Virtual.get();
      if (vc != nullptr) {
        for (const TPart& part : vc->Parts) {
          const TMember* m = Find(part.Cabinet);
          if (m != kept && part.Folder != 0 && part.Folder != m->LastFolderIndex()) {
            DropVirtual(FCtx);
            break;
          }
        }
      }
      FK = kept;
      // Cabinets before the start of this cabinet's first folder are not needed any more.
      int keepFrom = FK->Index;
      if (FK->FirstFolderContinued) {
        for (int i = FK->Index - 1; i >= 0; --i) {
          const TMember* m = Find(i);
          if (m == nullptr) break;
          keepFrom = i;
          if (!(m->FolderCount == 1 && m->FirstFolderContinued)) break;
        }
      }
      if (Set().Virtual && Set().Virtual->Parts.front().Cabinet < keepFrom) DropVirtual(FCtx);
      for (auto it = Set().Walks.begin(); it != Set().Walks.end();) {
        it = it->first.first < keepFrom ? Set().Walks.erase(it) : std::next(it);
      }
      Set().Members.erase(Set().Members.begin(), Set().Members.lower_bound(keepFrom));
      return;
    }
    ResetSet(FCtx);
    FCtx.Set = new TSetState;
    auto owned = std::make_unique<TMember>(FCtx, full, FPath);
    owned->Parse(true);
    FK = owned.get();
    Set().Members.emplace(FK->Index, std::move(owned));
  }

  FDINOTIFICATION Record() const {
    FDINOTIFICATION n;
    n.pv = FUser;
    n.setID = FK->SetID;
    n.iCabinet = FK->Index;
    return n;
  }

  // Sends a notification. -1 from the handler stops the copy: with the error the handler put
  // in fdie in place of the one it was given (and errno as it stands), else with `otherwise`,
  // which is FDIERROR_USER_ABORT unless the caller knows better.
  INT_PTR Tell(FDINOTIFICATIONTYPE type, FDINOTIFICATION& n,
               const TFdiFailure& otherwise = {FDIERROR_USER_ABORT, 0}) {
    const FDIERROR given = n.fdie;
    errno = 0;
    const INT_PTR result = FNotify(type, &n);
    if (result != -1) return result;
    if (n.fdie != given && n.fdie != FDIERROR_NONE) Fail(n.fdie, errno);
    throw otherwise;
  }

  // fdintCABINET_INFO for cabinet m, found in folder.
  void TellCabinetInfo(const TMember& m, std::string folder) {
    std::string next = m.NextName, disk = m.NextDisk;
    FDINOTIFICATION n = Record();
    n.psz1 = next.data();
    n.psz2 = disk.data();
    n.psz3 = folder.data();
    n.setID = m.SetID;
    n.iCabinet = m.Index;
    Tell(fdintCABINET_INFO, n);
  }

  TMember* Find(int index) {
    auto it = Set().Members.find(index);
    return it == Set().Members.end() ? nullptr : it->second.get();
  }

  // Opens folder + name as the cabinet at set index `index`. It must belong to the set and go
  // on with the folder that crosses into it: its last folder continues into the next cabinet
  // when it comes before, its first began in the one before when it comes after.
  std::unique_ptr<TMember> OpenNeighbour(const std::string& folder, const std::string& name,
                                         int index, bool before) {
    auto m = std::make_unique<TMember>(FCtx, folder + name, folder);
    m->Parse(false);
    if (m->SetID != FK->SetID || int(m->Index) != index) Fail(FDIERROR_WRONG_CABINET);
    if (m->FolderReserve != FK->FolderReserve || m->DataReserve != FK->DataReserve) {
      Fail(FDIERROR_RESERVE_MISMATCH);
    }
    if (!(before ? m->LastFolderContinues : m->FirstFolderContinued)) {
      Fail(FDIERROR_WRONG_CABINET);
    }
    return m;
  }

  TMember& Keep(std::unique_ptr<TMember> m) {
    TMember& ref = *m;
    Set().Members.emplace(ref.Index, std::move(m));
    return ref;
  }

  void CheckSetSize() {
    if (Set().Members.size() >= size_t(kFdiMaxSetCabinets)) Fail(FDIERROR_CORRUPT_CABINET);
  }

  // The cabinet before `cur`, opened from the name `cur` gives, in the same folder.
  TMember& Previous(const TMember& cur) {
    if (TMember* m = Find(int(cur.Index) - 1)) return *m;
    if (cur.Index == 0) Fail(FDIERROR_CORRUPT_CABINET);
    if (!IsBareName(cur.PrevName)) Fail(FDIERROR_CABINET_NOT_FOUND);
    CheckSetSize();
    return Keep(OpenNeighbour(cur.Folder, cur.PrevName, int(cur.Index) - 1, true));
  }

  // The cabinet after `cur`, asked for with fdintNEXT_CABINET.
  TMember& Next(const TMember& cur) {
    if (!(cur.Flags & kFlagNext) || !IsBareName(cur.NextName)) Fail(FDIERROR_CABINET_NOT_FOUND);
    if (cur.Index == 0xFFFF) Fail(FDIERROR_WRONG_CABINET);
    CheckSetSize();
    const int index = int(cur.Index) + 1;
    std::string folder = cur.Folder;
    TFdiFailure last{FDIERROR_NONE, 0};
    for (int attempt = 0; attempt < kFdiMaxCabinetAttempts; ++attempt) {
      if (folder.size() >= size_t(kFdiMaxCabPath)) Fail(FDIERROR_CABINET_NOT_FOUND, ENAMETOOLONG);
      char buffer[kFdiMaxCabPath] = {};
      std::memcpy(buffer, folder.data(), folder.size());
      std::string name = cur.NextName, disk = cur.NextDisk;
      FDINOTIFICATION n = Record();
      n.psz1 = name.data();
      n.psz2 = disk.data();
      n.psz3 = buffer;
      n.fdie = last.Code;
      // -1 after a failed attempt gives up: that attempt's error stands.
      Tell(fdintNEXT_CABINET, n,
           last.Code != FDIERROR_NONE ? last : TFdiFailure{FDIERROR_USER_ABORT, 0});
      buffer[kFdiMaxCabPath - 1] = '\0';
      folder = buffer;
      if (!folder.empty() && folder.back() != '/') folder += '/';

      std::unique_ptr<TMember> m;
      try {
        m = OpenNeighbour(folder, cur.NextName, index, false);
      } catch (const TFdiFailure& failure) {
        last = failure;
        continue;
      }
      TMember& ref = Keep(std::move(m));
      TellCabinetInfo(ref, folder);
      return ref;
    }
    throw last;
  }

  // The data blocks of one part, walked once and kept while the folder is in use. The file
  // ending inside them fails, or when salvaging ends the walk at the last complete block.
  const TWalk& Walk(const TPart& part) {
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

  // The blocks of a folder made of parts, split blocks joined; a split block at the very end
  // (its next part not at hand) is left out. A part cut short ends the folder there, and
  // cutShort (when given) tells so.
  std::vector<TVirtualBlock> Blocks(const std::vector<TPart>& parts, bool* cutShort = nullptr) {
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

  static uint64_t Available(const std::vector<TVirtualBlock>& blocks) {
    uint64_t total = 0;
    for (const TVirtualBlock& b : blocks) total += b.Uncomp;
    return total;
  }

  // The parts of the folder that holds folder f of the processed cabinet, enough of them to
  // reach needEnd uncompressed bytes.
  std::vector<TPart> PartsFor(uint16_t f, uint64_t needEnd) {
    std::vector<TPart> parts{{FK->Index, f}};
    if (f == 0 && FK->FirstFolderContinued) {
      const TMember* cur = FK;
      for (;;) {
        TMember& prev = Previous(*cur);
        parts.insert(parts.begin(), TPart{prev.Index, prev.LastFolderIndex()});
        if (prev.FolderCount == 1 && prev.FirstFolderContinued) {
          cur = &prev;
          continue;
        }
        break;
      }
    }
    if (f == FK->LastFolderIndex() && FK->LastFolderContinues) {
      const TMember* cur = FK;
      for (;;) {
        // Data cut short ends the folder: nothing after the cut is asked for.
        if (FSalvage && Walk(parts.back()).CutShort) break;
        // Continuation cabinets already at hand are used; new ones only when needed.
        TMember* next = Find(int(cur->Index) + 1);
        if (next == nullptr) {
          if (Available(Blocks(parts)) >= needEnd) break;
          next = &Next(*cur);
        }
        parts.push_back({next->Index, 0});
        if (next->FolderCount == 1 && next->LastFolderContinues) {
          cur = next;
          continue;
        }
        break;
      }
    }
    return parts;
  }

  // The virtual cabinet for the parts, made anew when they changed.
  TVirtualCabinet& Virtual(const std::vector<TPart>& parts) {
    if (Set().Virtual && Set().Virtual->Parts == parts) return *Set().Virtual;
    DropVirtual(FCtx);
    // Walks of folders no longer in use are dropped, so memory follows the current folder.
    for (auto it = Set().Walks.begin(); it != Set().Walks.end();) {
      const TPart part{it->first.first, it->first.second};
      if (std::find(parts.begin(), parts.end(), part) == parts.end()) {
        it = Set().Walks.erase(it);
      } else {
        ++it;
      }
    }

    const uint16_t compression =
        Find(parts.front().Cabinet)->FolderAt(parts.front().Folder).Compression;
    for (const TPart& part : parts) {
      if (Find(part.Cabinet)->FolderAt(part.Folder).Compression != compression) {
        Fail(FDIERROR_CORRUPT_CABINET);
      }
    }
    if (!ValidCompression(compression)) Fail(FDIERROR_BAD_COMPR_TYPE);

    bool cutShort = false;
    const std::vector<TVirtualBlock> blocks = Blocks(parts, &cutShort);
    auto vc = std::make_unique<TVirtualCabinet>();
    vc->Parts = parts;
    vc->Available = Available(blocks);
    vc->CutShort = cutShort;

    // Header: no set flags, the data reserve of the set, one folder and one empty file
    // (libmspack wants one). The files to extract are described to libmspack directly.
    const uint8_t reserve = FK->DataReserve;
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
    Put16(h, FK->SetID);
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
    vc->AddMemory(h.data(), h.size());

    for (const TVirtualBlock& b : blocks) {
      if (b.Pieces.size() == 1) {
        const TRawBlock& raw = *b.Pieces.front();
        vc->AddRange(raw.Member, raw.HeaderPos, kDataFixedSize + reserve + raw.Data);
        continue;
      }
      // A joined block has no checksum: each part's sum covers only its own bytes.
      std::vector<uint8_t> joined;
      Put32(joined, 0);
      Put16(joined, uint16_t(b.Data));
      Put16(joined, b.Uncomp);
      joined.resize(joined.size() + reserve, 0);
      vc->AddMemory(joined.data(), joined.size());
      for (const TRawBlock* piece : b.Pieces)
        vc->AddRange(piece->Member, piece->DataPos, piece->Data);
    }

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

  // Whether the entry's folder is known, from this cabinet, to be cut short before the entry's
  // first byte (an empty entry: before its offset), so that it is not started. Failures are
  // left for ExtractEntry to meet in their usual order.
  bool LiesPastCut(const TEntry& e) {
    try {
      const uint16_t f = FK->FolderOf(e);
      if (!Walk({FK->Index, f}).CutShort) return false;
      const uint64_t needEnd = uint64_t(e.Offset) + e.Size;
      const uint64_t available = Available(Blocks(PartsFor(f, needEnd)));
      return available < needEnd && available <= e.Offset;
    } catch (const TFdiFailure&) {
      return false;
    }
  }

  // Decompresses the entry into hf. On failure hf is closed here. When salvaging a folder cut
  // short, an entry past the end of its data gets what there is, then fails.
  void ExtractEntry(const TEntry& e, INT_PTR hf) {
    try {
      const uint16_t f = FK->FolderOf(e);
      const uint64_t needEnd = uint64_t(e.Offset) + e.Size;
      TVirtualCabinet& vc = Virtual(PartsFor(f, needEnd));
      uint32_t length = e.Size;
      const bool cutShort = vc.Available < needEnd;
      if (cutShort) {
        if (!vc.CutShort) Fail(FDIERROR_CORRUPT_CABINET);
        // MSZIP and stored blocks (and LZX and Quantum frames) decode in order, so the
        // complete blocks give a byte-exact prefix of the entry.
        length = uint32_t(vc.Available > e.Offset ? vc.Available - e.Offset : 0);
        // libmspack would first decode up to the entry's offset, which lies past the data.
        if (length == 0) Fail(FDIERROR_CORRUPT_CABINET);
      }

      // The file as libmspack's public record describes it: its folder (the virtual
      // cabinet's one), offset and length. libmspack only reads it.
      static char placeholder[] = "f";
      mscabd_file file{};
      file.filename = placeholder;
      file.length = length;
      file.folder = vc.Cab->folders;
      file.offset = e.Offset;

      FCtx.Output = hf;
      FCtx.OutputErrno = 0;
      FCtx.InputErrno = 0;
      const int err = FCtx.Cabd->extract(FCtx.Cabd, &file, kOutputName);
      FCtx.Output = -1;
      if (err != MSPACK_ERR_OK) {
        const FDIERROR code = MapLibraryError(err);
        Fail(code, code == FDIERROR_TARGET_FILE ? FCtx.OutputErrno : FCtx.InputErrno);
      }
      if (cutShort) Fail(FDIERROR_CORRUPT_CABINET);
    } catch (...) {
      FCtx.Output = -1;
      const int saved = errno;
      FCtx.Close(hf);
      errno = saved;
      throw;
    }
  }

  TContext& FCtx;
  std::string FName;
  std::string FPath;
  bool FSalvage;              // kFdiCopySalvageCutShort
  bool FCutShortMet = false;  // a walk found the cabinet file ending inside a folder's data
  PFNFDINOTIFY FNotify;
  void* FUser;
  TMember* FK = nullptr;  // the cabinet being processed
};

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
  ctx->System.Sys = mspack_system{MsOpen,    MsClose, MsRead, MsWrite, MsSeek, MsTell,
                                  MsMessage, MsAlloc, MsFree, MsCopy,  nullptr};
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
