// The run decoder: one walk over a frame's runs, with a sink that writes the frame image and
// one that combines the runs with the picture.
#include "playback/FrameDecoder.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <span>
#include <type_traits>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include "io/ByteReader.h"

namespace {

#if defined(__SSE2__)
constexpr bool kHaveSse2 = true;
bool HaveAvx2() {
  static const bool have = __builtin_cpu_supports("avx2");
  return have;
}
#else
constexpr bool kHaveSse2 = false;
bool HaveAvx2() { return false; }
#endif

// Run values and true-colour pixels are handled as 32-bit words holding 0x00RRGGBB, which lie
// in memory as blue, green, red and a fourth byte.
static_assert(std::endian::native == std::endian::little);

// A run record as each video mode lays it out: the pixel value (one index byte, or blue,
// green, red), then the repeat count (one byte, or a little-endian uint16).
template <int Bits>
struct TRunRecord {
  static constexpr size_t kSize = Bits == 8 ? 2 : 5;
  static constexpr uint32_t kValueMask = Bits == 8 ? 0xFFu : 0x00FFFFFFu;

  // `p` points at a whole record. A true-colour value is read as the record's first four
  // bytes: its high byte is the count's low byte, which kValueMask takes off.
  static void Read(const uint8_t* p, uint32_t& rawValue, uint32_t& count) {
    if constexpr (Bits == 8) {
      rawValue = p[0];
      count = p[1];
    } else {
      uint16_t count16;
      std::memcpy(&rawValue, p, 4);
      std::memcpy(&count16, p + 3, 2);
      count = count16;
    }
  }
};

// How a depth's pixels are gathered before they go to their target: index bytes at 8 bits,
// 0x00RRGGBB words otherwise.
template <int Bits>
using TPixelValue = std::conditional_t<Bits == 8, uint8_t, uint32_t>;

#if defined(__SSE2__)
__m128i Load16(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }
void Store16(void* p, __m128i v) { _mm_storeu_si128(static_cast<__m128i*>(p), v); }
#endif

// Blocks of records that are all single pixels: kRecords records from `p` (kBytes bytes, all
// read) become kRecords values. Take takes up to `blocks` blocks one after the other and
// stops before the first block with a count other than 1, returning how many it took; it
// stores the values from `out` on, or, Combine, combines them with the 32-bit words there.
// True-colour values are stored with a zero high byte.
template <int Bits, TRunPath Path, bool Indices = Bits == 8>
struct TSingleBlock;

#if defined(__SSE2__)
// Sixteen index-count pairs as 16-bit words: each must be 0x01nn.
template <int Bits, TRunPath Path>
struct TSingleBlock<Bits, Path, true> {
  static constexpr int64_t kRecords = 16;
  static constexpr size_t kBytes = 32;

  template <bool Combine>
  static size_t Take(const uint8_t* p, size_t blocks, uint8_t* out) {
    static_assert(!Combine);
    const __m128i one = _mm_set1_epi16(1), low = _mm_set1_epi16(0xFF);
    size_t k = 0;
    for (; k < blocks; ++k, p += kBytes, out += kRecords) {
      const __m128i a = Load16(p), b = Load16(p + 16);
      const __m128i counts = _mm_and_si128(_mm_cmpeq_epi16(_mm_srli_epi16(a, 8), one),
                                           _mm_cmpeq_epi16(_mm_srli_epi16(b, 8), one));
      if (_mm_movemask_epi8(counts) != 0xFFFF) break;
      Store16(out, _mm_packus_epi16(_mm_and_si128(a, low), _mm_and_si128(b, low)));
    }
    return k;
  }
};

// Four 5-byte records: `a` holds bytes 0-15, `b` bytes 4-19. The counts are bytes 3-4 of `a`
// and 4-5, 9-10, 14-15 of `b`; each must read 01 00. The values are the words at bytes 0, 5,
// 10 and 15, less their high bytes.
template <int Bits>
struct TSingleBlock<Bits, TRunPath::Sse2, false> {
  static constexpr int64_t kRecords = 4;
  static constexpr size_t kBytes = 20;

