// CabSetWalk: the cabinets of a set a copy works with: the processed one, kept or opened,
// the earlier ones a continued folder began in, and the next ones asked for with
// fdintNEXT_CABINET.
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "cabinet/CabCopy.h"
#include "cabinet/CabTargets.h"

namespace fdi {

void TCopy::OpenProcessed() {
  const std::string full = FPath + FName;
  TMember* kept = nullptr;
  if (FCtx.Set) {
    for (auto& [index, member] : FCtx.Set->Members) {
      if (member->Path == full) kept = member.get();
    }
  }
  if (kept != nullptr) {
    TakeUpKept(*kept);
    return;
  }
  ResetSet(FCtx);
  FCtx.Set = new TSetState;
  auto owned = std::make_unique<TMember>(FCtx, full, FPath);
  owned->Parse(true);
  FK = owned.get();
  Set().Members.emplace(FK->Index, std::move(owned));
}

void TCopy::TakeUpKept(TMember& kept) {
  const int index = kept.Index;
  kept.Parse(true);
  if (kept.Index != index) Fail(FDIERROR_CORRUPT_CABINET);  // changed under us
  // A virtual cabinet over a middle folder of a cabinet no longer processed would need
  // that cabinet's full tables again: such a one is let go.
  const TVirtualCabinet* vc = Set().Virtual.get();
  if (vc != nullptr) {
    for (const TPart& part : vc->Parts) {
      const TMember* m = Find(part.Cabinet);
      if (m != &kept && part.Folder != 0 && part.Folder != m->LastFolderIndex()) {
        DropVirtual(FCtx);
        break;
      }
    }
  }
  FK = &kept;
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
}

TMember* TCopy::Find(int index) {
  auto it = Set().Members.find(index);
  return it == Set().Members.end() ? nullptr : it->second.get();
}

std::unique_ptr<TMember> TCopy::OpenNeighbour(const std::string& folder, const std::string& name,
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

TMember& TCopy::Keep(std::unique_ptr<TMember> m) {
  TMember& ref = *m;
  Set().Members.emplace(ref.Index, std::move(m));
  return ref;
}

void TCopy::CheckSetSize() {
  if (Set().Members.size() >= size_t(kFdiMaxSetCabinets)) Fail(FDIERROR_CORRUPT_CABINET);
}

TMember& TCopy::Previous(const TMember& cur) {
  if (TMember* m = Find(int(cur.Index) - 1)) return *m;
  if (cur.Index == 0) Fail(FDIERROR_CORRUPT_CABINET);
  if (!IsBareName(cur.PrevName)) Fail(FDIERROR_CABINET_NOT_FOUND);
  CheckSetSize();
  return Keep(OpenNeighbour(cur.Folder, cur.PrevName, int(cur.Index) - 1, true));
}

TMember& TCopy::Next(const TMember& cur) {
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

std::vector<TPart> TCopy::PartsFor(uint16_t f, uint64_t needEnd) {
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

}  // namespace fdi
