// CabCopy: one FDICopy going through the processed cabinet's entries: the notifications, and
// each file decompressed into the handle its handler gives.
#include "cabinet/CabCopy.h"

#include <mspack.h>

#include <cerrno>
#include <string>

#include "cabinet/CabMsSystem.h"

namespace fdi {

void TCopy::Run() {
  OpenProcessed();
  TellCabinetInfo(*FK, FPath);

  for (size_t j = 0; j < FK->Entries.size(); ++j) {
    const TEntry& entry = FK->Entries[j];
    if (IsContinuedFromPrev(entry.Folder)) {
      TellPartialFile(entry);
    } else {
      CopyEntry(entry);
    }
  }
  // Salvaging never hides a cut: one that only skipped files met still fails the copy.
  if (FCutShortMet) Fail(FDIERROR_CORRUPT_CABINET);
  KeepOrLetGoSet();
}

void TCopy::TellPartialFile(const TEntry& entry) {
  std::string name = entry.Name, prev = FK->PrevName, disk = FK->PrevDisk;
  FDINOTIFICATION n = Record();
  n.psz1 = name.data();
  n.psz2 = prev.data();
  n.psz3 = disk.data();
  Tell(fdintPARTIAL_FILE, n);
}

void TCopy::CopyEntry(const TEntry& entry) {
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
  if (hf == 0) return;

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

void TCopy::KeepOrLetGoSet() {
  // The set is kept only while its folder goes on into a cabinet opened already, and
  // then without open files: they are opened again when needed.
  if (Set().Members.upper_bound(FK->Index) == Set().Members.end()) {
    ResetSet(FCtx);
  } else {
    FK->DropTables();
    for (auto& [index, member] : Set().Members) member->Release();
  }
}

FDINOTIFICATION TCopy::Record() const {
  FDINOTIFICATION n;
  n.pv = FUser;
  n.setID = FK->SetID;
  n.iCabinet = FK->Index;
  return n;
}

INT_PTR TCopy::Tell(FDINOTIFICATIONTYPE type, FDINOTIFICATION& n, const TFdiFailure& otherwise) {
  const FDIERROR given = n.fdie;
  errno = 0;
  const INT_PTR result = FNotify(type, &n);
  if (result != -1) return result;
  if (n.fdie != given && n.fdie != FDIERROR_NONE) Fail(n.fdie, errno);
  throw otherwise;
}

void TCopy::TellCabinetInfo(const TMember& m, std::string folder) {
  std::string next = m.NextName, disk = m.NextDisk;
  FDINOTIFICATION n = Record();
  n.psz1 = next.data();
  n.psz2 = disk.data();
  n.psz3 = folder.data();
  n.setID = m.SetID;
  n.iCabinet = m.Index;
  Tell(fdintCABINET_INFO, n);
}

bool TCopy::LiesPastCut(const TEntry& e) {
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

void TCopy::ExtractEntry(const TEntry& e, INT_PTR hf) {
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
    FCtx.OutputComplete = false;
    const int err = FCtx.Cabd->extract(FCtx.Cabd, &file, kOutputName);
    FCtx.Output = -1;
    if (FCtx.OutputComplete) {
      // The file has all its handler wants. libmspack stopped inside the folder: its state
      // goes with the virtual cabinet, so that a later entry starts from the folder's start.
      DropVirtual(FCtx);
      return;
    }
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

}  // namespace fdi
