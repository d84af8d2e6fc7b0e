// CabMember: reading a cabinet file's header and tables (see CabMember.h).
#include "cabinet/CabMember.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "io/ByteReader.h"

namespace fdi {

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

namespace {

constexpr size_t kInputBufferSize = 64 * 1024;

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

}  // namespace

void TMember::Parse(bool keepTables) {
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

}  // namespace fdi
