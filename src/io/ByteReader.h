// A bounds-checked reader over bytes in memory. Every read of film or package bytes goes
// through it: a read past the end takes what is there, yields zeros for the rest and sets
// a sticky flag, so a parser can read a whole record and check once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

class TByteReader {
 public:
  TByteReader() = default;
  explicit TByteReader(std::span<const uint8_t> data) : FData(data) {}

  size_t Size() const { return FData.size(); }
  size_t Position() const { return FPos; }
  size_t Remaining() const { return FData.size() - FPos; }
  bool Overrun() const { return FOverrun; }
  void ClearOverrun() { FOverrun = false; }
  std::span<const uint8_t> Data() const { return FData; }

  // Positions beyond the end stand at the end.
  void Seek(size_t pos) { FPos = pos < FData.size() ? pos : FData.size(); }

  // Copies up to n bytes; returns how many were copied. The bytes of dst beyond those
  // are left as they were. A short read sets the overrun flag.
  size_t Read(void* dst, size_t n) {
    const size_t got = n < Remaining() ? n : Remaining();
    if (got) std::memcpy(dst, FData.data() + FPos, got);
    FPos += got;
    if (got < n) FOverrun = true;
    return got;
  }

  // Moves past n bytes, or to the end with the overrun flag set when fewer remain.
  bool Skip(size_t n) {
    if (n > Remaining()) {
      FPos = FData.size();
      FOverrun = true;
      return false;
    }
    FPos += n;
    return true;
  }

  // The next n bytes as a view, or an empty view with the overrun flag set (and the
  // position at the end) when fewer remain.
  std::span<const uint8_t> Take(size_t n) {
    if (n > Remaining()) {
      FPos = FData.size();
      FOverrun = true;
      return {};
    }
    auto view = FData.subspan(FPos, n);
    FPos += n;
    return view;
  }

  uint8_t ReadU8() { return uint8_t(ReadLE(1)); }
  uint16_t ReadU16() { return uint16_t(ReadLE(2)); }
  uint32_t ReadU32() { return uint32_t(ReadLE(4)); }
  int32_t ReadI32() { return int32_t(ReadU32()); }

 private:
  // Little-endian; bytes past the end read as zero.
  uint64_t ReadLE(size_t n) {
    uint8_t bytes[8] = {};
    Read(bytes, n);
    uint64_t v = 0;
    for (size_t i = n; i-- > 0;) v = (v << 8) | bytes[i];
    return v;
  }

  std::span<const uint8_t> FData;
  size_t FPos = 0;
  bool FOverrun = false;
};
