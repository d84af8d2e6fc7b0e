// The index kept per film in the user's cache folder, "$XDG_CACHE_HOME/veRirove/" (else
// "~/.cache/veRirove/"), so that a film is indexed once.
//
// A film is known by its package's size, modification time and a hash of its first and last
// 64 KiB; the file "<key>.zrindex" holds its index. The file is our own little-endian binary
// format:
//   magic "ZRINDEX\0", uint32 version (kIndexCacheVersion), the key (uint64 size, int64
//   modification time in nanoseconds, uint64 hash), int64 idle threshold in milliseconds,
//   then the index: int64 duration; uint32 segment count and per segment int32 width and
//   height, int64 start, uint32 frame count and 16 bytes a frame (uint32 changed, uint16 left,
//   top, right, bottom, uint8 flags, 3 zero bytes); uint32 chapter count and per chapter int64
//   start, int32 segment and frame, uint8 automatic, uint32 title length and the UTF-8 title;
//   uint32 idle count and per stretch int64 start and end, int32 segment and frame; uint32
//   preview count and per preview int64 time, int32 segment, frame, width and height, and
//   width × height uint32 0x00RRGGBB pixels; last, a uint64 FNV-1a hash of all the bytes
//   before it.
// Only complete indexes are kept, 256 MiB of them at most (the least recently read or written
// go first). It is written under a temporary name beside its place and
// renamed, so a reader never sees half a file. A file that is damaged, cut short, foreign, of
// another version or of another key or threshold is ignored (and rewritten by the next index).
// The reader checks every count against the bytes left before it allocates.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "index/FilmIndex.h"

inline constexpr uint32_t kIndexCacheVersion = 1;
// A cache file larger than this is not read (16 M frames and the previews fit).
inline constexpr uint64_t kMaxIndexCacheBytes = uint64_t{320} << 20;
// The kept indexes together: past this, writing one removes the least recently used others.
inline constexpr uint64_t kIndexCacheLimit = uint64_t{256} << 20;

struct TIndexCacheKey {
  uint64_t Size = 0;
  int64_t ModifiedNs = 0;
  uint64_t Hash = 0;  // of the first and last 64 KiB
  friend bool operator==(const TIndexCacheKey&, const TIndexCacheKey&) = default;
};

// The key of the film file at `path`; false when it cannot be read.
bool FilmCacheKey(const std::string& path, TIndexCacheKey& key);

// The cache folder; empty when neither XDG_CACHE_HOME (an absolute path) nor HOME is set.
std::string IndexCacheFolder();
// The cache file of a key in `folder`.
std::string IndexCacheFile(const std::string& folder, const TIndexCacheKey& key);

// The file's bytes for an index, and back: false, and `index` left empty, for bytes that are
// not an index of this key and idle threshold.
std::vector<uint8_t> EncodeFilmIndex(const TFilmIndex& index, const TIndexCacheKey& key, int64_t idleMs);
bool DecodeFilmIndex(std::span<const uint8_t> bytes, const TIndexCacheKey& key, int64_t idleMs, TFilmIndex& index);

// The kept index of the film at `path`, found with the idle threshold `idleMs`; false when
// there is none to be had.
bool ReadIndexCache(const std::string& path, int64_t idleMs, TFilmIndex& index);
// Keeps a complete index of the film at `path` (an incomplete one is not kept), and keeps the
// kept indexes within `limit` bytes; false when it could not be written, which leaves no file
// behind.
bool WriteIndexCache(const std::string& path, int64_t idleMs, const TFilmIndex& index,
                     uint64_t limit = kIndexCacheLimit);
