// A byte stream held in memory: the section streams of a segment (frame data, cursor
// track, palette data). Reads take what is there and report how much they got.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

class TMemoryStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::vector<uint8_t> bytes) : FBytes(std::move(bytes)) {}

  size_t Size() const { return FBytes.size(); }
  size_t Position() const { return FPos; }
  void SetPosition(size_t pos) { FPos = pos < FBytes.size() ? pos : FBytes.size(); }
  size_t Remaining() const { return FBytes.size() - FPos; }

  const uint8_t* Data() const { return FBytes.data(); }
  std::span<const uint8_t> Bytes() const { return FBytes; }

  // Replaces the content; the position goes to the end, as after writing it.
  void Assign(std::span<const uint8_t> bytes) {
    FBytes.assign(bytes.begin(), bytes.end());
    FPos = FBytes.size();
  }

  size_t Read(void* dst, size_t n) {
    const size_t got = n < Remaining() ? n : Remaining();
    if (got) std::memcpy(dst, FBytes.data() + FPos, got);
    FPos += got;
    return got;
  }

 private:
  std::vector<uint8_t> FBytes;
  size_t FPos = 0;
};