  template <bool Combine>
  static size_t Take(const uint8_t* p, size_t blocks, uint8_t* out) {
    const __m128i wantA = _mm_setr_epi8(0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
    const __m128i wantB = _mm_setr_epi8(0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0);
    const __m128i mask = _mm_set1_epi32(0x00FFFFFF);
    size_t k = 0;
    for (; k < blocks; ++k, p += kBytes, out += 16) {
      const __m128i a = Load16(p), b = Load16(p + 4);
      const int matchA = _mm_movemask_epi8(_mm_cmpeq_epi8(a, wantA));
      const int matchB = _mm_movemask_epi8(_mm_cmpeq_epi8(b, wantB));
      if ((~matchA & 0x0018) | (~matchB & 0xC630)) break;
      const __m128i v01 = _mm_unpacklo_epi32(a, _mm_srli_si128(b, 1));
      const __m128i v23 = _mm_unpacklo_epi32(_mm_srli_si128(b, 6), _mm_srli_si128(b, 11));
      const __m128i values = _mm_and_si128(_mm_unpacklo_epi64(v01, v23), mask);
      Store16(out, Combine ? _mm_xor_si128(Load16(out), values) : values);
    }
    return k;
  }
};

// Eight records, four in each 128-bit lane laid out as above; the values are picked with one
// byte shuffle of each load.
template <bool Combine>
[[gnu::target("avx2")]] size_t TakeSinglesAvx2(const uint8_t* p, size_t blocks, uint8_t* out) {
  const __m256i wantA = _mm256_setr_epi8(0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  //
                                         0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
  const __m256i wantB = _mm256_setr_epi8(0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0,  //
                                         0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0);
  constexpr char z = -128;  // a shuffle index that gives 0
  const __m256i pickA = _mm256_setr_epi8(0, 1, 2, z, 5, 6, 7, z, 10, 11, 12, z, z, z, z, z,  //
                                         0, 1, 2, z, 5, 6, 7, z, 10, 11, 12, z, z, z, z, z);
  const __m256i pickB = _mm256_setr_epi8(z, z, z, z, z, z, z, z, z, z, z, z, 11, 12, 13, z,  //
                                         z, z, z, z, z, z, z, z, z, z, z, z, 11, 12, 13, z);
  size_t k = 0;
  for (; k < blocks; ++k, p += 40, out += 32) {
    const __m256i a =
        _mm256_inserti128_si256(_mm256_castsi128_si256(Load16(p)), Load16(p + 20), 1);
    const __m256i b =
        _mm256_inserti128_si256(_mm256_castsi128_si256(Load16(p + 4)), Load16(p + 24), 1);
    const unsigned matchA = unsigned(_mm256_movemask_epi8(_mm256_cmpeq_epi8(a, wantA)));
    const unsigned matchB = unsigned(_mm256_movemask_epi8(_mm256_cmpeq_epi8(b, wantB)));
    if ((~matchA & 0x00180018u) | (~matchB & 0xC630C630u)) break;
    __m256i values = _mm256_or_si256(_mm256_shuffle_epi8(a, pickA), _mm256_shuffle_epi8(b, pickB));
    auto* target = reinterpret_cast<__m256i*>(out);
    if (Combine) values = _mm256_xor_si256(_mm256_loadu_si256(target), values);
    _mm256_storeu_si256(target, values);
  }
  return k;
}

template <int Bits>
struct TSingleBlock<Bits, TRunPath::Avx2, false> {
  static constexpr int64_t kRecords = 8;
  static constexpr size_t kBytes = 40;
  template <bool Combine>
  static size_t Take(const uint8_t* p, size_t blocks, uint8_t* out) {
    return TakeSinglesAvx2<Combine>(p, blocks, out);
  }
};
#endif

// Where the pixels of a frame go: rows of Width pixels, Stride bytes apart, PixelBytes bytes a
// pixel. With RowsApart the rows end in padding that no pixel reaches; without it they lie
// back to back, so pixel i starts at byte i * PixelBytes.
template <int64_t PixelBytes, bool RowsApart>
struct TRunTarget {
  int64_t Width = 0;
  int64_t Stride = 0;

  // Hands the n pixels from pixel `first` to f(byte offset, index among the n, count), one
  // piece per row they touch.
  template <typename TFunc>
  void Pieces(int64_t first, int64_t n, TFunc&& f) const {
    if constexpr (!RowsApart) {
      f(first * PixelBytes, int64_t{0}, n);
    } else {
      int64_t row = first / Width, column = first % Width;
      for (int64_t done = 0; done < n; ++row, column = 0) {
        const int64_t piece = std::min(n - done, Width - column);
        f(row * Stride + column * PixelBytes, done, piece);
        done += piece;
      }
    }
  }
};

// The one walk over a frame's runs. Runs are taken in pixel order and clipped to the frame's
// `pixels`; the sink receives them as
//   Put(first, values, n): n gathered values from pixel `first`, whose bits outside the
//     record's value mask are to be ignored, and
//   Fill(first, n, value): n equal pixels from pixel `first`.
// Short runs, which is what noisy pictures and anti-aliased text are made of, are gathered
// into a small buffer with one store of a few copies of the value whatever the count (the next
// run overwrites what lies past the count), and the buffer is handed on in one piece; long
// runs go to the sink directly, so the long runs of zeros of an ordinary frame cost nothing.
// Returns how many pixels the runs cover.
//
// On a path other than Plain, two single pixels in a row are taken as a sign of noise: the
// records after them are taken a TSingleBlock at a time for as long as they are all single
// pixels.
template <int Bits, TRunPath Path, typename TSink>
int64_t WalkRuns(std::span<const uint8_t> runs, int64_t pixels, TSink& sink) {
  using TRecord = TRunRecord<Bits>;
  using TValue = TPixelValue<Bits>;
  constexpr size_t kSize = TRecord::kSize;
  // Values one store covers (32 bytes of words, 16 of indices: counts up to that are common
  // in text and take no branch of their own), a run from which on is handed on by itself,
  // and the buffer's size.
  constexpr int64_t kStore = Bits == 8 ? 16 : 8;
  constexpr int64_t kLong = 64;
  constexpr int64_t kBatch = 2048;
  // A run shorter than kLong may start anywhere below kBatch and store whole kStore blocks;
  // so may two short ones in a row, and blocks of single pixels (up to 16).
  TValue batch[kBatch + kLong + kStore];

  int64_t start = 0;   // the pixel of batch[0]
  int64_t filled = 0;  // values gathered; below `limit` between records
  int64_t limit = std::min(kBatch, pixels);
  // Hands the gathered values on; false when they reach the frame's end.
  const auto flush = [&]() __attribute__((always_inline)) {
    const int64_t n = std::min(filled, pixels - start);
    if (n > 0) sink.Put(start, batch, n);
    start += n;
    filled = 0;
    limit = std::min(kBatch, pixels - start);
    return start < pixels;
  };
  const auto store = [&](int64_t at, uint32_t value) {
    TValue block[kStore];
    std::fill_n(block, kStore, TValue(value));
    std::memcpy(batch + at, block, sizeof block);
  };
  // One record of any count; false when the frame is full.
  const auto take = [&](const uint8_t* record) {
    uint32_t value, count;
    TRecord::Read(record, value, count);
    if (count < uint32_t(kLong)) {
      for (int64_t k = 0; k < count; k += kStore) store(filled + k, value);
      filled += count;
      return filled < limit || flush();
    }
    if (filled && !flush()) return false;
    const int64_t n = std::min(int64_t{count}, pixels - start);
    sink.Fill(start, n, value & TRecord::kValueMask);
    start += n;
    limit = std::min(kBatch, pixels - start);
    return start < pixels;
  };

  if (pixels <= 0) return 0;
  const size_t end = runs.size() - runs.size() % kSize;
  size_t at = 0;
  while (at + 2 * kSize <= end) {
    // Two records at a time while both are short (a count of 0 is not: it wraps). Two
    // single pixels, all that noise is made of, take one store.
    uint32_t value1, count1, value2, count2;
    TRecord::Read(&runs[at], value1, count1);
    TRecord::Read(&runs[at + kSize], value2, count2);
    if (((count1 ^ 1) | (count2 ^ 1)) == 0) {
      const TValue pair[2] = {TValue(value1), TValue(value2)};
      std::memcpy(batch + filled, pair, sizeof pair);
      filled += 2;
      at += 2 * kSize;
      if (filled >= limit && !flush()) return pixels;
      if constexpr (Path != TRunPath::Plain) {
        using TBlock = TSingleBlock<Bits, Path>;
        static_assert(TBlock::kRecords <= kLong + kStore);
        if constexpr (TSink::kDirect) {
          // Straight to the target, after the pixels gathered so far (which the blocks do
          // not touch), up to the data's or the frame's end.
          const size_t blocks = std::min((end - at) / TBlock::kBytes,
                                         size_t((pixels - start - filled) / TBlock::kRecords));
          const size_t taken = TBlock::template Take<TSink::kCombine>(
              &runs[at], blocks, sink.At(start + filled));
          if (taken > 0) {
            at += taken * TBlock::kBytes;
            if (filled) sink.Put(start, batch, filled);
            start += filled + int64_t(taken) * TBlock::kRecords;
            filled = 0;
            limit = std::min(kBatch, pixels - start);
            if (start == pixels) return pixels;
          }
        } else {
          // Into the batch, up to the data's end and the first block that reaches `limit`.
          for (;;) {
            const size_t blocks = std::min((end - at) / TBlock::kBytes,
                                           size_t((limit - filled - 1) / TBlock::kRecords + 1));
            const size_t taken = TBlock::template Take<false>(
                &runs[at], blocks, reinterpret_cast<uint8_t*>(batch + filled));
            filled += int64_t(taken) * TBlock::kRecords;
            at += taken * TBlock::kBytes;
            if (filled >= limit && !flush()) return pixels;
            if (taken == 0 || taken < blocks) break;
          }
        }
      }
    } else if (((count1 - 1) | (count2 - 1)) < uint32_t(kStore)) {
      store(filled, value1);
      filled += count1;
      store(filled, value2);
      filled += count2;
      at += 2 * kSize;
      if (filled >= limit && !flush()) return pixels;
    } else {
      if (!take(&runs[at])) return pixels;
      at += kSize;
    }
  }
  for (; at != end; at += kSize)
    if (!take(&runs[at])) return pixels;
  flush();
  return start;
}

// Calls f with the video mode as a compile-time constant: the 8/24/32-bit path is chosen
// once per frame. Other depths do nothing.
template <typename TFunc>
void WithDepth(int bits, TFunc&& f) {
  switch (bits) {
    case 8:
      return f(std::integral_constant<int, 8>{});
    case 24:
      return f(std::integral_constant<int, 24>{});
    case 32:
      return f(std::integral_constant<int, 32>{});
  }
}

// Calls f with whether the target's rows are apart as a compile-time constant.
template <typename TFunc>
void WithRows(bool apart, TFunc&& f) {
  if (apart) return f(std::true_type{});
  f(std::false_type{});
}

// Calls f with the path as a compile-time constant: the one asked for, or the best one below
// it that this machine has.
template <typename TFunc>
void WithPath(TRunPath path, TFunc&& f) {
  if (kHaveSse2) {
    if (path == TRunPath::Avx2 && HaveAvx2())
      return f(std::integral_constant<TRunPath, TRunPath::Avx2>{});
    if (path != TRunPath::Plain) return f(std::integral_constant<TRunPath, TRunPath::Sse2>{});
  }
  f(std::integral_constant<TRunPath, TRunPath::Plain>{});
}

constexpr uint32_t kTrueColorMask = TRunRecord<32>::kValueMask;

void StoreWord(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

void XorWord(uint8_t* p, uint32_t v) {
  uint32_t word;
  std::memcpy(&word, p, 4);
  word ^= v;
  std::memcpy(p, &word, 4);
}

// Writes runs into the frame image. True-colour pixels go in as 32-bit words with a zero high
// byte; at 24 bits that byte falls on the next pixel, the row padding or the spare row below
// the frame, so a piece of 24-bit pixels leaves a zero byte after it. With Blocks, gathered
// values go four at a time.
template <int Bits, bool RowsApart, bool Blocks>
struct TImageSink {
  static constexpr int64_t kPixelBytes = Bits / 8;
  // 32-bit pixels, never apart, take blocks of single pixels straight from the runs.
  static constexpr bool kDirect = Bits == 32 && !RowsApart, kCombine = false;
  uint8_t* Image;
  TRunTarget<kPixelBytes, RowsApart> Target;

  uint8_t* At(int64_t first) const { return Image + 4 * first; }

  void Put(int64_t first, const TPixelValue<Bits>* values, int64_t n) {
    Target.Pieces(first, n, [&](int64_t offset, int64_t from, int64_t count) {
      uint8_t* p = Image + offset;
      const TPixelValue<Bits>* v = values + from;
      if constexpr (Bits == 8) {
        std::memcpy(p, v, size_t(count));
      } else {
        int64_t k = 0;
#if defined(__SSE2__)
        if constexpr (Blocks && Bits == 32) {
          const __m128i mask = _mm_set1_epi32(int(kTrueColorMask));
          for (; k + 4 <= count; k += 4) Store16(p + 4 * k, _mm_and_si128(Load16(v + k), mask));
        } else if constexpr (Blocks) {
          // Four pixels as 12 bytes: each 64-bit half packs its two pixels into 6 bytes, then
          // the high half moves down next to the low one. The store's 4 bytes past them are
          // zeros that the next two pixels, which the loop leaves to come, overwrite.
          const __m128i mask = _mm_set1_epi32(int(kTrueColorMask));
          const __m128i lowPixel = _mm_set1_epi64x(0x0000000000FFFFFFll);
          const __m128i highPixel = _mm_set1_epi64x(0x0000FFFFFF000000ll);
          const __m128i lowSix = _mm_setr_epi32(-1, 0xFFFF, 0, 0);
          const __m128i nextSix = _mm_setr_epi32(0, int(0xFFFF0000u), -1, 0);
          for (; k + 6 <= count; k += 4) {
            const __m128i x = _mm_and_si128(Load16(v + k), mask);
            const __m128i halves = _mm_or_si128(_mm_and_si128(x, lowPixel),
                                                _mm_and_si128(_mm_srli_epi64(x, 8), highPixel));
            Store16(p + 3 * k, _mm_or_si128(_mm_and_si128(halves, lowSix),
                                            _mm_and_si128(_mm_srli_si128(halves, 2), nextSix)));
          }
        }
#endif
        for (; k < count; ++k) StoreWord(p + kPixelBytes * k, v[k] & kTrueColorMask);
      }
    });
  }
  void Fill(int64_t first, int64_t n, uint32_t value) {
    Target.Pieces(first, n, [&](int64_t offset, int64_t, int64_t count) {
      uint8_t* p = Image + offset;
      if constexpr (Bits == 8) {
        std::memset(p, int(value), size_t(count));
      } else {
        for (int64_t k = 0; k < count; ++k) StoreWord(p + kPixelBytes * k, value);
      }
    });
  }
};

// Combines runs with the picture: indices at 8 bits, 32-bit screen words otherwise. The
// screen-format picture has no row padding; an 8-bit picture's rows are padded like the frame
// image's. With Blocks, gathered values go 16 bytes at a time.
template <int Bits, bool RowsApart, bool Blocks>
struct TPictureSink {
  static constexpr int64_t kPixelBytes = Bits == 8 ? 1 : 4;
  // Screen words are combined with blocks of single pixels straight from the runs.
  static constexpr bool kDirect = Bits != 8 && !RowsApart, kCombine = true;
  uint8_t* Picture;
  TRunTarget<kPixelBytes, RowsApart> Target;

  uint8_t* At(int64_t first) const { return Picture + 4 * first; }

  void Put(int64_t first, const TPixelValue<Bits>* values, int64_t n) {
    Target.Pieces(first, n, [&](int64_t offset, int64_t from, int64_t count) {
      uint8_t* p = Picture + offset;
      const TPixelValue<Bits>* v = values + from;
      int64_t k = 0;
      if constexpr (Bits == 8) {
#if defined(__SSE2__)
        if constexpr (Blocks)
          for (; k + 16 <= count; k += 16)
            Store16(p + k, _mm_xor_si128(Load16(p + k), Load16(v + k)));
#endif
        for (; k < count; ++k) p[k] ^= v[k];
      } else {
#if defined(__SSE2__)
        if constexpr (Blocks) {
          const __m128i mask = _mm_set1_epi32(int(kTrueColorMask));
          for (; k + 4 <= count; k += 4)
            Store16(p + 4 * k,
                    _mm_xor_si128(Load16(p + 4 * k), _mm_and_si128(Load16(v + k), mask)));
        }
#endif
        for (; k < count; ++k) XorWord(p + 4 * k, v[k] & kTrueColorMask);
      }
    });
  }
  void Fill(int64_t first, int64_t n, uint32_t value) {
    // A run of zeros changes nothing.
    if (value == 0) return;
    Target.Pieces(first, n, [&](int64_t offset, int64_t, int64_t count) {
      uint8_t* p = Picture + offset;
      if constexpr (Bits == 8) {
        for (int64_t k = 0; k < count; ++k) p[k] ^= uint8_t(value);
      } else {
        for (int64_t k = 0; k < count; ++k) XorWord(p + 4 * k, value);
      }
    });
  }
};

}  // namespace

TRunPath BestRunPath() {
  return !kHaveSse2 ? TRunPath::Plain : HaveAvx2() ? TRunPath::Avx2 : TRunPath::Sse2;
}

namespace {

// Runs located before the data changed (frames loaded again, the buffer released) keep to
// what it holds now.
std::span<const uint8_t> RunBytes(std::span<const uint8_t> data, const TFrameRuns& runs) {
  const size_t at = std::min(runs.At, data.size());
  return data.subspan(at, std::min(runs.Bytes, data.size() - at));
}

}  // namespace

TFrameRuns LocateRuns(std::span<const uint8_t> data, int64_t frame, int bits) {
  // A record that starts in the last bytes of the data, or past them, reads as zeros.
  TByteReader header(data);
  header.Seek(size_t(std::min<int64_t>(frame + 4, int64_t(data.size()))));
  const int32_t declared = header.ReadI32();
  TFrameRuns runs;
  runs.Frame = frame;
  runs.At = size_t(std::min<int64_t>(frame + 8, int64_t(data.size())));
  WithDepth(bits, [&](auto depth) {
    constexpr size_t kSize = TRunRecord<decltype(depth)::value>::kSize;
    // Only records wholly inside the data are runs.
    const size_t count =
        std::min<size_t>(size_t(std::max<int32_t>(declared, 0)), (data.size() - runs.At) / kSize);
    runs.Bytes = count * kSize;
  });
  return runs;
}

// Writes runs into the frame image, row by row, skipping each row's padding.
void ExpandRuns(std::span<const uint8_t> data, const TFrameRuns& runs, const TFrameFormat& format,
                TRasterBitmap& image, TRunPath path) {
  WithDepth(format.Bits, [&](auto depth) {
    constexpr int kBits = decltype(depth)::value;
    const int64_t width = format.Width;
    WithRows(image.Stride() != width * (kBits / 8), [&](auto apart) {
      WithPath(path, [&](auto walk) {
        constexpr TRunPath kPath = decltype(walk)::value;
        TImageSink<kBits, decltype(apart)::value, kPath != TRunPath::Plain> sink{
            image.Bits(), {width, image.Stride()}};
        WalkRuns<kBits, kPath>(RunBytes(data, runs), width * format.Height, sink);
      });
    });
  });
}

int64_t XorRunsIntoPicture(std::span<const uint8_t> data, const TFrameRuns& runs,
                           const TFrameFormat& format, TRasterBitmap& picture, TRunPath path) {
  int64_t covered = 0;
  WithDepth(format.Bits, [&](auto depth) {
    constexpr int kBits = decltype(depth)::value;
    const int64_t width = format.Width;
    // Only an 8-bit picture pads its rows.
    WithRows(kBits == 8 && picture.Stride() != width, [&](auto apart) {
      WithPath(path, [&](auto walk) {
        constexpr TRunPath kPath = decltype(walk)::value;
        TPictureSink<kBits, decltype(apart)::value, kPath != TRunPath::Plain> sink{
            picture.Bits(), {width, picture.Stride()}};
        covered = WalkRuns<kBits, kPath>(RunBytes(data, runs), width * format.Height, sink);
      });
    });
  });
  return covered;
}

bool XorImageIntoPicture(const TRasterBitmap& image, const TFrameFormat& format, int64_t first,
                         TRasterBitmap& picture) {
  const int32_t width = format.Width, height = format.Height;
  const int32_t row = int32_t(first / width), column = int32_t(first % width);
  if (row >= height) return false;
  if (format.Bits == 8) {
    // One pass over the bytes, the row padding (always zero in the frame image) along with the
    // pixels; not the spare row.
    const size_t from = size_t(row) * size_t(picture.Stride()) + size_t(column);
    const size_t bytes = size_t(picture.Stride()) * size_t(height);
    uint8_t* out = picture.Bits();
    const uint8_t* frame = image.Bits();
    for (size_t i = from; i < bytes; ++i) out[i] ^= frame[i];
  } else {
    BitBlt(picture, column, row, width - column, 1, image, column, row, TRop::SrcInvert);
    BitBlt(picture, 0, row + 1, width, height - row - 1, image, 0, row + 1, TRop::SrcInvert);
  }
  return true;
}
