// Feeds arbitrary bytes to the reader of kept indexes, its checksum made right first so that
// what follows the header is reached: whatever it is, the reader never reads past the bytes or
// allocates more than they can hold, and what it takes is written back to the same bytes.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "index/IndexCache.h"

// make_seeds writes its seeds with the same key and threshold.
static const TIndexCacheKey kKey{1, 2, 3};
static constexpr int64_t kIdleMs = 5000;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> bytes(data, data + size);
  if (bytes.size() >= 8) {
    uint64_t h = 14695981039346656037ull;
    for (size_t i = 0; i + 8 < bytes.size(); ++i) h = (h ^ bytes[i]) * 1099511628211ull;
    for (size_t i = 0; i < 8; ++i) bytes[bytes.size() - 8 + i] = uint8_t(h >> (8 * i));
  }
  TFilmIndex index;
  if (!DecodeFilmIndex(bytes, kKey, kIdleMs, index)) return 0;
  if (EncodeFilmIndex(index, kKey, kIdleMs) != bytes) __builtin_trap();
  return 0;
}
