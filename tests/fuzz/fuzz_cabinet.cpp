// Feeds arbitrary bytes to the cabinet layer from memory, through its file callbacks, and
// extracts every file into counting sinks: once as the bytes are and once salvaging what a
// package cut short holds, with one context for both, going on from each cabinet to the next
// one it names as the cabinet reader does. The input may carry a set (FuzzCabinetSet.h): the
// first file is the package, and each other name the layer opens gets the next file.
//
// What must hold: every handle the callbacks or the handler give out is closed once, and none
// is left open after FDICopy; a file told finished in fdintCLOSE_FILE_INFO got exactly its
// size; FDICopy fails exactly when it fills the error record; a stored name the reader would
// follow stays inside the target folder.
#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "FuzzCabinetSet.h"
#include "FuzzCheck.h"
#include "cabinet/CabIntf.h"
#include "cabinet/CabTargets.h"

namespace {

constexpr char kPackage[] = "package.zrcab";
constexpr uint64_t kMaxExtractBytes = 64 << 20;
constexpr uint32_t kMaxExtractFiles = 256;

// What a handle stands for: a cabinet file of the input being read, or a target being
// written (its bytes only counted).
struct TOpenFile {
  bool Open = false;
  bool Target = false;
  std::span<const uint8_t> Bytes;
  uint64_t Pos = 0;
  uint64_t Written = 0;
  int64_t Size = 0;  // a target's size as fdintCOPY_FILE gave it
};

// The files of one input and the handles open on them. The callbacks get no user value.
struct TMemoryFiles {
  std::vector<std::span<const uint8_t>> Cabinets;
  std::map<std::string, size_t> Names;  // path opened -> cabinet
  std::vector<TOpenFile> Handles;       // handle h is Handles[h - 1]
  uint64_t BytesWritten = 0;
  uint32_t FilesWritten = 0;

