#include "index/IndexCache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "io/FilePlace.h"

namespace {

constexpr char kMagic[8] = {'Z', 'R', 'I', 'N', 'D', 'E', 'X', '\0'};
constexpr size_t kHashedEnd = size_t{64} << 10;
// The fewest bytes each kind of record takes, so a count is checked against what is left.
constexpr size_t kSegmentBytes = 4 + 4 + 8 + 4, kFrameBytes = 16, kChapterBytes = 8 + 4 + 4 + 1 + 4,
                 kIdleBytes = 8 + 8 + 4 + 4, kPreviewBytes = 8 + 4 * 4;

uint64_t Fnv(std::span<const uint8_t> bytes, uint64_t h = 14695981039346656037ull) {
  for (const uint8_t b : bytes) h = (h ^ b) * 1099511628211ull;
  return h;
}

class TWriter {
 public:
  void Le(uint64_t v, int n) {
    for (int i = 0; i < n; ++i) Bytes.push_back(uint8_t(v >> (8 * i)));
  }
  void U8(uint8_t v) { Le(v, 1); }
  void U16(uint16_t v) { Le(v, 2); }
  void U32(uint32_t v) { Le(v, 4); }
  void I32(int32_t v) { Le(uint32_t(v), 4); }
  void I64(int64_t v) { Le(uint64_t(v), 8); }
  void Pos(TFramePos p) { I32(p.Segment), I32(p.Frame); }
  std::vector<uint8_t> Bytes;
};

// Reads fields while they last; Ok() is false once any ran past the end.
class TReader {
 public:
  explicit TReader(std::span<const uint8_t> bytes) : FBytes(bytes) {}
  uint64_t Le(size_t n) {
    if (FBytes.size() - FAt < n) {
      FOk = false;
      FAt = FBytes.size();
      return 0;
    }
    uint64_t v = 0;
    for (size_t i = 0; i < n; ++i) v |= uint64_t(FBytes[FAt + i]) << (8 * i);
    FAt += n;
    return v;
  }
  uint8_t U8() { return uint8_t(Le(1)); }
  uint16_t U16() { return uint16_t(Le(2)); }
  uint32_t U32() { return uint32_t(Le(4)); }
  int32_t I32() { return int32_t(U32()); }
  int64_t I64() { return int64_t(Le(8)); }
  TFramePos Pos() {
    const int32_t s = I32();
    return {s, I32()};
  }
  // A count of records of at least `each` bytes, checked against the bytes left.
  bool Count(size_t each, uint32_t& n) {
    n = U32();
    FOk = FOk && uint64_t(n) * each <= FBytes.size() - FAt;
    return FOk;
  }
  std::span<const uint8_t> Take(size_t n) {
    if (FBytes.size() - FAt < n) {
      FOk = false;
      return {};
    }
    FAt += n;
    return FBytes.subspan(FAt - n, n);
  }
  bool Ok() const { return FOk; }
  size_t Left() const { return FBytes.size() - FAt; }
  bool AtEnd() const { return FAt == FBytes.size(); }

