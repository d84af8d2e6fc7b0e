// CabMember: one cabinet file of a set, its header, folder and file tables read and checked
// through the FDI file callbacks.
#pragma once

#include <cerrno>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "cabinet/CabContext.h"

namespace fdi {

// Reads up to n bytes at offset through the callbacks; short only at the end of the file.
size_t ReadAt(TContext& ctx, INT_PTR handle, uint64_t offset, void* dst, size_t n);

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
  void Parse(bool keepTables);

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

}  // namespace fdi
