// CabCopy: TCopy, one FDICopy: the walk through a cabinet's entries with their notifications,
// the set of cabinets a folder runs through, and the folder's data as libmspack gets it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "cabinet/CabVirtual.h"

namespace fdi {

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

  void Run();

 private:
  TSetState& Set() { return *FCtx.Set; }

  // The set walk (CabSetWalk.cpp).
  // The cabinet to process: one kept open from the FDICopy before, or opened now.
  void OpenProcessed();
  // Goes on with the kept cabinet: read again, and what it no longer needs of the set let go.
  void TakeUpKept(TMember& kept);
  TMember* Find(int index);
  // Opens folder + name as the cabinet at set index `index`. It must belong to the set and go
  // on with the folder that crosses into it: its last folder continues into the next cabinet
  // when it comes before, its first began in the one before when it comes after.
  std::unique_ptr<TMember> OpenNeighbour(const std::string& folder, const std::string& name,
                                         int index, bool before);
  TMember& Keep(std::unique_ptr<TMember> m);
  void CheckSetSize();
  // The cabinet before `cur`, opened from the name `cur` gives, in the same folder.
  TMember& Previous(const TMember& cur);
  // The cabinet after `cur`, asked for with fdintNEXT_CABINET.
  TMember& Next(const TMember& cur);
  // The parts of the folder that holds folder f of the processed cabinet, enough of them to
  // reach needEnd uncompressed bytes.
  std::vector<TPart> PartsFor(uint16_t f, uint64_t needEnd);

  // The folder's data (CabVirtual.cpp).
  // The data blocks of one part, walked once and kept while the folder is in use. The file
  // ending inside them fails, or when salvaging ends the walk at the last complete block.
  const TWalk& Walk(const TPart& part);
  // The blocks of a folder made of parts, split blocks joined; a split block at the very end
  // (its next part not at hand) is left out. A part cut short ends the folder there, and
  // cutShort (when given) tells so.
  std::vector<TVirtualBlock> Blocks(const std::vector<TPart>& parts, bool* cutShort = nullptr);
  static uint64_t Available(const std::vector<TVirtualBlock>& blocks);
  // The virtual cabinet for the parts, made anew when they changed.
  TVirtualCabinet& Virtual(const std::vector<TPart>& parts);
  // Lets go the walks of folders that are not among the parts.
  void DropWalksOutside(const std::vector<TPart>& parts);
  // The compression all the parts share, which libmspack must know.
  uint16_t FolderCompression(const std::vector<TPart>& parts);

  // Notifications and extraction (CabCopy.cpp).
  // fdintPARTIAL_FILE for an entry begun in an earlier cabinet; it is not extracted here.
  void TellPartialFile(const TEntry& entry);
  // fdintCOPY_FILE for the entry, its data into the handle the handler gives, then
  // fdintCLOSE_FILE_INFO.
  void CopyEntry(const TEntry& entry);
  // After the entries: the set kept for the next FDICopy while its folder goes on into a
  // cabinet opened already, else let go.
  void KeepOrLetGoSet();
  FDINOTIFICATION Record() const;
  // Sends a notification. -1 from the handler stops the copy: with the error the handler put
  // in fdie in place of the one it was given (and errno as it stands), else with `otherwise`,
  // which is FDIERROR_USER_ABORT unless the caller knows better.
  INT_PTR Tell(FDINOTIFICATIONTYPE type, FDINOTIFICATION& n,
               const TFdiFailure& otherwise = {FDIERROR_USER_ABORT, 0});
  // fdintCABINET_INFO for cabinet m, found in folder.
  void TellCabinetInfo(const TMember& m, std::string folder);
  // Whether the entry's folder is known, from this cabinet, to be cut short before the entry's
  // first byte (an empty entry: before its offset), so that it is not started. Failures are
  // left for ExtractEntry to meet in their usual order.
  bool LiesPastCut(const TEntry& e);
  // Decompresses the entry into hf. On failure hf is closed here. When salvaging a folder cut
  // short, an entry past the end of its data gets what there is, then fails.
  void ExtractEntry(const TEntry& e, INT_PTR hf);

  TContext& FCtx;
  std::string FName;
  std::string FPath;
  bool FSalvage;              // kFdiCopySalvageCutShort
  bool FCutShortMet = false;  // a walk found the cabinet file ending inside a folder's data
  PFNFDINOTIFY FNotify;
  void* FUser;
  TMember* FK = nullptr;  // the cabinet being processed
};

}  // namespace fdi