 private:
  std::span<const uint8_t> FBytes;
  size_t FAt = 0;
  bool FOk = true;
};

void WriteHeader(TWriter& w, const TIndexCacheKey& key, int64_t idleMs) {
  w.Bytes.insert(w.Bytes.end(), kMagic, kMagic + sizeof kMagic);
  w.U32(kIndexCacheVersion);
  w.Le(key.Size, 8), w.I64(key.ModifiedNs), w.Le(key.Hash, 8);
  w.I64(idleMs);
}

bool ReadAll(int fd, std::vector<uint8_t>& bytes) {
  for (size_t at = 0; at < bytes.size();) {
    const ssize_t got = ::read(fd, bytes.data() + at, bytes.size() - at);
    if (got <= 0) return false;
    at += size_t(got);
  }
  return true;
}

bool MakeFolders(const std::string& folder) {
  for (size_t at = 1; at <= folder.size(); ++at) {
    if (at < folder.size() && folder[at] != '/') continue;
    const std::string part = folder.substr(0, at);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  struct stat st;
  return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The kept indexes beyond `limit` bytes go, the least recently used first (a read touches its
// file), never `keep`; only regular files named as kept indexes are touched.
void Prune(const std::string& folder, const std::string& keep, uint64_t limit) {
  namespace fs = std::filesystem;
  struct TKept {
    fs::file_time_type Used;
    uint64_t Bytes;
    fs::path Path;
  };
  std::vector<TKept> kept;
  uint64_t total = 0;
  std::error_code ec;
  for (const fs::directory_entry& e : fs::directory_iterator(folder, ec)) {
    const fs::path& p = e.path();
    if (p.extension() != ".zrindex" || p.filename().string().size() != 58 || !e.is_regular_file(ec)) continue;
    const uint64_t bytes = e.file_size(ec);
    if (ec) continue;
    total += bytes;
    if (p != keep) kept.push_back({e.last_write_time(ec), bytes, p});
  }
  std::sort(kept.begin(), kept.end(), [](const TKept& a, const TKept& b) { return a.Used < b.Used; });
  for (size_t i = 0; total > limit && i < kept.size(); ++i)
    if (fs::remove(kept[i].Path, ec)) total -= kept[i].Bytes;
}

}  // namespace

bool FilmCacheKey(const std::string& path, TIndexCacheKey& key) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  if (ok) {
    key.Size = uint64_t(st.st_size);
    key.ModifiedNs = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    // The first 64 KiB and the last (they overlap on a small file).
    const size_t head = size_t(std::min<uint64_t>(key.Size, kHashedEnd));
    std::vector<uint8_t> bytes(head);
    ok = ReadAll(fd, bytes);
    uint64_t h = Fnv(bytes);
    if (ok && key.Size > head) {
      const size_t tail = size_t(std::min<uint64_t>(key.Size - head, kHashedEnd));
      bytes.assign(tail, 0);
      ok = ::lseek(fd, off_t(key.Size - tail), SEEK_SET) >= 0 && ReadAll(fd, bytes);
      h = Fnv(bytes, h);
    }
    key.Hash = h;
  }
  ::close(fd);
  return ok;
}

std::string IndexCacheFolder() {
  const char* xdg = std::getenv("XDG_CACHE_HOME");
  if (xdg && xdg[0] == '/') return std::string(xdg) + "/veRirove";
  const char* home = std::getenv("HOME");
  if (home && home[0] == '/') return std::string(home) + "/.cache/veRirove";
  return {};
}

std::string IndexCacheFile(const std::string& folder, const TIndexCacheKey& key) {
  char name[64];
  std::snprintf(name, sizeof name, "%016llx-%016llx-%016llx.zrindex", static_cast<unsigned long long>(key.Size),
                static_cast<unsigned long long>(key.ModifiedNs), static_cast<unsigned long long>(key.Hash));
  return folder + "/" + name;
}

std::vector<uint8_t> EncodeFilmIndex(const TFilmIndex& index, const TIndexCacheKey& key, int64_t idleMs) {
  TWriter w;
  WriteHeader(w, key, idleMs);
  w.I64(index.DurationMs);
  w.U32(uint32_t(index.Segments.size()));
  for (const TSegmentActivity& s : index.Segments) {
    w.I32(s.Width), w.I32(s.Height), w.I64(s.StartMs);
    w.U32(uint32_t(s.Frames.size()));
    for (const TFrameActivity& a : s.Frames) {
      w.U32(a.Changed), w.U16(a.Left), w.U16(a.Top), w.U16(a.Right), w.U16(a.Bottom);
      w.U8(a.Flags), w.U8(0), w.U8(0), w.U8(0);
    }
  }
  w.U32(uint32_t(index.Chapters.size()));
  for (const TChapter& c : index.Chapters) {
    w.I64(c.StartMs), w.Pos(c.Pos), w.U8(c.Automatic ? 1 : 0);
    w.U32(uint32_t(c.Title.size()));
    w.Bytes.insert(w.Bytes.end(), c.Title.begin(), c.Title.end());
  }
  w.U32(uint32_t(index.Idle.size()));
  for (const TIdleStretch& i : index.Idle) w.I64(i.StartMs), w.I64(i.EndMs), w.Pos(i.First);
  w.U32(uint32_t(index.Previews.size()));
  for (const TPreview& p : index.Previews) {
    w.I64(p.TimeMs), w.Pos(p.Pos), w.I32(p.Width), w.I32(p.Height);
    for (const uint32_t px : p.Pixels) w.U32(px);
  }
  w.Le(Fnv(w.Bytes), 8);
  return std::move(w.Bytes);
}

bool DecodeFilmIndex(std::span<const uint8_t> bytes, const TIndexCacheKey& key, int64_t idleMs, TFilmIndex& index) {
  index = {};
  if (bytes.size() < sizeof kMagic + 8 || std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0) return false;
  const std::span<const uint8_t> body = bytes.first(bytes.size() - 8);
  if (TReader(bytes.last(8)).Le(8) != Fnv(body)) return false;
  TReader r(body);
  r.Take(sizeof kMagic);
  if (r.U32() != kIndexCacheVersion) return false;
  const TIndexCacheKey stored{r.Le(8), r.I64(), r.Le(8)};
  if (stored != key || r.I64() != idleMs || !r.Ok()) return false;

  TFilmIndex read;
  read.DurationMs = r.I64();
  uint32_t n = 0;
  if (!r.Count(kSegmentBytes, n)) return false;
  read.Segments.resize(n);
  for (TSegmentActivity& s : read.Segments) {
    s.Width = r.I32(), s.Height = r.I32(), s.StartMs = r.I64();
    uint32_t frames = 0;
    if (!r.Count(kFrameBytes, frames)) return false;
    s.Frames.resize(frames);
    for (TFrameActivity& a : s.Frames) {
      a.Changed = r.U32(), a.Left = r.U16(), a.Top = r.U16(), a.Right = r.U16(), a.Bottom = r.U16();
      a.Flags = r.U8();
      if (r.Le(3) != 0) return false;
    }
  }
  if (!r.Count(kChapterBytes, n)) return false;
  read.Chapters.resize(n);
  for (TChapter& c : read.Chapters) {
    c.StartMs = r.I64(), c.Pos = r.Pos();
    const uint8_t automatic = r.U8();
    if (automatic > 1) return false;
    c.Automatic = automatic == 1;
    const std::span<const uint8_t> title = r.Take(r.U32());
    c.Title.assign(title.begin(), title.end());
  }
  if (!r.Count(kIdleBytes, n)) return false;
  read.Idle.resize(n);
  for (TIdleStretch& i : read.Idle) i.StartMs = r.I64(), i.EndMs = r.I64(), i.First = r.Pos();
  if (!r.Count(kPreviewBytes, n)) return false;
  read.Previews.resize(n);
  for (TPreview& p : read.Previews) {
    p.TimeMs = r.I64(), p.Pos = r.Pos(), p.Width = r.I32(), p.Height = r.I32();
    if (p.Width < 0 || p.Height < 0 || uint64_t(p.Width) * uint64_t(p.Height) > r.Left() / 4) return false;
    const std::span<const uint8_t> pixels = r.Take(size_t(p.Width) * size_t(p.Height) * 4);
    if (!r.Ok()) return false;
    p.Pixels.resize(pixels.size() / 4);
    for (size_t k = 0; k < p.Pixels.size(); ++k) std::memcpy(&p.Pixels[k], pixels.data() + 4 * k, 4);
  }
  if (!r.Ok() || !r.AtEnd()) return false;
  read.Complete = true;
  index = std::move(read);
  return true;
}

bool ReadIndexCache(const std::string& path, int64_t idleMs, TFilmIndex& index) {
  TIndexCacheKey key;
  const std::string folder = IndexCacheFolder();
  if (folder.empty() || !FilmCacheKey(path, key)) return false;
  const std::string file = IndexCacheFile(folder, key);
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && uint64_t(st.st_size) <= kMaxIndexCacheBytes;
  std::vector<uint8_t> bytes;
  if (ok) {
    bytes.resize(size_t(st.st_size));
    ok = ReadAll(fd, bytes);
  }
  ::close(fd);
  ok = ok && DecodeFilmIndex(bytes, key, idleMs, index);
  // Used now: the last to go when the cache is pruned.
  if (ok) ::utimensat(AT_FDCWD, file.c_str(), nullptr, 0);
  return ok;
}

bool WriteIndexCache(const std::string& path, int64_t idleMs, const TFilmIndex& index, uint64_t limit) {
  TIndexCacheKey key;
  const std::string folder = IndexCacheFolder();
  if (!index.Complete || folder.empty() || !FilmCacheKey(path, key) || !MakeFolders(folder)) return false;
  const std::vector<uint8_t> bytes = EncodeFilmIndex(index, key, idleMs);
  const std::string file = IndexCacheFile(folder, key);
  std::string temporary;
  const int fd = CreateFileBeside(file, ".zrindex-XXXXXX.part", temporary);
  if (fd < 0) return false;
  bool ok = true;
  for (size_t at = 0; ok && at < bytes.size();) {
    const ssize_t put = ::write(fd, bytes.data() + at, bytes.size() - at);
    ok = put > 0;
    if (ok) at += size_t(put);
  }
  ok = ::close(fd) == 0 && ok && MoveIntoPlace(temporary, file, true);
  if (!ok) ::unlink(temporary.c_str());
  if (ok) Prune(folder, file, limit);
  return ok;
}