  INT_PTR Add(TOpenFile file) {
    file.Open = true;
    Handles.push_back(file);
    return INT_PTR(Handles.size());
  }
  TOpenFile& At(INT_PTR hf) {
    CHECK(hf >= 1 && size_t(hf) <= Handles.size() && Handles[size_t(hf) - 1].Open);
    return Handles[size_t(hf) - 1];
  }
  bool AllClosed() const {
    for (const TOpenFile& f : Handles)
      if (f.Open) return false;
    return true;
  }
};

TMemoryFiles* GFiles = nullptr;

void* Alloc(uint32_t cb) { return std::malloc(cb ? cb : 1); }
void Free(void* pv) { std::free(pv); }

INT_PTR Open(const char* path, int oflag, int /*pmode*/) {
  CHECK((oflag & 3) == FDI_O_RDONLY);  // the layer only reads; targets come from the handler
  auto it = GFiles->Names.find(path);
  if (it == GFiles->Names.end()) {
    if (GFiles->Names.size() >= GFiles->Cabinets.size()) {
      errno = ENOENT;
      return -1;
    }
    it = GFiles->Names.emplace(path, GFiles->Names.size()).first;
  }
  TOpenFile file;
  file.Bytes = GFiles->Cabinets[it->second];
  return GFiles->Add(file);
}

uint32_t Read(INT_PTR hf, void* pv, uint32_t cb) {
  TOpenFile& f = GFiles->At(hf);
  CHECK(!f.Target);
  if (f.Pos >= f.Bytes.size()) return 0;
  const size_t n = size_t(std::min<uint64_t>(cb, f.Bytes.size() - f.Pos));
  std::memcpy(pv, f.Bytes.data() + f.Pos, n);
  f.Pos += n;
  return uint32_t(n);
}

// Counts the bytes, refusing what would pass the limit as the cabinet reader does.
uint32_t Write(INT_PTR hf, const void* /*pv*/, uint32_t cb) {
  TOpenFile& f = GFiles->At(hf);
  CHECK(f.Target);
  if (cb > ExtractBytesLeft(GFiles->BytesWritten, kMaxExtractBytes)) {
    errno = EDQUOT;
    return uint32_t(-1);
  }
  f.Written += cb;
  GFiles->BytesWritten += cb;
  return cb;
}

int Close(INT_PTR hf) {
  GFiles->At(hf).Open = false;
  return 0;
}

long Seek(INT_PTR hf, long dist, int seektype) {
  TOpenFile& f = GFiles->At(hf);
  CHECK(!f.Target);
  const int64_t base = seektype == FDI_SEEK_CUR   ? int64_t(f.Pos)
                       : seektype == FDI_SEEK_END ? int64_t(f.Bytes.size())
                                                  : 0;
  if ((dist < 0 && -int64_t(dist) > base) || (dist > 0 && int64_t(dist) > INT64_MAX - base)) {
    errno = EINVAL;
    return -1;
  }
  f.Pos = uint64_t(base + dist);
  return long(f.Pos);
}

// The first fdintCABINET_INFO of an FDICopy names the processed cabinet's next one.
struct TCopyState {
  bool InfoSeen = false;
  std::string NextName;
};

INT_PTR Notify(FDINOTIFICATIONTYPE type, FDINOTIFICATION* n) {
  auto& copy = *static_cast<TCopyState*>(n->pv);
  switch (type) {
    case fdintCABINET_INFO:
      if (!copy.InfoSeen) copy.NextName = n->psz1;
      copy.InfoSeen = true;
      return 0;
    case fdintCOPY_FILE: {
      std::string clean;
      if (CleanStoredName(n->psz1, clean)) {
        CHECK(!clean.empty() && clean.front() != '/' && clean.find('\\') == std::string::npos);
        CHECK(clean != ".." && clean.rfind("../", 0) != 0 &&
              clean.find("/../") == std::string::npos &&
              (clean.size() < 3 || clean.compare(clean.size() - 3, 3, "/..") != 0));
      } else {
        return 0;  // skipped, as the reader skips it
      }
      if (!WithinExtractLimits(GFiles->FilesWritten, GFiles->BytesWritten, uint32_t(n->cb),
                               kMaxExtractFiles, kMaxExtractBytes)) {
        errno = EDQUOT;
        n->fdie = FDIERROR_TARGET_FILE;
        return -1;
      }
      ++GFiles->FilesWritten;
      TOpenFile target;
      target.Target = true;
      target.Size = uint32_t(n->cb);
      return GFiles->Add(target);
    }
    case fdintCLOSE_FILE_INFO: {
      TOpenFile& f = GFiles->At(n->hf);
      CHECK(f.Target && int64_t(f.Written) == f.Size);
      f.Open = false;
      return 1;
    }
    case fdintNEXT_CABINET:
      // Where the layer looks; a failed attempt ends the request.
      return n->fdie == FDIERROR_NONE ? 0 : -1;
    default:
      return 0;
  }
}

// One pass: the package, then each next cabinet named, until one fails or names none new.
void Extract(HFDI context, ERF& erf, int flags) {
  GFiles->BytesWritten = 0;
  GFiles->FilesWritten = 0;
  std::vector<std::string> done;
  std::string current = kPackage;
  while (done.size() < GFiles->Cabinets.size()) {
    done.push_back(current);
    TCopyState copy;
    const bool ok = FDICopy(context, current.c_str(), "", flags, Notify, nullptr, &copy);
    CHECK(GFiles->AllClosed());
    CHECK(ok == (erf.fError == 0));
    CHECK(ok || (erf.erfOper > FDIERROR_NONE && erf.erfOper <= FDIERROR_USER_ABORT));
    if (!ok || !IsBareName(copy.NextName)) return;
    for (const std::string& d : done)
      if (d == copy.NextName) return;
    current = copy.NextName;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TMemoryFiles files;
  files.Cabinets = SplitCabinetSet(std::span<const uint8_t>(data, size));
  files.Names.emplace(kPackage, 0);
  GFiles = &files;
  ERF erf;
  HFDI context = FDICreate(Alloc, Free, Open, Read, Write, Close, Seek, cpuUNKNOWN, &erf);
  CHECK(context != nullptr);
  Extract(context, erf, 0);
  Extract(context, erf, kFdiCopySalvageCutShort);
  CHECK(FDIDestroy(context));
  CHECK(files.AllClosed());
  GFiles = nullptr;
  return 0;
}
